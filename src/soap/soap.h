// Our SOAP 1.1 rpc/encoded layer: qualified names, the exception, the parameter tree and the
// type traits that turn values into parameters and back. The envelope reader and writer, the
// server dispatch and the client proxy build on these (soap_envelope.h, soap_server.h,
// soap_proxy.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace EasySoap {

using SOAPString = std::string;

// The namespaces of the wire forms we read and write.
inline constexpr const char* SOAP_ENV_NS = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr const char* SOAP_ENC_NS = "http://schemas.xmlsoap.org/soap/encoding/";
inline constexpr const char* XSI_NS = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr const char* XSD_NS = "http://www.w3.org/2001/XMLSchema";
// Older peers still write the 1999 schema namespaces (xsi:null instead of xsi:nil).
inline constexpr const char* XSI1999_NS = "http://www.w3.org/1999/XMLSchema-instance";

// A name and the namespace URI it belongs to (empty: no namespace).
class SOAPQName {
public:
    SOAPQName() = default;
    SOAPQName(std::string_view name, std::string_view ns = {}) : name_(name), ns_(ns) {}
    SOAPQName(const char* name, const char* ns = nullptr)
        : name_(name ? name : ""), ns_(ns ? ns : "") {}

    const std::string& GetName() const { return name_; }
    const std::string& GetNamespace() const { return ns_; }
    void Set(std::string_view name, std::string_view ns = {}) {
        name_.assign(name);
        ns_.assign(ns);
    }
    void SetName(std::string_view name) { name_.assign(name); }
    bool IsEmpty() const { return name_.empty(); }

    friend bool operator==(const SOAPQName&, const SOAPQName&) = default;

private:
    std::string name_;
    std::string ns_;
};

// Every failure of the layer: malformed envelopes, failed conversions, missing members,
// transport failures, faults answered by a server. what() is the text to show.
class SOAPException : public std::runtime_error {
public:
    explicit SOAPException(const std::string& what) : std::runtime_error(what) {}
    // printf-style construction for messages with values in them.
    [[gnu::format(printf, 1, 2)]] static SOAPException Format(const char* format, ...);
    std::string GetWhat() const { return what(); }
};

// A fault answered by the server; what() is "SOAP Fault: " and the fault string.
class SOAPFaultException : public SOAPException {
public:
    SOAPFaultException(std::string code, std::string string, std::string actor, std::string detail);
    const std::string& GetFaultCode() const { return code_; }
    const std::string& GetFaultString() const { return string_; }
    const std::string& GetFaultActor() const { return actor_; }
    const std::string& GetFaultDetail() const { return detail_; }

private:
    std::string code_, string_, actor_, detail_;
};

// An HTTP answer whose status the client does not accept; what() is
// "Unexpected server response code: " and the status.
class SOAPHTTPException : public SOAPException {
public:
    explicit SOAPHTTPException(long status);
    long GetStatus() const { return status_; }

private:
    long status_;
};

template <class T> struct SOAPTypeTraits;

// One element of a SOAP message: its name, its attributes, and either a text value or child
// elements (a struct or an array). Children keep their addresses while others are added.
class SOAPParameter {
public:
    using Attribute = std::pair<SOAPQName, SOAPQName>;

    SOAPParameter() = default;
    explicit SOAPParameter(SOAPQName name) : name_(std::move(name)) {}
    SOAPParameter(const SOAPParameter& other);
    SOAPParameter& operator=(const SOAPParameter& other);
    SOAPParameter(SOAPParameter&&) noexcept = default;
    SOAPParameter& operator=(SOAPParameter&&) noexcept = default;
    ~SOAPParameter() = default;

    const SOAPQName& GetName() const { return name_; }
    void SetName(const SOAPQName& name) { name_ = name; }

