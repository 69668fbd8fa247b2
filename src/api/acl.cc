#include "api/acl.h"

#include "api/api-typeutils.h"
#include "util/log.h"

#include <algorithm>

namespace lumbrake {

bool check_acl(std::string_view user, const std::vector<std::string>& groups,
               const std::vector<AccessSpec>& acl, int access) {
    auto is_principal = [&](const std::string& name) {
        return name == user || name == ALL_USERS_GROUP ||
               std::find(groups.begin(), groups.end(), name) != groups.end();
    };
    bool granted = false;
    for (const AccessSpec& entry : acl) {
        if (int(entry.Access) != access || !is_principal(entry.Name)) continue;
        if (entry.Deny) return false;
        granted = true;
    }
    return granted;
}

namespace {

class root_acl_reader : public xml_record_reader {
public:
    explicit root_acl_reader(RootACL& acl) : acl_(acl) {}

protected:
    void start_element(std::string_view name, const xml_attr_map& attrs) override {
        if (name != "entry") return;
        AccessSpec entry;
        entry.Name = xml_attr(attrs, "name");
        const std::string& access = xml_attr(attrs, "access");
        if (access == "read") {
            entry.Access = READACCESS;
        } else if (access == "write") {
            entry.Access = WRITEACCESS;
        } else {
            TN_LOG(LF_API, LL_ERROR, "Unknown access type " << access);
            return;
        }
        const std::string& deny = xml_attr(attrs, "deny");
        if (deny == "true") {
            entry.Deny = true;
        } else if (deny == "false") {
            entry.Deny = false;
        } else {
            TN_LOG(LF_API, LL_ERROR, "Unknown ACL deny value " << deny);
            return;
        }
        acl_.push_back(std::move(entry));
    }

private:
    RootACL& acl_;
};

} // namespace

bool acl_to_xml(const RootACL& acl, std::string& xml, std::string* error) {
    xml_record_writer w(xml);
    w.start(0, "acl").open();
    for (const AccessSpec& entry : acl) {
        w.start(1, "entry")
            .text_attr("name", entry.Name)
            .token("access", entry.Access == WRITEACCESS ? "write" : "read")
            .bool_attr("deny", entry.Deny)
            .empty();
    }
    w.close(0, "acl");
    return w.finish("root ACL", error);
}

bool acl_from_xml(const char* text, std::size_t length, RootACL& acl) {
    acl.clear();
    root_acl_reader reader(acl);
    return reader.parse(text, length);
}

} // namespace lumbrake
