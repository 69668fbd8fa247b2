#include "cpmodel/security-model.h"

#include "cpmodel/access-masks.h"

#include <algorithm>

namespace lumbrake {

std::vector<principal_row> principal_rows(const std::vector<std::string>& defined,
                                          const std::vector<std::string>& builtin) {
    std::vector<principal_row> rows;
    for (const auto& n : defined)
        rows.push_back({n, false});
    for (const auto& n : builtin)
        rows.push_back({n, true});
    return rows;
}

std::vector<acl_row> acl_rows(const std::vector<AccessSpec>& acl) {
    std::vector<acl_row> rows;
    for (const auto& [name, mask] : acl_to_access_masks(acl))
        rows.push_back({name, mask});
    return rows;
}

std::vector<AccessSpec> acl_from_rows(const std::vector<acl_row>& rows) {
    std::map<std::string, std::uint32_t> masks;
    for (const auto& r : rows)
        masks[r.name] = r.mask;
    return access_masks_to_acl(masks);
}

std::vector<std::string> acl_principal_names(const std::vector<std::string>& builtin_users,
                                             const std::vector<std::string>& users,
                                             const std::vector<std::string>& builtin_groups,
                                             const std::vector<std::string>& groups) {
    std::vector<std::string> names;
    for (const auto* list : {&builtin_users, &users, &builtin_groups, &groups})
        names.insert(names.end(), list->begin(), list->end());
    return names;
}

std::vector<std::string> user_groups_to_send(const std::vector<std::string>& held,
                                             const std::vector<std::string>& offered,
                                             const std::vector<std::string>& selected) {
    auto contains = [](const std::vector<std::string>& v, const std::string& s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    };
    std::vector<std::string> out = selected;
    for (const auto& g : held)
        if (!contains(offered, g) && !contains(out, g)) out.push_back(g);
    return out;
}

std::optional<std::string> password_to_send(bool edited, const std::string& text) {
    if (!edited) return std::nullopt;
    return text;
}

} // namespace lumbrake