    // The text value (empty for a compound element).
    const std::string& GetString() const { return value_; }
    void SetValue(std::string_view text) {
        value_.assign(text);
        null_ = false;
    }
    // Appends text to the value (the envelope reader gathers character data piecewise).
    void AppendValue(std::string_view text) { value_.append(text); }
    // xsi:nil="true" (or the 1999 xsi:null) was read, or SetNull was called.
    bool IsNull() const { return null_; }
    void SetNull(bool null = true) { null_ = null; }
    // A compound element: written with its children even when it has none.
    bool IsStruct() const { return struct_ || !children_.empty(); }
    void SetIsStruct() { struct_ = true; }

    // Clears the value, the attributes, the children and the flags; keeps the name.
    void Reset();

    // Sets an attribute, replacing one of the same name. A value with a namespace is written
    // as a qualified name (xsi:type="xsd:int"); one without is written as plain text.
    void AddAttribute(const SOAPQName& name, const SOAPQName& value);
    void AddAttribute(const SOAPQName& name, std::string_view text) {
        AddAttribute(name, SOAPQName(text));
    }
    // Appends without looking for one of the same name: for readers whose names are already
    // distinct (an XML parser refuses duplicate attributes).
    void AppendAttribute(const SOAPQName& name, const SOAPQName& value) {
        attributes_.emplace_back(name, value);
    }
    const SOAPQName* FindAttribute(const SOAPQName& name) const;
    const std::vector<Attribute>& GetAttributes() const { return attributes_; }
    // Sets xsi:type.
    void SetType(const SOAPQName& type);

    // Appends a child and returns it.
    SOAPParameter& AddParameter(const SOAPQName& name = {});
    SOAPParameter& AddParameter(const char* name) { return AddParameter(SOAPQName(name)); }
    // The first child with this local name (namespaces are not compared). Throws
    // "Could not find element by name: <name>" when there is none.
    const SOAPParameter& GetParameter(std::string_view name) const;
    SOAPParameter& GetParameter(std::string_view name);
    const SOAPParameter* FindParameter(std::string_view name) const;
    std::size_t GetNumParams() const { return children_.size(); }
    const SOAPParameter& GetParameterAt(std::size_t i) const { return *children_.at(i); }
    SOAPParameter& GetParameterAt(std::size_t i) { return *children_.at(i); }

    // Typed writing: clears the element, sets xsi:type from the traits, writes the value.
    template <class T> SOAPParameter& operator<<(const T& value) {
        Reset();
        SOAPQName type;
        SOAPTypeTraits<T>::GetType(type);
        SetType(type);
        SOAPTypeTraits<T>::Serialize(*this, value);
        return *this;
    }
    SOAPParameter& operator<<(const char* value) { return *this << std::string(value); }
    // Typed reading; throws SOAPException when the element does not hold a T.
    template <class T> const SOAPParameter& operator>>(T& value) const {
        SOAPTypeTraits<T>::Deserialize(*this, value);
        return *this;
    }

    int GetInt() const;
    bool GetBoolean() const;

private:
    SOAPQName name_;
    std::string value_;
    std::vector<Attribute> attributes_;
    std::vector<std::unique_ptr<SOAPParameter>> children_;
    bool null_ = false;
    bool struct_ = false;
};

// The method element of a request or a response.
class SOAPMethod : public SOAPParameter {
public:
    SOAPMethod() = default;
    SOAPMethod(std::string_view name, std::string_view ns) : SOAPParameter(SOAPQName(name, ns)) {}
    // The SOAPAction header the client sends: "<namespace>#<name>" unless set.
    std::string GetSoapAction() const;
    void SetSoapAction(std::string_view action) {
        action_.assign(action);
        action_set_ = true;
    }

private:
    std::string action_;
    bool action_set_ = false;
};

// A SOAP 1.1 fault.
struct SOAPFault {
    std::string code;   // qualified text, e.g. "SOAP-ENV:Server"
    std::string string; // the text for people (our servers: the fault name)
    std::string actor;  // may be empty
    std::string detail; // the text of the detail element, may be empty
};

