// Fetches "file" URLs: a regular file becomes the content, a directory a listing.
#pragma once

#include "fetchers/fetcher-base.h"

namespace lumbrake {

class fs_fetcher : public fetcher_base {
public:
    using fetcher_base::fetcher_base;

    // Reads the base score, the url and the side-metadata flag; ignores the rest.
    void fetch(const fetch_request& request, fetch_result& result) override;
};

// Reads at most limit bytes of a regular file. Anything else (a directory, a FIFO, a device, a
// file that cannot be opened or read) gives false; nothing ever blocks on a special file.
// truncated tells whether the file held more than the limit; mtime is its modification time.
bool read_regular_file(const std::string& path, std::uint32_t limit, std::string& content,
                       bool& truncated, std::int64_t& mtime);

} // namespace lumbrake
