#include "cpmodel/plugins-model.h"

#include <algorithm>

namespace lumbrake {

void plugin_pipe_model::load(const std::vector<std::int32_t>& pipe,
                             const std::vector<DocFilterInfo>& filters) {
    rows_.clear();
    hidden_.clear();
    auto find = [&](std::int32_t id) {
        return std::find_if(filters.begin(), filters.end(),
                            [id](const DocFilterInfo& f) { return f.DocFilterID == id; });
    };
    for (std::size_t i = 0; i < pipe.size(); ++i) {
        auto f = find(pipe[i]);
        if (f == filters.end()) {
            hidden_.emplace_back(i, pipe[i]);
            continue;
        }
        rows_.push_back({f->DocFilterID, true, f->DocFilterConfiguration.Name,
                         f->DocFilterConfiguration.Description});
    }
    for (const auto& f : filters)
        if (std::find(pipe.begin(), pipe.end(), f.DocFilterID) == pipe.end())
            rows_.push_back({f.DocFilterID, false, f.DocFilterConfiguration.Name,
                             f.DocFilterConfiguration.Description});
}

void plugin_pipe_model::move_up(std::size_t row) {
    if (can_move_up(row)) std::swap(rows_[row], rows_[row - 1]);
}

void plugin_pipe_model::move_down(std::size_t row) {
    if (can_move_down(row)) std::swap(rows_[row], rows_[row + 1]);
}

void plugin_pipe_model::set_enabled(std::size_t row, bool enabled) {
    if (row < rows_.size()) rows_[row].enabled = enabled;
}

std::vector<std::int32_t> plugin_pipe_model::pipe() const {
    std::vector<std::int32_t> ids;
    for (const auto& r : rows_)
        if (r.enabled) ids.push_back(r.id);
    for (const auto& [pos, id] : hidden_)
        ids.insert(ids.begin() + static_cast<std::ptrdiff_t>(std::min(pos, ids.size())), id);
    return ids;
}

} // namespace lumbrake
