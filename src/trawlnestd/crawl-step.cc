// The crawl loop of a process thread: one URL per pass from the fetch queue through the
// worker into the document store, the index and the logs.
#include "trawlnestd/crawl-step.h"

#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "idxstorage/idxstorage.h"
#include "ipc/socket_ipc.h"
#include "logstorage/logstorage.h"
#include "robotschecker/robotschecker.h"
#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/cookie-cache.h"
#include "trawlnestd/process-thread.h"
#include "trawlnestd/urlfilter.h"
#include "util/config.h"
#include "util/log.h"
#include "util/md5.h"
#include "util/sqlite_txn.h"
#include "util/syslayer.h"
#include "util/uri.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>

namespace lumbrake {

// The most links of one page queued in one storage transaction.
constexpr std::size_t LINK_BATCH = 1000;

using millhand_wire::STATUS_BLOCKED;
using millhand_wire::STATUS_INDEX;
using millhand_wire::STATUS_INTERNAL;
using millhand_wire::STATUS_NONE;
using millhand_wire::STATUS_REDIRECT;
using millhand_wire::STATUS_UNCHANGED;
using millhand_wire::STATUS_UNKNOWN;

// ---- Shared rules ----

std::int64_t crawl_services::now() const {
    return clock ? clock() : static_cast<std::int64_t>(std::time(nullptr));
}

std::uint64_t crawl_services::free_bytes(const std::string& path) const {
    return free_space ? free_space(path) : disk_free_space(path);
}

std::uint64_t min_free_disk_from(bool present, const std::string& value) {
    if (!present) return default_min_free_disk;
    errno = 0;
    unsigned long long mb = std::strtoull(value.c_str(), nullptr, 10);
    constexpr std::uint64_t unit = 1048576ULL;
    if (errno == ERANGE || mb > std::numeric_limits<std::uint64_t>::max() / unit)
        return std::numeric_limits<std::uint64_t>::max() / unit * unit;
    return static_cast<std::uint64_t>(mb) * unit;
}

crawl_settings crawl_settings::read(const config& cfg) {
    crawl_settings s;
    std::string value;
    cfg.get("DATADIR", s.datadir);
    cfg.get("NOTIFYURL", s.notify_url);
    bool present = cfg.get("MINFREEDISK", value);
    s.min_free_disk = min_free_disk_from(present, value);
    if (cfg.get("CRAWLSTART", value)) s.crawl_start = std::atoi(value.c_str());
    if (cfg.get("CRAWLSTOP", value)) s.crawl_stop = std::atoi(value.c_str());
    if (cfg.get("NOTIFYTIMEOUT", value) && std::atoi(value.c_str()) > 0)
        s.notify_timeout = std::atoi(value.c_str());
    return s;
}

int utc_hour(std::int64_t seconds) {
    std::int64_t h = (seconds / 3600) % 24;
    return static_cast<int>(h < 0 ? h + 24 : h);
}

bool in_crawl_window(int hour, int start, int stop) {
    if (start < stop) return start <= hour && hour <= stop;
    return hour <= stop || hour >= start;
}

std::uint32_t base_score_of(std::uint32_t priority) {
    return priority >= 1000000u ? 0u : 1000000u - priority;
}

std::string document_id(const std::string& platform_id, std::uint32_t arcid, const std::string& url,
                        bool historicize, std::int64_t fetch_time) {
    std::string text = platform_id + "|" + std::to_string(arcid) + "|" + url;
    if (historicize) text += "|" + std::to_string(fetch_time);
    return md5_hex(text);
}

std::string cookies_from_headers(const std::string& headers) {
    std::string cookies;
    std::size_t pos = 0;
    while (pos < headers.size()) {
        std::size_t end = headers.find('\n', pos);
        if (end == std::string::npos) end = headers.size();
        std::string line = headers.substr(pos, end - pos);
        pos = end + 1;
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        // Header names are case-insensitive; blanks after the colon are optional.
        static const std::string name = "set-cookie:";
        if (line.size() < name.size() ||
            !std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
                return a == std::tolower(static_cast<unsigned char>(b));
            }))
            continue;
        std::size_t start = line.find_first_not_of(" \t", name.size());
        std::string value = start == std::string::npos ? std::string() : line.substr(start);
        value = value.substr(0, value.find(';'));
        if (value.empty()) continue;
        if (!cookies.empty()) cookies += "; ";
        cookies += value;
    }
    return cookies;
}

