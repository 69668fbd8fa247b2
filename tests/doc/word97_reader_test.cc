// The own Word 97 reader against libwv: for every Word file at hand (the fixtures, files of many
// shapes and random ones written by LibreOffice, the benchmark's corpus) both give the same event
// stream, byte for byte; what the own reader does not follow it declines; damaged files never crash
// it and, where it reads them, give what the library gives.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "wvadapter/wv-reader.h"
#include "../support/command.h"
#include "../support/files.h"
#include "../support/scratch.h"

namespace lumbrake::wvadapter {
namespace {

namespace fs = std::filesystem;

const unsigned char* bytes_of(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

// libwv's events for the document, read in a child process (damaged files crash the library);
// false when the child died or ran over ten seconds.
bool library_events(const std::string& doc, std::string& events) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::alarm(10);
        std::string out;
        read_document_events(bytes_of(doc), doc.size(), -1, out, reader_choice::library);
        std::size_t at = 0;
        while (at < out.size()) {
            const ssize_t n = ::write(fds[1], out.data() + at, out.size() - at);
            if (n <= 0) ::_exit(2);
            at += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    events.clear();
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        events.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool own_events(const std::string& doc, std::string& events) {
    events.clear();
    return read_document_events(bytes_of(doc), doc.size(), -1, events, reader_choice::fast);
}

std::vector<fs::path> docs_in(const fs::path& dir) {
    std::vector<fs::path> out;
    if (fs::exists(dir))
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().extension() == ".doc") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

// Every file read by both readers with the same events, none declined.
void expect_same_events(const std::vector<fs::path>& files) {
    ASSERT_FALSE(files.empty());
    for (const fs::path& f : files) {
        SCOPED_TRACE(f.string());
        const std::string doc = tn_test::read_file(f);
        std::string lib, own;
        ASSERT_TRUE(library_events(doc, lib));
        ASSERT_TRUE(own_events(doc, own)) << "declined";
        ASSERT_EQ(own.size(), lib.size());
        EXPECT_TRUE(own == lib) << "first difference at byte "
                                << std::mismatch(own.begin(), own.end(), lib.begin()).first -
                                       own.begin();
    }
}

TEST(Word97Reader, SameEventsAsTheLibraryOnTheFixtures) {
    expect_same_events(docs_in(TN_TEST_DATA));
}

// Runs a generator of .doc files on a scratch folder of its own (its first argument, then
// `more`); the files it wrote.
std::vector<fs::path> docs_made_by(const std::string& generator, const char* scratch,
                                   const std::string& more = "") {
    const fs::path dir = tn_test::test_scratch(scratch);
    int status = -1;
    const std::string out = tn_test::command_output_with_status(
        generator + " '" + dir.string() + "'" + more + " 2>&1", status);
    EXPECT_EQ(status, 0) << out;
    return docs_in(dir);
}

TEST(Word97Reader, SameEventsAsTheLibraryOnFilesOfManyShapes) {
    if (!tn_test::have_program("soffice")) GTEST_SKIP() << "no soffice";
    const auto docs =
        docs_made_by("bash " TN_SOURCE_DIR "/tests/doc/make_word97_cases.sh", "word97");
    // Nested and long tables, notes, headers, comments, text boxes, fields, sections, a
    // picture, lists, other scripts, a long paragraph, an empty document.
    EXPECT_GE(docs.size(), 13u);
    expect_same_events(docs);
}

// Random documents (seeded): formatting, hidden and tracked text, notes, fields, merged and
// nested cells, lists, sections and frames in many combinations.
TEST(Word97Reader, SameEventsAsTheLibraryOnRandomDocuments) {
    if (!tn_test::have_program("soffice") || !tn_test::have_program("python3"))
        GTEST_SKIP() << "no soffice or python3";
    const auto docs = docs_made_by("python3 " TN_SOURCE_DIR "/tests/doc/make_word97_random.py",
                                   "word97random", " 40 19");
    EXPECT_EQ(docs.size(), 40u);
    expect_same_events(docs);
}

TEST(Word97Reader, SameEventsAsTheLibraryOnTheBenchmarkCorpus) {
    if (!tn_test::have_program("soffice")) GTEST_SKIP() << "no soffice";
    expect_same_events(
        docs_made_by("bash " TN_SOURCE_DIR "/bench/make_word_corpus.sh", "wordcorpus"));
}

// LibreOffice writes all text as one piece of 16-bit characters; other writers store several
// pieces, Windows-1252 text as 8 bits. The fixtures rewritten that way (word97_pieces.py) with
// four seeds.
TEST(Word97Reader, SameEventsAsTheLibraryWithEightBitAndSplitPieces) {
    if (!tn_test::have_program("python3")) GTEST_SKIP() << "no python3";
    const fs::path dir = tn_test::test_scratch("word97pieces");
    int pieces = 0, eight_bit = 0, files = 0;
    for (int seed = 1; seed <= 4; ++seed) {
        const fs::path out = dir / std::to_string(seed);
        std::string cmd = "python3 " TN_SOURCE_DIR "/tests/doc/word97_pieces.py '" + out.string() +
                          "' " + std::to_string(seed);
        for (const fs::path& f : docs_in(TN_TEST_DATA))
            cmd += " '" + f.string() + "'";
        int status = -1;
        std::istringstream listing(tn_test::command_output_with_status(cmd + " 2>&1", status));
        ASSERT_EQ(status, 0) << listing.str();
        std::string name;
        int p = 0, e = 0;
        while (listing >> name >> p >> e) {
            ++files;
            pieces += p;
            eight_bit += e;
        }
        expect_same_events(docs_in(out));
    }
    EXPECT_GT(pieces, files);
    EXPECT_GT(eight_bit, 0);
}

void put16(std::string& s, std::size_t at, std::uint16_t v) {
    s[at] = static_cast<char>(v);
    s[at + 1] = static_cast<char>(v >> 8);
}

// Where the "WordDocument" stream starts in the small fixtures (the first sector after the
// header: LibreOffice writes it first).
std::size_t word_stream_at(const std::string& doc) {
    const std::size_t at = doc.find(std::string("\xEC\xA5", 2), 512);
    return at == std::string::npos ? 0 : at;
}

TEST(Word97Reader, DeclinesWhatItDoesNotFollowAndTheLibraryReadsIt) {
    const std::string doc = tn_test::read_file(fs::path(TN_TEST_DATA) / "handbook.doc");
    const std::size_t fib = word_stream_at(doc);
    ASSERT_GT(fib, 0u);
    struct patch {
        const char* what;
        std::size_t at;
        std::uint16_t value;
    };
    const std::uint16_t flags =
        static_cast<std::uint16_t>(static_cast<unsigned char>(doc[fib + 0x0A]) |
                                   static_cast<unsigned char>(doc[fib + 0x0B]) << 8);
    for (const patch& p : {patch{"fast-saved (complex)", 0x0A, std::uint16_t(flags | 0x0004)},
                           patch{"Word 95", 0x02, 0x0068}, patch{"Word 6", 0x02, 0x0065},
                           patch{"piece table length cut", 0x1A6, 0x0005},
                           patch{"no paragraph bin table", 0x106, 0x0000}}) {
        SCOPED_TRACE(p.what);
        std::string d = doc;
        put16(d, fib + p.at, p.value);
        std::string own, lib, automatic;
        EXPECT_FALSE(own_events(d, own));
        EXPECT_TRUE(own.empty());
        // The reader process's own choice is the library's reading, whatever it gives.
        const bool lib_done = library_events(d, lib);
        if (lib_done) {
            read_document_events(bytes_of(d), d.size(), -1, automatic);
            EXPECT_EQ(automatic, lib);
        }
    }
}

// Bytes flipped anywhere in the file: the own reader returns (it runs in this process: a crash
// fails the test) and, where it reads the file, the library gives the same events or dies.
TEST(Word97Reader, DamagedFilesAreDeclinedOrReadAsTheLibraryReadsThem) {
    std::mt19937 rng(1997);
    int read_by_both = 0, declined = 0, library_died = 0;
    for (const fs::path& f : docs_in(TN_TEST_DATA)) {
        SCOPED_TRACE(f.string());
        const std::string doc = tn_test::read_file(f);
        const std::size_t from = word_stream_at(doc);
        ASSERT_GT(from, 0u);
        for (int round = 0; round < 120; ++round) {
            std::string d = doc;
            // Mostly the Word and table streams, where the reader looks.
            const int flips = 1 + static_cast<int>(rng() % 4);
            for (int k = 0; k < flips; ++k) {
                const std::size_t at = from + rng() % (d.size() - from);
                d[at] = static_cast<char>(d[at] ^ (1u << (rng() % 8)));
            }
            std::string own;
            if (!own_events(d, own)) {
                ++declined;
                continue;
            }
            std::string lib;
            if (!library_events(d, lib)) {
                ++library_died;
                continue;
            }
            // On a damaged file the library may read memory it never wrote: where its own
            // second reading differs, it has no answer to compare with.
            std::string again;
            if (own != lib && (!library_events(d, again) || again != lib)) {
                ++library_died;
                continue;
            }
            ++read_by_both;
            EXPECT_TRUE(own == lib) << "round " << round;
        }
    }
    // Most flips land in text or unused bytes: both readers read those files.
    EXPECT_GT(read_by_both, 100);
    RecordProperty("declined", declined);
    RecordProperty("library_died", library_died);
}

} // namespace
} // namespace lumbrake::wvadapter
