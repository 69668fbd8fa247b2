// The archive record: a crawled and indexed set of documents (which source, which credentials,
// when to crawl, how much to keep), and its XML text form.
#pragma once

#include "api/api-types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumbrake {

enum Frequency : int { DISABLED = 0, HOURLY = 1, DAILY = 2, WEEKLY = 3, MONTHLY = 4 };
enum Cache : int { FULLCACHE = 0, CONTEXTCACHE = 1, NOCACHE = 2 };

struct ArchiveConfiguration {
    std::string Name;
    bool Historicize = false; // keep every version of a document, not only the last
    std::string AdministrativeContact;
    int32_t Source = 0; // id of the SourceConfiguration
    int32_t Auth = 0;   // id of the AuthConfiguration
    Frequency SchedulingFrequency = DISABLED;
    // Hours (hourly) or days (daily) between crawls, the weekday 0-6 (weekly) or the day of the
    // month 1-28 (monthly).
    int32_t SchedulingAttribute = 0;
    int32_t AccessTime = 0; // the UTC hour that anchors hourly and daily schedules
    int32_t PagesLimit = 0;
    int32_t GarbageLimit = 0;
    Cache DocumentCache = FULLCACHE;
    std::vector<AccessSpec> ACL;
    bool operator==(const ArchiveConfiguration&) const = default;
};

// The frequency's token ("disabled", "hourly", "daily", "weekly", "monthly"), or null for a
// value outside the enum.
const char* frequency_token(int frequency);
// Reads a token exactly. Any other text gives false and leaves `frequency` as it was; the
// readers then log "Unknown scheduling frequency <text>" and take DISABLED.
bool frequency_from_token(std::string_view token, Frequency& frequency);

// Writes the archive form. False, with `xml` empty and the reason in `error` (when given) and
// in the log, when a text member cannot be carried by XML or an enum member is out of range.
bool archive_to_xml(const ArchiveConfiguration& archive, std::string& xml,
                    std::string* error = nullptr);
// Resets the record and reads it; true when the text is well-formed XML.
bool archive_from_xml(const char* text, std::size_t length, ArchiveConfiguration& archive);

} // namespace lumbrake
