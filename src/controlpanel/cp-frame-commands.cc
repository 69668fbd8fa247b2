// The main window's own commands: users and security, the manuals, starting and stopping a
// crawl, the crawl-log window, jumping between linked tree items, creating and deleting
// sources, archives, collections and watches, "Add to ->", the plug-in pipeline dialog and
// the trees' context menu.
#include "controlpanel/cp-frame.h"

#include "client/string-conv.h"
#include "cpdialogs/cp-services.h"
#include "cpdialogs/crawl-log-frame.h"
#include "cpdialogs/new-archive-dialog.h"
#include "cpdialogs/plugins-dialog.h"
#include "cpdialogs/security-dialog.h"
#include "cpdialogs/text-dialog.h"
#include "cpmodel/frame-commands-model.h"
#include "cpmodel/frame-ids.h"

#include <wx/choice.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/stdpaths.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <functional>

namespace lumbrake {

namespace {

std::string connection_user() {
    cp_services* services = get_cp_services();
    return services != nullptr ? services->GetUserName() : std::string("Anonymous");
}

void report(const EasySoap::SOAPException& e, wxWindow* parent) {
    if (cp_services* services = get_cp_services()) services->ReportSoapError(e, parent);
}

void post_refresh(wxEvtHandler* frame) {
    wxCommandEvent refresh(wxEVT_MENU, ID_REFRESH);
    wxPostEvent(frame, refresh);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Frame commands

void WXControlPanelFrame::OnUsersAndSecurity(wxCommandEvent&) {
    {
        WXUserGroupDialog dialog(this);
        dialog.ShowModal();
    }
    // Users, groups and root access lists may have changed what this user can see and do.
    post_refresh(this);
}

void WXControlPanelFrame::OnManual(wxCommandEvent& event) {
    const char* file = manual_file(event.GetId());
    if (file == nullptr) return;
    const wxFileName program(wxStandardPaths::Get().GetExecutablePath());
    const std::vector<std::string> candidates =
        manual_candidates(program.GetPath().utf8_string(), file);
    cp_services* services = get_cp_services();
    for (const std::string& candidate : candidates) {
        wxFileName path(wxString::FromUTF8(candidate));
        if (!path.FileExists()) continue;
        path.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_ABSOLUTE);
        if (services != nullptr)
            services->OpenURL(wxFileName::FileNameToURL(path).utf8_string());
        return;
    }
    wxString places;
    for (const std::string& candidate : candidates)
        places += "\n" + wxString::FromUTF8(candidate);
    if (services != nullptr)
        services->ShowError(
            wxString::Format(_("The manual page %s is not installed. It was looked for in:%s"),
                             wxString::FromUTF8(file), places),
            this);
}

void WXControlPanelFrame::ChangeCrawl(bool start) {
    WXCPTreeItemData* d = SelectedData(1, cp_kind::archive);
    if (d == nullptr) return;
    if (!EnsureProxy()) return;
    const int id = d->archive->Archive;
    wxBusyCursor busy;
    try {
        ArchiveInfo answer;
        if (start)
            proxy->StartCrawl(id, answer);
        else
            proxy->StopCrawl(id, answer);
        if (replace_archive(archives, answer)) {
            modified[1] = true;
            RefreshTrees();
        }
    } catch (const EasySoap::SOAPException& e) {
        report(e, this);
    }
}

void WXControlPanelFrame::OnStartGathering(wxCommandEvent&) {
    ChangeCrawl(true);
}

void WXControlPanelFrame::OnStopGathering(wxCommandEvent&) {
    ChangeCrawl(false);
}

void WXControlPanelFrame::OnLogs(wxCommandEvent&) {
    WXCPTreeItemData* d = SelectedData(1, cp_kind::archive);
    if (d == nullptr) return;
    // Not modal and not kept: each window lives on by itself.
    auto* logs = new WXLogsFrame(this, *d->archive);
    logs->Show();
}

// ---------------------------------------------------------------------------------------
// Trees

void WXControlPanelFrame::OnTreeSelChanging(wxTreeEvent& event) {
    const int index = event.GetId() - ID_SOURCES_TREE;
    if (index < 0 || index > 3) return;
    wxTreeCtrl* tree = trees_[index];
    const wxTreeItemId item = event.GetItem();
    if (!item.IsOk() || item == tree->GetRootItem()) return;
    const wxTreeItemId parent = tree->GetItemParent(item);
    if (!parent.IsOk() || parent == tree->GetRootItem()) return;
    auto* d = dynamic_cast<WXCPTreeItemData*>(tree->GetItemData(item));
    const cp_kind kind = linked_kind(index);
    if (d == nullptr || d->kind() != kind) return;
    // A link item stands for an object of another tree: go there instead of selecting it.
    event.Veto();
    filterText->ChangeValue("");
    treesNotebook->SetSelection(tree_page_of(kind));
    SetPending(kind, d->id());
    // The rebuild may replace items of the tree that is still handling this event.
    CallAfter([this] { RefreshTrees(); });
}

void WXControlPanelFrame::OnTreeContextMenu(wxContextMenuEvent&) {
    contextMenuIds.clear();
    wxUpdateUIEvent sync(0);
    OnSyncPages(sync);
    wxPoint pointer;
    wxWindow* under = wxFindWindowAtPointer(pointer);
    int index = -1;
    for (wxWindow* w = under; w != nullptr && w != this && index < 0; w = w->GetParent())
        for (int i = 0; i < 4; ++i)
            if (w == trees_[i]) index = i;
    if (index < 0) return;
    static const struct {
        int id;
        const char* text;
    } items[4][2] = {
        {{ID_NEW_SOURCE, "New &Source"}, {ID_DELETE_SOURCE, "Delete S&ource..."}},
        {{ID_NEW_ARCHIVE, "New &Archive"}, {ID_DELETE_ARCHIVE, "Delete A&rchive..."}},
        {{ID_NEW_COLLECTION, "New &Collection"}, {ID_DELETE_COLLECTION, "Delete Co&llection..."}},
        {{ID_NEW_WATCH, "New &Watch"}, {ID_DELETE_WATCH, "Delete W&atch..."}},
    };
    wxMenu menu;
    for (const auto& item : items[index]) {
        menu.Append(item.id, wxGetTranslation(item.text));
        contextMenuIds.push_back(item.id);
    }
    PopupMenu(&menu, ScreenToClient(pointer));
}

// ---------------------------------------------------------------------------------------
// Creating

bool WXControlPanelFrame::EnsureProxy() {
    if (!proxy) RecreateProxy();
    return proxy != nullptr;
}

void WXControlPanelFrame::ApplyPending() {
    if (!modified[0]) return;
    wxCommandEvent apply(wxEVT_BUTTON, ID_APPLY);
    OnApply(apply);
}

void WXControlPanelFrame::ShowNewObject(cp_kind kind) {
    RefreshTrees();
    // The new object's name is typed over "(new)" on its Info page.
    kind_notebook(kind)->SetSelection(kind == cp_kind::source ? 0 : 1);
    name_field(kind)->SetFocus();
}

void WXControlPanelFrame::SetPending(cp_kind kind, int id) {
    switch (kind) {
    case cp_kind::source:
        pending.source = id;
        break;
    case cp_kind::archive:
        pending.archive = id;
        break;
    case cp_kind::collection:
        pending.collection = id;
        break;
    case cp_kind::watch:
        pending.watch = id;
        break;
    default:
        break;
    }
}

void WXControlPanelFrame::CreateObject(cp_kind kind,
                                       const std::function<int(SoapClientProxy&)>& add) {
    pending = {};
    if (!EnsureProxy()) return;
    wxBusyCursor busy;
    try {
        const int id = add(*proxy);
        if (id > 0) {
            SetPending(kind, id);
            treesNotebook->SetSelection(tree_page_of(kind));
        }
    } catch (const EasySoap::SOAPException& e) {
        report(e, this);
        return;
    }
    ShowNewObject(kind);
}

void WXControlPanelFrame::OnNewSource(wxCommandEvent&) {
    ApplyPending();
    const SourceConfiguration cfg = new_source_record(connection_user(), wx_to_utf8(_("(new)")));
    CreateObject(cp_kind::source, [&](SoapClientProxy& p) {
        SourceInfo answer;
        p.AddSource(cfg, answer);
        if (answer.Source > 0) sources.push_back(answer);
        return answer.Source;
    });
}

void WXControlPanelFrame::OnNewArchive(wxCommandEvent&) {
    ApplyPending();
    WXCPTreeItemData* d = SelectedData(0, cp_kind::source);
    if (d == nullptr) return;
    const SourceInfo source = *d->source;
    bool historicize = false;
    if (canHistoricize) {
        WXHistoricizeDialog dialog(this);
        if (dialog.ShowModal() != wxID_OK) return;
        historicize = dialog.historicize;
    }
    if (!EnsureProxy()) return;
    const std::string user = connection_user();
    int auth = 0;
    if (needs_auth_record(source)) {
        wxBusyCursor busy;
        try {
            proxy->AddAuth(new_auth_record(user), auth);
        } catch (const EasySoap::SOAPException& e) {
            report(e, this);
            return;
        }
    }
    // The authentication record was made for this archive alone: when the archive is not
    // made, it goes again, and the archive's failure is the one shown.
    auto drop_auth = [&](SoapClientProxy& p) {
        if (auth <= 0) return;
        try {
            p.RemoveAuth(auth);
        } catch (const EasySoap::SOAPException&) {
        }
    };
    CreateObject(cp_kind::archive, [&](SoapClientProxy& p) {
        ArchiveInfo answer;
        try {
            p.AddArchive(new_archive_record(source, historicize, auth, user), answer);
        } catch (const EasySoap::SOAPException&) {
            drop_auth(p);
            throw;
        }
        if (answer.Archive > 0)
            archives.push_back(answer);
        else
            drop_auth(p);
        return answer.Archive;
    });
}

void WXControlPanelFrame::OnNewCollection(wxCommandEvent&) {
    ApplyPending();
    const CollectionConfiguration cfg =
        new_collection_record(connection_user(), wx_to_utf8(_("(new)")), {});
    CreateObject(cp_kind::collection, [&](SoapClientProxy& p) {
        CollectionInfo answer;
        p.AddCollection(cfg, answer);
        if (answer.Collection > 0) collections.push_back(answer);
        return answer.Collection;
    });
}

void WXControlPanelFrame::OnNewWatch(wxCommandEvent&) {
    ApplyPending();
    WXCPTreeItemData* d = SelectedData(2, cp_kind::collection);
    if (d == nullptr) return;
    const int collection = d->collection->Collection;
    if (collection < 1 && collection != -1) return;
    const WatchConfiguration cfg =
        new_watch_record(connection_user(), wx_to_utf8(_("(new)")), collection);
    CreateObject(cp_kind::watch, [&](SoapClientProxy& p) {
        WatchInfo answer;
        p.AddWatch(cfg, answer);
        if (answer.Watch > 0) watches.push_back(answer);
        return answer.Watch;
    });
}

void WXControlPanelFrame::OnAddToCollection(wxCommandEvent&) {
    WXCPTreeItemData* d = SelectedData(1, cp_kind::archive);
    if (d == nullptr) return;
    const int archive = d->archive->Archive;
    const int chosen = addToCollection->GetSelection();
    if (chosen == wxNOT_FOUND) return;
    const auto choice_id =
        static_cast<std::int32_t>(reinterpret_cast<wxIntPtr>(addToCollection->GetClientData(chosen)));
    std::string name;
    if (choice_id < 1) {
        WXTextDialog dialog(this, _("Name:"), _("New collection"));
        if (dialog.ShowModal() != wxID_OK) return;
        name = wx_to_utf8(dialog.text);
    }
    const add_to_collection_plan plan =
        plan_add_to_collection(archive, choice_id, collections, connection_user(), name);
    if (plan.action == add_to_collection_plan::nothing) return;
    if (!EnsureProxy()) return;
    wxBusyCursor busy;
    try {
        CollectionInfo answer;
        if (plan.action == add_to_collection_plan::create) {
            proxy->AddCollection(plan.configuration, answer);
            if (answer.Collection > 0) collections.push_back(answer);
        } else {
            proxy->SetCollectionConfiguration(plan.id, plan.configuration, plan.magic, answer);
            if (answer.Collection >= 1)
                for (CollectionInfo& c : collections)
                    if (c.Collection == answer.Collection) c = answer;
        }
    } catch (const EasySoap::SOAPException& e) {
        report(e, this);
        return;
    }
    // The choice offers only collections without this archive: it is filled again.
    modified[1] = true;
    RefreshTrees();
}

void WXControlPanelFrame::OnPlugins(wxCommandEvent&) {
    {
        WXPluginDialog dialog(this);
        dialog.ShowModal();
    }
    post_refresh(this);
}

// ---------------------------------------------------------------------------------------
// Deleting

bool WXControlPanelFrame::ConfirmDelete(const wxString& question) {
    return wxMessageBox(question, _("Confirm delete"), wxYES_NO | wxICON_QUESTION, this) == wxYES;
}

void WXControlPanelFrame::ForgetShown(cp_kind kind, int id) {
    // A deleted record on show must not be applied when the selection moves on.
    bool shown = false;
    switch (kind) {
    case cp_kind::source:
        shown = currentSource.Source == id;
        if (shown) currentSource.Source = 0;
        break;
    case cp_kind::archive:
        shown = currentArchive.Archive == id;
        if (shown) currentArchive.Archive = 0;
        break;
    case cp_kind::collection:
        shown = currentCollection.Collection == id;
        if (shown) currentCollection.Collection = 0;
        break;
    case cp_kind::watch:
        shown = currentWatch.Watch == id;
        if (shown) currentWatch.Watch = 0;
        break;
    default:
        break;
    }
    if (shown) modified[0] = false;
}

bool WXControlPanelFrame::RemoveObject(cp_kind kind, int id,
                                       const std::function<void(SoapClientProxy&)>& remove) {
    if (!EnsureProxy()) return false;
    wxBusyCursor busy;
    try {
        remove(*proxy);
    } catch (const EasySoap::SOAPException& e) {
        report(e, this);
        return false;
    }
    switch (kind) {
    case cp_kind::source:
        remove_by_id(sources, id);
        break;
    case cp_kind::archive:
        remove_by_id(archives, id);
        break;
    case cp_kind::collection:
        remove_by_id(collections, id);
        break;
    case cp_kind::watch:
        remove_by_id(watches, id);
        break;
    default:
        break;
    }
    ForgetShown(kind, id);
    return true;
}

void WXControlPanelFrame::OnDeleteSource(wxCommandEvent&) {
    WXCPTreeItemData* d = SelectedData(0, cp_kind::source);
    if (d == nullptr) return;
    const int id = d->source->Source;
    if (source_in_use(id, archives)) {
        wxMessageBox(_("You cannot remove a source that is currently used by an archive"),
                     _("Source in use"), wxOK | wxICON_ERROR, this);
        return;
    }
    if (!ConfirmDelete(_("Are you sure you want to delete this source?"))) return;
    if (RemoveObject(cp_kind::source, id, [id](SoapClientProxy& p) { p.RemoveSource(id); }))
        RefreshTrees();
}

void WXControlPanelFrame::OnDeleteArchive(wxCommandEvent&) {
    WXCPTreeItemData* d = SelectedData(1, cp_kind::archive);
    if (d == nullptr) return;
    const int id = d->archive->Archive;
    const int auth = d->archive->Configuration.Auth;
    if (!ConfirmDelete(_("Are you sure you want to delete this archive?"))) return;
    if (!RemoveObject(cp_kind::archive, id, [id](SoapClientProxy& p) { p.RemoveArchive(id); }))
        return;
    if (auth >= 1) {
        wxBusyCursor busy;
        try {
            proxy->RemoveAuth(auth);
        } catch (const EasySoap::SOAPException& e) {
            // The archive itself is gone: the list follows it all the same.
            report(e, this);
        }
    }
    RefreshTrees();
}

void WXControlPanelFrame::OnDeleteCollection(wxCommandEvent&) {
    WXCPTreeItemData* d = SelectedData(2, cp_kind::collection);
    if (d == nullptr) return;
    const int id = d->collection->Collection;
    if (id < 1) return; // the built-in "<All archives>" is not the daemon's
    if (collection_in_use(id, watches)) {
        wxMessageBox(_("You cannot remove a collection that is currently used by a watch"),
                     _("Collection in use"), wxOK | wxICON_ERROR, this);
        return;
    }
    if (!ConfirmDelete(_("Are you sure you want to delete this collection?"))) return;
    if (RemoveObject(cp_kind::collection, id,
                     [id](SoapClientProxy& p) { p.RemoveCollection(id); }))
        RefreshTrees();
}

void WXControlPanelFrame::OnDeleteWatch(wxCommandEvent&) {
    WXCPTreeItemData* d = SelectedData(3, cp_kind::watch);
    if (d == nullptr) return;
    const int id = d->watch->Watch;
    if (!ConfirmDelete(_("Are you sure you want to delete this watch?"))) return;
    if (RemoveObject(cp_kind::watch, id, [id](SoapClientProxy& p) { p.RemoveWatch(id); }))
        RefreshTrees();
}

} // namespace lumbrake
