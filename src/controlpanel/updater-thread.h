// The control panel's background poller: every 300 s, or within about 100 ms of a refresh
// request, it fetches the daemon's lists and capabilities on a proxy of its own and keeps
// the results under its mutex until the frame takes them. It never touches a window.
#pragma once

#include "cpmodel/updater-poll.h"

#include <atomic>

#include <wx/string.h>
#include <wx/thread.h>

namespace lumbrake {

class WXControlPanelUpdaterThread : public wxThread {
public:
    WXControlPanelUpdaterThread();
    ~WXControlPanelUpdaterThread() override;

    int GetProgress() const { return progress_.load(); }
    bool HasNewData() const { return new_data_.load(); }
    bool IsReady() const { return HasNewData(); }
    bool HasError() const { return error_.load(); }
    bool HasWarning() const { return warning_.load(); }
    wxString GetMessage();
    void RequestRefresh();
    // Copies the results out and clears the new-data state.
    void TakeResults(std::vector<SourceInfo>& sources, std::vector<ArchiveInfo>& archives,
                     std::vector<CollectionInfo>& collections, std::vector<WatchInfo>& watches,
                     std::vector<DocFilterInfo>& doc_filters, std::vector<std::string>& principals,
                     bool& historicize, bool& admin, bool& browsing_write, bool& crawling_write);

protected:
    ExitCode Entry() override;

private:
    // One poll and its publication; false when no proxy could be made.
    bool Poll();

    wxMutex mutex_;
    updater_results results_;
    std::atomic<int> progress_{0};
    std::atomic<bool> new_data_{false}, error_{false}, warning_{false}, refresh_requested_{false};
};

} // namespace lumbrake
