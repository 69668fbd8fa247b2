// The test program's entry: a wx GUI application on the virtual display, the recording
// services installed, then GoogleTest.
#include "widget_support.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/utils.h>
#include <wx/window.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace tn_test {

std::unique_ptr<lumbrake::SoapClientProxy> recording_services::CreateSoapProxy() {
    if (endpoint.empty()) return nullptr;
    return std::make_unique<lumbrake::SoapClientProxy>(endpoint);
}

wxString recording_services::FormatSoapError(const EasySoap::SOAPException& e) {
    return wxString::FromUTF8(e.what());
}

void recording_services::ShowError(const wxString& message, wxWindow*) {
    errors.push_back(message.utf8_string());
}

void recording_services::ShowWarning(const wxString& message, wxWindow*) {
    warnings.push_back(message.utf8_string());
}

std::string recording_services::GetHost() { return settings.host.utf8_string(); }

std::string recording_services::GetUserName() {
    return settings.authentication ? settings.user_name.utf8_string() : "Anonymous";
}

recording_services& services() {
    static recording_services s;
    return s;
}

void pump_events(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        wxTheApp->ProcessPendingEvents();
        wxYield();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void screenshot(wxWindow* window, const std::string& name) {
    window->Show();
    window->Raise();
    window->Update();
    pump_events(300);
    std::filesystem::create_directories(TN_SHOTS_DIR);
    const std::string file = std::string(TN_SHOTS_DIR) + "/" + name + ".png";
    // Only the window's rectangle of the screen (there is no window manager to frame it).
    const wxRect r = window->GetScreenRect();
    const std::string crop = std::to_string(r.width) + "x" + std::to_string(r.height) + "+" +
                             std::to_string(r.x) + "+" + std::to_string(r.y);
    const std::string cmd = "import -window root -crop " + crop + " '" + file + "' 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "screenshot failed: " << file;
}

} // namespace tn_test

namespace {

class test_app : public wxApp {
public:
    bool OnInit() override { return true; }
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new test_app);
    int wx_argc = 1;
    char* wx_argv[] = {argv[0], nullptr};
    if (!wxEntryStart(wx_argc, wx_argv)) return 2; // no display
    wxTheApp->CallOnInit();
    lumbrake::set_cp_services(&tn_test::services());
    int rc = RUN_ALL_TESTS();
    lumbrake::set_cp_services(nullptr);
    wxEntryCleanup();
    return rc;
}
