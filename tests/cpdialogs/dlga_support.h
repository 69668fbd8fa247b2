// Driving the dialogs the way a user does, without a window manager: modal runs answered by a
// script (the toolkit's modal hook: each ShowModal, message boxes included, is handed to the
// next step of the script, which fills and validates the dialog and answers its result), button
// presses and box clicks sent as the controls' own events, enabling read after an update-UI pass.
#pragma once

#include "widget_support.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/listctrl.h>
#include <wx/modalhook.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <typeinfo>

namespace tn_test {

// While alive, every modal run goes to the next step; a run with no step left fails the test
// and answers Cancel, so nothing ever waits for a click that will not come.
class modal_script : public wxModalDialogHook {
public:
    using step = std::function<int(wxDialog&)>;
    modal_script() { Register(); }
    ~modal_script() override {
        Unregister();
        EXPECT_TRUE(steps_.empty()) << steps_.size() << " modal run(s) expected but not seen";
    }
    modal_script& then(step s) {
        steps_.push_back(std::move(s));
        return *this;
    }
    // Typed step: the dialog must be of class D.
    template <class D>
    modal_script& then(std::function<int(D&)> s) {
        return then([s = std::move(s)](wxDialog& d) -> int {
            auto* typed = dynamic_cast<D*>(&d);
            if (!typed) {
                ADD_FAILURE() << "unexpected modal dialog " << typeid(d).name();
                return wxID_CANCEL;
            }
            return s(*typed);
        });
    }
    // Message boxes: their text and the answer.
    modal_script& answer(int result) {
        return then([result](wxDialog&) { return result; });
    }
    int seen = 0;

protected:
    int Enter(wxDialog* dialog) override {
        ++seen;
        if (steps_.empty()) {
            ADD_FAILURE() << "unexpected modal dialog " << typeid(*dialog).name();
            return wxID_CANCEL;
        }
        step s = std::move(steps_.front());
        steps_.pop_front();
        return s(*dialog);
    }

private:
    std::deque<step> steps_;
};

// What pressing OK does: Validate, then TransferDataFromWindow; wxID_OK when both pass, else
// -1 (the dialog would have stayed open).
inline int press_ok(wxDialog& d) {
    return d.Validate() && d.TransferDataFromWindow() ? wxID_OK : -1;
}

// The dialog as it opens: controls filled, enabling worked out.
inline void open(wxDialog& d) {
    d.InitDialog();
    d.UpdateWindowUI(wxUPDATE_UI_RECURSE);
}

inline bool enabled(wxWindow& parent, int id) {
    parent.UpdateWindowUI(wxUPDATE_UI_RECURSE);
    wxWindow* w = parent.FindWindow(id);
    if (!w) ADD_FAILURE() << "no control " << id;
    return w && w->IsEnabled();
}

template <class T = wxWindow>
T* control(wxWindow& parent, int id) {
    auto* w = dynamic_cast<T*>(parent.FindWindow(id));
    if (!w) ADD_FAILURE() << "no control " << id << " of the expected class";
    return w;
}

template <class T = wxWindow>
T* control(wxWindow& parent, const char* name) {
    auto* w = dynamic_cast<T*>(parent.FindWindow(wxString(name)));
    if (!w) ADD_FAILURE() << "no control named " << name;
    return w;
}

// A click on a button: its command event, handled as the toolkit would.
inline void click(wxWindow& parent, int id) {
    wxWindow* w = control(parent, id);
    if (!w) return;
    wxCommandEvent e(wxEVT_BUTTON, id);
    e.SetEventObject(w);
    w->GetEventHandler()->ProcessEvent(e);
}

// A click on a check box: its value flips, then its event.
inline void click_box(wxWindow& parent, int id) {
    auto* box = control<wxCheckBox>(parent, id);
    if (!box) return;
    box->SetValue(!box->GetValue());
    wxCommandEvent e(wxEVT_CHECKBOX, id);
    e.SetEventObject(box);
    e.SetInt(box->GetValue() ? 1 : 0);
    box->GetEventHandler()->ProcessEvent(e);
}

inline void select_row(wxListCtrl& list, long row) {
    if (row < 0) ADD_FAILURE() << "no such row";
    list.SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                      wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    pump_events(20);
}

// A double click on a row: it selects the row, then activates it.
inline void activate_row(wxListCtrl& list, long row) {
    select_row(list, row);
    wxListEvent e(wxEVT_LIST_ITEM_ACTIVATED, list.GetId());
    e.SetEventObject(&list);
    e.m_itemIndex = row;
    list.GetEventHandler()->ProcessEvent(e);
}

inline std::vector<std::string> column(wxListCtrl& list, int col) {
    std::vector<std::string> out;
    for (long i = 0; i < list.GetItemCount(); ++i)
        out.push_back(list.GetItemText(i, col).utf8_string());
    return out;
}

inline long find_row(wxListCtrl& list, const std::string& name) {
    for (long i = 0; i < list.GetItemCount(); ++i)
        if (list.GetItemText(i).utf8_string() == name) return i;
    return -1;
}

inline std::filesystem::path scratch(const char* name) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    auto p = std::filesystem::path(tmp ? tmp : "/tmp/") / name;
    std::filesystem::remove_all(p);
    return p;
}

} // namespace tn_test