std::optional<std::string> format_notify_url(const std::string& format, std::uint32_t arcid) {
    constexpr std::size_t max_length = 4096;
    std::string out;
    bool converted = false;
    for (std::size_t i = 0; i < format.size();) {
        char c = format[i++];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i < format.size() && format[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // One integer conversion: flags, width, precision, length, conversion character.
        std::string conversion = "%";
        while (i < format.size() &&
               std::string_view("-+ #0").find(format[i]) != std::string_view::npos)
            conversion += format[i++];
        auto digits = [&](std::string& to) {
            std::size_t n = 0;
            while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
                to += format[i++];
                ++n;
            }
            return n;
        };
        if (digits(conversion) > 2) return std::nullopt;
        if (i < format.size() && format[i] == '.') {
            conversion += format[i++];
            if (digits(conversion) > 2) return std::nullopt;
        }
        while (i < format.size() &&
               std::string_view("hlLqjzt").find(format[i]) != std::string_view::npos)
            ++i;
        if (i >= format.size() || converted) return std::nullopt;
        char conv = format[i++];
        if (std::string_view("diouxX").find(conv) == std::string_view::npos) return std::nullopt;
        converted = true;
        conversion += "ll";
        conversion += conv;
        char buffer[256];
        int n = (conv == 'd' || conv == 'i')
                    ? std::snprintf(buffer, sizeof buffer, conversion.c_str(),
                                    static_cast<long long>(arcid))
                    : std::snprintf(buffer, sizeof buffer, conversion.c_str(),
                                    static_cast<unsigned long long>(arcid));
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof buffer) return std::nullopt;
        out.append(buffer, static_cast<std::size_t>(n));
        if (out.size() > max_length) return std::nullopt;
    }
    if (out.size() > max_length) return std::nullopt;
    return out;
}

namespace {
std::size_t discard_body(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}
} // namespace

bool send_notification(const std::string& url, int timeout_seconds, std::string& error) {
    // Several process threads may end crawls at once; libcurl's global set-up runs once.
    static std::once_flag curl_ready;
    std::call_once(curl_ready, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) {
        error = "cannot set up the transfer";
        return false;
    }
    char curl_error[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard_body);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    // An endpoint that accepts and never answers must not hold the crawl thread.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeout_seconds));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(timeout_seconds));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, curl_error);
    CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (rc == CURLE_OK) return true;
    error = *curl_error ? curl_error : curl_easy_strerror(rc);
    return false;
}

// ---- The loop ----

struct process_thread::queued {
    std::uint32_t arcid = 0;
    std::string url;
    std::uint32_t priority = 0;
    ArchiveConfiguration archive;
    SourceConfiguration source;
    std::string source_xml, auth_xml;
    millhand::docfilter_id_list pipeline;
    millhand::plugin_map plugins;
    millhand::docfilter_map docfilters;
    URI uri;
    // The archive's or the source's record did not read whole (logged when the pass runs).
    bool records_missing = false;
    // The site's stored robots rules, when they were found without a fetch.
    bool robots_known = false, robots_allowed = true, robots_compiled = true;
    // A carried pick whose transaction committed: the checks before it need no repeating.
    bool checked = false;
    // A stored document to process again ("guid:" URLs): its version and side values, read
    // with the pick.
    bool stored_found = false;
    stored_version stored;
    aux_values stored_aux;
};

void process_thread::queued_deleter::operator()(queued* q) const {
    delete q;
}

// The worker's answer, kept whole; reset to an empty one when the worker failed.
struct process_thread::worker_reply : millhand_wire::process_reply {
    using process_reply::operator=;
};

