#include "cpdialogs/dlga-common.h"

#include "client/string-conv.h"
#include "cpmodel/access-masks.h"

#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace lumbrake {

wxSizer* ok_cancel_row(wxWindow* parent, const wxString& ok_label, bool with_cancel) {
    auto* grid = new wxGridSizer(with_cancel ? 2 : 1, 0, 0);
    auto* ok = new wxButton(parent, wxID_OK, ok_label);
    ok->SetDefault();
    grid->Add(ok, 0, wxALL, 4);
    if (with_cancel) grid->Add(new wxButton(parent, wxID_CANCEL, wxGetTranslation("Cancel")), 0,
                               wxALL, 4);
    return grid;
}

wxFlexGridSizer* field_grid() {
    auto* grid = new wxFlexGridSizer(2, 0, 0);
    grid->AddGrowableCol(1);
    return grid;
}

wxTextCtrl* add_text_row(wxWindow* parent, wxFlexGridSizer* grid, const wxString& label,
                         const char* name, int id, long style, int width) {
    grid->Add(new wxStaticText(parent, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
    auto* field = new wxTextCtrl(parent, id, wxEmptyString, wxDefaultPosition, wxSize(width, -1),
                                 style, wxDefaultValidator, name);
    grid->Add(field, 1, wxEXPAND | wxALL, 4);
    return field;
}

void finish_dialog(wxDialog* dialog, wxSizer* top) {
    top->Add(ok_cancel_row(dialog, wxGetTranslation("OK")), 0, wxALIGN_RIGHT);
    dialog->SetSizerAndFit(top);
    dialog->CentreOnParent(wxBOTH);
}

wxString access_mask_display(std::uint32_t mask) {
    return utf8_to_wx(access_mask_text(
        mask, [](const char* text) { return wx_to_utf8(wxGetTranslation(text)); }));
}

wxBitmap cp_bitmap(const wxString& name) {
    const wxColour background(255, 0, 255); // masked out
    wxBitmap bmp(16, 16, 24);
    {
        wxMemoryDC dc(bmp);
        dc.SetBackground(wxBrush(background));
        dc.Clear();
        if (name == "includefilter") {
            dc.SetPen(wxPen(wxColour(0, 140, 0), 3));
            dc.DrawLine(3, 8, 7, 12);
            dc.DrawLine(7, 12, 13, 3);
        } else if (name == "excludefilter") {
            dc.SetPen(wxPen(wxColour(200, 0, 0), 3));
            dc.DrawLine(3, 3, 13, 13);
            dc.DrawLine(13, 3, 3, 13);
        } else if (name == "archive") {
            dc.SetPen(wxPen(wxColour(90, 60, 20)));
            dc.SetBrush(wxBrush(wxColour(200, 150, 80)));
            dc.DrawRectangle(1, 5, 14, 10);
            dc.DrawRectangle(0, 2, 16, 4);
            dc.DrawLine(6, 8, 10, 8);
        } else if (name == "source_alias") {
            dc.SetPen(wxPen(wxColour(20, 60, 150)));
            dc.SetBrush(wxBrush(wxColour(120, 170, 240)));
            dc.DrawCircle(8, 8, 7);
            dc.DrawLine(1, 8, 15, 8);
            dc.DrawLine(8, 1, 8, 15);
            dc.SetBrush(wxBrush(*wxWHITE));
            dc.DrawRectangle(0, 10, 6, 6);
            dc.SetPen(wxPen(*wxBLACK));
            dc.DrawLine(1, 14, 4, 11);
        }
        dc.SelectObject(wxNullBitmap);
    }
    bmp.SetMask(new wxMask(bmp, background));
    return bmp;
}

} // namespace lumbrake
