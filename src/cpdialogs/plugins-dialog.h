// The "Plugins" dialog: which document filters make up the daemon's root renderer pipe, and in
// what order. Loads when shown, sends the new pipe on OK.
#pragma once

#include "client/soap-client-proxy.h"
#include "cpmodel/plugins-model.h"

#include <cstdint>
#include <memory>
#include <vector>

#include <wx/dialog.h>

class wxCheckBox;
class wxListEvent;
class wxListView;
class wxStaticText;
class wxUpdateUIEvent;

class WXPluginDialog : public wxDialog {
public:
    explicit WXPluginDialog(wxWindow* parent);
    ~WXPluginDialog() override;

    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

private:
    void OnSelected(wxListEvent& event);
    void OnDeselected(wxListEvent& event);
    void OnUpdateEnabled(wxUpdateUIEvent& event);
    void OnEnabled(wxCommandEvent& event);
    void OnUpdateMoveUp(wxUpdateUIEvent& event);
    void OnUpdateMoveDown(wxUpdateUIEvent& event);
    void OnMoveUp(wxCommandEvent& event);
    void OnMoveDown(wxCommandEvent& event);

    void ShowRow(long row);
    void Move(long from, long to);

    wxListView* list_ = nullptr;
    wxStaticText* description_ = nullptr;
    wxCheckBox* enabled_ = nullptr;
    std::unique_ptr<lumbrake::SoapClientProxy> proxy_;
    std::vector<lumbrake::DocFilterInfo> filters_;
    lumbrake::plugin_pipe_model model_;
    std::uint32_t magic_ = 0;

    wxDECLARE_EVENT_TABLE();
};
