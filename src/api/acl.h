// The access-control decision over a record's ACL, and the root ACL records (browsing and
// crawling) with their XML text form.
#pragma once

#include "api/api-types.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumbrake {

// A bare ACL; the daemon keeps one for browsing and one for crawling.
using RootACL = std::vector<AccessSpec>;
enum RootACLKind : int { ROOTACL_BROWSING = 0, ROOTACL_CRAWLING = 1 };

// The group every user belongs to implicitly.
inline constexpr std::string_view ALL_USERS_GROUP = "All Users";
// The user name of an unauthenticated request.
inline constexpr std::string_view ANONYMOUS_USER = "Anonymous";

// Whether the user, a member of `groups` and of "All Users", gets `access` (READACCESS or
// WRITEACCESS). Entries apply when their access matches exactly and their name is the user, one
// of the groups or "All Users"; an applying deny refuses at once, wherever it stands; without an
// applying allow the answer is no. Administrators are not known here: callers skip the check.
bool check_acl(std::string_view user, const std::vector<std::string>& groups,
               const std::vector<AccessSpec>& acl, int access);

// False, with `xml` empty and the reason in `error` (when given), when a name cannot be carried
// by XML.
bool acl_to_xml(const RootACL& acl, std::string& xml, std::string* error = nullptr);
// Empties the list and reads its `entry` elements; true when the text is well-formed XML.
bool acl_from_xml(const char* text, std::size_t length, RootACL& acl);

} // namespace lumbrake
