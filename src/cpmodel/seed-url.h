// The seed URL dialog's model: one seed URL built from the fields of its kind of resource, and
// an existing seed split back into those fields, so the same dialog adds and edits seeds.
#pragma once

#include <string>
#include <string_view>

namespace lumbrake {

// In the dialog's order; `none` until a kind is chosen.
enum class seed_kind { none = -1, web = 0, ftp, gopher, news, filesystem, search_engine };

// Search engines of the pseudo-schemes "google:" and "msn:", in the dialog's choice order.
constexpr int SEED_ENGINE_GOOGLE = 0;
constexpr int SEED_ENGINE_MSN = 1;

// All fields of the dialog, UTF-8. Only the chosen kind's fields take part.
struct seed_fields {
    seed_kind kind = seed_kind::none;
    bool secure = false;
    std::string web_address; // without the scheme label's "http://" or "https://"
    std::string ftp_address; // behind "ftp://"
    std::string gopher_address; // behind "gopher://"
    std::string news_server;
    std::string newsgroup;
    std::string path; // a POSIX path
    std::string search_text;
    int engine = SEED_ENGINE_GOOGLE; // -1: none chosen

    bool operator==(const seed_fields&) const = default;
};

// The fixed text before the web address: "https://" while secure, else "http://".
const char* seed_web_scheme_label(bool secure);

// Whether OK may build a URL: the chosen kind's required fields are not empty.
bool seed_fields_complete(const seed_fields& fields);

// The canonical seed URL of the chosen kind's fields. Path and search text are percent-escaped;
// the other fields are used as typed, except that "ftp://" or "gopher://" typed again in front
// of its own address is not doubled.
std::string build_seed_url(const seed_fields& fields);

// The kind and fields of a seed URL (schemes compared exactly). Unknown schemes and an empty
// text give an empty web entry.
seed_fields split_seed_url(std::string_view url);

} // namespace lumbrake
