// The work behind the worker program millhand: answers each request of the daemon with its
// reply, keeping the plug-in and docfilter records the daemon has sent.
#pragma once

#include "millhand/millhand-serialize.h"

#include <cstdint>
#include <memory>
#include <set>

namespace lumbrake {

class config;
class worker;

class millhand_service {
public:
    // Builds the worker core (it loads the plug-in libraries). cfg must outlive the service.
    explicit millhand_service(const config& cfg);
    ~millhand_service();
    millhand_service(const millhand_service&) = delete;
    millhand_service& operator=(const millhand_service&) = delete;

    // Fills the reply to a request; false after QUIT (the reply is QUITTING and the program
    // ends). Never throws for a known id; an unknown id is not answered and gives false.
    bool answer(const millhand_wire::request& req, millhand_wire::reply& rep);

    // Keeps the records (a record replaces the one of its id) and brings the worker's
    // registered plug-ins and configured docfilters up to date with them.
    void update_records(const millhand_wire::plugin_map& plugins,
                        const millhand_wire::docfilter_map& docfilters);

    void process(const millhand_wire::process_request& req, millhand_wire::process_reply& rep);
    void reprocess(const millhand_wire::reprocess_request& req,
                   millhand_wire::reprocess_reply& rep);

    const millhand_wire::plugin_map& plugins() const { return plugins_; }
    const millhand_wire::docfilter_map& docfilters() const { return docfilters_; }

private:
    void rebuild_worker();
    void register_plugin(std::uint32_t id);
    void configure_docfilter(std::uint32_t id);

    const config& cfg_;
    std::unique_ptr<worker> worker_;
    millhand_wire::plugin_map plugins_;
    millhand_wire::docfilter_map docfilters_;
    // Ids handed to the current worker core: plug-ins whose registration was tried (a second
    // registration of an id needs a fresh core), docfilters that were configured.
    std::set<std::uint32_t> tried_plugins_;
    std::set<std::uint32_t> configured_docfilters_;
};

} // namespace lumbrake
