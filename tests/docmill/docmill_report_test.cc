#include "worker/docmill-report.h"

#include <gtest/gtest.h>

#include <sstream>

namespace lumbrake {
namespace {

struct report_run {
    process_result result;
    std::string headers = "H: 1";
    std::string content = "body";
    outlink_list outlinks;
    std::string xml = "<?xml version=\"1.0\"?>\n<document/>";
    bool with_fff = true;
    std::string fff_file;

    int run(std::string& out, std::string& fff) {
        docmill_report r;
        r.result = &result;
        r.headers = &headers;
        r.content = &content;
        r.outlinks = &outlinks;
        r.fff_xml = with_fff ? &xml : nullptr;
        r.fff_file_name = fff_file.empty() ? nullptr : &fff_file;
        std::ostringstream o, f;
        int status =
            write_docmill_report(r, o, fff_file.empty() ? static_cast<std::ostream&>(o) : f);
        out = o.str();
        fff = f.str();
        return status;
    }
};

TEST(DocmillReport, FullReportLayout) {
    report_run r;
    r.result.type = CRAWL_NONE;
    r.result.mime = "text/html";
    r.result.charset = "utf-8";
    // Scores are printed unsigned.
    r.outlinks = {{"file:///a", 1000000}, {"file:///b c", -4}};
    std::string out, fff;
    EXPECT_EQ(r.run(out, fff), 0);
    EXPECT_EQ(out, "MIME: text/html\n"
                   "Charset: utf-8\n"
                   "Headers:\n"
                   "H: 1\n"
                   "Outlinks: \n"
                   "  1000000 file:///a\n"
                   "  4294967292 file:///b c\n"
                   "\n"
                   "FFF:\n"
                   "<?xml version=\"1.0\"?>\n<document/>\n"
                   "\n"
                   "Content:\n"
                   "body\n");
    EXPECT_EQ(fff, "");
}

TEST(DocmillReport, FffToFileAndNoFff) {
    report_run r;
    r.result.type = CRAWL_NONE;
    r.fff_file = "out.xml";
    std::string out, fff;
    EXPECT_EQ(r.run(out, fff), 0);
    EXPECT_NE(out.find("\n\nWriting fff to out.xml\n\nContent:\nbody\n"), std::string::npos) << out;
    EXPECT_EQ(fff, r.xml + "\n");

    report_run listing;
    listing.result.type = CRAWL_INDEX;
    listing.with_fff = false;
    listing.content.clear();
    EXPECT_EQ(listing.run(out, fff), 0);
    EXPECT_EQ(out, "MIME: \nCharset: \nHeaders:\nH: 1\nOutlinks: \n\nNo FFF\n\nContent:\n\n");

    report_run unchanged;
    unchanged.result.type = CRAWL_UNCHANGED;
    EXPECT_EQ(unchanged.run(out, fff), 0);
    EXPECT_EQ(out.rfind("Document is unchanged\nMIME: ", 0), 0u) << out;
}

TEST(DocmillReport, OutcomeLinesAndStatuses) {
    struct {
        std::int32_t type;
        const char* printed;
        int status;
    } cases[] = {
        {CRAWL_REDIRECT, "Is a redirect to file:///d/\n", 0},
        {CRAWL_NOTFOUND, "Document not found\n", 1},
        {CRAWL_UNPARSABLE, "Parse error: msg\n", 2},
        {CRAWL_BADREDIR, "Is an invalid redirect\n", 1},
        {CRAWL_BLOCKED, "Is blocked by robots.txt\n", 3},
        {CRAWL_NETWORK, "Network error: msg\n", 2},
        {CRAWL_UNKNOWN, "Unknown error: msg\n", 2},
        {CRAWL_OUTOFDOCS, "Maximum number of docs exceeded\n", 4},
        {CRAWL_AUTHREQ, "Authorization required\n", 2},
        {CRAWL_INTERNAL, "Internal error: msg\n", 2},
        {CRAWL_SERVER, "Remote server error: msg\n", 2},
        {14, "", 0},
        {-1, "", 0},
    };
    for (const auto& c : cases) {
        report_run r;
        r.result.type = c.type;
        r.result.message = "msg";
        r.result.redirect = "file:///d/";
        std::string out, fff;
        EXPECT_EQ(r.run(out, fff), c.status) << c.type;
        EXPECT_EQ(out, c.printed) << c.type;
        EXPECT_EQ(fff, "");
    }
}

} // namespace
} // namespace lumbrake
