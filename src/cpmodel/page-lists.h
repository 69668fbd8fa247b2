// The list editing of the main window's pages as plain values: the meaning and range of the
// schedule's "When:" value per frequency, the rows of a collection's archives after a choice,
// the enabled state of a plug-in pipeline row, and the credentials record a new archive
// authentication starts from.
#pragma once

#include "api/auth.h"
#include "api/info-records.h"
#include "cpmodel/apply-model.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumbrake {

// The "When:" value of a schedule frequency (0 hourly, 1 daily, 2 weekly, 3 monthly): the
// label beside the choice (untranslated) and the spin range.
struct schedule_every_rule {
    const char* label = "";
    int min = 0;
    int max = 2147483647;
};
// False for a selection outside 0..3 (`rule` untouched).
bool schedule_every_rule_of(int frequency, schedule_every_rule& rule);

// The value after the user picked `frequency`: hourly and daily below 1 become 1; weekly
// below 0 or above 6 becomes 0; monthly below 1 or above 28 becomes 1.
int correct_schedule_every(int frequency, int value);

// The spin range while a stored record fills the page: the frequency's range widened to hold
// the stored value, so that an Apply of the unchanged page sends that value back.
schedule_every_rule schedule_every_fill_rule(int frequency, int stored);

// Rows of the collection's archives list for the ids a choice returned, in that order: the
// archive's Name and its source's Description, each empty when not found.
std::vector<collection_page::archive_row>
collection_archive_rows(const std::vector<std::int32_t>& ids,
                        const std::vector<ArchiveInfo>& archives,
                        const std::vector<SourceInfo>& sources);

// The ids no row shows, less those the choice now shows as rows: Apply sends each id once.
std::vector<std::int32_t> still_hidden_archives(const std::vector<std::int32_t>& hidden,
                                                const std::vector<std::int32_t>& chosen);

// A pipeline row's item data: the document filter id, positive when enabled.
inline long pipeline_row_data(long data, bool enabled) {
    const long id = data < 0 ? -data : data;
    return enabled ? id : -id;
}
// The document filter a pipeline row names; null when the listing does not hold it.
const DocFilterInfo* pipeline_row_filter(const std::vector<DocFilterInfo>& filters, long data);

// The record an archive without credentials starts from: no user name, password or
// parameter values; read, then write access allowed to `user`.
AuthConfiguration new_archive_auth(const std::string& user);

// The source an archive is built on; null when the list does not hold it.
const SourceInfo* source_of(const std::vector<SourceInfo>& sources, std::int32_t id);

} // namespace lumbrake
