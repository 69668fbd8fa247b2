// The "OK" / "Cancel" row at the bottom right of the control panel's dialogs.
#pragma once

class wxSizer;
class wxWindow;

namespace lumbrake {

// A grid of two equal columns: "OK" (wxID_OK, the default button) and "Cancel" (wxID_CANCEL),
// each with a 4-pixel border, added to `sizer` aligned to the right.
void add_ok_cancel_row(wxWindow* parent, wxSizer* sizer);

} // namespace lumbrake
