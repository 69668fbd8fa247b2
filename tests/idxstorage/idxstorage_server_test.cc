// The real index server, started by the client as the daemon starts it, fed with documents
// built by the FFF builder; what it stored is read back with Xapian's own xapian-delve.
#include "idxstorage/idxstorage.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <sstream>

#include "idx_test_env.h"
#include "ipc/socket_ipc.h"
#include "fff/FFFbuilder.h"
#include "../support/fff_fixtures.h"
#include "../support/http_client.h"

using namespace lumbrake;
using idx_test::scratch_deploy;
namespace fs = std::filesystem;

namespace {

// Text fed through the builder: the title slice, then body text in the given slice.
std::string build_fff(const std::u32string& title, const std::u32string& body, int body_slice = 10,
                      const std::vector<FFF::meta>& metas = {}) {
    return fff_built(&title, body, body_slice, metas);
}


std::string run(const std::string& command) {
    return tn_test::command_output(command + " 2>&1");
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Document ids that hold the term, as xapian-delve lists them.
std::vector<std::string> postings(const std::string& term) {
    std::vector<std::string> ids;
    for (const std::string& l : lines_of(run("xapian-delve -1 -t '" + term + "' index")))
        if (!l.empty() && l.find_first_not_of("0123456789") == std::string::npos) ids.push_back(l);
    return ids;
}

std::vector<std::string> terms_of(const std::string& docid) {
    return lines_of(run("xapian-delve -1 -r " + docid + " index"));
}

std::size_t document_count() {
    const std::string out = run("xapian-delve index");
    const auto at = out.find("number of documents = ");
    if (at == std::string::npos) return static_cast<std::size_t>(-1);
    return std::stoul(out.substr(at + 22));
}

} // namespace

TEST(IndexServer, StoresTermsFieldsAndValuesAsSent) {
    scratch_deploy d(TN_SIFTVAULT);
    {
        idxstorage index;
        index.add_document("g1", 3, "http://h/a", "text/html", 7199, 7300, 1000000, {0, 1},
                           build_fff(U"Annual report: 2005", U"Hello, World. Big Wolf",
                                     FFF::centralNormDict, {fff_meta(1, "author", "Smith")}));
        index.add_document("g2", 4, "http://h/b", "text/plain", 3600, 3600, 0, {0},
                           build_fff(U"Other", U"world"));
    } // QUIT: the server commits and ends
    ASSERT_TRUE(fs::exists("index"));
    EXPECT_EQ(document_count(), 2u);

    const auto ids = postings("Xguid:g1");
    ASSERT_EQ(ids.size(), 1u);
    const auto terms = terms_of(ids[0]);
    for (const char* t : {"annual", "report", "2005", "hello", "world", "big", "wolf", "S15:annual",
                          "S15:2005", "S10:hello", "S10:world",
                          // metas are folded too, as the query side folds them
                          "author:smith", "S1:author:smith", "Xguid:g1", "Xarcid:3",
                          "Xscore:000f4240", "Xtime:3600", "Xview:0", "Xview:1"})
        EXPECT_TRUE(has_line(terms, t)) << t << "\n"
                                        << run("xapian-delve -1 -r " + ids[0] + " index");
    // Fields sent unindexed leave no term; nothing is stemmed or split further.
    for (const char* t : {"Xurl:http://h/a", "Xmime:text/html", "Xservertime:3600",
                          "Xtitle:Annual report: 2005", ","})
        EXPECT_FALSE(has_line(terms, t)) << t;

    // Both documents hold "world"; positions follow the stream order (metas first).
    EXPECT_EQ(postings("world").size(), 2u);
    EXPECT_NE(run("xapian-delve -1 -t annual -r " + ids[0] + " index").find("\n2\n"),
              std::string::npos);

    // The stored data and the sortable values.
    const std::string data = run("xapian-delve -d -r " + ids[0] + " index");
    for (const char* f : {"T4:guid2:g1", "T5:arcid1:3", "T3:url10:http://h/a", "T4:mime9:text/html",
                          "T5:score8:000f4240", "I4:time4:3600", "I10:servertime4:7200",
                          "T4:view1:0", "T4:view1:1", "T5:title19:Annual report: 2005"})
        EXPECT_NE(data.find(f), std::string::npos) << f << "\n" << data;
    // Slots in the order in which field names first came: guid 0, arcid 1, url 2, mime 3,
    // score 4, time 5, servertime 6.
    EXPECT_NE(run("xapian-delve -VS5 -r " + ids[0] + " index").find(" 3600"), std::string::npos);
    EXPECT_NE(run("xapian-delve -VS6 -r " + ids[0] + " index").find(" 7200"), std::string::npos);
    EXPECT_NE(run("xapian-delve -VR4 -r " + ids[0] + " index").find(" 000f4240"), std::string::npos)
        << run("xapian-delve -VR4 -r " + ids[0] + " index");
}

TEST(IndexServer, ReplacementRemovalAndArchiveRemoval) {
    scratch_deploy d(TN_SIFTVAULT);
    {
        idxstorage index;
        const std::string fff = build_fff(U"T", U"alpha beta");
        index.add_document("g1", 1, "u1", "m", 0, 0, 1, {0}, fff);
        index.add_document("g1", 1, "u1", "m", 0, 0, 2, {0}, build_fff(U"T", U"gamma"));
        index.add_document("g2", 1, "u2", "m", 0, 0, 1, {0}, fff);
        index.add_document("g3", 2, "u3", "m", 0, 0, 1, {0}, fff);
        index.add_document("g4", 2, "u4", "m", 0, 0, 1, {0}, fff);
        index.remove_document("g4");
        index.remove_archive(1);
    }
    EXPECT_EQ(document_count(), 1u);
    EXPECT_EQ(postings("Xguid:g3").size(), 1u);
    EXPECT_TRUE(postings("gamma").empty());
    EXPECT_TRUE(postings("Xarcid:1").empty());
}

// Added documents' replies are read later than they come, several documents in flight:
// every one still arrives, in the order sent (a later version replaces an earlier one), with
// a document far larger than a socket buffer among them, and a removal waits for the adds.
TEST(IndexServer, DocumentsSentAheadOfTheirRepliesArriveWholeAndInOrder) {
    scratch_deploy d(TN_SIFTVAULT);
    std::u32string bulk;
    for (int i = 0; i < 200000; ++i)
        bulk += U"bulk ";
    {
        idxstorage index;
        for (int i = 0; i < 300; ++i) {
            const std::u32string word = U"w" + std::u32string(1, U'a' + i % 26) +
                                        std::u32string(1, U'a' + i / 26 % 26);
            index.add_document("g" + std::to_string(i), 1, "u", "m", 0, 0, 1, {0},
                               build_fff(U"T", i == 150 ? bulk : word));
        }
        index.add_document("g7", 1, "u", "m", 0, 0, 1, {0}, build_fff(U"T", U"replaced"));
        index.remove_document("g9");
        index.add_document("g9", 1, "u", "m", 0, 0, 1, {0}, build_fff(U"T", U"again"));
        index.remove_document("g10");
        index.flush();
        EXPECT_EQ(document_count(), 299u);
    }
    EXPECT_EQ(postings("bulk").size(), 1u);
    EXPECT_EQ(postings("replaced"), postings("Xguid:g7"));
    EXPECT_EQ(postings("wha").size(), 0u); // g7's first version
    EXPECT_EQ(postings("again"), postings("Xguid:g9"));
    EXPECT_TRUE(postings("Xguid:g10").empty());
    EXPECT_EQ(postings("wjl").size(), 1u); // g295, among the last sent
}

TEST(IndexServer, OptimizeKeepsTheIndexAndResetEmptiesIt) {
    scratch_deploy d(TN_SIFTVAULT);
    idxstorage index;
    for (int i = 0; i < 25; ++i)
        index.add_document("g" + std::to_string(i), 1, "u", "m", 0, 0, 1, {0},
                           build_fff(U"T", U"word" + std::u32string(1, U'a' + i % 26)));
    index.remove_document("g0");
    index.optimize();
    index.flush();
    EXPECT_EQ(document_count(), 24u);
    EXPECT_FALSE(fs::exists("index.compact"));
    EXPECT_FALSE(fs::exists("index.old"));
    // The server still serves after switching to the compacted copy.
    index.add_document("late", 1, "u", "m", 0, 0, 1, {0}, build_fff(U"T", U"late"));
    index.flush();
    EXPECT_EQ(document_count(), 25u);

    index.reset();
    index.flush();
    EXPECT_EQ(document_count(), 0u);
}

TEST(IndexServer, MaxFieldLengthCapsTheIndexedWords) {
    scratch_deploy d(TN_SIFTVAULT, {"MAXFIELDLENGTH=3", "MERGEFACTOR=10", "MINMERGEDOCS=2"});
    {
        idxstorage index;
        index.add_document("g", 1, "u", "m", 0, 0, 1, {0},
                           build_fff(U"", U"one two three four five"));
    }
    EXPECT_EQ(postings("three").size(), 1u);
    EXPECT_TRUE(postings("four").empty());
    EXPECT_EQ(postings("Xguid:g").size(), 1u); // identity fields are not words
}

// Hostile bytes on the real server's connection: it drops the connection and ends, keeping
// what it had committed.
TEST(IndexServer, HostileRequestsEndTheSessionWithoutLosingTheIndex) {
    scratch_deploy d(TN_SIFTVAULT);
    {
        idxstorage index;
        index.add_document("kept", 1, "u", "m", 0, 0, 1, {0}, build_fff(U"T", U"kept"));
        index.flush();
    }
    const std::vector<std::string> attacks = {
        std::string("\x09\0\0\0", 4),                 // the never-sent code 9
        std::string("\x07\0\0\0\xff\xff\xff\x7f", 8), // QUERY with 2^31-1 items
        std::string("\x03\0\0\0\xf0\xff\xff\x7f", 8), // a 2 GiB field name
        std::string("\x06\0\0\0\xff\xff\xff\xff", 8), // DELETE with -1 items
        std::string("\x02\0\0\0\x03\0\0\0\x01\0\0\0", 12) + "x" +
            std::string("\xff\xff\xff\x0f", 4) + "short", // value longer than sent
    };
    config cfg;
    for (const std::string& attack : attacks) {
        socket_ipc::server_proxy proxy(cfg, "siftvault");
        std::string error;
        ASSERT_TRUE(proxy.start(error)) << error;
        send_all(proxy.socket(), attack.data(), attack.size());
        ::shutdown(proxy.socket(), SHUT_WR); // a request cut short ends the stream
        // The server closes its end: reading gives the replies sent before, then the end.
        char buffer[64];
        while (::recv(proxy.socket(), buffer, sizeof buffer, 0) > 0) {
        }
    }
    EXPECT_EQ(document_count(), 1u);
    EXPECT_EQ(postings("kept").size(), 1u);
}
