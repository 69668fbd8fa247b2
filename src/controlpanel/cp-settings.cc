#include "controlpanel/cp-settings.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include <wx/fileconf.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/splitter.h>
#include <wx/toplevel.h>

namespace lumbrake {

wxString cp_settings_store::user_file() {
    wxString base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/')
        base = wxString::FromUTF8(xdg);
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0)
        base = wxString::FromUTF8(home) + "/.config";
    else
        base = "/tmp";
    return base + "/lumbrake/trawlnest.conf";
}

wxString cp_settings_store::system_file() {
    return wxString::FromUTF8(TRAWLNEST_SYSCONFDIR) + "/lumbrake/trawlnest.conf";
}

std::unique_ptr<wxFileConfig> cp_settings_store::open() {
    // A missing or unreadable file reads as empty: the defaults hold, nothing is reported.
    wxLogNull quiet;
    auto config =
        std::make_unique<wxFileConfig>("trawlnest", "lumbrake", user_file(), system_file(),
                                       wxCONFIG_USE_LOCAL_FILE | wxCONFIG_USE_GLOBAL_FILE);
    // The password is kept in clear: only the user may read the file.
    config->SetUmask(0077);
    return config;
}

bool cp_settings_store::flush(wxFileConfig& config) {
    const wxFileName file(user_file());
    const wxString dir = file.GetPath();
    if (!wxFileName::DirExists(dir) && !wxFileName::Mkdir(dir, 0700, wxPATH_MKDIR_FULL))
        return false;
    wxLogNull quiet;
    if (!config.Flush()) return false;
    // An older file may have been made with wider rights.
    return ::chmod(user_file().utf8_str(), 0600) == 0 || errno == ENOENT;
}

cp_connection_settings cp_settings_store::load_connection() {
    auto config = open();
    cp_connection_settings s;
    s.host = config->Read("Host", "localhost");
    s.port = config->Read("Port", "2200");
    s.authentication = config->Read("Authentication", "True") == "True";
    s.user_name = config->Read("Username", "");
    s.password = config->Read("Password", "");
    return s;
}

bool cp_settings_store::save_connection(const cp_connection_settings& s) {
    auto config = open();
    bool ok = config->Write("Host", s.host);
    ok = config->Write("Port", s.port) && ok;
    ok = config->Write("Authentication", wxString(s.authentication ? "True" : "False")) && ok;
    ok = config->Write("Username", s.user_name) && ok;
    ok = config->Write("Password", s.password) && ok;
    return flush(*config) && ok;
}

bool cp_settings_store::needs_setup() {
    return !open()->HasEntry("Host");
}

void cp_settings_store::load_window_geometry(wxTopLevelWindow* window, const wxString& group) {
    auto config = open();
    config->SetPath("/" + group);
    const wxPoint pos = window->GetPosition();
    const wxSize size = window->GetSize();
    const int x = config->ReadLong("X", pos.x), y = config->ReadLong("Y", pos.y);
    const int w = config->ReadLong("W", size.x), h = config->ReadLong("H", size.y);
    window->SetSize(x, y, w, h);
    const long state = config->ReadLong("S", 0);
    if (state == 1)
        window->Maximize();
    else if (state == 2)
        window->Iconize();
}

bool cp_settings_store::save_window_geometry(wxTopLevelWindow* window, const wxString& group) {
    auto config = open();
    config->SetPath("/" + group);
    bool ok = true;
    if (window->IsMaximized()) {
        ok = config->Write("S", 1L);
    } else if (window->IsIconized()) {
        ok = config->Write("S", 2L);
    } else {
        const wxRect r = window->GetRect();
        ok = config->Write("S", 0L) && config->Write("X", static_cast<long>(r.x)) &&
             config->Write("Y", static_cast<long>(r.y)) &&
             config->Write("W", static_cast<long>(r.width)) &&
             config->Write("H", static_cast<long>(r.height));
    }
    return flush(*config) && ok;
}

void cp_settings_store::load_splitter_position(wxSplitterWindow* splitter, const wxString& group) {
    auto config = open();
    config->SetPath("/" + group);
    splitter->SetSashPosition(config->ReadLong("P", splitter->GetSashPosition()), true);
}

bool cp_settings_store::save_splitter_position(wxSplitterWindow* splitter, const wxString& group) {
    auto config = open();
    config->SetPath("/" + group);
    const bool ok = config->Write("P", static_cast<long>(splitter->GetSashPosition()));
    return flush(*config) && ok;
}

} // namespace lumbrake
