// The URL dialog and the seed URL dialog on the virtual display: members into the controls,
// the check on OK, the URL built back, refusals and Cancel.
#include "modal_driver.h"

#include "cpdialogs/seed-url-dialog.h"
#include "cpdialogs/url-dialog.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

using lumbrake::WXUrlDialog;
using lumbrake::WXUrlSmartDialog;
using tn_test::children_of;

wxTextCtrl* url_field(WXUrlDialog& d) { return children_of<wxTextCtrl>(&d).at(0); }

TEST(url_dialog, CompletesThePathAndTakesTheCanonicalUrl) {
    WXUrlDialog d(nullptr);
    d.url = "/srv/my docs";
    ASSERT_TRUE(d.TransferDataToWindow());
    EXPECT_EQ(url_field(d)->GetValue(), "/srv/my docs");
    EXPECT_TRUE(d.Validate());
    EXPECT_EQ(url_field(d)->GetValue(), "file:///srv/my%20docs");
    EXPECT_EQ(d.url, "/srv/my docs"); // only OK takes it
    ASSERT_TRUE(d.TransferDataFromWindow());
    EXPECT_EQ(d.url, "file:///srv/my%20docs");
    tn_test::screenshot(&d, "url-dialog");
}

TEST(url_dialog, OkRefusesAWebUrlWithoutHost) {
    WXUrlDialog d(nullptr);
    const int rc = tn_test::run_modal(d, [&] {
        tn_test::click(&d, wxID_OK); // empty: "http:///" has no host
        EXPECT_TRUE(d.IsModal());
        EXPECT_EQ(url_field(d)->GetValue(), "http:///");
        url_field(d)->SetValue("Example.org/a");
        tn_test::click(&d, wxID_OK);
    });
    EXPECT_EQ(rc, wxID_OK);
    EXPECT_EQ(d.url, "http://example.org/a");
}

TEST(url_dialog, CancelKeepsTheCallersUrl) {
    WXUrlDialog d(nullptr);
    d.url = "http://kept.example/";
    const int rc = tn_test::run_modal(d, [&] {
        url_field(d)->SetValue("/tmp");
        EXPECT_TRUE(d.Validate()); // the field now shows the completed URL
        tn_test::click(&d, wxID_CANCEL);
    });
    EXPECT_EQ(rc, wxID_CANCEL);
    EXPECT_EQ(d.url, "http://kept.example/");
}

// The seed dialog's fields in creation order: web, FTP, Gopher, server, newsgroup, path,
// search text.
struct seed_controls {
    explicit seed_controls(WXUrlSmartDialog& d)
        : fields(children_of<wxTextCtrl>(&d)), secure(children_of<wxCheckBox>(&d).at(0)),
          engine(children_of<wxChoice>(&d).at(0)) {
        for (wxStaticText* t : children_of<wxStaticText>(&d))
            if (t->GetParent()->GetId() == WXUrlSmartDialog::ID_WEB_PANEL && t->GetLabel() != "Address:")
                scheme = t;
    }
    wxTextCtrl* web() const { return fields.at(0); }
    wxTextCtrl* ftp() const { return fields.at(1); }
    wxTextCtrl* server() const { return fields.at(3); }
    wxTextCtrl* group() const { return fields.at(4); }
    wxTextCtrl* path() const { return fields.at(5); }
    wxTextCtrl* search() const { return fields.at(6); }
    std::vector<wxTextCtrl*> fields;
    wxCheckBox* secure;
    wxChoice* engine;
    wxStaticText* scheme = nullptr;
};

// Which of the six panels are enabled, in the dialog's order.
std::vector<bool> enabled_panels(WXUrlSmartDialog& d) {
    tn_test::update_ui(&d);
    std::vector<bool> out;
    for (int id = WXUrlSmartDialog::ID_WEB_PANEL; id <= WXUrlSmartDialog::ID_SEARCH_PANEL; ++id)
        out.push_back(d.FindWindow(id)->IsEnabled());
    return out;
}

