// "Parameter": one parameter of a source's cookie log-in form: name, kind and, for a free
// parameter, its fixed value.
#pragma once

#include "api/api-types.h"

#include <wx/dialog.h>

class wxChoice;
class wxTextCtrl;
class wxUpdateUIEvent;

class WXParamDialog : public wxDialog {
public:
    explicit WXParamDialog(wxWindow* parent);

    bool Validate() override;
    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    // Starts as a free ("Other") parameter with empty name and value.
    lumbrake::CookieParam param{"", "", lumbrake::COOKIE_OTHER};

private:
    void OnUpdateValue(wxUpdateUIEvent& event);

    wxTextCtrl* name_field_ = nullptr;
    wxTextCtrl* value_field_ = nullptr;
    wxChoice* type_choice_ = nullptr;
    wxDECLARE_EVENT_TABLE();
};
