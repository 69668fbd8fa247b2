#include "cpmodel/security-model.h"
#include "cpmodel/user-model.h"

#include <gtest/gtest.h>

namespace lumbrake {
namespace {

TEST(security_model, PrincipalRowsAndNames) {
    const std::vector<principal_row> want{{"zed", false}, {"amy", false}, {"admin", true}};
    EXPECT_EQ(principal_rows({"zed", "amy"}, {"admin"}), want);
    EXPECT_EQ(acl_principal_names({"Anonymous"}, {"bob"}, {"All Users"}, {"staff"}),
              (std::vector<std::string>{"Anonymous", "bob", "All Users", "staff"}));
}

TEST(security_model, AclRowsAndCommit) {
    // Rows come sorted by name, one per name.
    const std::vector<acl_row> rows = acl_rows({{"zed", WRITEACCESS, false},
                                                {"Amy", READACCESS, false},
                                                {"zed", READACCESS, false}});
    EXPECT_EQ(rows, (std::vector<acl_row>{{"Amy", 0x1}, {"zed", 0x3}}));

    // A second row for a name (an Add over an existing entry) replaces the first in what is
    // sent; the order of the sent list is the names' order, not the rows'.
    std::vector<acl_row> edited = rows;
    edited.push_back({"Amy", 0x30000});
    edited.push_back({"bob", 0x1});
    EXPECT_EQ(acl_from_rows(edited), (std::vector<AccessSpec>{{"Amy", READACCESS, true},
                                                              {"Amy", WRITEACCESS, true},
                                                              {"bob", READACCESS, false},
                                                              {"zed", READACCESS, false},
                                                              {"zed", WRITEACCESS, false}}));
    // Removing the last row sends an empty list.
    EXPECT_TRUE(acl_from_rows({}).empty());
}

TEST(security_model, EditedUserKeepsMembershipsItCouldNotShow) {
    struct Case {
        const char* what;
        std::vector<std::string> held, offered, selected, sent;
    };
    const Case cases[] = {
        {"a built-in membership survives the edit",
         {"Administrators", "staff"}, {"staff", "sales"}, {"sales"}, {"sales", "Administrators"}},
        {"an offered group left unselected is removed",
         {"staff"}, {"staff"}, {}, {}},
        {"nothing held, nothing hidden", {}, {"a"}, {"a"}, {"a"}},
        {"a group deleted meanwhile still goes back as held",
         {"gone"}, {}, {}, {"gone"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(user_groups_to_send(c.held, c.offered, c.selected), c.sent) << c.what;
}

TEST(security_model, PasswordFollowsTheEditNotTheText) {
    EXPECT_FALSE(password_to_send(false, PASSWORD_SENTINEL).has_value());
    EXPECT_EQ(password_to_send(true, PASSWORD_SENTINEL), std::string(PASSWORD_SENTINEL));
    EXPECT_EQ(password_to_send(true, ""), std::string());
}

TEST(user_model, SortedGroupsAndSelection) {
    const auto list = sorted_group_list({"beta", "Alpha", "alpha", "Gamma", "beta"});
    EXPECT_EQ(list, (std::vector<std::string>{"Alpha", "alpha", "beta", "Gamma"}));
    // A preset group missing from the list is neither shown nor returned; the result follows
    // the list's order, not the preset's.
    const auto sel = group_selection(list, {"Gamma", "nope", "alpha"});
    EXPECT_EQ(sel, (std::vector<bool>{false, true, false, true}));
    EXPECT_EQ(selected_groups(list, sel), (std::vector<std::string>{"alpha", "Gamma"}));
}

} // namespace
} // namespace lumbrake
