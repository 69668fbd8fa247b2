#include "apiops/api-users.h"

#include "apiops/api-common.h"
#include "trawlnestd/cfgstorage.h"
#include "util/config.h"

#include <functional>

namespace lumbrake {

void load_login_configuration(sqlite3* db, LoginConfiguration& login, std::uint32_t& magic) {
    if (cfgstorage<LoginConfiguration>::get(db, LOGIN_CONFIGURATION_ID, login, magic)) return;
    // Reading an empty record is what sets the built-in names.
    static constexpr char empty[] = "<login/>";
    login_from_xml(empty, sizeof empty - 1, login);
}

namespace {

// HTTP_USER read afresh from the configuration file; false when it is not set.
bool configured_admin(std::string& name) {
    name.clear();
    config cfg;
    return cfg.get("HTTP_USER", name);
}

// The administrator or the user named (byte for byte).
bool self_or_admin(const api_context& ctx, const std::string& user) {
    return ctx.admin || ctx.user == user;
}

// The shared frame of the user and group changes: load, apply, write back. A change that the
// login configuration declines is a success that stores nothing.
void change_login(const api& a, api_result& res,
                  const std::function<bool(LoginConfiguration&)>& change) {
    LoginConfiguration login;
    std::uint32_t magic = 0;
    load_login_configuration(a.db(), login, magic);
    if (!change(login)) return;
    // Inside the exclusive transaction the stamp cannot have moved; the write fails only when a
    // name cannot be carried by XML, and that must not read as a success.
    if (!cfgstorage<LoginConfiguration>::set(a.db(), LOGIN_CONFIGURATION_ID, login, magic))
        res.set_error(API_INVALID_ENTITY);
}

} // namespace

void api::get_root_acl(api_result& res, std::int32_t type, std::vector<AccessSpec>& acl,
                       std::uint32_t& magic) {
    res.set_ok();
    if (!context().admin) return res.set_error(API_ACCESS_VIOLATION);
    RootACL stored;
    std::uint32_t stamp = 0;
    // No stored list: an empty one with magic 0 (any magic lets the first SetRootACL through).
    if (!cfgstorage<RootACL>::get(db(), type, stored, stamp)) stored.clear();
    acl = std::move(stored);
    magic = stamp;
}

void api::set_root_acl(api_result& res, std::int32_t type, const std::vector<AccessSpec>& acl,
                       std::uint32_t magic) {
    res.set_ok();
    if (!context().admin) return res.set_error(API_ACCESS_VIOLATION);
    // Only the browsing and crawling lists exist; a record under any other id would be read by
    // nothing and would only travel into exports.
    if (type != ROOTACL_BROWSING && type != ROOTACL_CRAWLING)
        return res.set_error(API_ACCESS_VIOLATION);
    std::string xml;
    if (!acl_to_xml(acl, xml)) return res.set_error(API_INVALID_ENTITY);
    if (!cfgstorage<RootACL>::set(db(), type, acl, magic)) res.set_error(API_BAD_MAGIC);
}

void api::get_user_data(api_result& res, const std::string& user, bool& admin,
                        std::vector<std::string>& groups) {
    res.set_ok();
    if (!self_or_admin(context(), user)) return res.set_error(API_ACCESS_VIOLATION);
    admin = false;
    groups.clear();
    std::string http_user;
    // An unset HTTP_USER names no administrator, not the empty name.
    if (configured_admin(http_user) && !http_user.empty() && user == http_user) {
        admin = true;
        return;
    }
    LoginConfiguration login;
    std::uint32_t magic = 0;
    load_login_configuration(db(), login, magic);
    LoginUser stored;
    if (login.get_user(user, stored)) {
        admin = stored.admin;
        groups = stored.groups;
    }
}

void api::enum_users_and_groups(api_result& res, std::vector<std::string>& users,
                                std::vector<std::string>& builtin_users,
                                std::vector<std::string>& groups,
                                std::vector<std::string>& builtin_groups) {
    res.set_ok();
    if (!has_root_access(ROOTACL_BROWSING, READACCESS)) return res.set_error(API_ACCESS_VIOLATION);
    LoginConfiguration login;
    std::uint32_t magic = 0;
    load_login_configuration(db(), login, magic);
    login.user_names(users);
    std::string http_user;
    configured_admin(http_user);
    builtin_users = {http_user, std::string(ANONYMOUS_USER)};
    login.group_names(groups);
    builtin_groups = {std::string(ALL_USERS_GROUP)};
}

void api::add_user(api_result& res, const std::string& user, const std::string& password,
                   bool admin, const std::vector<std::string>& groups) {
    res.set_ok();
    if (!context().admin) return res.set_error(API_ACCESS_VIOLATION);
    change_login(*this, res, [&](LoginConfiguration& login) {
        return login.add_user(user, password, admin, groups);
    });
}

void api::remove_user(api_result& res, const std::string& user) {
    res.set_ok();
    if (!context().admin) return res.set_error(API_ACCESS_VIOLATION);
    change_login(*this, res, [&](LoginConfiguration& login) { return login.remove_user(user); });
}

void api::set_user_data(api_result& res, const std::string& user, bool admin,
                        const std::vector<std::string>& groups) {
    res.set_ok();
    if (!context().admin) return res.set_error(API_ACCESS_VIOLATION);
    change_login(*this, res, [&](LoginConfiguration& login) {
        LoginUser stored;
        if (!login.get_user(user, stored)) return false;
        stored.admin = admin;
        stored.groups = groups;
        return login.set_user(stored);
    });
}

void api::set_user_password(api_result& res, const std::string& user, const std::string& password) {
    res.set_ok();
    if (!self_or_admin(context(), user)) return res.set_error(API_ACCESS_VIOLATION);
    change_login(*this, res, [&](LoginConfiguration& login) {
        LoginUser stored;
        if (!login.get_user(user, stored)) return false;
        stored.set_password(password);
        return login.set_user(stored);
    });
}

void api::add_group(api_result& res, const std::string& group) {
    res.set_ok();
    if (!context().admin) return res.set_error(API_ACCESS_VIOLATION);
    change_login(*this, res, [&](LoginConfiguration& login) { return login.add_group(group); });
}

void api::remove_group(api_result& res, const std::string& group) {
    res.set_ok();
    if (!context().admin) return res.set_error(API_ACCESS_VIOLATION);
    change_login(*this, res, [&](LoginConfiguration& login) { return login.remove_group(group); });
}

} // namespace lumbrake
