// One source and one archive over a running daemon's SOAP interface, and the crawl started:
// what the live-daemon tests crawl. Needs tn_soapclient.
#pragma once

#include "client/soap-client-proxy.h"

#include <string>

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

} // namespace tn_test