namespace {

std::string canonical_of(const std::string& url) {
    return URI(url, "http", true).canonical_string(true);
}

// Hosts that belong to the web-search engine itself: its own pages are not crawled.
bool engine_host(const std::string& scheme, const std::string& host) {
    auto ends_with_domain = [&host](std::string_view domain) {
        return host == domain || (host.size() > domain.size() && host.ends_with(domain) &&
                                  host[host.size() - domain.size() - 1] == '.');
    };
    if (scheme == "google") {
        bool numeric = !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos;
        return numeric || ends_with_domain("google.com");
    }
    for (std::string_view d : {"msn.com", "live.com", "bing.com", "microsoft.com"})
        if (ends_with_domain(d)) return true;
    return false;
}

// A link to queue, worked out before the storage lock: its queue key (canonical form and
// host) and its priority.
struct outlink {
    fetchqueue::key key;
    std::uint32_t priority;
};

// The page's links without the page itself, in their order.
template <typename Priority>
std::vector<outlink> outlinks_of(const std::vector<FFF::linkscore_t>& links,
                                 const std::string& self, Priority priority) {
    std::vector<outlink> out;
    out.reserve(links.size());
    for (const FFF::linkscore_t& link : links) {
        fetchqueue::key key = fetchqueue::key_of(link.url);
        if (key.canonical == self) continue;
        out.push_back(outlink{std::move(key), priority(link)});
    }
    return out;
}

// Queues the links [from, to) that were not stored since the crawl started, inside the
// caller's transaction: two statements prepared once for the whole list.
void queue_outlinks(sqlite3* db, fetchqueue& queue, std::uint32_t arcid, const outlink* from,
                    const outlink* to, std::int64_t crawl_start) {
    if (from == to) return;
    docstorage::latest_timestamps seen(db, arcid);
    fetchqueue::batch batch(queue, db, arcid);
    for (const outlink* link = from; link != to; ++link) {
        const std::uint32_t stored = seen.of_canonical(link->key.canonical);
        if (stored != 0 && stored >= crawl_start) continue;
        batch.push(link->key, link->priority);
    }
}

} // namespace

bool process_thread::call_worker(const std::function<void(millhand&)>& request, std::string& error,
                                 queued* carried) {
    if (!worker_->child_alive()) {
        TN_LOG(LF_WORKERSCHEDULING, LL_ERROR, "Worker process has ended; starting a new one");
        replace_worker(carried);
    }
    auto attempt = [&] {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            timed_out_ = false;
        }
        set_job_start(static_cast<std::int32_t>(services_.now()));
        bool ok = true;
        try {
            request(*worker_);
        } catch (const socket_ipc::socket_error& e) {
            error = e.what();
            ok = false;
        } catch (const std::exception& e) {
            error = e.what();
            ok = false;
        }
        set_job_start(0);
        if (ok && carried) plugins_sent(carried->plugins, carried->docfilters);
        return ok;
    };
    if (attempt()) return true;
    const bool timed_out = worker_timed_out();
    // A request the watchdog ended would only hang again; a worker that died under it gets
    // one more chance with a fresh worker.
    if (stop_ || timed_out) return false;
    TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
           "Worker failed (" << error << "); starting a new one and trying once more");
    replace_worker(carried);
    error.clear();
    return attempt();
}

bool process_thread::worker_timed_out() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timed_out_;
}

void process_thread::replace_worker(queued* carried) {
    check_timeout(true);
    wproc_init();
    if (!carried) return;
    carried->plugins.clear();
    carried->docfilters.clear();
    storage_transaction txn(db_->get());
    update_plugin_cache(carried->archive.Source, carried->pipeline, carried->plugins,
                        carried->docfilters);
    txn.commit();
}

void process_thread::restart_worker() {
    check_timeout(true);
    wproc_init();
}

bool process_thread::finish_archive_if_empty(std::uint32_t arcid, std::optional<bool> running) {
    sqlite3* db = db_->get();
    if (running == false || !services_.queue->empty(db, arcid)) return false;
    // Only a crawl that is still running ends here (and is announced once).
    std::int64_t start = 0, end = 0, docs = 0, errors = 0;
    if (!running && (!services_.logs->last_crawl(db, static_cast<std::int32_t>(arcid), start, end,
                                                 docs, errors) ||
                     end != 0))
        return false;
    services_.logs->end_crawl(db, static_cast<std::int32_t>(arcid), services_.now());
    services_.index->flush();
    return true;
}

void process_thread::notify_crawl_end(std::uint32_t arcid) {
    if (settings_.notify_url.empty()) return;
    std::optional<std::string> url = format_notify_url(settings_.notify_url, arcid);
    if (!url) {
        TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
               "NOTIFYURL is not a usable format: " << settings_.notify_url);
        return;
    }
    std::string error;
    if (!send_notification(*url, settings_.notify_timeout, error))
        TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
               "Crawl-end notification " << *url << " failed: " << error);
}

bool process_thread::may_pick() const {
    return !stop_ &&
           in_crawl_window(utc_hour(services_.now()), settings_.crawl_start,
                           settings_.crawl_stop) &&
           services_.free_bytes(settings_.datadir) >= settings_.min_free_disk;
}

