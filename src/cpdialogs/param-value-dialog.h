// "Parameter value": changes the value of one cookie-form parameter; the name is shown only.
#pragma once

#include "api/auth.h"

#include <wx/dialog.h>

class wxTextCtrl;

class WXParamValueDialog : public wxDialog {
public:
    explicit WXParamValueDialog(wxWindow* parent);

    bool Validate() override;
    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    lumbrake::ParamValue value;

private:
    wxTextCtrl* name_field_ = nullptr;
    wxTextCtrl* value_field_ = nullptr;
};
