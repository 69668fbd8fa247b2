#include "cpmodel/apply-model.h"

#include "cpmodel/access-masks.h"
#include "util/uri.h"

#include <regex.h>

#include <algorithm>
#include <map>

namespace lumbrake {

namespace {

constexpr std::int32_t kHour = 3600, kDay = 86400;

std::int32_t clamp_seconds(long long v) {
    return static_cast<std::int32_t>(std::clamp<long long>(v, 0, INT32_MAX));
}

} // namespace

duration_controls duration_to_controls(std::int32_t seconds) {
    duration_controls c;
    c.checked = seconds > 0;
    if (seconds >= kDay) {
        c.number = seconds / kDay;
        c.unit = 1;
    } else if (seconds >= kHour) {
        c.number = seconds / kHour;
        c.unit = 0;
    }
    return c;
}

std::int32_t duration_from_controls(const duration_controls& c, std::int32_t stored) {
    if (!c.checked) return 0;
    if (c == duration_to_controls(stored)) return stored;
    if (c.unit == 0) return clamp_seconds(static_cast<long long>(c.number) * kHour);
    if (c.unit == 1) return clamp_seconds(static_cast<long long>(c.number) * kDay);
    return stored;
}

acl_rows acl_rows_from(const std::vector<AccessSpec>& acl) {
    acl_rows rows;
    for (const auto& [name, mask] : acl_to_access_masks(acl))
        rows.emplace_back(name, mask);
    return rows;
}

std::vector<AccessSpec> acl_from_rows(const acl_rows& rows) {
    std::map<std::string, std::uint32_t> masks;
    for (const auto& [name, mask] : rows)
        masks[name] = mask;
    return access_masks_to_acl(masks);
}

source_page source_page_from(const SourceConfiguration& cfg,
                             const std::vector<DocFilterInfo>& doc_filters) {
    source_page p;
    p.name = cfg.Name;
    p.description = cfg.Description;
    p.seeds = cfg.Seeds;
    for (const auto& f : cfg.IncludeFilters)
        p.filters.push_back({f, 0});
    for (const auto& f : cfg.ExcludeFilters)
        p.filters.push_back({f, 1});
    p.depth_check = cfg.DepthLimit != 0;
    p.depth = cfg.DepthLimit != 0 ? cfg.DepthLimit : 1;
    p.check_robots = cfg.CheckRobotsTxt;
    p.side_metadata = cfg.HasSideMetadata;
    p.exclusion_begin = cfg.TextExclusionBeginMarker;
    p.exclusion_end = cfg.TextExclusionEndMarker;
    p.auth_type =
        cfg.Type >= AUTH_NONE && cfg.Type <= AUTH_COOKIE ? static_cast<int>(cfg.Type) : -1;
    p.cookie_url = cfg.CookieParams.Url;
    p.cookie_action = cfg.CookieParams.Action == COOKIE_GET    ? 0
                      : cfg.CookieParams.Action == COOKIE_POST ? 1
                                                               : -1;
    p.cookie_freshness = duration_to_controls(cfg.CookieParams.Freshness);
    p.cookie_freshness.checked = true; // the cookie freshness has no check box
    p.cookie_params = cfg.CookieParams.Params;
    p.preurls = cfg.CookieParams.PreUrls;
    auto find = [&](std::int32_t id) -> const DocFilterInfo* {
        for (const auto& f : doc_filters)
            if (f.DocFilterID == id) return &f;
        return nullptr;
    };
    std::vector<std::int32_t> shown;
    for (std::int32_t id : cfg.RendererDocFilterIDs) {
        if (const DocFilterInfo* f = find(id); f != nullptr && id > 0) {
            p.pipeline.push_back({f->DocFilterConfiguration.Name, id});
            shown.push_back(id);
        } else {
            p.hidden_pipeline.push_back(id);
        }
    }
    for (const auto& f : doc_filters)
        if (std::find(shown.begin(), shown.end(), f.DocFilterID) == shown.end())
            p.pipeline.push_back(
                {f.DocFilterConfiguration.Name, -static_cast<long>(f.DocFilterID)});
    p.acl = acl_rows_from(cfg.ACL);
    return p;
}

namespace {

// The cookie freshness has no check box: the spin and unit alone give the seconds.
std::int32_t cookie_freshness(duration_controls c, std::int32_t stored) {
    const duration_controls shown = duration_to_controls(stored);
    if (c.number == shown.number && c.unit == shown.unit) return stored;
    c.checked = true;
    return duration_from_controls(c, stored);
}

} // namespace

SourceConfiguration source_from_page(const source_page& p, const SourceConfiguration& loaded) {
    SourceConfiguration cfg = loaded;
    cfg.Name = p.name;
    cfg.Description = p.description;
    cfg.Seeds = p.seeds;
    cfg.IncludeFilters.clear();
    cfg.ExcludeFilters.clear();
    for (const auto& f : p.filters) {
        if (f.data == 0)
            cfg.IncludeFilters.push_back(f.text);
        else if (f.data == 1)
            cfg.ExcludeFilters.push_back(f.text);
    }
    cfg.DepthLimit = p.depth_check ? p.depth : 0;
    cfg.CheckRobotsTxt = p.check_robots;
    cfg.HasSideMetadata = p.side_metadata;
    cfg.TextExclusionBeginMarker = p.exclusion_begin;
    cfg.TextExclusionEndMarker = p.exclusion_end;
    if (p.auth_type >= 0 && p.auth_type <= 2) cfg.Type = static_cast<AuthType>(p.auth_type);
    cfg.CookieParams.Url = p.cookie_url;
    if (p.cookie_action == 0)
        cfg.CookieParams.Action = COOKIE_GET;
    else if (p.cookie_action == 1)
        cfg.CookieParams.Action = COOKIE_POST;
    cfg.CookieParams.Freshness =
        cookie_freshness(p.cookie_freshness, loaded.CookieParams.Freshness);
    cfg.CookieParams.Params = p.cookie_params;
    cfg.CookieParams.PreUrls = p.preurls;
    cfg.RendererDocFilterIDs.clear();
    for (const auto& row : p.pipeline)
        if (row.data > 0) cfg.RendererDocFilterIDs.push_back(static_cast<std::int32_t>(row.data));
    cfg.RendererDocFilterIDs.insert(cfg.RendererDocFilterIDs.end(), p.hidden_pipeline.begin(),
                                    p.hidden_pipeline.end());
    cfg.ACL = acl_from_rows(p.acl);
    return cfg;
}

archive_page archive_page_from(const ArchiveConfiguration& cfg) {
    archive_page p;
    p.name = cfg.Name;
    p.contact = cfg.AdministrativeContact;
    p.pages_limit_check = cfg.PagesLimit != 0;
    p.pages_limit = cfg.PagesLimit != 0 ? cfg.PagesLimit : 1;
    const int f = static_cast<int>(cfg.SchedulingFrequency);
    if (f == 0) {
        p.scheduled = false;
        p.frequency = 0;
    } else if (f >= 1 && f <= 4) {
        p.scheduled = true;
        p.frequency = f - 1;
    }
    p.every = cfg.SchedulingAttribute;
    p.start = cfg.AccessTime;
    p.age_limit = duration_to_controls(cfg.GarbageLimit);
    const int c = static_cast<int>(cfg.DocumentCache);
    p.cache = c >= 0 && c <= 2 ? c : -1;
    p.acl = acl_rows_from(cfg.ACL);
    return p;
}

ArchiveConfiguration archive_from_page(const archive_page& p, const ArchiveConfiguration& loaded) {
    ArchiveConfiguration cfg = loaded;
    cfg.Name = p.name;
    cfg.AdministrativeContact = p.contact;
    cfg.PagesLimit = p.pages_limit_check ? p.pages_limit : 0;
    if (!p.scheduled)
        cfg.SchedulingFrequency = DISABLED;
    else if (p.frequency >= 0 && p.frequency <= 3)
        cfg.SchedulingFrequency = static_cast<Frequency>(p.frequency + 1);
    cfg.SchedulingAttribute = p.every;
    cfg.AccessTime = p.start;
    cfg.GarbageLimit = duration_from_controls(p.age_limit, loaded.GarbageLimit);
    if (p.cache >= 0 && p.cache <= 2) cfg.DocumentCache = static_cast<Cache>(p.cache);
    cfg.ACL = acl_from_rows(p.acl);
    return cfg;
}

collection_page collection_page_from(const CollectionConfiguration& cfg,
                                     const std::vector<ArchiveInfo>& archives,
                                     const std::vector<SourceInfo>& sources) {
    collection_page p;
    p.name = cfg.Name;
    p.description = cfg.Description;
    for (std::int32_t id : cfg.Archives) {
        const ArchiveInfo* a = nullptr;
        for (const auto& x : archives)
            if (x.Archive == id) a = &x;
        const SourceInfo* s = nullptr;
        if (a != nullptr)
            for (const auto& x : sources)
                if (x.Source == a->Configuration.Source) s = &x;
        if (a != nullptr && s != nullptr)
            p.archives.push_back({a->Configuration.Name, s->Configuration.Description, id});
        else
            p.hidden_archives.push_back(id);
    }
    p.acl = acl_rows_from(cfg.ACL);
    return p;
}

CollectionConfiguration collection_from_page(const collection_page& p,
                                             const CollectionConfiguration& loaded) {
    CollectionConfiguration cfg = loaded;
    cfg.Name = p.name;
    cfg.Description = p.description;
    cfg.ACL = acl_from_rows(p.acl);
    cfg.Archives.clear();
    for (const auto& row : p.archives)
        cfg.Archives.push_back(row.id);
    cfg.Archives.insert(cfg.Archives.end(), p.hidden_archives.begin(), p.hidden_archives.end());
    return cfg;
}

watch_page watch_page_from(const WatchConfiguration& cfg) {
    watch_page p;
    p.name = cfg.Name;
    p.description = cfg.Description;
    p.filter = cfg.Query;
    p.freshness = duration_to_controls(cfg.Freshness);
    p.acl = acl_rows_from(cfg.ACL);
    return p;
}

WatchConfiguration watch_from_page(const watch_page& p, const WatchConfiguration& loaded) {
    WatchConfiguration cfg = loaded;
    cfg.Name = p.name;
    cfg.Description = p.description;
    cfg.Query = p.filter;
    cfg.Parser = ALGPARSER;
    cfg.Freshness = duration_from_controls(p.freshness, loaded.Freshness);
    cfg.ACL = acl_from_rows(p.acl);
    return cfg;
}

std::string default_include_filter(const std::string& seed) {
    if (seed.rfind("google:", 0) == 0 || seed.rfind("msn:", 0) == 0) return "^http://.*$";
    const std::string root = URI(seed, "http", true).resolve("/").canonical_string();
    std::string escaped;
    for (char c : root) {
        if (std::string_view("$()*+.?[\\]^{|}").find(c) != std::string_view::npos) escaped += '\\';
        escaped += c;
    }
    return "^" + escaped + ".*$";
}

namespace {

// Whether the crawler would let a URL through these filters: extended, case-insensitive,
// unanchored expressions; an exclude match vetoes, one include must match; an expression
// that does not compile is left out.
class filter_test {
public:
    explicit filter_test(const std::vector<list_row>& filters) {
        for (const list_row& f : filters) {
            if (f.data != 0 && f.data != 1) continue;
            regex_t re;
            if (regcomp(&re, f.text.c_str(), REG_EXTENDED | REG_ICASE | REG_NOSUB) == 0)
                (f.data == 0 ? include_ : exclude_).push_back(re);
        }
    }
    ~filter_test() {
        for (auto* list : {&include_, &exclude_})
            for (regex_t& re : *list)
                regfree(&re);
    }
    filter_test(const filter_test&) = delete;
    filter_test& operator=(const filter_test&) = delete;

