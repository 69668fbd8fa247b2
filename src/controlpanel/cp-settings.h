// The control panel's settings files: the user's $XDG_CONFIG_HOME/lumbrake/trawlnest.conf
// (default ~/.config/...), written with mode 0600 because it holds the password, over the
// read-only system file <sysconfdir>/lumbrake/trawlnest.conf, read where the user file has
// no value. Every access opens the files anew.
#pragma once

#include "cpdialogs/cp-services.h"

#include <memory>

#include <wx/string.h>

class wxFileConfig;
class wxSplitterWindow;
class wxTopLevelWindow;

namespace lumbrake {

class cp_settings_store {
public:
    static wxString user_file();
    static wxString system_file();

    // Host, Port, Authentication, Username, Password with their defaults.
    static cp_connection_settings load_connection();
    // False when the folder or the file could not be written.
    static bool save_connection(const cp_connection_settings& settings);
    // True when neither file has a Host entry (an empty Host counts as present).
    static bool needs_setup();

    static void load_window_geometry(wxTopLevelWindow* window, const wxString& group);
    static bool save_window_geometry(wxTopLevelWindow* window, const wxString& group);
    static void load_splitter_position(wxSplitterWindow* splitter, const wxString& group);
    static bool save_splitter_position(wxSplitterWindow* splitter, const wxString& group);

private:
    static std::unique_ptr<wxFileConfig> open();
    static bool flush(wxFileConfig& config);
};

} // namespace lumbrake
