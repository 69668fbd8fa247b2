// URLs dropped on a source's "Gathering" page: the URL dialog presents the dropped text and
// what the user confirms becomes the last seed of the page.
#pragma once

#include <wx/dnd.h>

namespace lumbrake {

class WXControlPanelFrame;

class WXSeedDropTarget : public wxDropTarget {
public:
    explicit WXSeedDropTarget(WXControlPanelFrame* owner);

    wxDragResult OnDragOver(wxCoord x, wxCoord y, wxDragResult suggested) override;
    wxDragResult OnData(wxCoord x, wxCoord y, wxDragResult result) override;
    bool OnDropURL(wxCoord x, wxCoord y, const wxString& url);

private:
    WXControlPanelFrame* owner_;
};

} // namespace lumbrake
