#include "api/login.h"

#include "api/acl.h"
#include "api/api-typeutils.h"
#include "util/config.h"
#include "util/md5.h"

namespace lumbrake {

void LoginUser::set_password(std::string_view password) {
    password_hash = md5_hex(password);
}

bool LoginConfiguration::name_taken(const std::string& name) const {
    return builtin_names.count(name) || users.count(name) || groups.count(name);
}

bool LoginConfiguration::add_user(const std::string& name, std::string_view password, bool admin,
                                  const std::vector<std::string>& member_of) {
    if (name_taken(name)) return false;
    LoginUser& user = (*this)[name];
    user.name = name;
    user.admin = admin;
    user.groups = member_of;
    user.set_password(password);
    return true;
}

bool LoginConfiguration::remove_user(const std::string& name) {
    return users.erase(name) > 0;
}

bool LoginConfiguration::get_user(const std::string& name, LoginUser& user) const {
    auto it = users.find(name);
    if (it == users.end()) return false;
    user = it->second;
    return true;
}

bool LoginConfiguration::set_user(const LoginUser& user) {
    if (!users.count(user.name)) return false;
    LoginUser& stored = (*this)[user.name];
    stored.name = user.name;
    stored.password_hash = user.password_hash;
    stored.admin = user.admin;
    stored.groups = user.groups;
    return true;
}

bool LoginConfiguration::add_group(const std::string& name) {
    if (name_taken(name)) return false;
    groups.insert(name);
    return true;
}

bool LoginConfiguration::remove_group(const std::string& name) {
    return groups.erase(name) > 0;
}

void LoginConfiguration::user_names(std::vector<std::string>& names) const {
    names.clear();
    for (const auto& entry : users)
        names.push_back(entry.first);
}

void LoginConfiguration::group_names(std::vector<std::string>& names) const {
    names.assign(groups.begin(), groups.end());
}

namespace {

class login_reader : public xml_record_reader {
public:
    explicit login_reader(LoginConfiguration& l) : l_(l) {}

protected:
    void start_element(std::string_view name, const xml_attr_map& attrs) override {
        if (name == "user") {
            l_.pending_user = LoginUser{};
            l_.pending_user.name = xml_attr(attrs, "name");
            l_.pending_user.admin = xml_attr(attrs, "admin") == "true";
            // Stored hashes are taken as they stand, never hashed again.
            l_.pending_user.password_hash = xml_attr(attrs, "pass");
        } else if (name == "member") {
            l_.pending_user.groups.push_back(xml_attr(attrs, "group"));
        } else if (name == "group") {
            l_.groups.insert(xml_attr(attrs, "name"));
        }
    }
    void end_element(std::string_view name) override {
        if (name == "user") l_[l_.pending_user.name] = l_.pending_user;
    }

private:
    LoginConfiguration& l_;
};

} // namespace

bool login_to_xml(const LoginConfiguration& login, std::string& xml, std::string* error) {
    xml_record_writer w(xml);
    w.start(0, "login").open();
    for (const auto& [name, user] : login.users) {
        w.start(1, "user")
            .text_attr("name", name)
            .text_attr("pass", user.password_hash)
            .token("hash", "md5")
            .bool_attr("admin", user.admin)
            .open();
        for (const std::string& group : user.groups)
            w.start(2, "member").text_attr("group", group).empty();
        w.close(1, "user");
    }
    for (const std::string& group : login.groups)
        w.start(1, "group").text_attr("name", group).empty();
    w.close(0, "login");
    return w.finish("login", error);
}

bool login_from_xml(const char* text, std::size_t length, LoginConfiguration& login) {
    login.users.clear();
    login.groups.clear();
    login.builtin_names.clear();
    login.pending_user = LoginUser{};
    login.builtin_names.insert(std::string(ALL_USERS_GROUP));
    login.builtin_names.insert(std::string(ANONYMOUS_USER));
    // The configured administrator; an absent key reserves the empty name.
    std::string http_user;
    config cfg;
    cfg.get("HTTP_USER", http_user);
    login.builtin_names.insert(http_user);
    login_reader reader(login);
    return reader.parse(text, length);
}

} // namespace lumbrake
