#include "cpmodel/access-masks.h"

namespace lumbrake {

std::string access_mask_text(std::uint32_t mask) {
    auto part = [](bool read, bool write, const char* word) -> std::string {
        if (read && write) return std::string(word) + " Read/Write";
        if (read) return std::string(word) + " Read";
        if (write) return std::string(word) + " Write";
        return {};
    };
    std::string allow = part(mask & ACCESS_ALLOW_READ, mask & ACCESS_ALLOW_WRITE, "Allow");
    std::string deny = part(mask & ACCESS_DENY_READ, mask & ACCESS_DENY_WRITE, "Deny");
    if (!allow.empty() && !deny.empty()) return allow + " - " + deny;
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
        const bool write = e.Access == WRITEACCESS;
        masks[e.Name] |= e.Deny ? (write ? ACCESS_DENY_WRITE : ACCESS_DENY_READ)
                                : (write ? ACCESS_ALLOW_WRITE : ACCESS_ALLOW_READ);
    }
    return masks;
}

} // namespace lumbrake
