// "Select archives": chooses the archives of a collection from the archives the caller
// listed. A chosen archive shows in bold; OK hands back the chosen ids in tree order.
#pragma once

#include "cpmodel/archive-select-model.h"

#include <cstdint>
#include <string>
#include <vector>

#include <wx/dialog.h>
#include <wx/treectrl.h>

class wxUpdateUIEvent;

// The data of every tree item but the hidden root: an archive item holds a copy of its
// archive, a source item a copy of its source.
class WXSourceArchiveTreeItemData : public wxTreeItemData {
public:
    WXSourceArchiveTreeItemData(std::string name, const lumbrake::SourceInfo* source,
                                const lumbrake::ArchiveInfo* archive);
    ~WXSourceArchiveTreeItemData() override;

    std::string name;
    lumbrake::SourceInfo* source = nullptr;
    lumbrake::ArchiveInfo* archive = nullptr;
};

class WXArchiveDialog : public wxDialog {
public:
    WXArchiveDialog(wxWindow* parent, const std::vector<lumbrake::SourceInfo>& sources,
                    const std::vector<lumbrake::ArchiveInfo>& archives);

    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    // The chosen archive ids: set before the run, read after OK.
    std::vector<std::int32_t> archive_ids;

private:
    void OnUpdateAdd(wxUpdateUIEvent& event);
    void OnUpdateRemove(wxUpdateUIEvent& event);
    void OnAdd(wxCommandEvent& event);
    void OnRemove(wxCommandEvent& event);
    // The highlighted item when it is an archive item, else an invalid id.
    wxTreeItemId HighlightedArchive() const;

    wxTreeCtrl* tree_ = nullptr;
    std::vector<lumbrake::archive_tree_item> items_;
    std::vector<wxTreeItemId> item_ids_; // per entry of items_
    std::vector<std::int32_t> preset_;   // the ids as the last TransferDataToWindow found them
    wxDECLARE_EVENT_TABLE();
};
