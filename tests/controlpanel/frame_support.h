// What the main-window tests share: services that record message boxes and browser calls,
// pumping the event loop, screenshots, finding tree items and page controls, showing an
// object's pages, the test's own SOAP calls, button clicks, and the program's main.
#pragma once

#include "../support/live_daemon.h"
#include "scratch.h"

#include "controlpanel/cp-frame.h"
#include "cpdialogs/cp-services.h"
#include "cpmodel/frame-ids.h"
#include "cpmodel/settings-model.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/notebook.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <chrono>
#include <functional>
#include <thread>

namespace cp_test {

using namespace lumbrake;

// Records message boxes and browser calls; SOAP texts as the application formats them.
class test_services : public cp_services {
public:
    std::unique_ptr<SoapClientProxy> CreateSoapProxy() override {
        return std::make_unique<SoapClientProxy>(endpoint);
    }
    wxString FormatSoapError(const EasySoap::SOAPException& e) override {
        const soap_error_message m = soap_error_text(e.what());
        wxString out = wxString::FromUTF8(m.format);
        if (m.has_argument) out.Replace("%s", wxString::FromUTF8(m.argument), false);
        return out;
    }
    void ShowError(const wxString& message, wxWindow*) override {
        errors.push_back(message.utf8_string());
    }
    void ShowWarning(const wxString& message, wxWindow*) override {
        warnings.push_back(message.utf8_string());
    }
    cp_connection_settings GetConnectionSettings() override { return settings; }
    void SetConnectionSettings(const cp_connection_settings& s) override { settings = s; }
    bool SaveConnectionSettings() override { return true; }
    std::string GetHost() override { return settings.host.utf8_string(); }
    std::string GetUserName() override { return settings.user_name.utf8_string(); }
    void OpenURL(const std::string& url) override { opened.push_back(url); }

    std::string endpoint;
    cp_connection_settings settings;
    std::vector<std::string> errors, warnings, opened;
};

inline test_services services;

// Runs the event loop until `done` holds or the time is up.
inline bool pump_until(const std::function<bool()>& done, int seconds = 30) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->ProcessIdle();
        wxYield();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

inline void pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    pump_until([&] { return std::chrono::steady_clock::now() >= end; }, 60);
}

inline void screenshot(wxWindow* window, const std::string& name) {
    window->Raise();
    window->Update();
    pump(400);
    const std::string file = std::string(TN_SHOTS_DIR) + "/" + name + ".png";
    const wxRect r = window->GetScreenRect();
    const std::string crop = std::to_string(r.width) + "x" + std::to_string(r.height) + "+" +
                             std::to_string(r.x) + "+" + std::to_string(r.y);
    const std::string cmd = "import -window root -crop " + crop + " '" + file + "' 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << file;
}

inline std::vector<std::string> labels(wxTreeCtrl* tree, const wxTreeItemId& parent) {
    std::vector<std::string> out;
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = tree->GetFirstChild(parent, cookie); c.IsOk();
         c = tree->GetNextChild(parent, cookie))
        out.push_back(tree->GetItemText(c).utf8_string());
    return out;
}

inline wxTreeItemId find_top(wxTreeCtrl* tree, const std::string& label) {
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = tree->GetFirstChild(tree->GetRootItem(), cookie); c.IsOk();
         c = tree->GetNextChild(tree->GetRootItem(), cookie))
        if (tree->GetItemText(c).utf8_string() == label) return c;
    return {};
}

template <class T> T* control(WXControlPanelFrame* frame, cp_kind kind, int id) {
    return dynamic_cast<T*>(frame->kind_notebook(kind)->FindWindow(id));
}

// Shows the object of `kind` labelled `label` and waits until its pages are filled.
inline void show(WXControlPanelFrame* frame, cp_kind kind, const std::string& label, int page) {
    const int index = static_cast<int>(kind) - 1;
    frame->trees_notebook()->SetSelection(index);
    wxTreeCtrl* tree = frame->tree(index);
    const wxTreeItemId item = find_top(tree, label);
    ASSERT_TRUE(item.IsOk()) << label;
    tree->SelectItem(item);
    ASSERT_TRUE(pump_until([&] {
        return frame->shown_panel() == index + 2 &&
               frame->name_field(kind)->GetValue().utf8_string() == label;
    })) << label;
    frame->kind_notebook(kind)->SetSelection(page);
}

// A SOAP call of the test itself; a failure names the call. The daemon now and then closes
// a connection without an answer ("Empty reply from server"); the test's own calls try once
// more then, the window's calls never do.
#define SOAP(call)                                                                                 \
    do {                                                                                           \
        try {                                                                                      \
            try {                                                                                  \
                call;                                                                              \
            } catch (const EasySoap::SOAPException& e) {                                           \
                if (std::string(e.what()).find("Empty reply") == std::string::npos) throw;         \
                call;                                                                              \
            }                                                                                      \
        } catch (const std::exception& e) {                                                        \
            FAIL() << #call << ": " << e.what();                                                   \
        }                                                                                          \
    } while (0)

inline void click(wxWindow* page, int id) {
    wxWindow* button = page->FindWindow(id);
    ASSERT_NE(button, nullptr);
    wxCommandEvent ev(wxEVT_BUTTON, id);
    ev.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(ev);
}

// A failed toolkit assertion fails the test instead of opening a dialog nobody answers.
inline void on_assert(const wxString& file, int line, const wxString& func, const wxString& cond,
                      const wxString& msg) {
    ADD_FAILURE() << "wx assertion " << cond << " (" << msg << ") in " << func << " at " << file
                  << ":" << line;
}

class test_app : public wxApp {
public:
    bool OnInit() override { return true; }
};

// The test program's main: GoogleTest, then the toolkit with a manually pumped event loop
// and the recording services installed.
inline int run_frame_tests(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new test_app);
    wxSetAssertHandler(on_assert);
    int wx_argc = 1;
    char* wx_argv[] = {argv[0], nullptr};
    if (!wxEntryStart(wx_argc, wx_argv)) return 2;
    wxTheApp->CallOnInit();
    set_cp_services(&services);
    // Events are pumped by hand: an active loop lets yields and idle processing run.
    wxGUIEventLoop loop;
    wxEventLoopActivator activate(&loop);
    const int rc = RUN_ALL_TESTS();
    set_cp_services(nullptr);
    wxEntryCleanup();
    return rc;
}

} // namespace cp_test
