#include "soap/soap_envelope.h"

#include "util/escape.h"
#include "util/xmlreader.h"

#include <expat.h>

#include <algorithm>
#include <deque>
#include <map>

namespace EasySoap {

namespace {

// ---- writing ----

bool xml_char_allowed(unsigned cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

// Length of the valid UTF-8 sequence at text[i] and its code point, or 0 when invalid.
std::size_t utf8_sequence(std::string_view text, std::size_t i, unsigned& cp) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned c = byte(i);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    std::size_t len;
    unsigned min;
    if ((c & 0xE0) == 0xC0) {
        len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > text.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

void append_escaped(std::string& out, std::string_view text, bool attribute) {
    for (std::size_t i = 0; i < text.size();) {
        unsigned cp = 0;
        std::size_t len = utf8_sequence(text, i, cp);
        if (len == 0 || !xml_char_allowed(cp)) {
            out += "\xEF\xBF\xBD";
            i += len ? len : 1;
            continue;
        }
        const char* reference =
            cp < 0x80 ? lumbrake::markup_reference(static_cast<char>(cp)) : nullptr;
        if (reference && (cp != '"' || attribute)) {
            out += reference;
            i += len;
            continue;
        }
        switch (cp) {
        // Kept as references so that the reader's line-end and attribute normalisation
        // gives back the same text.
        case '\r':
            out += "&#13;";
            break;
        case '\t':
            out += attribute ? "&#9;" : "\t";
            break;
        case '\n':
            out += attribute ? "&#10;" : "\n";
            break;
        default:
            out.append(text.substr(i, len));
        }
        i += len;
    }
}

class EnvelopeWriter {
public:
    EnvelopeWriter() {
        prefixes_[SOAP_ENV_NS] = "SOAP-ENV";
        prefixes_[SOAP_ENC_NS] = "SOAP-ENC";
        prefixes_[XSI_NS] = "xsi";
        prefixes_[XSD_NS] = "xsd";
        // Bound by XML itself; declaring it is an error.
        prefixes_["http://www.w3.org/XML/1998/namespace"] = "xml";
        order_ = {SOAP_ENV_NS, SOAP_ENC_NS, XSI_NS, XSD_NS};
    }

    void collect(const SOAPParameter& p) {
        note(p.GetName().GetNamespace());
        for (const auto& [name, value] : p.GetAttributes()) {
            note(name.GetNamespace());
            note(value.GetNamespace());
        }
        for (std::size_t i = 0; i < p.GetNumParams(); ++i)
            collect(p.GetParameterAt(i));
    }

    void begin(std::string& out) {
        out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<SOAP-ENV:Envelope";
        for (const std::string& ns : order_) {
            out += " xmlns:";
            out += prefixes_[ns];
            out += "=\"";
            append_escaped(out, ns, true);
            out += '"';
        }
        out += " SOAP-ENV:encodingStyle=\"";
        out += SOAP_ENC_NS;
        out += "\">\r\n<SOAP-ENV:Body>\r\n";
    }

    static void end(std::string& out) { out += "</SOAP-ENV:Body>\r\n</SOAP-ENV:Envelope>\r\n"; }

    void qname(std::string& out, const SOAPQName& q, bool attribute) {
        if (!q.GetNamespace().empty()) {
            out += prefixes_[q.GetNamespace()];
            out += ':';
        }
        append_escaped(out, q.GetName(), attribute);
    }

    void element(std::string& out, const SOAPParameter& p) {
        std::string name;
        qname(name, p.GetName(), false);
        out += '<';
        out += name;
        bool typed_nil = false;
        for (const auto& [attr, value] : p.GetAttributes()) {
            if (attr == SOAPQName("nil", XSI_NS)) typed_nil = true;
            out += ' ';
            qname(out, attr, true);
            out += "=\"";
            qname(out, value, true);
            out += '"';
        }
        if (p.IsNull() && !typed_nil) out += " xsi:nil=\"true\"";
        if (p.GetNumParams() == 0 && p.GetString().empty()) {
            out += "/>\r\n";
            return;
        }
        out += '>';
        if (p.GetNumParams() != 0) {
            out += "\r\n";
            for (std::size_t i = 0; i < p.GetNumParams(); ++i)
                element(out, p.GetParameterAt(i));
        } else {
            append_escaped(out, p.GetString(), false);
        }
        out += "</";
        out += name;
        out += ">\r\n";
    }

private:
    void note(const std::string& ns) {
        if (ns.empty() || prefixes_.count(ns)) return;
        prefixes_[ns] = "ns" + std::to_string(order_.size() - 3);
        order_.push_back(ns);
    }

    std::map<std::string, std::string> prefixes_;
    std::vector<std::string> order_;
};

// ---- reading ----

constexpr char kSep = '|';

bool is_blank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

class EnvelopeReader {
public:
    EnvelopeReader(const SOAPReaderLimits& limits) : limits_(limits) {}

    SOAPEnvelope read(std::string_view bytes, const char* encoding) {
        XML_Parser parser = XML_ParserCreateNS(encoding, kSep);
        if (!parser) throw SOAPException("Out of memory creating the XML parser");
        struct release {
            XML_Parser p;
            ~release() { XML_ParserFree(p); }
        } guard{parser};
        parser_ = parser;
        XML_SetUserData(parser, this);
        XML_SetElementHandler(parser, &on_start, &on_end);
        XML_SetCharacterDataHandler(parser, &on_chars);
        XML_SetNamespaceDeclHandler(parser, &on_ns_start, &on_ns_end);
        XML_SetStartDoctypeDeclHandler(parser, &on_doctype);
        lumbrake::guard_xml_parser(parser, &charset_); // windows-1252 and the like
        bool ok = lumbrake::parse_whole(parser, bytes);
        if (!error_.empty()) {
            if (must_understand_) throw SOAPMustUnderstandException(error_);
            throw SOAPException(error_);
        }
        if (!ok)
            throw SOAPException::Format(
                "Malformed XML at line %lu: %s",
                static_cast<unsigned long>(XML_GetCurrentLineNumber(parser)),
                XML_ErrorString(XML_GetErrorCode(parser)));
        if (!body_seen_) throw SOAPException("SOAP envelope has no Body");
        if (entries_.empty()) throw SOAPException("SOAP Body has no entry");
        return finish();
    }

private:
    static void XMLCALL on_start(void* user, const XML_Char* name, const XML_Char** atts) {
        static_cast<EnvelopeReader*>(user)->start(name, atts);
    }
    static void XMLCALL on_end(void* user, const XML_Char*) {
        static_cast<EnvelopeReader*>(user)->end();
    }
    static void XMLCALL on_chars(void* user, const XML_Char* s, int len) {
        auto* self = static_cast<EnvelopeReader*>(user);
        if (self->error_.empty() && !self->stack_.empty() && self->stack_.back())
            self->stack_.back()->AppendValue(std::string_view(s, static_cast<std::size_t>(len)));
    }
    static void XMLCALL on_ns_start(void* user, const XML_Char* prefix, const XML_Char* uri) {
        static_cast<EnvelopeReader*>(user)->ns_.emplace_back(prefix ? prefix : "", uri ? uri : "");
    }
    static void XMLCALL on_ns_end(void* user, const XML_Char*) {
        auto* self = static_cast<EnvelopeReader*>(user);
        if (!self->ns_.empty()) self->ns_.pop_back();
    }
    static void XMLCALL on_doctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*,
                                   int) {
        static_cast<EnvelopeReader*>(user)->fail("Document type declarations are not allowed");
    }

    void fail(std::string message, bool must_understand = false) {
        if (error_.empty()) {
            error_ = std::move(message);
            must_understand_ = must_understand;
        }
        XML_StopParser(parser_, XML_FALSE);
    }

    SOAPQName split(const char* name) const {
        std::string ns, local;
        lumbrake::split_qname(kSep, name, ns, local);
        return SOAPQName(local, ns);
    }

    // A QName-valued attribute ("xsd:int", "ns1:AccessSpec[3]") resolved by the prefixes in
    // scope. An unbound prefix leaves the namespace empty.
    SOAPQName resolve(std::string_view text) const {
        std::size_t colon = text.find(':');
        std::string_view prefix = colon == std::string_view::npos ? "" : text.substr(0, colon);
        std::string_view local = colon == std::string_view::npos ? text : text.substr(colon + 1);
        for (auto it = ns_.rbegin(); it != ns_.rend(); ++it)
            if (it->first == prefix) return SOAPQName(local, it->second);
        return SOAPQName(local);
    }

    static bool is_qname_attribute(const SOAPQName& a) {
        return (a.GetName() == "type" &&
                (a.GetNamespace() == XSI_NS || a.GetNamespace() == XSI1999_NS)) ||
               (a.GetName() == "arrayType" && a.GetNamespace() == SOAP_ENC_NS);
    }

    void start(const char* raw_name, const char** atts) {
        if (!error_.empty()) return;
        ++elements_;
        if (elements_ > limits_.max_elements) return fail("SOAP envelope has too many elements");
        if (stack_.size() + 1 > limits_.max_depth)
            return fail("SOAP envelope is nested too deeply");
        std::size_t attributes = 0;
        for (const char** a = atts; *a; a += 2)
            ++attributes;
        if (attributes > limits_.max_attributes)
            return fail("SOAP element has too many attributes");
        SOAPQName name = split(raw_name);
        std::size_t depth = stack_.size();
        if (depth == 0) {
            if (name.GetName() != "Envelope") return fail("Not a SOAP envelope");
            if (name.GetNamespace() != SOAP_ENV_NS)
                return fail("SOAP version mismatch: envelope namespace '" + name.GetNamespace() +
                            "'");
            stack_.push_back(nullptr);
            return;
        }
        if (depth == 1) {
            bool env = name.GetNamespace() == SOAP_ENV_NS;
            if (env && name.GetName() == "Header" && !body_seen_ && !header_seen_) {
                header_seen_ = true;
                in_header_ = true;
            } else if (env && name.GetName() == "Body" && !body_seen_) {
                body_seen_ = true;
                in_header_ = false;
            } else {
                return fail("Unexpected element '" + name.GetName() + "' in the SOAP envelope");
            }
            stack_.push_back(nullptr);
            return;
        }
        if (in_header_) {
            if (depth == 2) {
                for (const char** a = atts; *a; a += 2) {
                    SOAPQName attr = split(a[0]);
                    std::string_view v = a[1];
                    if (attr.GetName() == "mustUnderstand" && attr.GetNamespace() == SOAP_ENV_NS &&
                        (v == "1" || v == "true"))
                        return fail("Header entry '" + name.GetName() + "' was not understood",
                                    true);
                }
            }
            stack_.push_back(nullptr);
            return;
        }
        SOAPParameter* param;
        if (depth == 2) {
            entries_.emplace_back(name);
            param = &entries_.back();
        } else {
            param = &stack_.back()->AddParameter(name);
        }
        for (const char** a = atts; *a; a += 2) {
            SOAPQName attr = split(a[0]);
            std::string_view value = a[1];
            // Expat has refused duplicate names already, so no search (which would make many
            // attributes cost their square).
            if (is_qname_attribute(attr)) {
                param->AppendAttribute(attr, resolve(value));
            } else {
                param->AppendAttribute(attr, SOAPQName(value));
            }
            if ((attr == SOAPQName("nil", XSI_NS) && (value == "true" || value == "1")) ||
                (attr == SOAPQName("null", XSI1999_NS) && (value == "true" || value == "1")))
                param->SetNull();
        }
        stack_.push_back(param);
    }

    void end() {
        // Expat may still report the end of the element whose start stopped the parse.
        if (!error_.empty() || stack_.empty()) return;
        SOAPParameter* param = stack_.back();
        stack_.pop_back();
        // Indentation between child elements is no value.
        if (param && param->GetNumParams() != 0 && is_blank(param->GetString()))
            param->SetValue("");
        if (stack_.size() == 1) in_header_ = false;
    }

    void index_ids(const SOAPParameter& p) {
        if (const SOAPQName* id = p.FindAttribute(SOAPQName("id"))) ids_.emplace(id->GetName(), &p);
        for (std::size_t i = 0; i < p.GetNumParams(); ++i)
            index_ids(p.GetParameterAt(i));
    }

    static std::size_t count_nodes(const SOAPParameter& p, std::size_t stop) {
        std::size_t n = 1;
        for (std::size_t i = 0; i < p.GetNumParams() && n <= stop; ++i)
            n += count_nodes(p.GetParameterAt(i), stop - n);
        return n;
    }

    // Replaces every href="#id" element by a copy of the element with that id, keeping its
    // own name. Cycles are refused; copies count against the element limit.
    void resolve_refs(SOAPParameter& p, std::vector<std::string>& active, std::size_t depth) {
        if (depth > limits_.max_depth) throw SOAPException("SOAP references nest too deeply");
        const SOAPQName* href = p.FindAttribute(SOAPQName("href"));
        std::size_t pushed = 0;
        if (href && !href->GetName().empty() && href->GetName()[0] == '#') {
            std::string id = href->GetName().substr(1);
            for (const std::string& a : active)
                if (a == id) throw SOAPException("Circular SOAP reference '#" + id + "'");
            auto it = ids_.find(id);
            if (it == ids_.end()) throw SOAPException("Unresolved SOAP reference '#" + id + "'");
            std::size_t budget = limits_.max_elements - std::min(elements_, limits_.max_elements);
            std::size_t n = count_nodes(*it->second, budget);
            if (n > budget) throw SOAPException("SOAP envelope has too many elements");
            elements_ += n;
            SOAPQName name = p.GetName();
            p = *it->second;
            p.SetName(name);
            active.push_back(id);
            pushed = 1;
        }
        for (std::size_t i = 0; i < p.GetNumParams(); ++i)
            resolve_refs(p.GetParameterAt(i), active, depth + 1);
        if (pushed) active.pop_back();
    }

    SOAPEnvelope finish() {
        SOAPEnvelope envelope;
        // The first body entry that is not marked root="0" is the message; the others are
        // the independent elements its references point to.
        std::size_t main = 0;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const SOAPQName* root = entries_[i].FindAttribute(SOAPQName("root", SOAP_ENC_NS));
            if (!root || root->GetName() != "0") {
                main = i;
                break;
            }
        }
        for (const SOAPParameter& entry : entries_)
            index_ids(entry);
        SOAPParameter& entry = entries_[main];
        if (entry.GetName() == SOAPQName("Fault", SOAP_ENV_NS)) {
            envelope.is_fault = true;
            auto text = [&](const char* member) {
                const SOAPParameter* p = entry.FindParameter(member);
                return p ? p->GetString() : std::string();
            };
            envelope.fault.code = text("faultcode");
            envelope.fault.string = text("faultstring");
            envelope.fault.actor = text("faultactor");
            envelope.fault.detail = text("detail");
            return envelope;
        }
        std::vector<std::string> active;
        resolve_refs(entry, active, 0);
        static_cast<SOAPParameter&>(envelope.method) = std::move(entry);
        return envelope;
    }

    SOAPReaderLimits limits_;
    lumbrake::charset charset_{"UTF-8"};
    XML_Parser parser_ = nullptr;
    std::string error_;
    bool must_understand_ = false;
    std::size_t elements_ = 0;
    bool header_seen_ = false, body_seen_ = false, in_header_ = false;
    std::vector<SOAPParameter*> stack_;
    std::vector<std::pair<std::string, std::string>> ns_;
    std::deque<SOAPParameter> entries_;
    std::map<std::string, const SOAPParameter*> ids_;
};

} // namespace

std::string WriteEnvelope(const SOAPMethod& method) {
    EnvelopeWriter writer;
    writer.collect(method);
    std::string out;
    writer.begin(out);
    writer.element(out, method);
    writer.end(out);
    return out;
}

std::string WriteFaultEnvelope(const SOAPFault& fault) {
    SOAPParameter p(SOAPQName("Fault", SOAP_ENV_NS));
    p.AddParameter("faultcode").SetValue(fault.code);
    p.AddParameter("faultstring").SetValue(fault.string);
    if (!fault.actor.empty()) p.AddParameter("faultactor").SetValue(fault.actor);
    if (!fault.detail.empty()) p.AddParameter("detail").SetValue(fault.detail);
    EnvelopeWriter writer;
    writer.collect(p);
    std::string out;
    writer.begin(out);
    writer.element(out, p);
    writer.end(out);
    return out;
}

SOAPEnvelope ReadEnvelope(std::string_view bytes, const char* encoding,
                          const SOAPReaderLimits& limits) {
    EnvelopeReader reader(limits);
    return reader.read(bytes, encoding);
}

} // namespace EasySoap
