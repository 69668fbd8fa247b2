#include "controlpanel/drop-target.h"

#include "controlpanel/cp-frame.h"
#include "cpdialogs/seed-url-dialog.h"

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
    // The seed dialog presents the dropped URL in its own form; only what the user confirms
    // becomes a seed.
    WXUrlSmartDialog dialog(owner_);
    dialog.url = url;
    if (dialog.ShowModal() == wxID_OK) owner_->AddSeed(dialog.url);
    return true;
}

} // namespace lumbrake
