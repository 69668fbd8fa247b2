// "Weights": the slice weights a search panel sends, one spin control per slice (-1: the
// daemon's default weight, 0..100: an override).
#pragma once

#include "api/query-types.h"

#include <wx/dialog.h>

#include <vector>

class wxSpinCtrl;

namespace lumbrake {

class WXWeightsDialog : public wxDialog {
public:
    explicit WXWeightsDialog(wxWindow* parent);

    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    // Every control back to -1 ("Defaults"); the list changes only on OK.
    void ResetWeights();

    enum { ID_DEFAULTS = 6799 };

    // Filled by the caller before the modal run; after OK one entry per overridden slice, in
    // ascending slice id.
    std::vector<QuerySliceWeight> m_weights;
    // The 31 controls by slice id - 1 (children of the dialog).
    std::vector<wxSpinCtrl*> m_spins;

private:
    void OnDefaults(wxCommandEvent& event);

    wxDECLARE_EVENT_TABLE();
};

} // namespace lumbrake
