#include "worker/docmill-report.h"

namespace lumbrake {

namespace {

void write_full_report(const docmill_report& r, std::ostream& out, std::ostream& fff_out) {
    out << "MIME: " << r.result->mime << "\n";
    out << "Charset: " << r.result->charset << "\n";
    out << "Headers:\n" << *r.headers << "\n";
    out << "Outlinks: \n";
    for (const outlink& link : *r.outlinks)
        out << "  " << static_cast<std::uint32_t>(link.second) << " " << link.first << "\n";
    if (r.fff_xml) {
        out << "\n";
        if (r.fff_file_name)
            out << "Writing fff to " << *r.fff_file_name << "\n";
        else
            out << "FFF:\n";
        // Both may be the same stream: keep the order of the pieces.
        out.flush();
        fff_out << *r.fff_xml << "\n";
    } else {
        out << "\nNo FFF\n";
    }
    out << "\nContent:\n" << *r.content << "\n";
}

} // namespace

int write_docmill_report(const docmill_report& r, std::ostream& out, std::ostream& fff_out) {
    const process_result& p = *r.result;
    switch (p.type) {
    case CRAWL_NONE:
    case CRAWL_INDEX:
        write_full_report(r, out, fff_out);
        return 0;
    case CRAWL_UNCHANGED:
        out << "Document is unchanged\n";
        write_full_report(r, out, fff_out);
        return 0;
    case CRAWL_REDIRECT:
        out << "Is a redirect to " << p.redirect << "\n";
        return 0;
    case CRAWL_NOTFOUND:
        out << "Document not found\n";
        return 1;
    case CRAWL_UNPARSABLE:
        out << "Parse error: " << p.message << "\n";
        return 2;
    case CRAWL_BADREDIR:
        out << "Is an invalid redirect\n";
        return 1;
    case CRAWL_BLOCKED:
        out << "Is blocked by robots.txt\n";
        return 3;
    case CRAWL_NETWORK:
        out << "Network error: " << p.message << "\n";
        return 2;
    case CRAWL_UNKNOWN:
        out << "Unknown error: " << p.message << "\n";
        return 2;
    case CRAWL_OUTOFDOCS:
        out << "Maximum number of docs exceeded\n";
        return 4;
    case CRAWL_AUTHREQ:
        out << "Authorization required\n";
        return 2;
    case CRAWL_INTERNAL:
        out << "Internal error: " << p.message << "\n";
        return 2;
    case CRAWL_SERVER:
        out << "Remote server error: " << p.message << "\n";
        return 2;
    default:
        return 0;
    }
}

} // namespace lumbrake
