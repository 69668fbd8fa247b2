#include "soap/soap.h"

#include "util/base64.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>

namespace EasySoap {

namespace {

bool is_xml_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_xml_space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_xml_space(text.back()))
        text.remove_suffix(1);
    return text;
}

const SOAPQName& xsi_type_name() {
    static const SOAPQName name("type", XSI_NS);
    return name;
}

} // namespace

SOAPException SOAPException::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return SOAPException(text);
}

SOAPFaultException::SOAPFaultException(std::string code, std::string string, std::string actor,
                                       std::string detail)
    : SOAPException("SOAP Fault: " + string), code_(std::move(code)), string_(std::move(string)),
      actor_(std::move(actor)), detail_(std::move(detail)) {}

SOAPHTTPException::SOAPHTTPException(long status)
    : SOAPException("Unexpected server response code: " + std::to_string(status)), status_(status) {
}

SOAPParameter::SOAPParameter(const SOAPParameter& other)
    : name_(other.name_), value_(other.value_), attributes_(other.attributes_), null_(other.null_),
      struct_(other.struct_) {
    children_.reserve(other.children_.size());
    for (const auto& child : other.children_)
        children_.push_back(std::make_unique<SOAPParameter>(*child));
}

SOAPParameter& SOAPParameter::operator=(const SOAPParameter& other) {
    if (this != &other) {
        SOAPParameter copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void SOAPParameter::Reset() {
    value_.clear();
    attributes_.clear();
    children_.clear();
    null_ = false;
    struct_ = false;
}

void SOAPParameter::AddAttribute(const SOAPQName& name, const SOAPQName& value) {
    for (auto& attribute : attributes_) {
        if (attribute.first == name) {
            attribute.second = value;
            return;
        }
    }
    attributes_.emplace_back(name, value);
}

const SOAPQName* SOAPParameter::FindAttribute(const SOAPQName& name) const {
    for (const auto& attribute : attributes_)
        if (attribute.first == name) return &attribute.second;
    return nullptr;
}

void SOAPParameter::SetType(const SOAPQName& type) {
    AddAttribute(xsi_type_name(), type);
}

SOAPParameter& SOAPParameter::AddParameter(const SOAPQName& name) {
    children_.push_back(std::make_unique<SOAPParameter>(name));
    return *children_.back();
}

const SOAPParameter* SOAPParameter::FindParameter(std::string_view name) const {
    for (const auto& child : children_)
        if (child->name_.GetName() == name) return child.get();
    return nullptr;
}

const SOAPParameter& SOAPParameter::GetParameter(std::string_view name) const {
    if (const SOAPParameter* child = FindParameter(name)) return *child;
    throw SOAPException("Could not find element by name: " + std::string(name));
}

SOAPParameter& SOAPParameter::GetParameter(std::string_view name) {
    return const_cast<SOAPParameter&>(std::as_const(*this).GetParameter(name));
}

int SOAPParameter::GetInt() const {
    int value = 0;
    *this >> value;
    return value;
}

bool SOAPParameter::GetBoolean() const {
    bool value = false;
    *this >> value;
    return value;
}

std::string SOAPMethod::GetSoapAction() const {
    if (action_set_) return action_;
    return GetName().GetNamespace() + "#" + GetName().GetName();
}

bool ParseInt(std::string_view text, long long& out) {
    text = trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return false;
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > static_cast<unsigned long long>(LLONG_MAX)) return false;
    }
    out = negative ? -static_cast<long long>(value) : static_cast<long long>(value);
    return true;
}

static void require_simple(const SOAPParameter& param, const char* type) {
    if (param.GetNumParams() != 0)
        throw SOAPException::Format("Cannot convert a compound element '%s' to %s",
                                    param.GetName().GetName().c_str(), type);
}

void SOAPTypeTraits<int>::Serialize(SOAPParameter& param, int value) {
    param.SetValue(std::to_string(value));
}

void SOAPTypeTraits<int>::Deserialize(const SOAPParameter& param, int& value) {
    require_simple(param, "int");
    long long parsed = 0;
    if (param.IsNull() || !ParseInt(param.GetString(), parsed) || parsed < INT_MIN ||
        parsed > INT_MAX)
        throw SOAPException("Could not convert '" + param.GetString() + "' to int");
    value = static_cast<int>(parsed);
}

void SOAPTypeTraits<bool>::Serialize(SOAPParameter& param, bool value) {
    param.SetValue(value ? "true" : "false");
}

void SOAPTypeTraits<bool>::Deserialize(const SOAPParameter& param, bool& value) {
    require_simple(param, "boolean");
    std::string_view text = trim(param.GetString());
    if (!param.IsNull() && (text == "true" || text == "1")) {
        value = true;
    } else if (!param.IsNull() && (text == "false" || text == "0")) {
        value = false;
    } else {
        throw SOAPException("Could not convert '" + param.GetString() + "' to boolean");
    }
}

void SOAPTypeTraits<std::string>::Serialize(SOAPParameter& param, const std::string& value) {
    param.SetValue(value);
}

void SOAPTypeTraits<std::string>::Deserialize(const SOAPParameter& param, std::string& value) {
    require_simple(param, "string");
    // Some peers send text with bytes outside ASCII as base64Binary; its value is the bytes.
    const SOAPQName* type = param.FindAttribute(xsi_type_name());
    if (type && type->GetName() == "base64Binary" && type->GetNamespace() == XSD_NS) {
        value = SOAPBase64::Decode(param.GetString());
        return;
    }
    value = param.GetString();
}

