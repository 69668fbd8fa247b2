// The writer of a Word document's event stream (wv-events.h), shared by the two readers of the
// reader process: libwv's callbacks and the Word 97 reader of word97-reader.h call the same
// steps, so that both give the same records for the same calls.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "wvadapter/wv-events.h"

namespace lumbrake::wvadapter {

void write_chunk(int fd, const char* data, std::size_t n);

// Collects records and, over a socket, sends them in chunks as they grow.
class emitter {
public:
    emitter(int fd, std::string& out) : fd_(fd), out_(fd < 0 ? out : buffer_) {}

    std::string& buf() { return out_; }
    void maybe_flush() {
        if (fd_ >= 0 && buffer_.size() >= 64 * 1024) flush();
    }
    void flush() {
        if (fd_ < 0 || buffer_.empty()) return;
        write_chunk(fd_, buffer_.data(), buffer_.size());
        buffer_.clear();
    }

private:
    int fd_;
    std::string buffer_;
    std::string& out_;
};

// Windows-1252 bytes 0x80 to 0x9F; Word 97 stores its eight-bit text pieces in this code page.
inline constexpr char16_t cp1252_high[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

inline char16_t from_cp1252(std::uint8_t b) {
    return b >= 0x80 && b < 0xA0 ? cp1252_high[b - 0x80] : char16_t(b);
}

// Turns the reader's steps (paragraph and section bounds, characters at their positions)
// into records: a paragraph's begin record waits for its first text, which tells its story.
class event_writer {
public:
    explicit event_writer(emitter& out) : out_(&out) {}

    // First character position after each story (see the story enum).
    std::uint32_t story_end[story_none] = {};

    void character(std::uint32_t cp, char16_t unit) {
        before_content(cp);
        run_.push_back(unit);
        if (run_.size() >= 4096) flush_run();
    }
    // n characters from position cp on, as n calls of character() would give them: 8-bit
    // (Windows-1252) or 16-bit little-endian units from p.
    void characters(std::uint32_t cp, const unsigned char* p, std::size_t n, bool eight_bit) {
        while (n > 0) {
            before_content(cp);
            std::size_t in_story = n;
            if (story_ < story_none) in_story = std::min<std::size_t>(n, story_end[story_] - cp);
            n -= in_story;
            cp += static_cast<std::uint32_t>(in_story);
            while (in_story > 0) {
                const std::size_t take = std::min<std::size_t>(in_story, 4096 - run_.size());
                const std::size_t at = run_.size();
                run_.resize(at + take);
                char16_t* out = run_.data() + at;
                if (eight_bit) {
                    for (std::size_t k = 0; k < take; ++k)
                        out[k] = p[k] >= 0x80 ? from_cp1252(p[k]) : char16_t(p[k]);
                    p += take;
                } else {
                    for (std::size_t k = 0; k < take; ++k)
                        out[k] = static_cast<char16_t>(p[2 * k] | p[2 * k + 1] << 8);
                    p += 2 * take;
                }
                in_story -= take;
                if (run_.size() >= 4096) flush_run();
            }
        }
    }
    void special(std::uint32_t cp, std::uint16_t code) {
        before_content(cp);
        flush_run();
        append_special(out_->buf(), code);
    }
    void para_begin(std::uint8_t flags) {
        flush_run();
        open_para(); // a paragraph that never saw text still begins and ends
        para_flags_ = flags;
        para_pending_ = true;
        out_->maybe_flush();
    }
    void para_end() {
        flush_run();
        open_para();
        append_mark(out_->buf(), EventType::para_end);
        out_->maybe_flush();
    }
    void section(EventType begin_or_end) {
        flush_run();
        append_mark(out_->buf(), begin_or_end);
        out_->maybe_flush();
    }
    void finish() { flush_run(); }

private:
    int story_of(std::uint32_t cp) const {
        for (int s = 0; s < story_none; ++s)
            if (cp < story_end[s]) return s;
        return story_none;
    }
    void flush_run() {
        if (run_.empty()) return;
        append_units(out_->buf(), EventType::text, run_);
        run_.clear();
        out_->maybe_flush();
    }
    // Text arrived: the paragraph that began before it belongs to its story.
    void before_content(std::uint32_t cp) {
        // Nearly every character is in the story of the one before: check its bounds first.
        if (story_ >= 0 && (story_ == 0 || cp >= story_end[story_ - 1]) &&
            (story_ == story_none || cp < story_end[story_])) {
            open_para();
            return;
        }
        const int s = story_of(cp);
        if (s != story_) {
            flush_run();
            append_status(out_->buf(), EventType::story, static_cast<std::uint8_t>(s));
            story_ = s;
        }
        open_para();
    }
    void open_para() {
        if (!para_pending_) return;
        append_status(out_->buf(), EventType::para_begin, para_flags_);
        para_pending_ = false;
    }

    emitter* out_;
    int story_ = -1;
    bool para_pending_ = false;
    std::uint8_t para_flags_ = 0;
    std::u16string run_;
};

} // namespace lumbrake::wvadapter
