#include "cpdialogs/weights-dialog.h"

#include "cpdialogs/ok-cancel-row.h"
#include "cpmodel/weights-slots.h"

#include <wx/button.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

namespace lumbrake {

wxBEGIN_EVENT_TABLE(WXWeightsDialog, wxDialog)
    EVT_BUTTON(WXWeightsDialog::ID_DEFAULTS, WXWeightsDialog::OnDefaults)
wxEND_EVENT_TABLE()

WXWeightsDialog::WXWeightsDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, _("Weights")), m_spins(WEIGHT_SLICES, nullptr) {
    auto* top = new wxBoxSizer(wxVERTICAL);

    // A label and its control, centred vertically, into a grid.
    auto add_control = [this](wxWindow* box, wxSizer* grid, const weight_control& c, int width) {
        grid->Add(new wxStaticText(box, wxID_ANY, wxGetTranslation(c.label)), 0,
                  wxALL | wxALIGN_CENTER_VERTICAL, 4);
        auto* spin = new wxSpinCtrl(box, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                    wxSize(width, -1), wxSP_ARROW_KEYS, WEIGHT_DEFAULT,
                                    WEIGHT_MAX, WEIGHT_DEFAULT);
        // Toolkits whose spin buttons sit beside the text (GTK) need more room for "100".
        const int needed = spin->GetSizeFromTextSize(spin->GetTextExtent("100")).x;
        if (needed > width) spin->SetMinSize(wxSize(needed, -1));
        grid->Add(spin, 0, wxALL | wxALIGN_CENTER_VERTICAL, 4);
        m_spins[static_cast<std::size_t>(c.slice - 1)] = spin;
    };

    auto* named = new wxBoxSizer(wxHORIZONTAL);
    for (const weight_box& b : named_weight_boxes()) {
        auto* box = new wxStaticBoxSizer(wxVERTICAL, this, wxGetTranslation(b.title));
        auto* grid = new wxFlexGridSizer(2, 0, 0);
        for (const weight_control& c : b.controls)
            add_control(box->GetStaticBox(), grid, c, 60);
        box->Add(grid, 0, wxALL, 4);
        named->Add(box, 1, wxALL | wxEXPAND, 4);
    }
    top->Add(named, 0, wxEXPAND);

    auto* custom = new wxStaticBoxSizer(wxVERTICAL, this, _("Custom"));
    auto* grid = new wxFlexGridSizer(8, 0, 0);
    for (const weight_control& c : custom_weight_grid())
        add_control(custom->GetStaticBox(), grid, c, 50);
    custom->Add(grid, 0, wxALL | wxEXPAND, 4);
    top->Add(custom, 0, wxALL | wxEXPAND, 4);

    auto* buttons = new wxGridSizer(3, 0, 0);
    buttons->Add(new wxButton(this, ID_DEFAULTS, _("Defaults")), 0, wxALL | wxEXPAND, 4);
    auto* ok = new wxButton(this, wxID_OK, _("OK"));
    ok->SetDefault();
    buttons->Add(ok, 0, wxALL | wxEXPAND, 4);
    buttons->Add(new wxButton(this, wxID_CANCEL, _("Cancel")), 0, wxALL | wxEXPAND, 4);
    top->Add(buttons, 0, wxALIGN_RIGHT);

    SetAutoLayout(true);
    SetSizerAndFit(top);
    Centre(wxBOTH);
    ResetWeights();
}

void WXWeightsDialog::ResetWeights() {
    for (wxSpinCtrl* spin : m_spins)
        spin->SetValue(WEIGHT_DEFAULT);
}

bool WXWeightsDialog::TransferDataToWindow() {
    const weight_slots slots = weights_to_slots(m_weights);
    // Only slices the list names change; the others keep what they show.
    for (const QuerySliceWeight& w : m_weights)
        if (w.Slice >= 1 && w.Slice <= WEIGHT_SLICES)
            m_spins[static_cast<std::size_t>(w.Slice - 1)]->SetValue(
                slots[static_cast<std::size_t>(w.Slice - 1)]);
    return true;
}

bool WXWeightsDialog::TransferDataFromWindow() {
    weight_slots slots;
    for (std::size_t i = 0; i < slots.size(); ++i)
        slots[i] = m_spins[i]->GetValue();
    m_weights = slots_to_weights(slots);
    return true;
}

void WXWeightsDialog::OnDefaults(wxCommandEvent&) { ResetWeights(); }

} // namespace lumbrake
