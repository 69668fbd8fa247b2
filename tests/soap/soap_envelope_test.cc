// Envelopes: what the writer produces reads back the same; envelopes written by hand the way
// other SOAP 1.1 peers write them are understood; hostile XML fails cleanly.
#include "soap/soap.h"
#include "soap/soap_envelope.h"

#include <gtest/gtest.h>

#include <string>

using namespace EasySoap;

namespace {

std::string error_of(const std::string& xml, const SOAPReaderLimits& limits = {}) {
    try {
        ReadEnvelope(xml, nullptr, limits);
    } catch (const SOAPException& e) {
        return e.what();
    }
    return "(no exception)";
}

const char* kHead = "<?xml version='1.0'?>"
                    "<s:Envelope xmlns:s='http://schemas.xmlsoap.org/soap/envelope/'"
                    " xmlns:enc='http://schemas.xmlsoap.org/soap/encoding/'"
                    " xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'"
                    " xmlns:xsd='http://www.w3.org/2001/XMLSchema'>";

std::string body(const std::string& inner) {
    return std::string(kHead) + "<s:Body>" + inner + "</s:Body></s:Envelope>";
}

} // namespace

TEST(SoapEnvelope, RoundTripKeepsNamesTypesAndTexts) {
    SOAPMethod m("AddSource", "http://lumbrake.test/search/");
    m.AddParameter("id") << -12;
    m.AddParameter("name") << std::string("a<b>&\"c\" \r\n\tend ");
    SOAPParameter& cfg = m.AddParameter("cfg");
    cfg.SetType(SOAPQName("SourceConfiguration", "http://lumbrake.test/search/"));
    cfg.AddParameter("Name") << std::string("n");
    cfg.AddParameter("Seeds") << std::vector<std::string>{"http://x/", "file:///srv/y"};
    SOAPParameter& empty = cfg.AddParameter("Empty");
    empty.SetIsStruct();
    m.AddParameter("blob") << SOAPBase64{std::string("\0\x01\xff", 3)};
    m.AddParameter("nothing").SetNull();

    std::string xml = WriteEnvelope(m);
    SOAPEnvelope env = ReadEnvelope(xml);
    ASSERT_FALSE(env.is_fault);
    EXPECT_EQ(env.method.GetName(), m.GetName());
    EXPECT_EQ(env.method.GetParameter("id").GetInt(), -12);
    std::string name;
    env.method.GetParameter("name") >> name;
    EXPECT_EQ(name, "a<b>&\"c\" \r\n\tend ");
    const SOAPParameter& rcfg = env.method.GetParameter("cfg");
    EXPECT_EQ(*rcfg.FindAttribute(SOAPQName("type", XSI_NS)),
              SOAPQName("SourceConfiguration", "http://lumbrake.test/search/"));
    std::vector<std::string> seeds;
    rcfg.GetParameter("Seeds") >> seeds;
    EXPECT_EQ(seeds, (std::vector<std::string>{"http://x/", "file:///srv/y"}));
    EXPECT_EQ(rcfg.GetParameter("Empty").GetNumParams(), 0u);
    SOAPBase64 blob;
    env.method.GetParameter("blob") >> blob;
    EXPECT_EQ(blob.bytes, std::string("\0\x01\xff", 3));
    EXPECT_TRUE(env.method.GetParameter("nothing").IsNull());
}

