// One poll of the control panel's updater thread, without the toolkit: the daemon's lists,
// capabilities and status warning fetched through a client proxy (the real SoapClientProxy,
// or a test double with the same operations), and how a poll's outcome replaces the results
// the frame takes.
#pragma once

#include "api/info-records.h"
#include "soap/soap.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace lumbrake {

inline constexpr const char* CLIENT_VERSION = "2.0.2.1010";

// Dotted versions compared piece by piece (atoi semantics; a missing piece ends the test).
bool is_client_version_supported(const std::string& minimum,
                                 const std::string& own = CLIENT_VERSION);

// What the frame takes from the thread.
struct updater_results {
    std::vector<SourceInfo> sources;
    std::vector<ArchiveInfo> archives;
    std::vector<CollectionInfo> collections;
    std::vector<WatchInfo> watches;
    std::vector<DocFilterInfo> doc_filters;
    std::vector<std::string> principals;
    bool historicize = false, admin = false, browsing_write = false, crawling_write = false;
    std::string message;
};

enum class poll_outcome { complete, upgrade_needed, failed };

struct poll_result {
    poll_outcome outcome = poll_outcome::complete;
    bool warning = false;
    updater_results results; // complete: everything; failed: the message only
};

// Translated texts a poll needs (the caller's translation function has been applied).
struct poll_texts {
    std::string all_archives_name = "<All archives>";
    std::string all_archives_description =
        "Builtin collection that contains all the readable archives";
    std::string upgrade = "You must upgrade this program to the latest version in order to "
                          "connect to this server";
    std::string crawl_stopped = "Gathering is stopped due to global gathering control\n"
                                "See CRAWLSTART and CRAWLSTOP settings in lumbrake.cfg";
    std::string low_disk = "Gathering is stopped due to low disk space\n"
                           "See MINFREEDISK setting in lumbrake.cfg";
    // The display text of a failure: a SOAP exception's or another exception's what().
    std::function<std::string(const std::string& what)> error_text = [](const std::string& w) {
        return w;
    };
};

CollectionInfo all_archives_collection(const poll_texts& texts);

// Replaces the shared results by a poll's: a complete poll replaces all; a refused version
// keeps the lists and sets the message; a failure empties the lists but the document
// filters, clears the capabilities and sets the message. Returns the error flag.
bool publish_poll(updater_results& shared, poll_result&& poll);

// One poll. Every exception of a call is caught and makes the poll a failure, so the thread
// always finishes with a result.
template <class Proxy>
poll_result run_poll(Proxy& proxy, std::atomic<int>& progress, const poll_texts& texts) {
    poll_result r;
    progress = 0;
    try {
        std::string minimum;
        proxy.GetMinClientVersion(minimum);
        if (!is_client_version_supported(minimum)) {
            r.outcome = poll_outcome::upgrade_needed;
            r.results.message = texts.upgrade;
            return r;
        }
        progress = 10;
        api_status_code status{};
        std::vector<ExtendedStatus> rows;
        proxy.GetStatus(status, rows);
        if (status == CRAWLSTOPPED) r.results.message = texts.crawl_stopped;
        if (status == LOWDISKSPACE) r.results.message = texts.low_disk;
        r.warning = status == CRAWLSTOPPED || status == LOWDISKSPACE;
        progress = 21;
        proxy.EnumSourceConfigurations(r.results.sources);
        progress = 32;
        proxy.EnumArchiveConfigurations(r.results.archives);
        progress = 43;
        proxy.EnumCollectionConfigurations(r.results.collections);
        r.results.collections.push_back(all_archives_collection(texts));
        progress = 54;
        proxy.EnumWatchConfigurations(r.results.watches);
        progress = 65;
        proxy.EnumDocFilters({ARCHIVEFFF_PLUGINTYPE}, false, r.results.doc_filters);
        progress = 76;
        std::vector<std::string> users, builtin_users, groups, builtin_groups;
        proxy.EnumUsersAndGroups(users, builtin_users, groups, builtin_groups);
        auto& names = r.results.principals;
        for (auto* list : {&users, &builtin_users, &groups, &builtin_groups})
            names.insert(names.end(), list->begin(), list->end());
        std::sort(names.begin(), names.end());
        progress = 87;
        proxy.GetCapabilities(r.results.historicize, r.results.admin, r.results.browsing_write,
                              r.results.crawling_write);
        progress = 99;
    } catch (const std::exception& e) {
        r = poll_result{};
        r.outcome = poll_outcome::failed;
        r.results.message = texts.error_text(e.what());
    } catch (...) {
        r = poll_result{};
        r.outcome = poll_outcome::failed;
        r.results.message = texts.error_text("unknown failure");
    }
    return r;
}

} // namespace lumbrake
