// The plug-ins dialog's list of document filters and the root renderer pipe it edits: enabled
// filters in pipe order, then the others in listing order; OK sends the enabled ones top to
// bottom. Pipe ids the listing did not return (another kind of filter, a filter whose library
// is missing) cannot be shown, and are kept where they stood rather than dropped.
#pragma once

#include "api/info-records.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lumbrake {

struct plugin_row {
    std::int32_t id = 0;
    bool enabled = false;
    std::string name;
    std::string description;
    bool operator==(const plugin_row&) const = default;
};

class plugin_pipe_model {
public:
    void load(const std::vector<std::int32_t>& pipe, const std::vector<DocFilterInfo>& filters);

    const std::vector<plugin_row>& rows() const { return rows_; }
    bool can_move_up(std::size_t row) const { return row > 0 && row < rows_.size(); }
    bool can_move_down(std::size_t row) const { return row + 1 < rows_.size(); }
    void move_up(std::size_t row);
    void move_down(std::size_t row);
    void set_enabled(std::size_t row, bool enabled);

    // The pipe to send: the enabled rows top to bottom, with each hidden id put back at its
    // old position (or at the end when the pipe has become shorter).
    std::vector<std::int32_t> pipe() const;

private:
    std::vector<plugin_row> rows_;
    std::vector<std::pair<std::size_t, std::int32_t>> hidden_; // old position, id
};

} // namespace lumbrake