TEST(SoapEnvelope, TextsThatXmlCannotCarryBecomeReplacementCharacters) {
    SOAPMethod m("M", "urn:t");
    // A control byte, a lone continuation byte, an overlong slash, a surrogate; then valid
    // two-, three- and four-byte characters that must survive.
    m.AddParameter("s") << std::string("a\x01"
                                       "b\x80"
                                       "c\xC0\xAF"
                                       "d\xED\xA0\x80"
                                       "e\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    SOAPEnvelope env = ReadEnvelope(WriteEnvelope(m));
    EXPECT_EQ(env.method.GetParameter("s").GetString(), "a\xEF\xBF\xBD"
                                                        "b\xEF\xBF\xBD"
                                                        "c\xEF\xBF\xBD\xEF\xBF\xBD"
                                                        "d\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
                                                        "e\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(SoapEnvelope, HandWrittenRequestOfAnotherPeer) {
    // Default namespace on the method, prefixes of its own, a header entry that need not be
    // understood, indentation, a 1999 xsi:null and members in any order.
    std::string xml =
        "<?xml version='1.0' encoding='ISO-8859-1'?>\n"
        "<SOAP:Envelope xmlns:SOAP='http://schemas.xmlsoap.org/soap/envelope/'\n"
        "   xmlns:i='http://www.w3.org/2001/XMLSchema-instance' "
        "xmlns:d='http://www.w3.org/2001/XMLSchema'\n"
        "   xmlns:old='http://www.w3.org/1999/XMLSchema-instance'>\n"
        " <SOAP:Header><t:Trace xmlns:t='urn:x' SOAP:mustUnderstand='0'>1</t:Trace></SOAP:Header>\n"
        " <SOAP:Body>\n"
        "  <GetUserData xmlns='http://lumbrake.test/search/'>\n"
        "   <username i:type='d:string' xml:lang='de'>J\xF6rg</username>\n"
        "   <gone old:null='1'/>\n"
        "  </GetUserData>\n"
        " </SOAP:Body>\n"
        "</SOAP:Envelope>\n";
    SOAPEnvelope env = ReadEnvelope(xml);
    EXPECT_EQ(env.method.GetName(), SOAPQName("GetUserData", "http://lumbrake.test/search/"));
    EXPECT_EQ(env.method.GetParameter("username").GetString(), "J\xC3\xB6rg");
    EXPECT_EQ(*env.method.GetParameter("username").FindAttribute(SOAPQName("type", XSI_NS)),
              SOAPQName("string", XSD_NS));
    EXPECT_TRUE(env.method.GetParameter("gone").IsNull());
    EXPECT_EQ(env.method.GetString(), "") << "indentation is no value";
    // What was read writes back into an envelope that reads the same (xml:lang keeps the
    // prefix XML reserves for it).
    SOAPEnvelope again = ReadEnvelope(WriteEnvelope(env.method));
    EXPECT_EQ(*again.method.GetParameter("username")
                   .FindAttribute(SOAPQName("lang", "http://www.w3.org/XML/1998/namespace")),
              SOAPQName("de"));
}

TEST(SoapEnvelope, CharsetGivenByTheTransport) {
    // No declaration in the document: the charset of the HTTP head decides.
    std::string xml = body("<m><s>\xE9\x80</s></m>");
    EXPECT_EQ(ReadEnvelope(xml, "windows-1252").method.GetParameter("s").GetString(),
              "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(ReadEnvelope(xml, "ISO-8859-1").method.GetParameter("s").GetString(),
              "\xC3\xA9\xC2\x80");
    EXPECT_NE(error_of(xml), "(no exception)") << "not UTF-8";
}

TEST(SoapEnvelope, MultiRefAccessorsAreResolved) {
    std::string xml =
        body("<m:Q xmlns:m='urn:t'><a href='#r1'/><b href='#r1'/><c href='#r2'/></m:Q>"
             "<r enc:root='0' id='r1' xsi:type='xsd:int'>7</r>"
             "<r enc:root='0' id='r2'><x>1</x><y href='#r1'/></r>");
    SOAPEnvelope env = ReadEnvelope(xml);
    EXPECT_EQ(env.method.GetName().GetName(), "Q");
    EXPECT_EQ(env.method.GetParameter("a").GetInt(), 7);
    EXPECT_EQ(env.method.GetParameter("b").GetInt(), 7);
    EXPECT_EQ(env.method.GetParameter("c").GetParameter("y").GetInt(), 7);
    EXPECT_EQ(env.method.GetParameter("c").GetName().GetName(), "c") << "keeps its own name";
}

TEST(SoapEnvelope, Faults) {
    SOAPFault f{"SOAP-ENV:Server", "BadMagic", "", "more <text>"};
    SOAPEnvelope env = ReadEnvelope(WriteFaultEnvelope(f));
    ASSERT_TRUE(env.is_fault);
    EXPECT_EQ(env.fault.code, "SOAP-ENV:Server");
    EXPECT_EQ(env.fault.string, "BadMagic");
    EXPECT_EQ(env.fault.detail, "more <text>");

    env = ReadEnvelope(
        body("<s:Fault><faultcode>s:Client</faultcode>"
             "<faultstring>no</faultstring><detail><e:x xmlns:e='urn:e'/></detail></s:Fault>"));
    EXPECT_TRUE(env.is_fault);
    EXPECT_EQ(env.fault.string, "no");
}

TEST(SoapEnvelope, MalformedAndHostileInput) {
    const std::string laughs =
        "<?xml version='1.0'?><!DOCTYPE s:Envelope [<!ENTITY a 'aaaaaaaaaa'>"
        "<!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'><!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'>]>"
        "<s:Envelope "
        "xmlns:s='http://schemas.xmlsoap.org/soap/envelope/'><s:Body><m>&c;</m></s:Body></"
        "s:Envelope>";
    const std::string external =
        "<?xml version='1.0'?><!DOCTYPE x [<!ENTITY e SYSTEM 'file:///etc/passwd'>]>"
        "<s:Envelope "
        "xmlns:s='http://schemas.xmlsoap.org/soap/envelope/'><s:Body><m>&e;</m></s:Body></"
        "s:Envelope>";
    struct Case {
        const char* name;
        std::string xml;
        const char* error;
    } cases[] = {
        {"empty", "", nullptr},
        {"not xml", "hello", nullptr},
        {"truncated", std::string(kHead) + "<s:Body><m>", nullptr},
        {"not an envelope", "<x:Body xmlns:x='http://schemas.xmlsoap.org/soap/envelope/'/>",
         "Not a SOAP envelope"},
        {"SOAP 1.2", "<e:Envelope xmlns:e='http://www.w3.org/2003/05/soap-envelope'/>",
         "SOAP version mismatch: envelope namespace 'http://www.w3.org/2003/05/soap-envelope'"},
        {"no body", std::string(kHead) + "</s:Envelope>", "SOAP envelope has no Body"},
        {"empty body", body(""), "SOAP Body has no entry"},
        {"two bodies", std::string(kHead) + "<s:Body><m/></s:Body><s:Body/></s:Envelope>",
         "Unexpected element 'Body' in the SOAP envelope"},
        {"must understand",
         std::string(kHead) +
             "<s:Header><h s:mustUnderstand='1'/></s:Header><s:Body><m/></s:Body></s:Envelope>",
         "Header entry 'h' was not understood"},
        {"entity expansion", laughs, "Document type declarations are not allowed"},
        {"external entity", external, "Document type declarations are not allowed"},
        {"dangling href", body("<m><a href='#nope'/></m>"), "Unresolved SOAP reference '#nope'"},
        {"href cycle", body("<m><a href='#x'/></m><r id='x'><b href='#x'/></r>"),
         "Circular SOAP reference '#x'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string e = error_of(c.xml);
        EXPECT_NE(e, "(no exception)");
        if (c.error) {
            EXPECT_EQ(e, c.error);
        }
    }
    EXPECT_THROW(
        {
            try {
                ReadEnvelope(std::string(kHead) +
                             "<s:Header><h "
                             "s:mustUnderstand='1'/></s:Header><s:Body><m/></s:Body></s:Envelope>");
            } catch (const SOAPMustUnderstandException&) {
                throw;
            }
        },
        SOAPMustUnderstandException);
}

TEST(SoapEnvelope, LimitsOnDepthAndSize) {
    std::string deep;
    for (int i = 0; i < 200; ++i)
        deep += "<a>";
    for (int i = 0; i < 200; ++i)
        deep += "</a>";
    EXPECT_EQ(error_of(body(deep)), "SOAP envelope is nested too deeply");

    std::string wide = "<m>";
    for (int i = 0; i < 100; ++i)
        wide += "<i/>";
    wide += "</m>";
    SOAPReaderLimits small;
    small.max_elements = 50;
    EXPECT_EQ(error_of(body(wide), small), "SOAP envelope has too many elements");

    // References that double at every level: 2^20 copies from a few hundred bytes.
    std::string refs = "<m><a href='#r0'/></m>";
    for (int i = 0; i < 20; ++i)
        refs += "<r id='r" + std::to_string(i) + "'><x href='#r" + std::to_string(i + 1) +
                "'/><y href='#r" + std::to_string(i + 1) + "'/></r>";
    refs += "<r id='r20'>1</r>";
    SOAPReaderLimits limits;
    limits.max_elements = 10000;
    EXPECT_EQ(error_of(body(refs), limits), "SOAP envelope has too many elements");
}