    bool admits(const std::string& url) const { return any(include_, url) && !any(exclude_, url); }

private:
    static bool any(const std::vector<regex_t>& list, const std::string& url) {
        for (const regex_t& re : list) {
            regmatch_t range[1];
            range[0].rm_so = 0;
            range[0].rm_eo = static_cast<regoff_t>(url.size());
            if (regexec(&re, url.c_str(), 1, range, REG_STARTEND) == 0) return true;
        }
        return false;
    }
    std::vector<regex_t> include_, exclude_;
};

} // namespace

bool add_default_include_filters(source_page& page) {
    const filter_test test(page.filters);
    bool added = false;
    for (const std::string& seed : page.seeds) {
        const URI uri(seed, "http", true);
        const std::string text =
            uri.scheme() == "google" || uri.scheme() == "msn" ? std::string("http://") : seed;
        if (test.admits(text)) continue;
        const std::string filter = default_include_filter(seed);
        added = true;
        const bool present = std::any_of(page.filters.begin(), page.filters.end(),
                                         [&](const list_row& r) { return r.text == filter; });
        if (!present) page.filters.push_back({filter, 0});
    }
    return added;
}

std::string utf8_lenient(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    const auto* b = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = b[i];
        std::size_t len = 0;
        std::uint32_t cp = 0, min = 0;
        if (c < 0x80)
            len = 1, cp = c;
        else if ((c & 0xE0) == 0xC0)
            len = 2, cp = c & 0x1F, min = 0x80;
        else if ((c & 0xF0) == 0xE0)
            len = 3, cp = c & 0x0F, min = 0x800;
        else if ((c & 0xF8) == 0xF0)
            len = 4, cp = c & 0x07, min = 0x10000;
        bool ok = len > 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) {
            ok = (b[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (ok) {
            out.append(s, i, len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

} // namespace lumbrake
