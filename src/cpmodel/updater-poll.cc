#include "cpmodel/updater-poll.h"

#include <cstdlib>

namespace lumbrake {

namespace {

std::vector<int> pieces(const std::string& version) {
    std::vector<int> out;
    std::size_t at = 0;
    while (true) {
        const std::size_t dot = version.find('.', at);
        out.push_back(std::atoi(version.substr(at, dot - at).c_str()));
        if (dot == std::string::npos) break;
        at = dot + 1;
    }
    return out;
}

} // namespace

bool is_client_version_supported(const std::string& minimum, const std::string& own) {
    const std::vector<int> server = pieces(minimum), client = pieces(own);
    for (std::size_t i = 0; i < server.size() && i < client.size(); ++i) {
        if (server[i] > client[i]) return false;
        if (server[i] < client[i]) return true;
    }
    return true;
}

CollectionInfo all_archives_collection(const poll_texts& texts) {
    CollectionInfo c;
    c.Collection = -1;
    c.Configuration.Name = texts.all_archives_name;
    c.Configuration.Description = texts.all_archives_description;
    c.Magic = 0;
    c.ReadOnly = true;
    return c;
}

bool publish_poll(updater_results& shared, poll_result&& poll) {
    switch (poll.outcome) {
    case poll_outcome::complete:
        shared = std::move(poll.results);
        return false;
    case poll_outcome::upgrade_needed:
        shared.message = poll.results.message;
        return true;
    case poll_outcome::failed:
        shared.sources.clear();
        shared.archives.clear();
        shared.collections.clear();
        shared.watches.clear();
        shared.principals.clear();
        shared.historicize = shared.admin = shared.browsing_write = shared.crawling_write = false;
        shared.message = poll.results.message;
        return true;
    }
    return true;
}

} // namespace lumbrake
