// The dialogs that only edit values: each built, filled, validated, read back and
// photographed; OK refused where it must be; the nested value dialog of the authentication
// dialog run through a modal script.
#include "dlga_support.h"
#include "../support/info_records.h"

#include "cpdialogs/acl-dialog.h"
#include "cpdialogs/archive-select-dialog.h"
#include "cpdialogs/cookie-param-dialog.h"
#include "cpdialogs/param-value-dialog.h"
#include "cpdialogs/source-auth-dialog.h"
#include "cpdialogs/text-dialog.h"
#include "cpdialogs/user-dialog.h"

#include <wx/choice.h>
#include <wx/listbox.h>
#include <wx/textctrl.h>
#include <wx/treectrl.h>

namespace {

using namespace lumbrake;
using namespace tn_test;

TEST(text_dialog, RefusesOnlyAnEmptyField) {
    WXTextDialog d(nullptr, "Name:", "New group");
    d.text = "preset";
    open(d);
    screenshot(&d, "text-dialog"); // showing runs the transfer to the window again
    auto* field = control<wxTextCtrl>(d, "text");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->GetValue(), "preset");

    field->SetValue("");
    EXPECT_EQ(press_ok(d), -1);
    EXPECT_EQ(d.text, "preset"); // refused: nothing read back
    field->SetValue(" ");
    EXPECT_EQ(press_ok(d), wxID_OK);
    EXPECT_EQ(d.text, " ");
}

TEST(user_dialog, NewUserAndGroups) {
    WXUserDialog d(nullptr, {"staff", "Admins", "beta"}, true);
    open(d);
    screenshot(&d, "user-dialog"); // showing runs the transfer to the window again
    auto* name = control<wxTextCtrl>(d, "name");
    auto* groups = control<wxListBox>(d, "groups");
    ASSERT_TRUE(name && groups);
    EXPECT_TRUE(name->IsEnabled());
    EXPECT_EQ(groups->GetCount(), 3u);
    EXPECT_EQ(groups->GetString(0), "Admins");
    EXPECT_EQ(groups->GetString(2), "staff");
    wxArrayInt sel;
    EXPECT_EQ(groups->GetSelections(sel), 0);
    EXPECT_EQ(press_ok(d), -1); // no name

    name->SetValue("  ");
    control<wxCheckBox>(d, "admin")->SetValue(true);
    groups->SetSelection(2); // clicked first
    groups->SetSelection(0);
    EXPECT_EQ(press_ok(d), wxID_OK);
    EXPECT_EQ(d.name, "  ");
    EXPECT_EQ(d.password, "");
    EXPECT_TRUE(d.admin);
    EXPECT_EQ(d.groups, (std::vector<wxString>{"Admins", "staff"}));
}

TEST(user_dialog, EditKeepsTheNameAndTracksPasswordEdits) {
    WXUserDialog d(nullptr, {"staff", "beta"}, false);
    d.name = "bob";
    d.password = "-- CHANGE ME --";
    d.groups = {"staff", "All Users"};
    open(d);
    EXPECT_FALSE(control<wxTextCtrl>(d, "name")->IsEnabled());
    EXPECT_FALSE(d.password_edited); // filling the field is not an edit
    EXPECT_EQ(press_ok(d), wxID_OK);
    EXPECT_EQ(d.name, "bob");
    EXPECT_EQ(d.groups, (std::vector<wxString>{"staff"})); // an unoffered preset is not shown
    EXPECT_FALSE(d.password_edited);

    // Typing the sentinel text itself is still an edit: it can become the real password.
    open(d);
    control<wxTextCtrl>(d, "password")->SetValue("-- CHANGE ME --");
    EXPECT_EQ(press_ok(d), wxID_OK);
    EXPECT_TRUE(d.password_edited);
    EXPECT_EQ(d.password, "-- CHANGE ME --");
}

