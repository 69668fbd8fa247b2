// The dispatching fetcher: chooses the fetcher of a URL's scheme.
#pragma once

#include "fetchers/fetcher-base.h"

#include <memory>

namespace lumbrake {

class fetcher : public fetcher_base {
public:
    fetcher(const config& cfg, std::uint32_t size_limit);
    ~fetcher() override;

    // Resets the result; a scheme without a fetcher gives FETCH_FAILED with no error text.
    void fetch(const fetch_request& request, fetch_result& result) override;

private:
    // http, https, ftp and the web-search schemes; news; file; gopher. A slot stays empty
    // until its fetcher exists, and its schemes are then answered like unknown ones.
    std::unique_ptr<fetcher_base> curl_;
    std::unique_ptr<fetcher_base> uwclient_;
    std::unique_ptr<fetcher_base> fs_;
    std::unique_ptr<fetcher_base> gopher_;
};

} // namespace lumbrake