process_thread::picked process_thread::pick(sqlite3* db) {
    picked q(new queued);
    if (!services_.queue->next(db, q->arcid, q->url, q->priority)) return nullptr;

    // Records are read and parsed once per change, not once per URL.
    std::uint32_t magic = 0;
    if (auto pipe = cfgstorage<RendererPluginPipe>::get_shared(db, ROOT_RENDERER_PIPE_ID, magic))
        for (std::int32_t id : pipe->DocFilterIDs)
            q->pipeline.push_back(static_cast<std::uint32_t>(id));
    auto archive =
        cfgstorage<ArchiveConfiguration>::get_shared(db, static_cast<int>(q->arcid), magic);
    const bool have_archive = archive != nullptr;
    if (archive) q->archive = *archive;
    // A source may hold a million seeds; the crawl does not use them, so they are neither
    // read into memory nor kept.
    std::shared_ptr<const SourceConfiguration> source;
    if (have_archive) source = get_shared_source_without_seeds(db, q->archive.Source, magic);
    const bool have_source = source != nullptr;
    if (source) q->source = *source;
    if (!have_archive || !have_source) {
        q->records_missing = true;
        std::int32_t source_id = have_archive ? q->archive.Source : 0;
        // A record that did not read whole is not used half-filled.
        if (!have_archive) q->archive = ArchiveConfiguration{};
        q->source = SourceConfiguration{};
        q->archive.Source = source_id;
    } else {
        if (q->source.Type != AUTH_NONE) {
            AuthConfiguration auth;
            if (cfgstorage<AuthConfiguration>::get(db, q->archive.Auth, auth, magic)) {
                if (!source_to_xml(q->source, q->source_xml) || !auth_to_xml(auth, q->auth_xml)) {
                    q->source_xml.clear();
                    q->auth_xml.clear();
                }
            }
        }
        for (std::int32_t id : q->source.RendererDocFilterIDs)
            q->pipeline.push_back(static_cast<std::uint32_t>(id));
    }
    update_plugin_cache(q->archive.Source, q->pipeline, q->plugins, q->docfilters);

    q->uri = URI(q->url, "http", true);
    const std::string& scheme = q->uri.scheme();
    const bool crawled = scheme != "guid" && scheme != "google" && scheme != "msn";
    // The site's stored rules are looked up here rather than in a transaction of their own;
    // only a robots.txt to fetch takes one (crawl_pass). Logged there, once the URL filter
    // passed the URL.
    std::string robots_url;
    if (crawled && q->source.CheckRobotsTxt &&
        !services_.robots->needs_refresh(db, q->url, robots_url)) {
        q->robots_known = true;
        q->robots_allowed = services_.robots->allowed(db, q->url, q->robots_compiled);
    }
    if (scheme == "guid") {
        const std::string& docid = q->uri.raw_path();
        q->stored_found = services_.docs->load(db, docid, q->stored);
        if (q->stored_found) services_.docs->load_aux(db, docid, q->stored_aux);
    }
    return q;
}

void process_thread::carry_next_pick(sqlite3* db, bool allowed) {
    // A stop that comes after the check leaves the pick carried and never fetched: it ends as
    // a URL whose fetch the stop cut off does. Its row stays queued for the next start, and
    // until then the queue holds its host as busy (a host-less URL as handed out).
    if (allowed) carried_pick_ = pick(db);
}

void process_thread::carried_pick_committed() {
    if (carried_pick_) carried_pick_->checked = true;
}

