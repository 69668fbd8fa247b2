// What the index server's store writes for a few varied documents, byte for byte: every term
// with its wdf and positions, every value and the document data, read back with Xapian and
// compared with a listing kept in data/vault_layout.txt. Term making may be rewritten for
// speed; what it stores must not move (existing indexes are searched with the same terms).
// Set TN_WRITE_LAYOUT=1 to write the listing anew (only when a change of layout is intended).
#include <gtest/gtest.h>

#include <xapian.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "idxstorage/idx-protocol.h"
#include "index-server/vault-db.h"

using namespace siftvault;

namespace {

// A word-stream token: the word, then its slice marker; tokens joined by the separator.
std::string stream(std::initializer_list<std::pair<std::string, int>> tokens) {
    std::string out;
    bool first = true;
    for (const auto& [word, slice] : tokens) {
        if (!first) out += lumbrake::idx::word_separator;
        first = false;
        out += word;
        out += static_cast<char>(lumbrake::idx::slice_marker_base + slice);
    }
    return out;
}

std::string visible(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x20 || c >= 0x7f || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string listing(Xapian::Database& db) {
    std::ostringstream out;
    for (auto d = db.postlist_begin(""); d != db.postlist_end(""); ++d) {
        const Xapian::Document doc = db.get_document(*d);
        out << "document " << *d << "\n  data " << visible(doc.get_data()) << "\n";
        for (auto v = doc.values_begin(); v != doc.values_end(); ++v)
            out << "  value " << v.get_valueno() << " " << visible(*v) << "\n";
        for (auto t = db.termlist_begin(*d); t != db.termlist_end(*d); ++t) {
            out << "  term " << visible(*t) << " wdf " << t.get_wdf();
            for (auto p = db.positionlist_begin(*d, *t); p != db.positionlist_end(*d, *t); ++p)
                out << " " << *p;
            out << "\n";
        }
    }
    return out.str();
}

void feed(vault_db& db) {
    const std::string long_word(250, 'q');
    // A crawled page as the daemon sends it: the word stream (metas first, then title and
    // body words in their slices), named fields, times.
    db.begin_document();
    db.add_text_field("guid", "g1", true, true, false);
    db.add_text_field("url", "http://h/a?b=1", true, false, false);
    db.add_text_field("",
                      stream({{"author:Smith", 1},
                              {"Annual", 15},
                              {"report", 15},
                              {"2005", 15},
                              {"hello", 10},
                              {"world", 10},
                              {"hello", 10},
                              {"\xc3\x84PFEL", 10},         // Ä: folded
                              {"\xce\xa3\xce\xa3", 12},     // ΣΣ
                              {"\xff\xfe" "bad", 10},       // not UTF-8: kept as sent
                              {"Q\xff", 10},               // kept, and capital-led
                              {"", 10},                     // a marker alone: no word
                              {long_word, 10},              // too long: left out
                              {"Z", 200},
                              {"world", 10}}),
                      false, true, true);
    db.add_time_field("time", 3600, true, true, false);
    db.add_time_field("servertime", 7200, true, false, false);
    db.add_text_field("score", "000f4240", true, true, false);
    db.add_text_field("view", "0", true, true, false);
    db.add_text_field("view", "1", true, true, false); // the slot keeps the first
    db.add_text_field("title", "Annual report: 2005", true, false, false);
    ASSERT_TRUE(db.end_document());

    // Named tokenized fields, an untokenized word, an unindexed stored time, odd bytes.
    db.begin_document();
    db.add_text_field("guid", "g2", true, true, false);
    db.add_text_field("keywords", " apple\tPear\x01plum  " + long_word + " fig", false, true, true);
    db.add_text_field("", "Hello", false, true, false);
    db.add_text_field("", "", false, true, false);
    db.add_text_field("", "lower", false, true, false);
    db.add_text_field("note", std::string("a\nb:c\0d", 7), true, false, false);
    db.add_time_field("time", -5, true, false, true);
    db.add_text_field("url", "", true, false, false);
    ASSERT_TRUE(db.end_document());

    // A stream with a separator at each end and two in a row.
    db.begin_document();
    db.add_text_field("guid", "g3", true, true, false);
    db.add_text_field("", std::string(1, lumbrake::idx::word_separator) +
                              stream({{"one", 10}, {"Two", 10}}) +
                              std::string(2, lumbrake::idx::word_separator) +
                              stream({{"three", 3}}) +
                              std::string(1, lumbrake::idx::word_separator),
                      false, true, true);
    ASSERT_TRUE(db.end_document());
}

std::string fixture(const char* name) {
    return std::string(TN_SOURCE_DIR) + "/tests/idxstorage/data/" + name;
}

void compare(const std::string& got, const char* name) {
    const std::string file = fixture(name);
    if (const char* w = std::getenv("TN_WRITE_LAYOUT"); w && *w == '1') {
        std::ofstream(file, std::ios::binary) << got;
        GTEST_SKIP() << "wrote " << file;
    }
    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in) << file;
    std::ostringstream want;
    want << in.rdbuf();
    EXPECT_EQ(got, want.str());
}

} // namespace

TEST(VaultLayout, TermsPositionsValuesAndDataStayAsTheyWere) {
    vault_db db(std::string(), vault_settings{});
    feed(db);
    compare(listing(db.database()), "vault_layout.txt");
}

TEST(VaultLayout, MaxFieldLengthCutsTheSameTokens) {
    vault_settings settings;
    settings.max_field_length = 3;
    vault_db db(std::string(), settings);
    feed(db);
    compare(listing(db.database()), "vault_layout_max3.txt");
}