TEST(seed_url_dialog, ANewSeedIsAWebSiteAndSecureFollowsTheBox) {
    WXUrlSmartDialog d(nullptr);
    seed_controls c(d);
    ASSERT_NE(c.scheme, nullptr);
    ASSERT_TRUE(d.TransferDataToWindow());
    EXPECT_EQ(enabled_panels(d), (std::vector<bool>{true, false, false, false, false, false}));
    EXPECT_FALSE(c.secure->GetValue());
    EXPECT_EQ(c.scheme->GetLabel(), "http://");
    EXPECT_FALSE(d.Validate()); // no address yet

    c.secure->SetValue(true);
    tn_test::update_ui(&d);
    EXPECT_EQ(c.scheme->GetLabel(), "https://");
    c.web()->SetValue("www.example.org/docs");
    EXPECT_TRUE(d.Validate());
    ASSERT_TRUE(d.TransferDataFromWindow());
    EXPECT_EQ(d.url, "https://www.example.org/docs");
    tn_test::screenshot(&d, "seed-url-dialog");
}

TEST(seed_url_dialog, EditsEachKindOfSeed) {
    struct {
        const char* url;
        int kind_panel;
        std::function<wxString(const seed_controls&)> shown;
        const char* expected;
    } cases[] = {
        {"file:///srv/my%20docs/", WXUrlSmartDialog::ID_FILE_PANEL,
         [](const seed_controls& c) { return c.path()->GetValue(); }, "/srv/my docs/"},
        {"https://h.example/a", WXUrlSmartDialog::ID_WEB_PANEL,
         [](const seed_controls& c) {
             return c.web()->GetValue() + (c.secure->GetValue() ? " secure" : "");
         },
         "h.example/a secure"},
        {"nntp://news.example/comp.lang.c/", WXUrlSmartDialog::ID_NEWS_PANEL,
         [](const seed_controls& c) { return c.server()->GetValue() + " " + c.group()->GetValue(); },
         "news.example comp.lang.c"},
        {"msn:trawl%20nest", WXUrlSmartDialog::ID_SEARCH_PANEL,
         [](const seed_controls& c) {
             return c.search()->GetValue() + " " + c.engine->GetStringSelection();
         },
         "trawl nest MSN"},
    };
    for (const auto& k : cases) {
        WXUrlSmartDialog d(nullptr);
        seed_controls c(d);
        d.url = k.url;
        ASSERT_TRUE(d.TransferDataToWindow());
        const std::vector<bool> enabled = enabled_panels(d);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(enabled[static_cast<std::size_t>(i)],
                      WXUrlSmartDialog::ID_WEB_PANEL + i == k.kind_panel)
                << k.url << " panel " << i;
        EXPECT_EQ(k.shown(c), k.expected) << k.url;
        // OK without a change gives back the same seed.
        ASSERT_TRUE(d.Validate());
        ASSERT_TRUE(d.TransferDataFromWindow());
        EXPECT_EQ(d.url, k.url);
    }
}

TEST(seed_url_dialog, ChoosingAKindClearsTheOthersAndOkWaitsForItsFields) {
    WXUrlSmartDialog d(nullptr);
    seed_controls c(d);
    d.url = "http://old.example/";
    const int rc = tn_test::run_modal(d, [&] {
        tn_test::choose_radio(&d, WXUrlSmartDialog::ID_NEWS_RADIO);
        EXPECT_EQ(enabled_panels(d), (std::vector<bool>{false, false, false, true, false, false}));
        EXPECT_EQ(c.web()->GetValue(), "old.example/"); // kept, but takes no part
        c.server()->SetValue("news.example");
        tn_test::click(&d, wxID_OK); // no newsgroup yet
        EXPECT_TRUE(d.IsModal());
        tn_test::choose_radio(&d, WXUrlSmartDialog::ID_FTP_RADIO);
        EXPECT_EQ(enabled_panels(d), (std::vector<bool>{false, true, false, false, false, false}));
        // The scheme typed again is not doubled.
        c.ftp()->SetValue("ftp://files.example/pub");
        tn_test::click(&d, wxID_OK);
    });
    EXPECT_EQ(rc, wxID_OK);
    EXPECT_EQ(d.url, "ftp://files.example/pub");
}

TEST(seed_url_dialog, CancelKeepsTheCallersUrl) {
    WXUrlSmartDialog d(nullptr);
    seed_controls c(d);
    d.url = "file:///srv/docs";
    const int rc = tn_test::run_modal(d, [&] {
        c.path()->SetValue("/elsewhere");
        tn_test::click(&d, wxID_CANCEL);
    });
    EXPECT_EQ(rc, wxID_CANCEL);
    EXPECT_EQ(d.url, "file:///srv/docs");
}

} // namespace