process_thread::pass_result process_thread::crawl_pass() {
    if (stop_) return pass_result::stopped;
    sqlite3* db = db_->get();
    picked taken = std::move(carried_pick_);
    // A carried pick passed the checks just before the storing transaction that made it; one
    // whose transaction failed to commit (its rows and the queue's memory stay as they are) is
    // kept, and checked again.
    if (taken && !taken->checked && !may_pick()) {
        carried_pick_ = std::move(taken);
        return pass_result::idle;
    }
    if (!taken) {
        if (!may_pick()) return pass_result::idle;
        storage_transaction txn(db);
        taken = pick(db);
        txn.commit();
        if (!taken) return pass_result::idle;
    }
    queued& q = *taken;
    TN_LOG(LF_FETCHEDDOCS, LL_INFO, "Going to fetch " << q.url);
    if (q.records_missing)
        TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
               "Cannot read configuration for archive " << q.arcid << " or source "
                                                        << q.archive.Source);
    const URI& uri = q.uri;
    const std::string& scheme = uri.scheme();

    if (scheme == "guid") return reprocess_road(q);
    if (scheme == "google" || scheme == "msn") return websearch_road(q, scheme);

    const std::shared_ptr<const url_filter> filter_kept = url_filter::for_source(q.source);
    const url_filter& filter = *filter_kept;
    const std::int64_t fetch_time = services_.now();
    const std::string docid =
        document_id(services_.platform_id, q.arcid, q.url, q.archive.Historicize, fetch_time);
    const std::uint32_t base_score = base_score_of(q.priority);
    std::int32_t status = STATUS_NONE;
    if (!filter.matches(q.url)) status = STATUS_BLOCKED;

    std::string error;
    if (status == STATUS_NONE && q.source.CheckRobotsTxt && q.robots_known) {
        if (!q.robots_allowed) status = STATUS_BLOCKED;
        if (!q.robots_compiled)
            TN_LOG(LF_WORKERPARSERS, LL_INFO,
                   "Error parsing robots.txt " << robotschecker::robots_url_of(uri));
    } else if (status == STATUS_NONE && q.source.CheckRobotsTxt) {
        std::string robots_url;
        storage_transaction txn(db);
        if (services_.robots->needs_refresh(db, q.url, robots_url)) {
            txn.commit();
            worker_reply rr;
            bool ok = call_worker(
                [&](millhand& w) {
                    millhand::process_request req;
                    req.base_score = 1000000;
                    req.docid = docid;
                    req.url = robots_url;
                    rr = w.process(req);
                },
                error);
            if (!ok) {
                if (stop_) return pass_result::stopped;
                TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
                       "While proccessing " << q.url
                                            << " error executing wproc->process(): " << error);
                restart_worker();
                rr = worker_reply{};
            } else {
                TN_LOG(LF_WORKERSCHEDULING, LL_DEBUG, "Processed robots.txt " << robots_url);
            }
            // Only a robots.txt that was really fetched holds rules; an error page does not.
            if (rr.status.status != STATUS_NONE) rr.content.clear();
            txn.begin();
            services_.robots->store(db, robots_url, rr.content);
        }
        bool compiled = true;
        if (!services_.robots->allowed(db, q.url, compiled)) status = STATUS_BLOCKED;
        if (!compiled) {
            if (robots_url.empty()) robots_url = robotschecker::robots_url_of(uri);
            TN_LOG(LF_WORKERPARSERS, LL_INFO, "Error parsing robots.txt " << robots_url);
        }
        txn.commit();
    }

    std::string cookie_text;
    if (q.source.Type == AUTH_COOKIE) {
        if (!services_.cookies->get(static_cast<std::int32_t>(q.arcid),
                                    q.source.CookieParams.Freshness, cookie_text)) {
            worker_reply cr;
            bool ok = call_worker(
                [&](millhand& w) {
                    millhand::process_request req;
                    req.base_score = base_score;
                    req.url = q.source.CookieParams.Url;
                    req.collect_cookies = 1;
                    req.source_xml = q.source_xml;
                    req.auth_xml = q.auth_xml;
                    cr = w.process(req);
                },
                error);
            if (!ok) {
                if (stop_) return pass_result::stopped;
                TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
                       "Error executing wproc->process(): " << error);
                restart_worker();
                cr = worker_reply{};
            }
            cookie_text = cookies_from_headers(cr.headers);
            // A failed log-in or one without a cookie is tried again by the next page
            // instead of being remembered as the archive's cookie.
            if (!cookie_text.empty())
                services_.cookies->set(static_cast<std::int32_t>(q.arcid), cookie_text);
            else
                TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
                       "Cookie log-in at " << q.source.CookieParams.Url << " gave no cookie");
        }
    }

    worker_reply r;
    aux_values aux;
    if (status == STATUS_NONE) {
        bool ok = call_worker(
            [&](millhand& w) {
                millhand::process_request req;
                req.base_score = base_score;
                req.docid = docid;
                req.url = q.url;
                req.cookies = cookie_text;
                req.source_xml = q.source_xml;
                req.auth_xml = q.auth_xml;
                req.sidemeta = static_cast<std::uint8_t>(q.source.HasSideMetadata);
                req.docfilter_ids = q.pipeline;
                req.plugins = q.plugins;
                req.docfilters = q.docfilters;
                req.text_exclusion_begin = q.source.TextExclusionBeginMarker;
                req.text_exclusion_end = q.source.TextExclusionEndMarker;
                r = w.process(req);
            },
            error, &q);
        if (!ok) {
            if (stop_) return pass_result::stopped;
            TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
                   "While proccessing " << q.url << " error executing wproc->process(): " << error);
            const bool hung = worker_timed_out();
            restart_worker();
            // A reply cut off in the middle is not trusted in any part.
            r = worker_reply{};
            // A URL that a fresh worker failed on too is the worker's failure, not a page
            // that was never tried; one the watchdog ended stays unknown.
            if (!hung) r.status.status = STATUS_INTERNAL;
        }
        status = r.status.status;
        if (!r.status.sidemeta_text.empty()) aux.emplace("SideMeta", r.status.sidemeta_text);
        if (status == STATUS_REDIRECT) {
            // A Location may be relative ("/dir/"): it is resolved against the page's URL.
            std::string target;
            if (!r.status.redirect.empty()) uri.normalize_url(target, r.status.redirect);
            TN_LOG(LF_WORKERSCHEDULING, LL_BORING,
                   q.url << " is a redirect to " << q.priority << "/" << base_score << " "
                         << target);
            for (FFF::linkscore_t& link : r.outlinks) {
                if (link.url != target && canonical_of(link.url) != target) continue;
                link.score = base_score;
                TN_LOG(LF_WORKERSCHEDULING, LL_BORING,
                       q.url << " is a redirect to " << q.priority << "/" << base_score << " "
                             << target);
            }
            if (!target.empty()) r.outlinks.push_back(FFF::linkscore_t{target, base_score});
        }
        std::erase_if(r.outlinks,
                      [&filter](const FFF::linkscore_t& l) { return !filter.matches(l.url); });
    } else {
        r.status.status = status;
    }

    const std::int32_t arc = static_cast<std::int32_t>(q.arcid);
    const std::string self = canonical_of(q.url);
    const std::uint32_t link_priority = status == STATUS_REDIRECT ? q.priority : q.priority + 1;
    const bool follow_links = q.source.DepthLimit == 0 ||
                              (q.source.DepthLimit > 0 &&
                               static_cast<std::uint32_t>(q.source.DepthLimit) > link_priority);
    // Canonical forms and hosts are worked out here, outside the storage lock.
    std::vector<outlink> links;
    if (follow_links)
        links = outlinks_of(r.outlinks, self,
                            [link_priority](const FFF::linkscore_t&) { return link_priority; });
    // Queues links [from, to) while the archive's crawl still runs; inside the caller's
    // transaction.
    auto queue_links = [&](std::size_t from, std::size_t to, std::int64_t crawl_start) {
        queue_outlinks(db, *services_.queue, q.arcid, links.data() + from, links.data() + to,
                       crawl_start);
    };
    // A page with many links stores them in transactions of a bounded size before the storing
    // transaction, so it does not hold the storage lock (and every request waiting for it) for
    // the whole list; each batch checks that the crawl still runs.
    bool links_queued = false;
    if (follow_links && r.outlinks.size() > LINK_BATCH) {
        links_queued = true;
        for (std::size_t from = 0; from < links.size() && !stop_; from += LINK_BATCH) {
            storage_transaction txn(db);
            std::int64_t start = 0, end = 0, docs = 0, errors = 0;
            const bool running =
                services_.logs->last_crawl(db, arc, start, end, docs, errors) && end == 0;
            if (running) queue_links(from, std::min(from + LINK_BATCH, links.size()), start);
            txn.commit();
            if (!running) break;
        }
    }

    // What needs no storage is done before the storing transaction takes the storage lock:
    // the compressed blobs and the index server's request (the page may still turn out to be
    // unchanged, and then they go unused).
    const int cache_mode = static_cast<int>(q.archive.DocumentCache);
    const version_blobs blobs = compress_version(status, cache_mode, r.headers, r.content, r.fff);
    index_document indexed;
    if (status == STATUS_NONE)
        indexed = prepare_document(docid, q.arcid, q.url, r.status.mime,
                                   static_cast<std::int32_t>(fetch_time),
                                   static_cast<std::int32_t>(r.status.datetime), r.score, r.fff);

    // Storing transaction. The stored page goes to the index after it, under the index's own
    // lock only, so other threads store pages during the index server's work; a page stored
    // and never indexed (a kill in between) is rebuilt from the store like any page the index
    // had not committed.
    bool send_to_index = false;
    std::vector<std::int32_t> index_views;
    const bool carry = may_pick();
    storage_transaction txn(db);
    // The crawl's row is read once: nothing but this transaction changes it until its end.
    std::int64_t crawl_start = 0, crawl_end = 0, crawl_docs = 0, crawl_errors = 0;
    const bool running =
        services_.logs->last_crawl(db, arc, crawl_start, crawl_end, crawl_docs, crawl_errors) &&
        crawl_end == 0;
    if (running) {
        std::string stored_guid;
        std::uint32_t stored_time = 0, stored_fffcrc = 0, stored_corecrc = 0;
        std::int32_t stored_status = 0;
        bool stored = services_.docs->find_latest(db, q.arcid, q.url, stored_guid, stored_time,
                                                  stored_status, stored_fffcrc, stored_corecrc);
        if (stored && status == STATUS_NONE && stored_status == 0 &&
            stored_fffcrc == r.status.fffcrc)
            status = STATUS_UNCHANGED;

        if (follow_links && !links_queued) queue_links(0, links.size(), crawl_start);

        if (status == STATUS_UNCHANGED && !q.archive.Historicize) {
            services_.docs->touch(db, docid, static_cast<std::uint32_t>(fetch_time));
        } else {
            // A document seen for the first time counts as changed.
            const bool core_changed = !stored || r.status.corecrc != stored_corecrc;
            TN_LOG(LF_WORKERSCHEDULING, LL_DEBUG, "Score for " << q.url << " is " << r.score);
            // The page's texts are not read after this: moved, not copied.
            services_.docs->store(db,
                                  {.guid = docid,
                                   .arcid = q.arcid,
                                   .url = q.url,
                                   .timestamp = static_cast<std::uint32_t>(fetch_time),
                                   .error = status,
                                   .headers = std::move(r.headers),
                                   .content = std::move(r.content),
                                   .fff = std::move(r.fff),
                                   .fffcrc = r.status.fffcrc,
                                   .corecrc = r.status.corecrc,
                                   .corechanged = core_changed,
                                   .score = r.score,
                                   .mime = r.status.mime,
                                   .charset = r.status.charset,
                                   .servertime = r.status.datetime},
                                  aux, cache_mode, &blobs);
            if (status == STATUS_NONE) {
                index_views.push_back(0);
                if (core_changed) index_views.push_back(1);
                send_to_index = true;
            } else if (stored) {
                // Only a URL stored before can be in the index under this id: one never seen
                // (a refused seed of a million) costs no round trip to the index server.
                services_.index->remove_document(docid);
            }
        }

        services_.logs->log_document(db, docid, arc, q.url, services_.now(), status);
        if (logstorage::counts_as_document(status)) ++crawl_docs;
        if (q.archive.PagesLimit > 0 && crawl_docs >= q.archive.PagesLimit)
            services_.queue->clear_archive(db, q.arcid);
    }
    services_.queue->remove(db, q.arcid, q.url);
    const bool ended = finish_archive_if_empty(q.arcid, running);
    // Picked once this URL is out of the queue and the crawl's end was decided: the next pass
    // finds the queue as a transaction of its own would.
    carry_next_pick(db, carry);
    txn.commit();
    carried_pick_committed();
    if (send_to_index) {
        services_.index->add_prepared(indexed, index_views);
        // The crawl's end flushed the index in its transaction, before this page came.
        if (ended) services_.index->flush();
    }
    if (ended) notify_crawl_end(q.arcid);
    return pass_result::handled;
}

