// Pieces the dialogs share: the OK / Cancel row at the bottom right and the small pictures of
// lists and trees.
#pragma once

#include "cpdialogs/cp-services.h"
#include "soap/soap.h"

#include <cstdint>

#include <wx/bitmap.h>
#include <wx/utils.h>
#include <wx/string.h>

class wxDialog;
class wxFlexGridSizer;
class wxSizer;
class wxTextCtrl;
class wxWindow;

namespace lumbrake {

// A two-column grid with `ok_label` (wxID_OK, the default button) and, unless `with_cancel` is
// false, "Cancel" (wxID_CANCEL); 4-pixel borders. The caller adds it aligned right and bottom.
wxSizer* ok_cancel_row(wxWindow* parent, const wxString& ok_label, bool with_cancel = true);

// A two-column grid of labels and fields; the field column stretches.
wxFlexGridSizer* field_grid();

// Adds the label (vertically centred) and a one-line text field (named `name`, expanding) to
// the grid; 4-pixel borders. Returns the field.
wxTextCtrl* add_text_row(wxWindow* parent, wxFlexGridSizer* grid, const wxString& label,
                         const char* name, int id = -1, long style = 0, int width = -1);

// The end of a dialog's construction: the OK / Cancel row under `top`, the dialog fitted to
// its sizer and centred on its parent.
void finish_dialog(wxDialog* dialog, wxSizer* top);

// The 16 x 16 pictures with masks, by resource name: "includefilter", "excludefilter",
// "archive", "source_alias". Drawn here, since Linux programs carry no bitmap resources; an
// unknown name gives an empty (fully masked) picture.
wxBitmap cp_bitmap(const wxString& name);

// The translated text of an access mask, for the rows of ACL lists.
wxString access_mask_display(std::uint32_t mask);

// One SOAP exchange of a dialog: runs `call` under the busy cursor; a SOAP failure is reported
// over `parent` after the cursor is back. False when the call failed or there is no proxy to
// make it with (`proxy` null: nothing is called, nothing is shown).
template <class Proxy, class Call>
bool soap_guarded(wxWindow* parent, Proxy* proxy, Call&& call) {
    if (!proxy) return false;
    try {
        wxBusyCursor busy;
        call(*proxy);
        return true;
    } catch (const EasySoap::SOAPException& e) {
        if (cp_services* services = get_cp_services()) services->ReportSoapError(e, parent);
        return false;
    }
}

} // namespace lumbrake
