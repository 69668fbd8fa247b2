#include "api/auth.h"

#include "api/api-typeutils.h"
#include "util/log.h"

namespace lumbrake {

namespace {

class auth_reader : public xml_record_reader {
public:
    explicit auth_reader(AuthConfiguration& a) : a_(a) {}

protected:
    void start_element(std::string_view name, const xml_attr_map& attrs) override {
        if (name == "auth") {
            a_.Username = xml_attr(attrs, "username");
            a_.Password = xml_attr(attrs, "password");
        } else if (name == "param") {
            a_.ParamValues.push_back({xml_attr(attrs, "name"), xml_attr(attrs, "value")});
        } else if (name == "acl") {
            read_acl_entry(attrs, a_.ACL);
        }
    }

private:
    AuthConfiguration& a_;
};

} // namespace

bool auth_to_xml(const AuthConfiguration& a, std::string& xml, std::string* error) {
    xml_record_writer w(xml);
    w.start(0, "auth").text_attr("username", a.Username).text_attr("password", a.Password).open();
    for (const ParamValue& p : a.ParamValues)
        w.start(1, "param").text_attr("name", p.Name).text_attr("value", p.Value).empty();
    w.acl(a.ACL);
    w.close(0, "auth");
    return w.finish("auth", error);
}

bool auth_from_xml(const char* text, std::size_t length, AuthConfiguration& auth) {
    auth = AuthConfiguration{};
    auth_reader reader(auth);
    return reader.parse(text, length);
}

} // namespace lumbrake