process_thread::pass_result process_thread::reprocess_road(queued& q) {
    sqlite3* db = db_->get();
    const std::string& docid = q.uri.raw_path();
    // Read by the pick, in its transaction.
    stored_version& v = q.stored;
    const aux_values& aux = q.stored_aux;
    millhand::document_status st;
    std::string new_fff;
    std::uint32_t new_score = 0;
    if (q.stored_found) {
        std::string sidemeta;
        if (auto it = aux.find("SideMeta"); it != aux.end()) sidemeta = it->second;
        std::string error;
        bool ok = call_worker(
            [&](millhand& w) {
                millhand::reprocess_request req;
                req.base_score = base_score_of(q.priority);
                req.guid = docid;
                req.url = v.url;
                req.headers = v.headers;
                req.content = v.content;
                req.mime = v.mime;
                req.sidemeta_text = sidemeta;
                req.docfilter_ids = q.pipeline;
                req.plugins = q.plugins;
                req.docfilters = q.docfilters;
                req.text_exclusion_begin = q.source.TextExclusionBeginMarker;
                req.text_exclusion_end = q.source.TextExclusionEndMarker;
                millhand::reprocess_reply rep = w.reprocess(req);
                st = std::move(rep.status);
                new_fff = std::move(rep.fff);
                new_score = rep.score;
            },
            error, &q);
        if (!ok) {
            if (stop_) return pass_result::stopped;
            TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
                   "While reproccessing " << v.url
                                          << " error executing wproc->reprocess(): " << error);
            restart_worker();
            st = millhand::document_status{};
            st.status = STATUS_INTERNAL;
        }
    }
    const bool carry = may_pick();
    storage_transaction txn(db);
    if (q.stored_found) {
        if (st.status == STATUS_NONE) {
            // The stored version with the new processing; the core-changed flag stays.
            v.error = STATUS_NONE;
            v.fff = std::move(new_fff);
            v.fffcrc = st.fffcrc;
            v.corecrc = st.corecrc;
            v.score = new_score;
            services_.docs->store(db, v, aux, static_cast<int>(q.archive.DocumentCache));
            std::vector<std::int32_t> views{0};
            if (v.corechanged) views.push_back(1);
            services_.index->add_document(
                docid, v.arcid, v.url, v.mime, static_cast<std::int32_t>(v.timestamp),
                static_cast<std::int32_t>(v.servertime), v.score, views, v.fff);
        }
        services_.logs->log_document(db, docid, static_cast<std::int32_t>(v.arcid), v.url,
                                     services_.now(), st.status);
    }
    services_.queue->remove(db, q.arcid, q.url);
    const bool ended = finish_archive_if_empty(q.arcid);
    carry_next_pick(db, carry);
    txn.commit();
    carried_pick_committed();
    if (ended) notify_crawl_end(q.arcid);
    return pass_result::handled;
}