TEST(acl_dialog, BoxesNamesAndRefusals) {
    WXACLDialog d(nullptr, {"Anonymous", "bob", "All Users", "bob"});
    auto* choice = control<wxChoice>(d, "name");
    ASSERT_NE(choice, nullptr);
    EXPECT_EQ(choice->GetCount(), 4u); // as given: no sorting, duplicates kept

    // A preset name not offered: nothing selected, OK refused until one is chosen.
    d.name = "stranger";
    d.mask = 0x3;
    open(d);
    screenshot(&d, "acl-dialog"); // showing runs the transfer to the window again
    EXPECT_EQ(choice->GetSelection(), wxNOT_FOUND);
    EXPECT_EQ(press_ok(d), -1);
    EXPECT_FALSE(enabled(d, 6899)); // allow read locked while allow write is checked
    EXPECT_TRUE(enabled(d, 6902));

    // Deny read on 0x3 leaves deny read and deny write.
    click_box(d, 6900);
    EXPECT_FALSE(enabled(d, 6902));
    choice->SetSelection(1);
    EXPECT_EQ(press_ok(d), wxID_OK);
    EXPECT_EQ(d.name, "bob");
    EXPECT_EQ(d.mask, 0x30000u);

    // Allow write on 0x30000 leaves allow read and allow write.
    open(d);
    click_box(d, 6901);
    EXPECT_EQ(press_ok(d), wxID_OK);
    EXPECT_EQ(d.mask, 0x3u);

    // Unchecking changes nothing else; all boxes clear refuses OK.
    open(d);
    click_box(d, 6901);
    EXPECT_TRUE(control<wxCheckBox>(d, 6899)->GetValue());
    click_box(d, 6899);
    EXPECT_EQ(press_ok(d), -1);
    EXPECT_EQ(d.mask, 0x3u);
}

TEST(cookie_param_dialog, TypeDecidesTheValue) {
    WXParamDialog d(nullptr);
    open(d);
    screenshot(&d, "cookie-param-dialog"); // showing runs the transfer to the window again
    auto* type = control<wxChoice>(d, "type");
    auto* value = control<wxTextCtrl>(d, 7399);
    ASSERT_TRUE(type && value);
    EXPECT_EQ(type->GetSelection(), COOKIE_OTHER);
    EXPECT_TRUE(enabled(d, 7399));
    value->SetValue("typed");
    type->SetSelection(COOKIE_USERNAME);
    EXPECT_FALSE(enabled(d, 7399));
    EXPECT_EQ(press_ok(d), wxID_OK); // an empty name is accepted
    EXPECT_EQ(d.param, (CookieParam{"", "", COOKIE_USERNAME}));

    d.param = {"pw", "stale", COOKIE_PASSWORD};
    open(d);
    EXPECT_EQ(value->GetValue(), "");
    EXPECT_FALSE(enabled(d, 7399));
    d.param = {"zone", "eu", COOKIE_OTHER};
    open(d);
    EXPECT_EQ(value->GetValue(), "eu");
    EXPECT_EQ(press_ok(d), wxID_OK);
    EXPECT_EQ(d.param, (CookieParam{"zone", "eu", COOKIE_OTHER}));
}

TEST(param_value_dialog, OnlyTheValueChanges) {
    WXParamValueDialog d(nullptr);
    d.value = {"zone", "eu"};
    open(d);
    screenshot(&d, "param-value-dialog"); // showing runs the transfer to the window again
    EXPECT_FALSE(control<wxTextCtrl>(d, "name")->IsEnabled());
    control<wxTextCtrl>(d, "value")->SetValue("");
    EXPECT_EQ(press_ok(d), wxID_OK);
    EXPECT_EQ(d.value, (ParamValue{"zone", ""}));
}

SourceConfiguration cookie_source() {
    SourceConfiguration s;
    s.Type = AUTH_COOKIE;
    s.CookieParams.Params = {{"zone", "eu", COOKIE_OTHER},
                             {"login", "", COOKIE_USERNAME},
                             {"lang", "en", COOKIE_OTHER}};
    return s;
}

