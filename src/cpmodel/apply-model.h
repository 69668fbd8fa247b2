// The pages of the main window as plain values: how a record fills them, and how Apply turns
// them back into the record sent to the daemon. Fields no control shows travel unchanged.
#pragma once

#include "api/info-records.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lumbrake {

// One row of a list: its text and its item data.
struct list_row {
    std::string text;
    long data = 0;
    bool operator==(const list_row&) const = default;
};

using acl_rows = std::vector<std::pair<std::string, std::uint32_t>>;

// A duration in seconds as a spin number and a unit choice (0 hour(s), 1 day(s)).
struct duration_controls {
    bool checked = false;
    int number = 1;
    int unit = 0;
    bool operator==(const duration_controls&) const = default;
};
// At least a day: days; at least an hour: hours; otherwise 1 hour(s). Checked when above 0.
duration_controls duration_to_controls(std::int32_t seconds);
// Unchecked: 0. Checked: number x 3600 or x 86400; no unit selected: `stored`. Controls that
// still show what `stored` filled in give `stored` back, so a value the controls cannot
// express (90000 s, 600 s) survives an Apply of an unchanged page.
std::int32_t duration_from_controls(const duration_controls& c, std::int32_t stored);

struct source_page {
    std::string name, description;
    std::vector<std::string> seeds;
    std::vector<list_row> filters; // data 0 include, 1 exclude
    bool depth_check = false;
    int depth = 1;
    bool check_robots = false, side_metadata = false;
    std::string exclusion_begin, exclusion_end;
    int auth_type = -1;
    std::string cookie_url;
    int cookie_action = -1;
    duration_controls cookie_freshness;
    std::vector<CookieParam> cookie_params;
    std::vector<std::string> preurls;
    // Rows of the plug-in pipeline: names and ids, positive when enabled.
    std::vector<list_row> pipeline;
    // Pipeline ids that name no known document filter: no row shows them, Apply keeps them.
    std::vector<std::int32_t> hidden_pipeline;
    acl_rows acl;
};

struct archive_page {
    std::string name, contact;
    bool pages_limit_check = false;
    int pages_limit = 1;
    bool scheduled = false;
    int frequency = -1; // 0 hourly .. 3 monthly
    int every = 0, start = 0;
    duration_controls age_limit;
    int cache = -1;
    acl_rows acl;
};

struct collection_page {
    std::string name, description;
    // Rows of the archives list: archive name, its source's description, the archive id.
    struct archive_row {
        std::string name, source_description;
        std::int32_t id = 0;
    };
    std::vector<archive_row> archives;
    // Archive ids the frame's lists cannot name: no row shows them, Apply keeps them.
    std::vector<std::int32_t> hidden_archives;
    acl_rows acl;
};

struct watch_page {
    std::string name, description, filter;
    duration_controls freshness;
    acl_rows acl;
};

acl_rows acl_rows_from(const std::vector<AccessSpec>& acl);
// Later rows of one name replace earlier ones; names sorted, one entry per set bit.
std::vector<AccessSpec> acl_from_rows(const acl_rows& rows);

source_page source_page_from(const SourceConfiguration& cfg,
                             const std::vector<DocFilterInfo>& doc_filters);
archive_page archive_page_from(const ArchiveConfiguration& cfg);
collection_page collection_page_from(const CollectionConfiguration& cfg,
                                     const std::vector<ArchiveInfo>& archives,
                                     const std::vector<SourceInfo>& sources);
watch_page watch_page_from(const WatchConfiguration& cfg);

// The record Apply sends: `loaded` with every member a control feeds replaced.
SourceConfiguration source_from_page(const source_page& page, const SourceConfiguration& loaded);
ArchiveConfiguration archive_from_page(const archive_page& page,
                                       const ArchiveConfiguration& loaded);
CollectionConfiguration collection_from_page(const collection_page& page,
                                             const CollectionConfiguration& loaded);
WatchConfiguration watch_from_page(const watch_page& page, const WatchConfiguration& loaded);

// "^http://.*$" for the web-search seeds, else "^" + the escaped canonical URL of the seed's
// site root + ".*$".
std::string default_include_filter(const std::string& seed);
// Appends the default include filter of every seed the page's filters do not let through
// (unless the list already holds that text); true when one was added.
bool add_default_include_filters(source_page& page);

// Replaces every byte sequence that is not UTF-8 by U+FFFD, so text from the daemon that
// is not valid UTF-8 still shows (and is sent back) instead of turning empty.
std::string utf8_lenient(const std::string& text);

} // namespace lumbrake