std::string SOAPBase64::Encode(std::string_view bytes) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                     static_cast<unsigned char>(bytes[i + 1]) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    if (std::size_t rest = bytes.size() - i) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string SOAPBase64::Decode(std::string_view text) {
    std::string compact;
    compact.reserve(text.size());
    for (char c : text)
        if (!is_xml_space(c)) compact += c;
    // Padding may only end the text: at most two '=' and nothing after them.
    std::size_t pad = compact.find('=');
    bool bad_pad =
        pad != std::string::npos &&
        (compact.size() - pad > 2 || compact.find_first_not_of('=', pad) != std::string::npos);
    lumbrake::base64_decoder decoder;
    std::string out;
    bool clean = decoder.decode(out, compact);
    decoder.finish();
    if (!clean || bad_pad || compact.size() % 4 != 0) throw SOAPException("Invalid base64 data");
    return out;
}

void SOAPTypeTraits<SOAPBase64>::Serialize(SOAPParameter& param, const SOAPBase64& value) {
    param.SetValue(SOAPBase64::Encode(value.bytes));
}

void SOAPTypeTraits<SOAPBase64>::Deserialize(const SOAPParameter& param, SOAPBase64& value) {
    require_simple(param, "base64Binary");
    value.bytes = SOAPBase64::Decode(param.GetString());
}

long ParseArraySize(std::string_view tag, std::string_view value) {
    auto fail = [&] {
        return SOAPException::Format("Invalid value for array encoding tag '%.*s': %.*s",
                                     static_cast<int>(tag.size()), tag.data(),
                                     static_cast<int>(value.size()), value.data());
    };
    std::size_t open = value.rfind('[');
    if (open == std::string_view::npos) throw fail();
    std::string_view rest = value.substr(open + 1);
    if (!rest.empty() && rest.front() == ']' && rest.size() == 1) return -1;
    if (rest.empty() || rest.back() != ']') throw fail();
    rest.remove_suffix(1);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
        rest.remove_prefix(1);
    bool negative = false;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    if (rest.empty()) throw fail();
    unsigned long long n = 0;
    for (char c : rest) {
        if (c < '0' || c > '9') throw fail();
        n = n * 10 + static_cast<unsigned>(c - '0');
        if (n > static_cast<unsigned long long>(INT_MAX)) throw fail();
    }
    if (negative && n != 0) throw fail();
    return static_cast<long>(n);
}

namespace detail {

namespace {
const SOAPQName kArrayType("arrayType", SOAP_ENC_NS);
const SOAPQName kOffset("offset", SOAP_ENC_NS);
const SOAPQName kPosition("position", SOAP_ENC_NS);
const SOAPQName kNil("nil", XSI_NS);
const SOAPQName kNull1999("null", XSI1999_NS);
} // namespace

void array_write_start(SOAPParameter& param, const SOAPQName& item_type, std::size_t count) {
    char size[32];
    std::snprintf(size, sizeof size, "[%d]", static_cast<int>(count));
    param.AddAttribute(kArrayType, SOAPQName(item_type.GetName() + size, item_type.GetNamespace()));
    param.SetIsStruct();
}

void array_read_start(const SOAPParameter& param, std::size_t& size, std::size_t& position,
                      bool& nil) {
    std::size_t count = param.GetNumParams();
    nil = false;
    if (param.IsNull() || param.FindAttribute(kNil) || param.FindAttribute(kNull1999)) {
        if (count != 0)
            throw SOAPException("Got xsi:nil attribute on array but parameter has values..");
        nil = true;
        return;
    }
    size = count;
    if (const SOAPQName* type = param.FindAttribute(kArrayType)) {
        long declared = ParseArraySize("arrayType", type->GetName());
        if (declared >= 0) size = static_cast<std::size_t>(declared);
    }
    if (count > size)
        throw SOAPException::Format(
            "Error de-serializing array.  Too many values in array.  Array specified %u, found %u.",
            static_cast<unsigned>(size), static_cast<unsigned>(count));
    if (size - count > kMaxArraySlack)
        throw SOAPException::Format(
            "Error de-serializing array.  Array specified %u, found only %u values.",
            static_cast<unsigned>(size), static_cast<unsigned>(count));
    position = 0;
    if (const SOAPQName* offset = param.FindAttribute(kOffset)) {
        long start = ParseArraySize("offset", offset->GetName());
        if (start > 0) position = static_cast<std::size_t>(start);
    }
}

std::size_t array_item_position(const SOAPParameter& item, std::size_t size, std::size_t current) {
    if (const SOAPQName* pos = item.FindAttribute(kPosition)) {
        long p = ParseArraySize("position", pos->GetName());
        if (p >= 0) {
            auto next = static_cast<std::size_t>(p);
            if (next < current)
                throw SOAPException::Format("Error decoding array, position attribute cannot "
                                            "point to a previous element. Current position: "
                                            "[%d], next position: [%d]",
                                            static_cast<int>(current), static_cast<int>(next));
            if (next >= size)
                throw SOAPException::Format(
                    "Error decoding array, position out of range. Current size: [%d], "
                    "requested position: [%d]",
                    static_cast<int>(size), static_cast<int>(next));
            current = next;
        }
    }
    if (current >= size)
        throw SOAPException::Format(
            "Error decoding array, position out of range. Current size: [%d], requested "
            "position: [%d]",
            static_cast<int>(size), static_cast<int>(current));
    return current;
}

} // namespace detail

} // namespace EasySoap
