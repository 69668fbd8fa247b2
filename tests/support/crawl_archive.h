// One source and one archive over a running daemon's SOAP interface, the crawl started, and a
// search: what the live-daemon tests crawl and look for. Needs tn_soapclient.
#pragma once

#include "client/soap-client-proxy.h"

#include <string>
#include <vector>

namespace tn_test {

// A source (the seed, file:// URLs included, robots.txt not consulted) and an archive of it,
// both named `name`; starts the crawl and answers the archive id.
inline int start_file_crawl(lumbrake::SoapClientProxy& proxy, const std::string& name,
                            const std::string& seed) {
    lumbrake::SourceConfiguration src;
    src.Name = name;
    src.Seeds = {seed};
    src.IncludeFilters = {"^file://"};
    src.CheckRobotsTxt = false;
    lumbrake::SourceInfo sinfo;
    proxy.AddSource(src, sinfo);
    lumbrake::ArchiveConfiguration arc;
    arc.Name = name;
    arc.Source = sinfo.Source;
    lumbrake::ArchiveInfo ainfo;
    proxy.AddArchive(arc, ainfo);
    proxy.StartCrawl(ainfo.Archive, ainfo);
    return ainfo.Archive;
}

// The number of hits of a one-word search in one archive.
inline int word_hits(lumbrake::SoapClientProxy& proxy, int arcid, const std::string& word) {
    lumbrake::QuerySpec q;
    q.Archives = {arcid};
    q.Info = lumbrake::INFO_URL;
    q.Query = {lumbrake::QueryAtom{}};
    q.Query[0].Type = lumbrake::ATOM_WORD;
    q.Query[0].Param = word;
    std::vector<lumbrake::QueryResult> results;
    int count = 0;
    proxy.Query(q, results, count);
    return count;
}

} // namespace tn_test
