#include "fetchers/ftp-listing.h"

#include "../support/command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace lumbrake {
namespace {

namespace fs = std::filesystem;

// 2024-01-05 00:00 UTC: the "now" of the table, so that dates without a year are placed
// reproducibly.
constexpr std::time_t jan5_2024 = 1704412800;

struct expected {
    const char* line;
    const char* name;
    int dir;
    int file;
    int size_type;
    std::int32_t size;
    int time_type;
    std::int32_t time;
};

int parse(ftp_entry& e, const std::string& line, std::time_t now = jan5_2024) {
    return parse_ftp_line(e, line.data(), line.size(), now);
}

TEST(FtpListing, RecognisedFormats) {
    const expected cases[] = {
        // UNIX with a year: date only.
        {"drwxr-xr-x 2 root root 4096 Mar 1 2019 pub", "pub", 1, 0, 1, 4096, 3, 1551398400},
        // UNIX with a time, no year: Dec 31 read on Jan 5 belongs to the year before.
        {"-rw-r--r--   1 ftp      ftp        12 Dec 31 23:59 notes.txt", "notes.txt", 0, 1, 1, 12,
         2, 1704067140},
        // A date a few days ahead of now stays in the current year.
        {"-rw-r--r-- 1 u g 1 Jan 10 9:05 soon", "soon", 0, 1, 1, 1, 2, 1704877500},
        // A symbolic link may be either; the target is not part of the name.
        {"lrwxrwxrwx 1 root root 7 Jan 1 2020 bin -> usr/bin", "bin", 1, 1, 1, 7, 3, 1577836800},
        // Blanks inside and in front of a name belong to it (one blank separates the date).
        {"-rw-r--r-- 1 u g 5 Mar 1 2019 a b  c.txt", "a b  c.txt", 0, 1, 1, 5, 3, 1551398400},
        {"-rw-r--r-- 1 u g 5 Mar 1 2019  lead", " lead", 0, 1, 1, 5, 3, 1551398400},
        // No group column: the number before the month is the size.
        {"-rw-r--r--   1 ftp  1234 Mar 1 2019 x", "x", 0, 1, 1, 1234, 3, 1551398400},
        // Upper-case and mixed-case month names.
        {"-rw-r--r-- 1 u g 9 MAR 1 2019 up", "up", 0, 1, 1, 9, 3, 1551398400},
        {"-rw-r--r-- 1 u g 9 mAR 1 2019 mixed", "mixed", 0, 1, 1, 9, 3, 1551398400},
        // Device, pipe and socket entries are neither directory nor file.
        {"crw-rw-rw- 1 root root 1, 3 Mar 1 2019 null", "null", 0, 0, 1, 3, 3, 1551398400},
        {"prw-r--r-- 1 u g 0 Mar 1 2019 fifo", "fifo", 0, 0, 1, 0, 3, 1551398400},
        // NetPresenz folder marker in place of link count and owner.
        {"drwxrwxr-x               folder        2 May 10  1996 network", "network", 1, 0, 1, 2, 3,
         831686400},
        // NetWare: extra blanks before the name are dropped.
        {"d [R----F--] supervisor            512       Jan 16 18:53    login", "login", 1, 0, 1,
         512, 2, 1705431180},
        {"- [R----F--] rhesus             214059       Oct 20 15:27    cx.exe", "cx.exe", 0, 1, 1,
         214059, 2, 1697815620},
        // Easily parsed format: facts, TAB, name; the last fact may or may not end in a comma.
        {"+m1000000000,r,s280\tindex.html", "index.html", 0, 1, 1, 280, 1, 1000000000},
        {"+i8388621.48594,m825718503,r,s280,\tdjb.html", "djb.html", 0, 1, 1, 280, 1, 825718503},
        {"+i8388621.50690,m824255907,/,\t514", "514", 1, 0, 0, 0, 1, 824255907},
        // MS-DOS: directory marker or size; PM adds twelve hours, 12 counts as 0.
        {"04-27-00  09:09PM       <DIR>          docs", "docs", 1, 0, 0, 0, 2, 956869740},
        {"04-14-00  03:47PM                  589 readme.htm", "readme.htm", 0, 1, 1, 589, 2,
         955727220},
        {"07-18-99  12:16AM                    1 old file.txt", "old file.txt", 0, 1, 1, 1, 2,
         932256960},
        // VMS: name before ";", ".DIR" marks a directory.
        {"00README.TXT;1      2 30-DEC-1996 17:44 [SYSTEM] (RWED,RWED,RE,RE)", "00README.TXT", 0, 1,
         0, 0, 2, 851967840},
        {"CORE.DIR;1          1  8-SEP-1996 16:09 [SYSTEM] (RWE,RWE,RE,RE)", "CORE", 1, 0, 0, 0, 2,
         842198940},
        {"CII-MANUAL.TEX;1  213/216  29-JAN-1996 03:33:12  [ANONYMOU,ANONYMOUS]   (RWED,RWED,,)",
         "CII-MANUAL.TEX", 0, 1, 0, 0, 2, 822886380},
        // Sizes past 32 bits saturate instead of wrapping.
        {"-rw-r--r-- 1 u g 5368709120 Mar 1 2019 big.iso", "big.iso", 0, 1, 1, 2147483647, 3,
         1551398400},
        {"-rw-r--r-- 1 u g 99999999999999999999999 Mar 1 2019 huge", "huge", 0, 1, 1, 2147483647,
         3, 1551398400},
        {"+r,s4294967296\tfour.gib", "four.gib", 0, 1, 1, 2147483647, 0, 0},
        {"04-14-00  03:47PM           6442450944 dvd.iso", "dvd.iso", 0, 1, 1, 2147483647, 2,
         955727220},
        // ".DIR" alone is a file name, not an empty directory name.
        {".DIR;1 1 8-SEP-1996 16:09 [SYSTEM]", ".DIR", 0, 1, 0, 0, 2, 842198940},
    };
    for (const expected& c : cases) {
        SCOPED_TRACE(c.line);
        ftp_entry e;
        const std::string line = c.line; // the entry points into it
        ASSERT_EQ(parse(e, line), 1);
        EXPECT_EQ(e.name, c.name);
        EXPECT_EQ(e.may_be_directory, c.dir);
        EXPECT_EQ(e.may_be_file, c.file);
        EXPECT_EQ(e.size_type, c.size_type);
        EXPECT_EQ(e.size, c.size);
        EXPECT_EQ(e.time_type, c.time_type);
        EXPECT_EQ(e.time, c.time);
    }
}

TEST(FtpListing, IdOfTheEasilyParsedFormatPointsIntoTheLine) {
    const std::string line = "+i8388621.48594,m825718503,r,s280,\tdjb.html";
    ftp_entry e;
    ASSERT_EQ(parse(e, line), 1);
    EXPECT_EQ(e.id_type, 1);
    EXPECT_EQ(e.id, "8388621.48594");
    EXPECT_EQ(e.id.data(), line.data() + 2);
    EXPECT_EQ(e.name.data(), line.data() + line.size() - 8);
}

TEST(FtpListing, UnrecognisedLines) {
    const char* lines[] = {
        "",
        "d",
        "total 48",
        "Xdrwxr-xr-x 2 root root 4096 Mar 1 2019 pub",
        // The line ends inside the date: no name.
        "drwxr-xr-x 2 root root 4096 Mar 1 2019",
        "drwxr-xr-x 2 root root 4096 Mar 1",
        // Year or time field shorter than four bytes.
        "-rw-r--r-- 1 u g 5 Mar 1 19 short-year",
        // No month name anywhere.
        "-rw-r--r-- 1 u g 5 6 7 8 9 10 11",
        // Easily parsed format without a TAB.
        "+m1000000000,r,s280 index.html",
        "+",
        // VMS cut short, or with a bad month.
        "FOO.TXT;1 2 30-DEC",
        "FOO.TXT;1 2 30-DEC-1996",
        "FOO.TXT;1 2 30-DEC-1996 17:44",
        "FOO.TXT;1 2 30-XYZ-1996 17:44 [SYSTEM]",
        ";",
        // MS-DOS cut short.
        "04-27-00",
        "04-27-00  09:09PM",
        "04-27-00  09:09PM       <DIR>",
        "04-27-00  09:09XX  12 x",
        "1234",
    };
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        ftp_entry e;
        e.may_be_file = 7;
        EXPECT_EQ(parse(e, line), 0);
        // Nothing of an earlier line or a half-read one is left behind.
        EXPECT_EQ(e.may_be_file, 0);
        EXPECT_EQ(e.may_be_directory, 0);
        EXPECT_EQ(e.size_type, 0);
        EXPECT_EQ(e.time_type, 0);
        EXPECT_TRUE(e.name.empty());
    }
    ftp_entry e;
    EXPECT_EQ(parse_ftp_line(e, nullptr, 10), 0);
}

