// Driving a dialog from a test: its modal run with steps taken inside the modal loop, button
// clicks and radio choices as the toolkit's events, and children found by type.
#pragma once

#include "widget_support.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/radiobut.h>
#include <wx/window.h>

#include <functional>
#include <vector>

namespace tn_test {

// The window's descendants of type T, depth first in creation order.
template <class T> std::vector<T*> children_of(wxWindow* root) {
    std::vector<T*> out;
    for (wxWindow* child : root->GetChildren()) {
        if (T* t = dynamic_cast<T*>(child)) out.push_back(t);
        for (T* t : children_of<T>(child))
            out.push_back(t);
    }
    return out;
}

// A click on the button with this id, as the toolkit delivers it.
inline void click(wxWindow* root, int id) {
    auto* button = dynamic_cast<wxButton*>(root->FindWindow(id));
    ASSERT_NE(button, nullptr) << "no button " << id;
    wxCommandEvent event(wxEVT_BUTTON, id);
    event.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(event);
}

// The user choosing the radio button with this id.
inline void choose_radio(wxWindow* root, int id) {
    auto* radio = dynamic_cast<wxRadioButton*>(root->FindWindow(id));
    ASSERT_NE(radio, nullptr) << "no radio button " << id;
    radio->SetValue(true);
    wxCommandEvent event(wxEVT_RADIOBUTTON, id);
    event.SetEventObject(radio);
    event.SetInt(1);
    radio->GetEventHandler()->ProcessEvent(event);
}

// Runs the update-UI handlers of the window and its children at once.
inline void update_ui(wxWindow* window) { window->UpdateWindowUI(wxUPDATE_UI_RECURSE); }

// Shows the dialog modally and runs `steps` inside its modal loop; the steps end the run with
// clicks. A run the steps leave open is ended with wxID_ABORT (and fails the test).
inline int run_modal(wxDialog& dialog, const std::function<void()>& steps) {
    dialog.CallAfter([&dialog, steps] {
        steps();
        if (dialog.IsModal()) {
            ADD_FAILURE() << "the dialog is still open";
            dialog.EndModal(wxID_ABORT);
        }
    });
    return dialog.ShowModal();
}

} // namespace tn_test
