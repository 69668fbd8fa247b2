// Access masks of the ACL pages and the ACL entry dialog: one mask per name, turned into the
// record's access list when a record is applied.
#pragma once

#include "api/api-types.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace lumbrake {

constexpr std::uint32_t ACCESS_ALLOW_READ = 0x1;
constexpr std::uint32_t ACCESS_ALLOW_WRITE = 0x2;
constexpr std::uint32_t ACCESS_DENY_READ = 0x10000;
constexpr std::uint32_t ACCESS_DENY_WRITE = 0x20000;

// "Allow Read", "Allow Write" or "Allow Read/Write", then " - " and the deny part likewise;
// untranslated.
std::string access_mask_text(std::uint32_t mask);
// The same with each of the seven literals passed through `translate` (UTF-8 in and out).
std::string access_mask_text(std::uint32_t mask,
                             const std::function<std::string(const char*)>& translate);

// Names in sorted order; per name one entry per set bit: allow read, deny read, allow write,
// deny write.
std::vector<AccessSpec> access_masks_to_acl(const std::map<std::string, std::uint32_t>& masks);

// The reverse: the masks of an access list, entries of one name joined. An entry whose access
// is neither read nor write contributes nothing, not even its name.
std::map<std::string, std::uint32_t> acl_to_access_masks(const std::vector<AccessSpec>& acl);

// The four check boxes of the ACL entry dialog.
struct acl_boxes {
    bool allow_read = false;
    bool deny_read = false;
    bool allow_write = false;
    bool deny_write = false;
    bool operator==(const acl_boxes&) const = default;
};

enum class acl_box { allow_read, deny_read, allow_write, deny_write };

acl_boxes acl_boxes_of(std::uint32_t mask);
std::uint32_t acl_boxes_mask(const acl_boxes& boxes);

// A click that left `box` checked: the coupled boxes follow, so that allow write implies allow
// read and deny read implies deny write. A click that clears a box changes nothing else.
void acl_box_checked(acl_boxes& boxes, acl_box box);

// Allow read is locked while allow write is checked, deny write while deny read is.
bool acl_box_enabled(const acl_boxes& boxes, acl_box box);

// OK needs a chosen name and at least one checked box.
bool acl_entry_complete(bool name_chosen, const acl_boxes& boxes);

} // namespace lumbrake
