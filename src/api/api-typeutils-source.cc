#include "api/api-typeutils.h"

#include "util/log.h"

namespace lumbrake {

namespace {

const char* auth_token(AuthType type) {
    switch (type) {
    case AUTH_BASIC:
        return "basic";
    case AUTH_COOKIE:
        return "cookie";
    default:
        return "none";
    }
}

const char* cookie_param_token(CookieParamType type) {
    switch (type) {
    case COOKIE_PASSWORD:
        return "password";
    case COOKIE_OTHER:
        return "other";
    default:
        return "username";
    }
}

// Sets `flag` from "true"/"false"; any other value is logged and leaves it unchanged.
bool read_bool(const std::string& value, bool& flag) {
    if (value == "true") {
        flag = true;
    } else if (value == "false") {
        flag = false;
    } else {
        return false;
    }
    return true;
}

class source_reader : public xml_record_reader {
public:
    // Seeds go to `on_seed` when given, else into the record.
    source_reader(SourceConfiguration& s, bool& old_names,
                  const source_stream_reader::seed_sink* on_seed = nullptr)
        : s_(s), old_names_(old_names), on_seed_(on_seed) {}

protected:
    void start_element(std::string_view name, const xml_attr_map& attrs) override;

private:
    SourceConfiguration& s_;
    bool& old_names_;
    const source_stream_reader::seed_sink* on_seed_;
};

void source_reader::start_element(std::string_view name, const xml_attr_map& attrs) {
    auto attr = [&](std::string_view n) -> const std::string& { return xml_attr(attrs, n); };
    if (name == "source") {
        s_.Name = attr("name");
        s_.Description = attr("description");
    } else if (name == "seed") {
        if (on_seed_)
            (*on_seed_)(attr("url"));
        else
            s_.Seeds.push_back(attr("url"));
    } else if (name == "filter") {
        const std::string& type = attr("type");
        if (type == "include") {
            s_.IncludeFilters.push_back(attr("url"));
        } else if (type == "exclude") {
            s_.ExcludeFilters.push_back(attr("url"));
        }
    } else if (name == "limit") {
        s_.DepthLimit = xml_atoi(attr("depth"));
    } else if (name == "robots") {
        const std::string& check = attr("check");
        if (!read_bool(check, s_.CheckRobotsTxt)) {
            TN_LOG(LF_API, LL_ERROR, "Unknown robots check value " << check);
        }
    } else if (name == "sidemetadata") {
        const std::string& available = attr("available");
        if (!read_bool(available, s_.HasSideMetadata)) {
            TN_LOG(LF_API, LL_ERROR, "Unknown sidemetadata available value " << available);
        }
    } else if (name == "textexclusionmarker") {
        const std::string& edge = attr("edge");
        if (edge == "begin") {
            s_.TextExclusionBeginMarker = attr("value");
        } else if (edge == "end") {
            s_.TextExclusionEndMarker = attr("value");
        } else {
            TN_LOG(LF_API, LL_ERROR, "Unknown textexclusionmarker edge value " << edge);
        }
    } else if (name == "auth") {
        const std::string& type = attr("type");
        if (type == "none") {
            s_.Type = AUTH_NONE;
        } else if (type == "basic") {
            s_.Type = AUTH_BASIC;
        } else if (type == "cookie") {
            s_.Type = AUTH_COOKIE;
        } else {
            TN_LOG(LF_API, LL_ERROR, "Unknown auth type " << type);
        }
    } else if (name == "cookieauth") {
        CookieAuthParams& c = s_.CookieParams;
        c.Url = attr("url");
        const std::string& action = attr("action");
        if (action == "get") {
            c.Action = COOKIE_GET;
        } else if (action == "post") {
            c.Action = COOKIE_POST;
        } else {
            TN_LOG(LF_API, LL_ERROR, "Unknown auth cookie action " << action);
        }
        c.Freshness = xml_atoi(attr("freshness"));
    } else if (name == "cookieparam") {
        CookieParam p;
        p.Name = attr("name");
        p.Value = attr("value");
        const std::string& type = attr("type");
        if (type == "username") {
            p.Type = COOKIE_USERNAME;
        } else if (type == "password") {
            p.Type = COOKIE_PASSWORD;
        } else if (type == "other") {
            p.Type = COOKIE_OTHER;
        } else {
            // Kept (as "other") so that the parameter's name and value are not lost.
            p.Type = COOKIE_OTHER;
            TN_LOG(LF_API, LL_ERROR, "Unknown auth cookie param type " << type);
        }
        s_.CookieParams.Params.push_back(std::move(p));
    } else if (name == "cookiepreurl") {
        s_.CookieParams.PreUrls.push_back(attr("url"));
    } else if (name == "docfilters" || name == "renderer-plugins-configs") {
        s_.RendererDocFilterIDs.clear();
        if (name != "docfilters") old_names_ = true;
    } else if (name == "docfilter" || name == "plugin-config") {
        s_.RendererDocFilterIDs.push_back(xml_atoi(attr("id")));
        if (name != "docfilter") old_names_ = true;
    } else if (name == "acl") {
        read_acl_entry(attrs, s_.ACL);
    }
}

} // namespace

class source_stream_reader::reader : public source_reader {
public:
    reader(SourceConfiguration& s, seed_sink on_seed)
        : source_reader(s, old_names, &on_seed_), on_seed_(std::move(on_seed)) {}
    bool old_names = false;

private:
    seed_sink on_seed_;
};

source_stream_reader::source_stream_reader(SourceConfiguration& source, seed_sink on_seed) {
    source = SourceConfiguration{};
    reader_ = std::make_unique<reader>(source, std::move(on_seed));
}

source_stream_reader::~source_stream_reader() = default;

bool source_stream_reader::feed(const char* bytes, std::size_t length, bool last) {
    return reader_->feed(bytes, length, last);
}

bool source_stream_reader::old_names() const {
    return reader_->old_names;
}

bool source_to_xml(const SourceConfiguration& s, std::string& xml, std::string* error) {
    xml_record_writer w(xml);
    w.start(0, "source").text_attr("name", s.Name).text_attr("description", s.Description).open();
    for (const std::string& seed : s.Seeds)
        w.start(1, "seed").text_attr("url", seed).empty();
    for (const std::string& f : s.IncludeFilters)
        w.start(1, "filter").token("type", "include").text_attr("url", f).empty();
    for (const std::string& f : s.ExcludeFilters)
        w.start(1, "filter").token("type", "exclude").text_attr("url", f).empty();
    w.start(1, "limit").int_attr("depth", s.DepthLimit).empty();
    w.start(1, "robots").bool_attr("check", s.CheckRobotsTxt).empty();
    w.start(1, "sidemetadata").bool_attr("available", s.HasSideMetadata).empty();
    w.start(1, "auth").token("type", auth_token(s.Type)).open();
    const CookieAuthParams& c = s.CookieParams;
    w.start(2, "cookieauth")
        .text_attr("url", c.Url)
        .token("action", c.Action == COOKIE_POST ? "post" : "get")
        .int_attr("freshness", c.Freshness)
        .open();
    for (const CookieParam& p : c.Params) {
        w.start(3, "cookieparam")
            .text_attr("name", p.Name)
            .text_attr("value", p.Value)
            .token("type", cookie_param_token(p.Type))
            .empty();
    }
    for (const std::string& url : c.PreUrls)
        w.start(3, "cookiepreurl").text_attr("url", url).empty();
    w.close(2, "cookieauth");
    w.close(1, "auth");
    if (!s.RendererDocFilterIDs.empty()) {
        w.start(1, "docfilters").open();
        for (int32_t id : s.RendererDocFilterIDs)
            w.start(2, "docfilter").int_attr("id", id).empty();
        w.close(1, "docfilters");
    }
    w.start(1, "textexclusionmarker")
        .token("edge", "begin")
        .text_attr("value", s.TextExclusionBeginMarker)
        .empty(true);
    w.start(1, "textexclusionmarker")
        .token("edge", "end")
        .text_attr("value", s.TextExclusionEndMarker)
        .empty(true);
    w.acl(s.ACL);
    w.close(0, "source");
    return w.finish("source", error);
}

bool source_from_xml(const char* text, std::size_t length, SourceConfiguration& source,
                     bool& old_names) {
    source = SourceConfiguration{};
    old_names = false;
    source_reader reader(source, old_names);
    return reader.parse(text, length);
}

} // namespace lumbrake