process_thread::pass_result process_thread::websearch_road(const queued& q,
                                                           const std::string& scheme) {
    sqlite3* db = db_->get();
    const std::shared_ptr<const url_filter> filter_kept = url_filter::for_source(q.source);
    const url_filter& filter = *filter_kept;
    worker_reply r;
    std::string error;
    bool ok = call_worker(
        [&](millhand& w) {
            millhand::process_request req;
            req.base_score = base_score_of(q.priority);
            req.url = q.url;
            r = w.process(req);
        },
        error);
    if (!ok) {
        if (stop_) return pass_result::stopped;
        TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
               "While proccessing " << q.url << " error executing wproc->process(): " << error);
        restart_worker();
        r = worker_reply{};
    }
    if (r.status.status == STATUS_NONE) {
        std::erase_if(r.outlinks, [&](const FFF::linkscore_t& l) {
            return engine_host(scheme, URI(l.url, "http", true).host()) || !filter.matches(l.url);
        });
    }

    std::vector<outlink> links;
    if (r.status.status == STATUS_NONE)
        links = outlinks_of(r.outlinks, canonical_of(q.url),
                            [](const FFF::linkscore_t& l) { return l.score; });

    const bool carry = may_pick();
    storage_transaction txn(db);
    const std::int32_t arc = static_cast<std::int32_t>(q.arcid);
    std::int64_t start = 0, end = 0, docs = 0, errors = 0;
    if (services_.logs->last_crawl(db, arc, start, end, docs, errors) && end == 0) {
        if (r.status.status == STATUS_NONE) {
            queue_outlinks(db, *services_.queue, q.arcid, links.data(), links.data() + links.size(),
                           start);
        }
        services_.logs->log_document(db, "", arc, q.url, services_.now(), STATUS_INDEX);
    }
    services_.queue->remove(db, q.arcid, q.url);
    const bool ended = finish_archive_if_empty(q.arcid);
    carry_next_pick(db, carry);
    txn.commit();
    carried_pick_committed();
    if (ended) notify_crawl_end(q.arcid);
    return pass_result::handled;
}

} // namespace lumbrake
