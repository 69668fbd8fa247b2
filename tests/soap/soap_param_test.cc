// Values on the wire: int, boolean, string and base64 conversions, and SOAP-encoded arrays.
#include "soap/soap.h"
#include "soap/soap_envelope.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace EasySoap;

namespace {

SOAPParameter text_param(const std::string& text) {
    SOAPParameter p(SOAPQName("v"));
    p.SetValue(text);
    return p;
}

// Reads the method element of an envelope whose body holds `inner` inside <m:M>.
SOAPMethod read_method(const std::string& inner) {
    std::string xml = "<E:Envelope xmlns:E='http://schemas.xmlsoap.org/soap/envelope/'"
                      " xmlns:enc='http://schemas.xmlsoap.org/soap/encoding/'"
                      " xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'"
                      " xmlns:xsd='http://www.w3.org/2001/XMLSchema'><E:Body>"
                      "<m:M xmlns:m='urn:t'>" +
                      inner + "</m:M></E:Body></E:Envelope>";
    return ReadEnvelope(xml).method;
}

std::string message_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const SOAPException& e) {
        return e.what();
    }
    return "(no exception)";
}

} // namespace

TEST(SoapValues, IntTexts) {
    struct Case {
        const char* text;
        bool ok;
        int value;
    } cases[] = {
        {"42", true, 42},
        {" -7\n", true, -7},
        {"+3", true, 3},
        {"2147483647", true, INT_MAX},
        {"-2147483648", true, INT_MIN},
        {"2147483648", false, 0},
        {"", false, 0},
        {"12a", false, 0},
        {"1 2", false, 0},
        {"-", false, 0},
        {"0x10", false, 0},
        {"99999999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SOAPParameter p = text_param(c.text);
        if (c.ok) {
            EXPECT_EQ(p.GetInt(), c.value);
        } else {
            EXPECT_EQ(message_of([&] { p.GetInt(); }),
                      std::string("Could not convert '") + c.text + "' to int");
        }
    }
    SOAPParameter nil = text_param("");
    nil.SetNull();
    EXPECT_THROW(nil.GetInt(), SOAPException);
}

TEST(SoapValues, BooleanTexts) {
    for (const char* t : {"true", "1", " true "})
        EXPECT_TRUE(text_param(t).GetBoolean()) << t;
    for (const char* t : {"false", "0"})
        EXPECT_FALSE(text_param(t).GetBoolean()) << t;
    for (const char* t : {"TRUE", "yes", "", "2"})
        EXPECT_THROW(text_param(t).GetBoolean(), SOAPException) << t;
}

TEST(SoapValues, TypedWritingSetsXsiType) {
    SOAPParameter p(SOAPQName("n"));
    p.AddParameter("stale").SetValue("x");
    p << 5;
    EXPECT_EQ(p.GetNumParams(), 0u) << "writing a value clears what was there";
    ASSERT_NE(p.FindAttribute(SOAPQName("type", XSI_NS)), nullptr);
    EXPECT_EQ(*p.FindAttribute(SOAPQName("type", XSI_NS)), SOAPQName("int", XSD_NS));
    EXPECT_EQ(p.GetString(), "5");
    p << true;
    EXPECT_EQ(*p.FindAttribute(SOAPQName("type", XSI_NS)), SOAPQName("boolean", XSD_NS));
    EXPECT_EQ(p.GetAttributes().size(), 1u);
    EXPECT_EQ(p.GetString(), "true");
}

TEST(SoapValues, CompoundIsNoString) {
    SOAPParameter p(SOAPQName("s"));
    p.AddParameter("x").SetValue("1");
    std::string s;
    EXPECT_THROW(p >> s, SOAPException);
}

TEST(SoapValues, MissingMemberMessage) {
    SOAPParameter p(SOAPQName("r"));
    p.AddParameter("Name").SetValue("a");
    EXPECT_EQ(p.GetParameter("Name").GetString(), "a");
    EXPECT_EQ(message_of([&] { p.GetParameter("Magic"); }),
              "Could not find element by name: Magic");
}

TEST(SoapValues, Base64) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    for (std::string bytes :
         {std::string(), std::string("f"), std::string("fo"), std::string("foo"), all}) {
        std::string text = SOAPBase64::Encode(bytes);
        EXPECT_EQ(text.size() % 4, 0u);
        EXPECT_EQ(SOAPBase64::Decode(text), bytes);
    }
    EXPECT_EQ(SOAPBase64::Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(SOAPBase64::Decode(" Zm9v\r\nYmFy\t"), "foobar");
    for (const char* bad : {"Zm9", "Zm9v!", "Zg==Zg==", "Z===", "Zm9vYg=x"})
        EXPECT_THROW(SOAPBase64::Decode(bad), SOAPException) << bad;
}

TEST(SoapArrays, SizeParser) {
    struct Case {
        const char* value;
        long size; // -2: fails
    } cases[] = {
        {"int[3]", 3},
        {"int[]", -1},
        {"int[ 4]", 4},
        {"int[+2]", 2},
        {"int[0]", 0},
        {"int[-1]", -2},
        {"int[3", -2},
        {"int", -2},
        {"int[3]x", -2},
        {"int[2,3]", -2},
        {"int[3 ]", -2},
        {"a[1][2]", 2},
        {"int[99999999999]", -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        if (c.size == -2) {
            EXPECT_EQ(message_of([&] { ParseArraySize("arrayType", c.value); }),
                      std::string("Invalid value for array encoding tag 'arrayType': ") + c.value);
        } else {
            EXPECT_EQ(ParseArraySize("arrayType", c.value), c.size);
        }
    }
}

TEST(SoapArrays, WrittenForm) {
    SOAPParameter p(SOAPQName("ids"));
    p << std::vector<int>{4, 5};
    EXPECT_EQ(*p.FindAttribute(SOAPQName("type", XSI_NS)), SOAPQName("Array", SOAP_ENC_NS));
    EXPECT_EQ(*p.FindAttribute(SOAPQName("arrayType", SOAP_ENC_NS)), SOAPQName("int[2]", XSD_NS));
    ASSERT_EQ(p.GetNumParams(), 2u);
    EXPECT_EQ(p.GetParameterAt(1).GetName().GetName(), "item");
    EXPECT_EQ(p.GetParameterAt(1).GetString(), "5");
    EXPECT_TRUE(p.GetParameterAt(1).GetAttributes().empty()) << "items carry no xsi:type";

    SOAPParameter empty(SOAPQName("groups"));
    empty << std::vector<std::string>{};
    EXPECT_EQ(*empty.FindAttribute(SOAPQName("arrayType", SOAP_ENC_NS)),
              SOAPQName("string[0]", XSD_NS));
    EXPECT_TRUE(empty.IsStruct());
    EXPECT_EQ(empty.GetNumParams(), 0u);
}

TEST(SoapArrays, ReadingCases) {
    struct Case {
        const char* name;
        const char* inner;
        std::vector<int> expect;
        const char* error; // null: succeeds
    } cases[] = {
        {"declared larger than items",
         "<a enc:arrayType='xsd:int[3]'><i>1</i><i>2</i></a>",
         {1, 2, 0},
         nullptr},
        {"open size", "<a enc:arrayType='xsd:int[]'><i>1</i><i>2</i></a>", {1, 2}, nullptr},
        {"no arrayType", "<a><x>8</x><y>9</y></a>", {8, 9}, nullptr},
        {"too many",
         "<a enc:arrayType='xsd:int[1]'><i>1</i><i>2</i></a>",
         {},
         "Error de-serializing array.  Too many values in array.  Array specified 1, found 2."},
        {"position skips",
         "<a enc:arrayType='xsd:int[3]'><i>1</i><i enc:position='[2]'>3</i></a>",
         {1, 0, 3},
         nullptr},
        {"position backwards",
         "<a enc:arrayType='xsd:int[3]'><i enc:position='[2]'>1</i><i enc:position='[1]'>2</i></a>",
         {},
         "Error decoding array, position attribute cannot point to a previous element. "
         "Current position: [3], next position: [1]"},
        {"position out of range",
         "<a enc:arrayType='xsd:int[2]'><i enc:position='[2]'>1</i></a>",
         {},
         "Error decoding array, position out of range. Current size: [2], requested position: [2]"},
        {"offset",
         "<a enc:arrayType='xsd:int[3]' enc:offset='[1]'><i>7</i><i>8</i></a>",
         {0, 7, 8},
         nullptr},
        {"offset past end",
         "<a enc:arrayType='xsd:int[2]' enc:offset='[1]'><i>7</i><i>8</i></a>",
         {},
         "Error decoding array, position out of range. Current size: [2], requested position: [2]"},
        {"nil empty", "<a xsi:nil='false'/>", {}, nullptr},
        {"nil with values",
         "<a xsi:nil='true'><i>1</i></a>",
         {},
         "Got xsi:nil attribute on array but parameter has values.."},
        {"bad arrayType",
         "<a enc:arrayType='xsd:int[x]'><i>1</i></a>",
         {},
         "Invalid value for array encoding tag 'arrayType': int[x]"},
        {"bad item",
         "<a enc:arrayType='xsd:int[1]'><i>z</i></a>",
         {},
         "Could not convert 'z' to int"},
        {"hostile size",
         "<a enc:arrayType='xsd:int[2000000000]'/>",
         {},
         "Error de-serializing array.  Array specified 2000000000, found only 0 values."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SOAPMethod m = read_method(c.inner);
        std::vector<int> list{42};
        if (c.error) {
            EXPECT_EQ(message_of([&] { m.GetParameter("a") >> list; }), c.error);
        } else {
            m.GetParameter("a") >> list;
            EXPECT_EQ(list, c.expect);
        }
    }
}

TEST(SoapArrays, PartialReadKeepsWhatWasRead) {
    SOAPMethod m = read_method("<a enc:arrayType='xsd:string[3]'><i>x</i><i><b/></i><i>z</i></a>");
    std::vector<std::string> list;
    EXPECT_THROW(m.GetParameter("a") >> list, SOAPException);
    EXPECT_EQ(list, (std::vector<std::string>{"x", "", ""}));
}

TEST(SoapArrays, RoundTripOfNestedArraysAndBooleans) {
    SOAPMethod m("M", "urn:t");
    m.AddParameter("flags") << std::vector<bool>{true, false, true};
    m.AddParameter("rows") << std::vector<std::vector<std::string>>{{"a", "b"}, {}, {"<&>"}};
    SOAPEnvelope env = ReadEnvelope(WriteEnvelope(m));
    std::vector<bool> flags;
    std::vector<std::vector<std::string>> rows;
    env.method.GetParameter("flags") >> flags;
    env.method.GetParameter("rows") >> rows;
    EXPECT_EQ(flags, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"a", "b"}, {}, {"<&>"}}));
}
