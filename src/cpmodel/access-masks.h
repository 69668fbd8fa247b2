// Access masks of the ACL pages and the ACL entry dialog: one mask per name, turned into the
// record's access list when a record is applied.
#pragma once

#include "api/api-types.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace lumbrake {

constexpr std::uint32_t ACCESS_ALLOW_READ = 0x1;
constexpr std::uint32_t ACCESS_ALLOW_WRITE = 0x2;
constexpr std::uint32_t ACCESS_DENY_READ = 0x10000;
constexpr std::uint32_t ACCESS_DENY_WRITE = 0x20000;

// "Allow Read", "Allow Write" or "Allow Read/Write", then " - " and the deny part likewise;
// untranslated (the caller translates each part).
std::string access_mask_text(std::uint32_t mask);

// Names in sorted order; per name one entry per set bit: allow read, deny read, allow write,
// deny write.
std::vector<AccessSpec> access_masks_to_acl(const std::map<std::string, std::uint32_t>& masks);

// The reverse: the masks of an access list, entries of one name joined.
std::map<std::string, std::uint32_t> acl_to_access_masks(const std::vector<AccessSpec>& acl);

} // namespace lumbrake