// Base64 of xsd:base64Binary, written without line breaks.
struct SOAPBase64 {
    std::string bytes;
    static std::string Encode(std::string_view bytes);
    // XML whitespace is skipped; any other character outside the alphabet, or a length that
    // is no multiple of four, throws.
    static std::string Decode(std::string_view text);
};

// Parses an array size of the form "...[n]" (arrayType, offset, position). Returns -1 for
// "[]"; throws "Invalid value for array encoding tag '<tag>': <value>" on anything else.
long ParseArraySize(std::string_view tag, std::string_view value);

// Strict integer text: optional XML whitespace around an optional sign and decimal digits.
bool ParseInt(std::string_view text, long long& out);

template <> struct SOAPTypeTraits<int> {
    static void GetType(SOAPQName& type) { type.Set("int", XSD_NS); }
    static void Serialize(SOAPParameter& param, int value);
    static void Deserialize(const SOAPParameter& param, int& value);
};
template <> struct SOAPTypeTraits<bool> {
    static void GetType(SOAPQName& type) { type.Set("boolean", XSD_NS); }
    static void Serialize(SOAPParameter& param, bool value);
    static void Deserialize(const SOAPParameter& param, bool& value);
};
template <> struct SOAPTypeTraits<std::string> {
    static void GetType(SOAPQName& type) { type.Set("string", XSD_NS); }
    static void Serialize(SOAPParameter& param, const std::string& value);
    static void Deserialize(const SOAPParameter& param, std::string& value);
};
template <> struct SOAPTypeTraits<SOAPBase64> {
    static void GetType(SOAPQName& type) { type.Set("base64Binary", XSD_NS); }
    static void Serialize(SOAPParameter& param, const SOAPBase64& value);
    static void Deserialize(const SOAPParameter& param, SOAPBase64& value);
};

// Limits of the array reader: a declared size may exceed the number of items (sparse and
// partly transmitted arrays) by at most this much, so that a hostile arrayType cannot make
// the reader allocate without bound.
inline constexpr std::size_t kMaxArraySlack = 65536;

namespace detail {
// The checks of the array reader: returns the declared size and the start position, or throws.
void array_read_start(const SOAPParameter& param, std::size_t& size, std::size_t& position,
                      bool& nil);
// The position of the next item (child `child` of the array), or throws.
std::size_t array_item_position(const SOAPParameter& item, std::size_t size, std::size_t current);
void array_write_start(SOAPParameter& param, const SOAPQName& item_type, std::size_t count);
} // namespace detail

// SOAP-encoded arrays of items of any type with traits. Items are written as "item" children
// without a type of their own and read whatever their name.
template <class T> struct SOAPArrayTypeTraits {
    static void GetType(SOAPQName& type) { type.Set("Array", SOAP_ENC_NS); }
    static void Serialize(SOAPParameter& param, const std::vector<T>& list) {
        SOAPQName item_type;
        SOAPTypeTraits<T>::GetType(item_type);
        detail::array_write_start(param, item_type, list.size());
        for (const T& entry : list)
            SOAPTypeTraits<T>::Serialize(param.AddParameter("item"), entry);
    }
    static void Deserialize(const SOAPParameter& param, std::vector<T>& list) {
        std::size_t size = 0, position = 0;
        bool nil = false;
        detail::array_read_start(param, size, position, nil);
        if (nil) {
            list.clear();
            return;
        }
        list.assign(size, T{});
        for (std::size_t i = 0; i < param.GetNumParams(); ++i) {
            const SOAPParameter& item = param.GetParameterAt(i);
            position = detail::array_item_position(item, size, position);
            if constexpr (std::is_same_v<T, bool>) {
                bool value = list[position];
                SOAPTypeTraits<bool>::Deserialize(item, value);
                list[position] = value;
            } else {
                SOAPTypeTraits<T>::Deserialize(item, list[position]);
            }
            ++position;
        }
    }
};

template <class T> struct SOAPTypeTraits<std::vector<T>> : SOAPArrayTypeTraits<T> {};

} // namespace EasySoap
