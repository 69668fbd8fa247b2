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

namespace lumbrake {
namespace {

TEST(access_masks, ConversionEdgeCases) {
    struct Case {
        const char* what;
        std::vector<AccessSpec> acl;
        std::map<std::string, std::uint32_t> masks;
        std::vector<AccessSpec> back;
    };
    const Case cases[] = {
        {"entries of one name merge and come back in fixed order",
         {{"bob", WRITEACCESS, false}, {"bob", READACCESS, false}},
         {{"bob", 0x3}},
         {{"bob", READACCESS, false}, {"bob", WRITEACCESS, false}}},
        {"byte order of names: upper case first",
         {{"b", READACCESS, false}, {"A", READACCESS, false}, {"a", READACCESS, false}},
         {{"A", 0x1}, {"a", 0x1}, {"b", 0x1}},
         {{"A", READACCESS, false}, {"a", READACCESS, false}, {"b", READACCESS, false}}},
        {"contradictions both survive",
         {{"ann", READACCESS, true}, {"ann", READACCESS, false}},
         {{"ann", 0x10001}},
         {{"ann", READACCESS, false}, {"ann", READACCESS, true}}},
        {"an access of neither kind adds nothing, not even the name",
         {{"x", static_cast<AccessType>(2), false}, {"y", static_cast<AccessType>(2), true},
          {"y", WRITEACCESS, true}},
         {{"y", 0x20000}},
         {{"y", WRITEACCESS, true}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(acl_to_access_masks(c.acl), c.masks) << c.what;
        EXPECT_EQ(access_masks_to_acl(c.masks), c.back) << c.what;
    }
    // Undefined bits alone drop the name and read as no access.
    EXPECT_TRUE(access_masks_to_acl({{"z", 0x4}}).empty());
    EXPECT_EQ(access_mask_text(0x4), "");
    EXPECT_EQ(access_mask_text(0x20001), "Allow Read - Deny Write");
}

TEST(access_masks, BoxCoupling) {
    struct Case {
        std::uint32_t start;
        acl_box clicked;
        std::uint32_t result;
    };
    const Case cases[] = {
        {0x3, acl_box::deny_read, 0x30000},   // deny read pulls deny write along
        {0x30000, acl_box::allow_write, 0x3}, // allow write pulls allow read along
        {0x10000, acl_box::allow_read, 0x1},
        {0x2, acl_box::deny_write, 0x20000},
        {0x20000, acl_box::allow_read, 0x20001},
        {0x0, acl_box::deny_write, 0x20000},
    };
    for (const auto& c : cases) {
        acl_boxes b = acl_boxes_of(c.start);
        acl_box_checked(b, c.clicked);
        EXPECT_EQ(acl_boxes_mask(b), c.result) << std::hex << c.start;
    }
    // Bits outside the four are not boxes.
    EXPECT_EQ(acl_boxes_mask(acl_boxes_of(0xFFFFFFFF)), 0x30003u);

    const acl_boxes all_write = acl_boxes_of(0x3);
    EXPECT_FALSE(acl_box_enabled(all_write, acl_box::allow_read));
    EXPECT_TRUE(acl_box_enabled(all_write, acl_box::deny_write));
    const acl_boxes deny_read = acl_boxes_of(0x30000);
    EXPECT_FALSE(acl_box_enabled(deny_read, acl_box::deny_write));
    EXPECT_TRUE(acl_box_enabled(deny_read, acl_box::allow_read));

    EXPECT_FALSE(acl_entry_complete(false, acl_boxes_of(0x1)));
    EXPECT_FALSE(acl_entry_complete(true, acl_boxes_of(0)));
    EXPECT_TRUE(acl_entry_complete(true, acl_boxes_of(0x20000)));
}

} // namespace
} // namespace lumbrake

namespace lumbrake {
namespace {

TEST(access_masks, EachLiteralTranslatedOnItsOwn) {
    std::vector<std::string> asked;
    auto translate = [&](const char* text) {
        asked.push_back(text);
        return "<" + std::string(text) + ">";
    };
    EXPECT_EQ(access_mask_text(0x20003, translate), "<Allow Read/Write>< - ><Deny Write>");
    EXPECT_EQ(asked, (std::vector<std::string>{"Allow Read/Write", "Deny Write", " - "}));
    EXPECT_EQ(access_mask_text(0x10000, translate), "<Deny Read>");
}

} // namespace
} // namespace lumbrake
