// Reads one line of an FTP directory listing in any of the common server formats (easily
// parsed "+" facts, UNIX ls, VMS, MS-DOS) and tells the entry's name and what it may be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string_view>

namespace lumbrake {

enum ftp_time_type : int {
    FTP_TIME_UNKNOWN = 0,
    FTP_TIME_EXACT = 1,  // given by the server in seconds
    FTP_TIME_MINUTE = 2, // to the minute, year given or guessed
    FTP_TIME_DAY = 3,    // date only
};

struct ftp_entry {
    std::string_view name; // points into the line
    int may_be_directory = 0;
    int may_be_file = 0;
    int size_type = 0; // 1: size in bytes known
    std::int32_t size = 0;
    int time_type = FTP_TIME_UNKNOWN;
    std::int32_t time = 0; // seconds since 1970-01-01 00:00 UTC
    int id_type = 0;       // 1: the server's unique id is known
    std::string_view id;   // points into the line
};

// 1 when the line (without its line end) is in a known format, with `entry` filled; 0
// otherwise. The entry is cleared first. `now` is the time against which UNIX dates without
// a year are placed.
int parse_ftp_line(ftp_entry& entry, const char* line, std::size_t length, std::time_t now);
// As above, against the current time.
int parse_ftp_line(ftp_entry& entry, const char* line, std::size_t length);

// Seconds since 1970 of a date of the proleptic Gregorian calendar at midnight UTC. month is
// 0-based; months and days outside their range carry over into the next unit.
std::int64_t ftp_date_seconds(std::int64_t year, std::int64_t month, std::int64_t day);

} // namespace lumbrake
