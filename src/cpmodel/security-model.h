// The security dialog's lists: users and groups with their kind, the rows of a root ACL, the
// ACL sent back from those rows, the names an ACL entry may name, and what an edited user's
// memberships and password turn into.
#pragma once

#include "api/api-types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumbrake {

// What the edit dialog shows in the password field of an existing user.
inline constexpr const char* PASSWORD_SENTINEL = "-- CHANGE ME --";

struct principal_row {
    std::string name;
    bool builtin = false;
    bool operator==(const principal_row&) const = default;
};

// The user-defined names in the order received, then the built-in ones.
std::vector<principal_row> principal_rows(const std::vector<std::string>& defined,
                                          const std::vector<std::string>& builtin);

struct acl_row {
    std::string name;
    std::uint32_t mask = 0;
    bool operator==(const acl_row&) const = default;
};

// One row per name of the list, in ascending byte order of the names.
std::vector<acl_row> acl_rows(const std::vector<AccessSpec>& acl);

// The list to send from the rows as shown: a later row of a name replaces an earlier one.
std::vector<AccessSpec> acl_from_rows(const std::vector<acl_row>& rows);

// What an ACL entry may name: built-in users, users, built-in groups, groups.
std::vector<std::string> acl_principal_names(const std::vector<std::string>& builtin_users,
                                             const std::vector<std::string>& users,
                                             const std::vector<std::string>& builtin_groups,
                                             const std::vector<std::string>& groups);

// The memberships to store after an edit: the offered groups the user left selected, then the
// user's memberships the dialog could not offer (built-in groups, for one), which an edit must
// not drop because they were never shown.
std::vector<std::string> user_groups_to_send(const std::vector<std::string>& held,
                                             const std::vector<std::string>& offered,
                                             const std::vector<std::string>& selected);

// The password to set after an edit: the field's text when the user edited the field (even if
// it reads like the sentinel), nothing when the field was left alone.
std::optional<std::string> password_to_send(bool edited, const std::string& text);

} // namespace lumbrake