TEST(source_auth_dialog, CookieRowsEditedThroughTheValueDialog) {
    WXSourceAuthDialog d(nullptr, cookie_source());
    d.auth.Username = "crawler";
    d.auth.Password = "pw";
    d.auth.ParamValues = {{"zone", "us"}, {"old", "x"}};
    d.auth.ACL = {{"admin", READACCESS, false}};
    open(d);
    screenshot(&d, "source-auth-dialog"); // showing runs the transfer to the window again
    auto* list = control<wxListCtrl>(d, 6499);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(column(*list, 0), (std::vector<std::string>{"lang", "zone"}));
    EXPECT_EQ(column(*list, 1), (std::vector<std::string>{"en", "us"}));
    EXPECT_FALSE(enabled(d, 6500));

    select_row(*list, 0);
    EXPECT_TRUE(enabled(d, 6500));
    {
        modal_script script;
        script.then<WXParamValueDialog>([](WXParamValueDialog& v) {
            open(v);
            EXPECT_EQ(v.value, (ParamValue{"lang", "en"}));
            control<wxTextCtrl>(v, "value")->SetValue("fr");
            return press_ok(v);
        });
        script.then<WXParamValueDialog>([](WXParamValueDialog& v) {
            open(v);
            control<wxTextCtrl>(v, "value")->SetValue("ignored");
            return wxID_CANCEL;
        });
        click(d, 6500);
        activate_row(*list, 0); // cancelled: the row stays
    }
    EXPECT_EQ(column(*list, 1), (std::vector<std::string>{"fr", "us"}));
    control<wxTextCtrl>(d, "username")->SetValue("other");
    EXPECT_EQ(press_ok(d), wxID_OK);
    EXPECT_EQ(d.auth.Username, "other");
    EXPECT_EQ(d.auth.Password, "pw");
    EXPECT_EQ(d.auth.ParamValues, (std::vector<ParamValue>{{"lang", "fr"}, {"zone", "us"}}));
    EXPECT_EQ(d.auth.ACL, (std::vector<AccessSpec>{{"admin", READACCESS, false}}));
}

TEST(source_auth_dialog, WithoutCookieLoginValuesAreDropped) {
    SourceConfiguration basic = cookie_source();
    basic.Type = AUTH_BASIC;
    WXSourceAuthDialog d(nullptr, basic);
    d.auth.ParamValues = {{"zone", "us"}};
    open(d);
    EXPECT_EQ(d.FindWindow(6499), nullptr);
    EXPECT_EQ(press_ok(d), wxID_OK);
    EXPECT_TRUE(d.auth.ParamValues.empty());
}

using tn_test::archive;

TEST(archive_dialog, ChoosesArchivesAndKeepsUnlistedIds) {
    SourceInfo web;
    web.Source = 1;
    web.Configuration.Name = "web";
    WXArchiveDialog d(nullptr, {web}, {archive(2, "zeta", 1), archive(9, "alpha", 1),
                                       archive(4, "", 3)});
    d.archive_ids = {2, 77};
    open(d);
    screenshot(&d, "archive-dialog"); // showing runs the transfer to the window again
    wxTreeCtrl* tree = nullptr;
    for (wxWindow* w = d.FindWindow(6999)->GetParent(); w && !tree; w = nullptr)
        for (wxWindow* child : w->GetChildren())
            if (!tree) tree = dynamic_cast<wxTreeCtrl*>(child);
    ASSERT_NE(tree, nullptr);
    std::vector<std::string> labels;
    std::vector<wxTreeItemId> items;
    wxTreeItemIdValue cookie;
    for (auto id = tree->GetFirstChild(tree->GetRootItem(), cookie); id.IsOk();
         id = tree->GetNextChild(tree->GetRootItem(), cookie)) {
        labels.push_back(tree->GetItemText(id).utf8_string());
        items.push_back(id);
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"(no name)", "alpha", "zeta"}));
    EXPECT_EQ(tree->GetChildrenCount(items[0]), 0u); // its source is not listed
    EXPECT_TRUE(tree->IsBold(items[2]));
    EXPECT_FALSE(tree->IsBold(items[1]));

    // A source item: neither button.
    wxTreeItemIdValue c2;
    tree->SelectItem(tree->GetFirstChild(items[1], c2));
    EXPECT_FALSE(enabled(d, 6999));
    EXPECT_FALSE(enabled(d, 7000));
    click(d, 6999);
    // alpha added, then the result is in tree order, with the unlisted id kept.
    tree->SelectItem(items[1]);
    EXPECT_TRUE(enabled(d, 6999));
    EXPECT_FALSE(enabled(d, 7000));
    click(d, 6999);
    EXPECT_TRUE(tree->IsBold(items[1]));
    tree->Expand(items[1]);
    EXPECT_EQ(press_ok(d), wxID_OK);
    EXPECT_EQ(d.archive_ids, (std::vector<int32_t>{9, 2, 77}));

    // zeta removed.
    open(d);
    tree->SelectItem(items[2]);
    click(d, 7000);
    EXPECT_EQ(press_ok(d), wxID_OK);
    EXPECT_EQ(d.archive_ids, (std::vector<int32_t>{9, 77}));
}

} // namespace
