#include "cpmodel/access-masks.h"

namespace lumbrake {

std::string access_mask_text(std::uint32_t mask) {
    return access_mask_text(mask, [](const char* text) { return std::string(text); });
}

std::string access_mask_text(std::uint32_t mask,
                             const std::function<std::string(const char*)>& translate) {
    auto part = [&](bool read, bool write, const char* both, const char* r, const char* w) {
        if (read && write) return translate(both);
        if (read) return translate(r);
        if (write) return translate(w);
        return std::string();
    };
    std::string allow = part(mask & ACCESS_ALLOW_READ, mask & ACCESS_ALLOW_WRITE,
                             "Allow Read/Write", "Allow Read", "Allow Write");
    std::string deny = part(mask & ACCESS_DENY_READ, mask & ACCESS_DENY_WRITE, "Deny Read/Write",
                            "Deny Read", "Deny Write");
    if (!allow.empty() && !deny.empty()) return allow + translate(" - ") + deny;
    return allow + deny;
}

std::vector<AccessSpec> access_masks_to_acl(const std::map<std::string, std::uint32_t>& masks) {
    std::vector<AccessSpec> acl;
    for (const auto& [name, mask] : masks) {
        if (mask & ACCESS_ALLOW_READ) acl.push_back({name, READACCESS, false});
        if (mask & ACCESS_DENY_READ) acl.push_back({name, READACCESS, true});
        if (mask & ACCESS_ALLOW_WRITE) acl.push_back({name, WRITEACCESS, false});
        if (mask & ACCESS_DENY_WRITE) acl.push_back({name, WRITEACCESS, true});
    }
    return acl;
}

std::map<std::string, std::uint32_t> acl_to_access_masks(const std::vector<AccessSpec>& acl) {
    std::map<std::string, std::uint32_t> masks;
    for (const auto& e : acl) {
        if (e.Access != READACCESS && e.Access != WRITEACCESS) continue;
        const bool write = e.Access == WRITEACCESS;
        masks[e.Name] |= e.Deny ? (write ? ACCESS_DENY_WRITE : ACCESS_DENY_READ)
                                : (write ? ACCESS_ALLOW_WRITE : ACCESS_ALLOW_READ);
    }
    return masks;
}

acl_boxes acl_boxes_of(std::uint32_t mask) {
    return {(mask & ACCESS_ALLOW_READ) != 0, (mask & ACCESS_DENY_READ) != 0,
            (mask & ACCESS_ALLOW_WRITE) != 0, (mask & ACCESS_DENY_WRITE) != 0};
}

std::uint32_t acl_boxes_mask(const acl_boxes& b) {
    return (b.allow_read ? ACCESS_ALLOW_READ : 0) | (b.deny_read ? ACCESS_DENY_READ : 0) |
           (b.allow_write ? ACCESS_ALLOW_WRITE : 0) | (b.deny_write ? ACCESS_DENY_WRITE : 0);
}

void acl_box_checked(acl_boxes& b, acl_box box) {
    switch (box) {
    case acl_box::allow_read:
        b.allow_read = true;
        b.deny_read = false;
        break;
    case acl_box::deny_read:
        b.deny_read = true;
        b.allow_read = false;
        b.deny_write = true;
        b.allow_write = false;
        break;
    case acl_box::allow_write:
        b.allow_write = true;
        b.deny_write = false;
        b.allow_read = true;
        b.deny_read = false;
        break;
    case acl_box::deny_write:
        b.deny_write = true;
        b.allow_write = false;
        break;
    }
}

bool acl_box_enabled(const acl_boxes& b, acl_box box) {
    if (box == acl_box::allow_read) return !b.allow_write;
    if (box == acl_box::deny_write) return !b.deny_read;
    return true;
}

bool acl_entry_complete(bool name_chosen, const acl_boxes& b) {
    return name_chosen && (b.allow_read || b.deny_read || b.allow_write || b.deny_write);
}

} // namespace lumbrake