TEST(FtpListing, DatesWithoutYearAreGuessedAgainstNow) {
    ftp_entry e;
    const std::string line = "-rw-r--r-- 1 u g 1 Mar 15 10:30 f";
    // 2024-03-10: a date a few days ahead is this year; 2024-12-01: 261 days back, this year;
    // 2025-03-10: 360 days back is too far, so it is this year's date, ahead again.
    struct {
        std::time_t now;
        std::int32_t time;
    } rows[] = {{1710028800, 1710498600}, {1733011200, 1710498600}, {1741564800, 1742034600}};
    for (const auto& row : rows) {
        ASSERT_EQ(parse(e, line, row.now), 1);
        EXPECT_EQ(e.time_type, FTP_TIME_MINUTE);
        EXPECT_EQ(e.time, row.time) << row.now;
    }
}

TEST(FtpListing, CalendarArithmetic) {
    EXPECT_EQ(ftp_date_seconds(1970, 0, 1), 0);
    EXPECT_EQ(ftp_date_seconds(2000, 1, 29), 951782400); // leap day of a year divisible by 400
    EXPECT_EQ(ftp_date_seconds(2100, 2, 1), 4107542400); // 2100 has no leap day
    EXPECT_EQ(ftp_date_seconds(1969, 11, 31), -86400);
    // Months and days out of range carry over.
    EXPECT_EQ(ftp_date_seconds(2019, 12, 1), ftp_date_seconds(2020, 0, 1));
    EXPECT_EQ(ftp_date_seconds(2019, -1, 1), ftp_date_seconds(2018, 11, 1));
    EXPECT_EQ(ftp_date_seconds(2019, 0, 0), ftp_date_seconds(2018, 11, 31));
}

