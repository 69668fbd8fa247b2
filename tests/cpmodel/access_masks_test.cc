#include "cpmodel/access-masks.h"

#include <gtest/gtest.h>

namespace lumbrake {
namespace {

TEST(access_masks, TextOfEachMask) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0x1, "Allow Read"},
        {0x2, "Allow Write"},
        {0x3, "Allow Read/Write"},
        {0x10000, "Deny Read"},
        {0x20000, "Deny Write"},
        {0x30000, "Deny Read/Write"},
        {0x10002, "Allow Write - Deny Read"},
        {0x30003, "Allow Read/Write - Deny Read/Write"},
        {0, ""},
    };
    for (const auto& [mask, text] : cases)
        EXPECT_EQ(access_mask_text(mask), text) << std::hex << mask;
}

TEST(access_masks, ToAclAndBack) {
    std::map<std::string, std::uint32_t> masks{{"zed", 0x30003}, {"All Users", 0x1}, {"bob", 0x0}};
    std::vector<AccessSpec> want{{"All Users", READACCESS, false},
                                 {"zed", READACCESS, false},
                                 {"zed", READACCESS, true},
                                 {"zed", WRITEACCESS, false},
                                 {"zed", WRITEACCESS, true}};
    EXPECT_EQ(access_masks_to_acl(masks), want);
    auto back = acl_to_access_masks(want);
    masks.erase("bob"); // a name with no bit set has no entry
    EXPECT_EQ(back, masks);
}

} // namespace
} // namespace lumbrake
