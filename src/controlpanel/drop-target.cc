#include "controlpanel/drop-target.h"

#include "controlpanel/cp-frame.h"

namespace lumbrake {

WXSeedDropTarget::WXSeedDropTarget(WXControlPanelFrame* owner) : owner_(owner) {
    SetDataObject(new wxURLDataObject);
}

wxDragResult WXSeedDropTarget::OnDragOver(wxCoord, wxCoord, wxDragResult) {
    return wxDragLink;
}

wxDragResult WXSeedDropTarget::OnData(wxCoord x, wxCoord y, wxDragResult result) {
    if (!GetData()) return wxDragNone;
    OnDropURL(x, y, static_cast<wxURLDataObject*>(GetDataObject())->GetURL());
    return result;
}

bool WXSeedDropTarget::OnDropURL(wxCoord, wxCoord, const wxString& url) {
    // The seed URL dialog comes with the page-list editing; until then the dropped text is
    // taken as it stands.
    if (!url.empty()) owner_->AddSeed(url);
    return true;
}

} // namespace lumbrake