// Real listings: what pyftpdlib sent to curl, and what GNU ls prints.
std::vector<std::string> read_lines(std::istream& in) {
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

TEST(FtpListing, PyftpdlibListing) {
    std::ifstream in(TN_TEST_DATA "/pyftpdlib-list.txt", std::ios::binary);
    ASSERT_TRUE(in);
    // Captured on 2026-12-10 at 13:06 UTC; read ten minutes later.
    const std::time_t now = 1796908200;
    std::map<std::string, std::pair<int, int>> flags;
    for (const std::string& line : read_lines(in)) {
        ftp_entry e;
        ASSERT_EQ(parse(e, line, now), 1) << line;
        flags[std::string(e.name)] = {e.may_be_directory, e.may_be_file};
        if (e.name == "readme.txt") {
            EXPECT_EQ(e.size, 6);
            EXPECT_EQ(e.time_type, FTP_TIME_MINUTE);
            EXPECT_EQ(e.time, 1796907960);
        }
        if (e.name == "sub") {
            EXPECT_EQ(e.time_type, FTP_TIME_DAY);
            EXPECT_EQ(e.time, 1551398400);
        }
    }
    std::map<std::string, std::pair<int, int>> want = {
        {"a b#c.txt", {0, 1}}, {"filelink", {1, 1}},   {"link", {1, 1}},
        {"pub", {1, 0}},       {"readme.txt", {0, 1}}, {"sub", {1, 0}},
    };
    EXPECT_EQ(flags, want);
}

TEST(FtpListing, GnuLsListing) {
    char dir_template[] = "/tmp/tn-ftplist-XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    const fs::path dir = dir_template;
    std::ofstream(dir / "plain.txt") << "12345";
    std::ofstream(dir / "with blank.txt") << "";
    fs::create_directory(dir / "folder");
    fs::create_symlink("plain.txt", dir / "link");
    // An old file is listed with its year instead of a time.
    std::ofstream(dir / "old.txt") << "o";
    ASSERT_EQ(std::system(
                  ("touch -d '2001-02-03 04:05 UTC' '" + (dir / "old.txt").string() + "'").c_str()),
              0);

    const std::string command = "LC_ALL=C TZ=UTC ls -l '" + dir.string() + "'";
    int status = -1;
    const std::string text = tn_test::command_output_with_status(command, status);
    ASSERT_EQ(status, 0);

    std::istringstream in(text);
    std::map<std::string, ftp_entry> entries;
    int unrecognised = 0;
    for (const std::string& line : read_lines(in)) {
        ftp_entry e;
        if (parse_ftp_line(e, line.data(), line.size()) == 1)
            entries[std::string(e.name)] = e;
        else
            ++unrecognised;
    }
    EXPECT_EQ(unrecognised, 1); // the "total" line
    ASSERT_EQ(entries.size(), 5u) << text;
    EXPECT_EQ(entries["plain.txt"].may_be_file, 1);
    EXPECT_EQ(entries["plain.txt"].size, 5);
    EXPECT_EQ(entries["plain.txt"].time_type, FTP_TIME_MINUTE);
    EXPECT_EQ(entries["with blank.txt"].may_be_file, 1);
    EXPECT_EQ(entries["folder"].may_be_directory, 1);
    EXPECT_EQ(entries["folder"].may_be_file, 0);
    EXPECT_EQ(entries["link"].may_be_directory, 1);
    EXPECT_EQ(entries["link"].may_be_file, 1);
    EXPECT_EQ(entries["old.txt"].time_type, FTP_TIME_DAY);
    EXPECT_EQ(entries["old.txt"].time, 981158400); // 2001-02-03, day precision
    fs::remove_all(dir);
}

// Hostile lines: every file of the corpus, line by line and whole, must parse or be refused
// without reading outside the line, and any name or id must lie inside it.
void check_bounds(const char* line, std::size_t length) {
    ftp_entry e;
    int r = parse_ftp_line(e, line, length, jan5_2024);
    if (r == 0) {
        EXPECT_TRUE(e.name.empty());
        return;
    }
    EXPECT_EQ(r, 1);
    auto inside = [&](std::string_view v) {
        return v.empty() || (v.data() >= line && v.data() + v.size() <= line + length);
    };
    EXPECT_TRUE(inside(e.name));
    EXPECT_TRUE(inside(e.id));
    EXPECT_TRUE(e.may_be_directory == 0 || e.may_be_directory == 1);
    EXPECT_TRUE(e.may_be_file == 0 || e.may_be_file == 1);
}

TEST(FtpListing, NastyCorpusReplay) {
    const fs::path corpus = TN_TEST_DATA "/nasty";
    int files = 0;
    for (const auto& f : fs::directory_iterator(corpus)) {
        SCOPED_TRACE(f.path().string());
        std::ifstream in(f.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ++files;
        // Copies of exactly the right size, so that an over-read lands outside the buffer.
        std::vector<char> whole(bytes.begin(), bytes.end());
        check_bounds(whole.data(), whole.size());
        std::size_t start = 0;
        while (start <= bytes.size()) {
            std::size_t end = bytes.find('\n', start);
            if (end == std::string::npos) end = bytes.size();
            std::vector<char> line(bytes.begin() + start, bytes.begin() + end);
            check_bounds(line.data(), line.size());
            // Every prefix too: the formats fail at each place where the line may end.
            for (std::size_t k = 0; k < line.size(); ++k) {
                std::vector<char> prefix(line.begin(), line.begin() + k);
                check_bounds(prefix.data(), prefix.size());
            }
            start = end + 1;
        }
    }
    EXPECT_GT(files, 0);
}

} // namespace
} // namespace lumbrake
