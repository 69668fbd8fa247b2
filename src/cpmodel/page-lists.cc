#include "cpmodel/page-lists.h"

#include <algorithm>

namespace lumbrake {

bool schedule_every_rule_of(int frequency, schedule_every_rule& rule) {
    switch (frequency) {
    case 0:
        rule = {"Every N hours", 1, 23};
        return true;
    case 1:
        rule = {"Every N days", 1, 6};
        return true;
    case 2:
        rule = {"Day of week (0=Sunday, 1=Monday, etc.)", 0, 6};
        return true;
    case 3:
        rule = {"Day of month", 1, 28};
        return true;
    default:
        return false;
    }
}

int correct_schedule_every(int frequency, int value) {
    switch (frequency) {
    case 0:
    case 1:
        return value < 1 ? 1 : value;
    case 2:
        return value < 0 || value > 6 ? 0 : value;
    case 3:
        return value < 1 || value > 28 ? 1 : value;
    default:
        return value;
    }
}

schedule_every_rule schedule_every_fill_rule(int frequency, int stored) {
    schedule_every_rule rule;
    if (!schedule_every_rule_of(frequency, rule)) return rule;
    rule.min = std::min(rule.min, stored);
    rule.max = std::max(rule.max, stored);
    return rule;
}

std::vector<collection_page::archive_row>
collection_archive_rows(const std::vector<std::int32_t>& ids,
                        const std::vector<ArchiveInfo>& archives,
                        const std::vector<SourceInfo>& sources) {
    std::vector<collection_page::archive_row> rows;
    for (std::int32_t id : ids) {
        collection_page::archive_row row;
        row.id = id;
        const auto a = std::find_if(archives.begin(), archives.end(),
                                    [id](const ArchiveInfo& x) { return x.Archive == id; });
        if (a != archives.end()) {
            row.name = a->Configuration.Name;
            if (const SourceInfo* s = source_of(sources, a->Configuration.Source))
                row.source_description = s->Configuration.Description;
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::int32_t> still_hidden_archives(const std::vector<std::int32_t>& hidden,
                                                const std::vector<std::int32_t>& chosen) {
    std::vector<std::int32_t> out;
    for (std::int32_t id : hidden)
        if (std::find(chosen.begin(), chosen.end(), id) == chosen.end()) out.push_back(id);
    return out;
}

const DocFilterInfo* pipeline_row_filter(const std::vector<DocFilterInfo>& filters, long data) {
    const long id = data < 0 ? -data : data;
    for (const DocFilterInfo& f : filters)
        if (f.DocFilterID == id) return &f;
    return nullptr;
}

AuthConfiguration new_archive_auth(const std::string& user) {
    AuthConfiguration auth;
    auth.ACL = {{user, READACCESS, false}, {user, WRITEACCESS, false}};
    return auth;
}

const SourceInfo* source_of(const std::vector<SourceInfo>& sources, std::int32_t id) {
    for (const SourceInfo& s : sources)
        if (s.Source == id) return &s;
    return nullptr;
}

} // namespace lumbrake
