#include "apiops/api-common.h"

#include "api/info-records.h"
#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "idxstorage/idxstorage.h"
#include "logstorage/logstorage.h"
#include "trawlnestd/cfgstorage.h"
#include "util/httphead.h"
#include "util/md5.h"
#include "util/uri.h"
#include "fff/fff2xml.h"

#include <memory>

namespace lumbrake {

namespace {

// Stored document `guid` when the caller has `access` on its archive. A missing document
// answers false and leaves `res` as it is; a refusal or a missing archive sets error 2.
bool load_document(const api& call, const api_context& ctx, api_result& res,
                   const std::string& guid, int access, stored_version& d) {
    if (!ctx.services.docs->load(ctx.db, guid, d)) return false;
    ArchiveConfiguration archive;
    std::uint32_t magic = 0;
    return call.load_checked(res, static_cast<int>(d.arcid), access, archive, magic);
}

} // namespace

void api::add_document(api_result& res, std::int32_t arcid, const std::string& url,
                       const std::string& mime_type, const std::string& content,
                       std::string& docid) {
    res.set_ok();
    ArchiveConfiguration archive;
    std::uint32_t magic = 0;
    if (!load_checked(res, arcid, WRITEACCESS, archive, magic)) return;
    const std::string canonical = URI(url, "http", true).canonical_string(true);
    const std::int64_t now_s = now();

    std::string identity =
        ctx_.services.platform_id + "|" + std::to_string(arcid) + "|" + canonical;
    if (archive.Historicize) identity += "|" + std::to_string(now_s);
    const std::string guid = md5_hex(identity);

    content_type type(mime_type);
    std::string charset;
    if (!type.get_charset(charset)) charset = "iso-8859-1";

    // Kept whole whatever the archive's cache mode: the content is all a worker will have to
    // parse, and the processed version is stored again under the archive's own mode.
    const auto stamp = static_cast<std::uint32_t>(now_s);
    ctx_.services.docs->store(db(),
                              {.guid = guid,
                               .arcid = static_cast<std::uint32_t>(arcid),
                               .url = canonical,
                               .timestamp = stamp,
                               .content = content,
                               .corechanged = archive.Historicize,
                               .score = 1000000,
                               .mime = type.media_type,
                               .charset = charset,
                               .servertime = stamp},
                              aux_values{}, FULLCACHE);

    std::int64_t start = 0, end = 0, docs = 0, errors = 0;
    if (!ctx_.services.logs->last_crawl(db(), arcid, start, end, docs, errors)) start = end = 0;
    if (start == 0 || end != 0) ctx_.services.logs->start_crawl(db(), arcid, now_s);

    ctx_.services.queue->push(db(), static_cast<std::uint32_t>(arcid), "guid:" + guid, 0);
    docid = guid;
}

void api::remove_document(api_result& res, const std::string& docid) {
    res.set_ok();
    stored_version d;
    if (!load_document(*this, ctx_, res, docid, WRITEACCESS, d)) return;
    ctx_.services.index->remove_document(docid);
    ctx_.services.docs->remove(db(), docid);
}

void api::get_document_url(api_result& res, const std::string& docid, std::string& url) {
    res.set_ok();
    url.clear();
    stored_version d;
    if (!load_document(*this, ctx_, res, docid, READACCESS, d)) return;
    url = d.url;
}

void api::get_cached_page(api_result& res, const std::string& docid, std::int32_t format,
                          std::string& url, std::string& content_type_text, std::string& content) {
    res.set_ok();
    url.clear();
    content_type_text.clear();
    content.clear();
    stored_version d;
    if (!load_document(*this, ctx_, res, docid, READACCESS, d)) return;
    url = d.url;

    if (format == FORMAT_ORIGINAL) {
        content = std::move(d.content);
        content_type_text = d.mime;
        if (!d.charset.empty()) content_type_text += "; charset=" + d.charset;
        return;
    }
    if (format != FORMAT_PARSED && format != FORMAT_HTML) return;

    FFF::tXMLTree::reader reader(d.fff, FFF::get_kind_table());
    int status = 0;
    std::unique_ptr<FFF::tXMLTree> root(FFF::FromBinary(reader, status));
    if (!root || status != 2 || !dynamic_cast<const FFF::DocumentData*>(root.get())) return;

    std::string rendered;
    const bool parsed = format == FORMAT_PARSED;
    const bool ok = parsed ? fff_to_xml(rendered, docid, d.url, d.timestamp, root.get())
                           : fff_to_html(rendered, docid, d.url, d.timestamp, root.get());
    if (!ok) return;
    content = std::move(rendered);
    content_type_text =
        parsed ? "application/vnd.lumbrake-fff; charset=UTF-8" : "text/html; charset=UTF-8";
}

} // namespace lumbrake
