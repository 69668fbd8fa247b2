// The setup dialog (filled from the application's settings, checks, handing them back) and
// the server status dialog (rows of a real daemon; one error report and an immediate close
// when the daemon cannot be reached).
#include "widget_support.h"

#include "../support/live_daemon.h"
#include "cpdialogs/setup-dialog.h"
#include "cpdialogs/status-dialog.h"

#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

using tn_test::services;

TEST(setup_dialog, ShowsChecksAndHandsBackTheSettings) {
    services().errors.clear();
    lumbrake::cp_connection_settings s;
    s.host = "daemon.example";
    s.port = "2201";
    s.authentication = false;
    s.user_name = "bob";
    s.password = "p@ss word";
    services().SetConnectionSettings(s);

    lumbrake::WXSetupDialog dialog(nullptr);
    dialog.TransferDataToWindow();
    EXPECT_EQ(dialog.host_field()->GetValue(), "daemon.example");
    EXPECT_EQ(dialog.port_field()->GetValue(), "2201");
    EXPECT_FALSE(dialog.authentication_box()->GetValue());
    EXPECT_EQ(dialog.password_field()->GetValue(), "p@ss word");
    // Credentials are disabled with the box cleared, but keep their text.
    dialog.Show();
    dialog.UpdateWindowUI(wxUPDATE_UI_RECURSE);
    EXPECT_FALSE(dialog.FindWindow(lumbrake::WXSetupDialog::ID_CREDENTIALS)->IsEnabled());
    tn_test::screenshot(&dialog, "setup-dialog");
    dialog.authentication_box()->SetValue(true);
    dialog.UpdateWindowUI(wxUPDATE_UI_RECURSE);
    EXPECT_TRUE(dialog.FindWindow(lumbrake::WXSetupDialog::ID_CREDENTIALS)->IsEnabled());

    struct row {
        const char* host;
        const char* port;
        bool ok;
    } rows[] = {{"", "2200", false},    {"a/b", "2200", false},      {"a@b", "2200", false},
                {"a b", "2200", false}, {"h", "0", false},           {"h", "65536", false},
                {"h", "http", false},   {"127.0.0.1", "65535", true}};
    for (const auto& r : rows) {
        services().errors.clear();
        dialog.host_field()->ChangeValue(r.host);
        dialog.port_field()->ChangeValue(r.port);
        EXPECT_EQ(dialog.Validate(), r.ok) << r.host << ":" << r.port;
        EXPECT_EQ(services().errors.size(), r.ok ? 0u : 1u) << r.host << ":" << r.port;
    }
    dialog.user_field()->ChangeValue("alice");
    EXPECT_TRUE(dialog.TransferDataFromWindow());
    const lumbrake::cp_connection_settings back = services().GetConnectionSettings();
    EXPECT_EQ(back.host, "127.0.0.1");
    EXPECT_EQ(back.port, "65535");
    EXPECT_TRUE(back.authentication);
    EXPECT_EQ(back.user_name, "alice");
    EXPECT_EQ(back.password, "p@ss word");
    dialog.Hide();
}

std::filesystem::path scratch(const char* name) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    auto p = std::filesystem::path(std::string(tmp ? tmp : "/tmp/") + name);
    std::filesystem::remove_all(p);
    return p;
}

TEST(status_dialog, ListsTheDaemonsRowsAndClosesAfterOneErrorWhenItIsGone) {
    services().errors.clear();
    EXPECT_STREQ(lumbrake::status_word(lumbrake::RUNNING), "running");
    EXPECT_STREQ(lumbrake::status_word(lumbrake::CRAWLSTOPPED), "crawl stopped");
    EXPECT_STREQ(lumbrake::status_word(lumbrake::LOWDISKSPACE), "low disk space");
    EXPECT_STREQ(lumbrake::status_word(7), "");

    tn_test::live_daemon d(scratch("status"));
    d.start();
    services().endpoint = d.soap_endpoint();
    {
        lumbrake::WXStatusDialog dialog(nullptr);
        EXPECT_TRUE(services().errors.empty());
        EXPECT_EQ(dialog.rows()->GetItemCount(), 4);
        EXPECT_FALSE(dialog.status_text()->GetLabel().empty());
        tn_test::screenshot(&dialog, "status-dialog");
        dialog.Hide();
    }
    d.stop();
    {
        lumbrake::WXStatusDialog dialog(nullptr);
        ASSERT_EQ(services().errors.size(), 1u);
        EXPECT_EQ(dialog.rows()->GetItemCount(), 0);
        // The queued Close ends the modal run as soon as it starts.
        EXPECT_EQ(dialog.ShowModal(), wxID_OK);
    }
    services().endpoint.clear();
}

} // namespace
