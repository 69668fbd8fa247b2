// The login configuration: the system's users (name, MD5 password hash, administrator flag,
// member groups) and groups, the operations that change them, and its XML text form.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace lumbrake {

struct LoginUser {
    std::string name;
    std::string password_hash; // md5_hex of the password; empty until a password is set
    bool admin = false;
    std::vector<std::string> groups; // in the order given

    // The hash becomes md5_hex(password).
    void set_password(std::string_view password);
    bool operator==(const LoginUser&) const = default;
};

// Lives for one operation: read with login_from_xml (which alone fills the built-in names),
// changed, written back with login_to_xml.
class LoginConfiguration {
public:
    // False, changing nothing, when the name is a built-in name ("All Users", "Anonymous", the
    // HTTP_USER administrator), a user or a group. The groups are not checked.
    bool add_user(const std::string& name, std::string_view password, bool admin,
                  const std::vector<std::string>& groups);
    bool remove_user(const std::string& name);
    bool get_user(const std::string& name, LoginUser& user) const;
    // Replaces the stored user of that name (hash copied as given); false when there is none.
    bool set_user(const LoginUser& user);

    // False when the name is built in, a user or a group: users and groups share one name space.
    bool add_group(const std::string& name);
    // Users' member lists are left as they are.
    bool remove_group(const std::string& name);

    void user_names(std::vector<std::string>& names) const;
    void group_names(std::vector<std::string>& names) const;

    // The entry under the name, a default one inserted when there is none.
    LoginUser& operator[](const std::string& name) { return users[name]; }

    std::map<std::string, LoginUser> users;
    std::set<std::string> groups;
    std::set<std::string> builtin_names;
    LoginUser pending_user; // work space of login_from_xml

private:
    bool name_taken(const std::string& name) const;
};

// False, with `xml` empty and the reason in `error` (when given), when a name cannot be carried
// by XML.
bool login_to_xml(const LoginConfiguration& login, std::string& xml, std::string* error = nullptr);
// Empties the configuration, fills the built-in names (HTTP_USER from the configuration file)
// and reads users and groups as the text holds them; true when the text is well-formed XML.
bool login_from_xml(const char* text, std::size_t length, LoginConfiguration& login);

} // namespace lumbrake
