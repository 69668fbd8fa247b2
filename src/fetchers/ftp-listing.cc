#include "fetchers/ftp-listing.h"

#include <ctime>

namespace lumbrake {

namespace {

constexpr std::int64_t seconds_per_day = 86400;
// A UNIX date without a year is placed in the first year that puts it less than this long
// before now.
constexpr std::int64_t guess_window = 350 * seconds_per_day;

// Decimal digits without any check: each byte adds its distance from '0'. A value past 32 bits
// saturates (a 5 GB file must not read as 705 MB, nor as a negative size).
std::int32_t read_number(const char* p, std::size_t n) {
    constexpr std::int64_t top = INT32_MAX, bottom = INT32_MIN;
    std::int64_t v = 0;
    for (std::size_t k = 0; k < n; ++k) {
        v = v * 10 + (static_cast<std::int64_t>(static_cast<unsigned char>(p[k])) - '0');
        v = v > top ? top : v < bottom ? bottom : v;
    }
    return static_cast<std::int32_t>(v);
}

// 0..11 for a three-letter month name in lower case or with upper-case letters; -1 otherwise.
int read_month(const char* p, std::size_t n) {
    static const char months[12][4] = {"jan", "feb", "mar", "apr", "may", "jun",
                                       "jul", "aug", "sep", "oct", "nov", "dec"};
    if (n != 3) return -1;
    for (int m = 0; m < 12; ++m) {
        bool match = true;
        for (int k = 0; k < 3 && match; ++k) {
            char want = months[m][k];
            match = p[k] == want || p[k] == static_cast<char>(want - 'a' + 'A');
        }
        if (match) return m;
    }
    return -1;
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days from 1970-01-01 to the first day of a month (month 1..12) of the proleptic Gregorian
// calendar.
std::int64_t days_to_month_start(std::int64_t y, std::int64_t m) {
    y -= m <= 2;
    const std::int64_t era = floor_div(y, 400);
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int current_year(std::time_t now) {
    std::tm tm{};
    if (!::gmtime_r(&now, &tm)) return 1970;
    return tm.tm_year + 1900;
}

// The date in the first year from last year on that lies less than 350 days before now; 0 when
// none of the next hundred years does.
std::int64_t guess_date(int month, std::int32_t day, std::time_t now) {
    const int year = current_year(now);
    for (int y = year - 1; y < year + 100; ++y) {
        std::int64_t t = ftp_date_seconds(y, month, day);
        if (static_cast<std::int64_t>(now) - t < guess_window) return t;
    }
    return 0;
}

std::int32_t clock_seconds(std::int32_t hour, std::int32_t minute) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(hour) * 3600 +
                                     static_cast<std::int64_t>(minute) * 60);
}

void set_time(ftp_entry& e, int type, std::int64_t t) {
    e.time_type = type;
    e.time = static_cast<std::int32_t>(t); // out-of-range dates wrap: the line was nonsense
}

// "+" facts "," ... TAB name. The last fact may end at the TAB without its comma.
int parse_eplf(ftp_entry& e, const char* buf, std::size_t len) {
    std::size_t i = 1;
    for (std::size_t j = 1; j < len; ++j) {
        if (buf[j] != ',' && buf[j] != '\t') continue;
        if (j > i) {
            const char* fact = buf + i;
            const std::size_t n = j - i;
            switch (fact[0]) {
            case '/':
                e.may_be_directory = 1;
                break;
            case 'r':
                e.may_be_file = 1;
                break;
            case 's':
                e.size_type = 1;
                e.size = read_number(fact + 1, n - 1);
                break;
            case 'm':
                set_time(e, FTP_TIME_EXACT, read_number(fact + 1, n - 1));
                break;
            case 'i':
                e.id_type = 1;
                e.id = std::string_view(fact + 1, n - 1);
                break;
            default:
                break;
            }
        }
        if (buf[j] == '\t') {
            e.name = std::string_view(buf + j + 1, len - j - 1);
            return 1;
        }
        i = j + 1;
    }
    return 0;
}

int parse_unix(ftp_entry& e, const char* buf, std::size_t len, std::time_t now) {
    switch (buf[0]) {
    case 'd':
        e.may_be_directory = 1;
        break;
    case '-':
        e.may_be_file = 1;
        break;
    case 'l':
        e.may_be_directory = 1;
        e.may_be_file = 1;
        break;
    default:
        break;
    }

    int state = 1;
    std::size_t i = 0; // start of the current field
    std::int32_t size = 0;
    int month = 0;
    std::int32_t day = 0;
    for (std::size_t j = 1; j < len; ++j) {
        if (buf[j] != ' ' || buf[j - 1] == ' ') continue;
        // buf[i..j) is a field of at least one byte.
        const char* field = buf + i;
        const std::size_t n = j - i;
        switch (state) {
        case 1:
            state = 2;
            break; // permissions
        case 2:    // link count, or a folder marker standing for count and owner
            state = (n == 6 && field[0] == 'f') ? 4 : 3;
            break;
        case 3:
            state = 4;
            break; // owner
        case 4:
            size = read_number(field, n);
            state = 5;
            break;
        case 5: // the group may come before the size: numbers until a month name
            month = read_month(field, n);
            if (month >= 0)
                state = 6;
            else
                size = read_number(field, n);
            break;
        case 6:
            day = read_number(field, n);
            state = 7;
            break;
        case 7:
            if (n == 4 && field[1] == ':') {
                std::int64_t date = guess_date(month, day, now);
                set_time(e, FTP_TIME_MINUTE,
                         date == 0 ? 0
                                   : date + clock_seconds(read_number(field, 1),
                                                          read_number(field + 2, 2)));
            } else if (n == 5 && field[2] == ':') {
                std::int64_t date = guess_date(month, day, now);
                set_time(e, FTP_TIME_MINUTE,
                         date == 0 ? 0
                                   : date + clock_seconds(read_number(field, 2),
                                                          read_number(field + 3, 2)));
            } else if (n >= 4) {
                set_time(e, FTP_TIME_DAY, ftp_date_seconds(read_number(field, n), month, day));
            } else {
                e = ftp_entry{};
                return 0;
            }
            // The name starts right after this blank: NetWare pads it with more blanks.
            e.name = std::string_view(buf + j + 1, len - j - 1);
            state = 8;
            break;
        default:
            break; // inside the name
        }
        i = j + 1;
        while (i < len && buf[i] == ' ')
            ++i;
    }
    if (state != 8) {
        e = ftp_entry{};
        return 0;
    }
    e.size_type = 1;
    e.size = size;

    if (buf[0] == 'l') {
        std::size_t arrow = e.name.find(" -> ");
        if (arrow != std::string_view::npos) e.name = e.name.substr(0, arrow);
    }
    if ((buf[1] == ' ' || buf[1] == '[') && e.name.size() > 3 && e.name.substr(0, 3) == "   ")
        e.name.remove_prefix(3);
    return 1;
}

// Cursor over a line for the formats that are read piece by piece; every step fails when the
// line runs out.
class cursor {
public:
    cursor(const char* buf, std::size_t len, std::size_t pos) : buf_(buf), len_(len), pos_(pos) {}
    std::size_t pos() const { return pos_; }
    char peek() const { return buf_[pos_]; }
    bool advance() { return ++pos_ < len_; }
    // Moves to the next byte equal to c (or to either of two bytes).
    bool to(char c) {
        while (buf_[pos_] != c)
            if (!advance()) return false;
        return true;
    }
    bool to_either(char c, char d) {
        while (buf_[pos_] != c && buf_[pos_] != d)
            if (!advance()) return false;
        return true;
    }
    bool to_not(char c) {
        while (buf_[pos_] == c)
            if (!advance()) return false;
        return true;
    }
    std::int32_t number_from(std::size_t start) const {
        return read_number(buf_ + start, pos_ - start);
    }

private:
    const char* buf_;
    std::size_t len_;
    std::size_t pos_;
};

// name;version  size  day-MON-year hours:minutes[:seconds] [owner] (protection)
int parse_vms(ftp_entry& e, const char* buf, std::size_t len, std::size_t semicolon) {
    std::string_view name(buf, semicolon);
    if (name.size() > 4 && name.substr(name.size() - 4) == ".DIR") {
        name.remove_suffix(4);
        e.may_be_directory = 1;
    } else {
        e.may_be_file = 1;
    }
    e.name = name;

    cursor c(buf, len, semicolon);
    if (!c.to(' ') || !c.to_not(' ') || !c.to(' ') || !c.to_not(' ')) return 0;
    std::size_t start = c.pos();
    if (!c.to('-')) return 0;
    const std::int32_t day = c.number_from(start);
    if (!c.to_not('-')) return 0;
    start = c.pos();
    if (!c.to('-')) return 0;
    const int month = read_month(buf + start, c.pos() - start);
    if (month < 0) return 0;
    if (!c.to_not('-')) return 0;
    start = c.pos();
    if (!c.to(' ')) return 0;
    const std::int32_t year = c.number_from(start);
    if (!c.to_not(' ')) return 0;
    start = c.pos();
    if (!c.to(':')) return 0;
    const std::int32_t hour = c.number_from(start);
    if (!c.to_not(':')) return 0;
    start = c.pos();
    if (!c.to_either(':', ' ')) return 0;
    const std::int32_t minute = c.number_from(start);
    set_time(e, FTP_TIME_MINUTE, ftp_date_seconds(year, month, day) + clock_seconds(hour, minute));
    return 1;
}

// MM-DD-YY  HH:MM(AM|PM)  (<DIR>|size)  name
int parse_msdos(ftp_entry& e, const char* buf, std::size_t len) {
    cursor c(buf, len, 0);
    std::size_t start = 0;
    if (!c.to('-')) return 0;
    const std::int32_t month = c.number_from(start);
    if (!c.to_not('-')) return 0;
    start = c.pos();
    if (!c.to('-')) return 0;
    const std::int32_t day = c.number_from(start);
    if (!c.to_not('-')) return 0;
    start = c.pos();
    if (!c.to(' ')) return 0;
    std::int32_t year = c.number_from(start);
    if (year >= 0 && year < 50) year += 2000;
    if (year >= 0 && year < 1000) year += 1900;
    if (!c.to_not(' ')) return 0;
    start = c.pos();
    if (!c.to(':')) return 0;
    std::int32_t hour = c.number_from(start);
    if (!c.to_not(':')) return 0;
    start = c.pos();
    if (!c.to_either('A', 'P')) return 0;
    const std::int32_t minute = c.number_from(start);
    if (hour == 12) hour = 0;
    if (c.peek() == 'A') {
        if (!c.advance()) return 0;
    } else {
        hour += 12;
        if (!c.advance()) return 0;
    }
    if (c.peek() == 'M' && !c.advance()) return 0;
    if (!c.to_not(' ')) return 0;
    if (c.peek() == '<') {
        e.may_be_directory = 1;
        if (!c.to(' ')) return 0;
    } else {
        start = c.pos();
        if (!c.to(' ')) return 0;
        e.size_type = 1;
        e.size = c.number_from(start);
        e.may_be_file = 1;
    }
    if (!c.to_not(' ')) return 0;
    e.name = std::string_view(buf + c.pos(), len - c.pos());
    set_time(e, FTP_TIME_MINUTE,
             ftp_date_seconds(year, month - 1, day) + clock_seconds(hour, minute));
    return 1;
}

} // namespace

std::int64_t ftp_date_seconds(std::int64_t year, std::int64_t month, std::int64_t day) {
    // Callers pass 32-bit values; anything wider is held to that range so that the arithmetic
    // below cannot overflow.
    auto clamp32 = [](std::int64_t v) {
        return v < INT32_MIN   ? std::int64_t{INT32_MIN}
               : v > INT32_MAX ? std::int64_t{INT32_MAX}
                               : v;
    };
    year = clamp32(year);
    month = clamp32(month);
    day = clamp32(day);
    const std::int64_t y = year + floor_div(month, 12);
    const std::int64_t m = month - floor_div(month, 12) * 12; // 0..11
    return (days_to_month_start(y, m + 1) + day - 1) * seconds_per_day;
}

int parse_ftp_line(ftp_entry& entry, const char* line, std::size_t length, std::time_t now) {
    entry = ftp_entry{};
    if (!line || length < 2) return 0;

    int recognised = 0;
    switch (line[0]) {
    case '+':
        recognised = parse_eplf(entry, line, length);
        break;
    case 'b':
    case 'c':
    case 'd':
    case 'l':
    case 'p':
    case 's':
    case '-':
        recognised = parse_unix(entry, line, length, now);
        break;
    default: {
        std::string_view text(line, length);
        std::size_t semicolon = text.find(';');
        if (semicolon != std::string_view::npos)
            recognised = parse_vms(entry, line, length, semicolon);
        else if (line[0] >= '0' && line[0] <= '9')
            recognised = parse_msdos(entry, line, length);
        break;
    }
    }
    if (!recognised) entry = ftp_entry{};
    return recognised;
}

int parse_ftp_line(ftp_entry& entry, const char* line, std::size_t length) {
    return parse_ftp_line(entry, line, length, std::time(nullptr));
}

} // namespace lumbrake
