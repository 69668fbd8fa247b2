// Base64 encoding and decoding.
#include "util/base64.h"

namespace lumbrake {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Digit value of an alphabet character, -1 for "=" and -2 for anything else.
struct digit_table {
    signed char v[256];
    constexpr digit_table() : v() {
        for (int i = 0; i < 256; ++i)
            v[i] = -2;
        for (int i = 0; i < 64; ++i)
            v[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
        v[static_cast<unsigned char>('=')] = -1;
    }
};
constexpr digit_table digits;

inline int digit(char c) {
    return digits.v[static_cast<unsigned char>(c)];
}

} // namespace

void base64_encoder::encode(std::string& out, std::string_view bytes) {
    for (char ch : bytes) {
        pending_[pending_count_++] = static_cast<unsigned char>(ch);
        if (pending_count_ < 3) continue;
        unsigned v = (pending_[0] << 16) | (pending_[1] << 8) | pending_[2];
        out.push_back(alphabet[(v >> 18) & 63]);
        out.push_back(alphabet[(v >> 12) & 63]);
        out.push_back(alphabet[(v >> 6) & 63]);
        out.push_back(alphabet[v & 63]);
        pending_count_ = 0;
        line_length_ += 4;
        if (line_length_ >= 72) {
            out.append("\r\n");
            line_length_ = 0;
        }
    }
}

void base64_encoder::finish(std::string& out) {
    if (pending_count_ == 1) {
        unsigned v = pending_[0] << 16;
        out.push_back(alphabet[(v >> 18) & 63]);
        out.push_back(alphabet[(v >> 12) & 63]);
        out.append("==");
    } else if (pending_count_ == 2) {
        unsigned v = (pending_[0] << 16) | (pending_[1] << 8);
        out.push_back(alphabet[(v >> 18) & 63]);
        out.push_back(alphabet[(v >> 12) & 63]);
        out.push_back(alphabet[(v >> 6) & 63]);
        out.push_back('=');
    }
    pending_count_ = 0;
    line_length_ = 0;
}

bool base64_decoder::decode(std::string& out, std::string_view text) {
    errors_ = 0;
    for (char ch : text) {
        if (ch == '\r' || ch == '\n') continue;
        if (digit(ch) == -2) {
            ++errors_;
            continue;
        }
        pending_[pending_count_++] = ch;
        if (pending_count_ < 4) continue;
        pending_count_ = 0;
        if (end_seen_) {
            ++errors_;
            end_seen_ = false;
        }
        if (pending_[0] == '=' || pending_[1] == '=') {
            ++errors_;
            continue;
        }
        unsigned v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 6) | static_cast<unsigned>(pending_[i] == '=' ? 0 : digit(pending_[i]));
        out.push_back(static_cast<char>((v >> 16) & 0xFF));
        if (pending_[2] != '=') out.push_back(static_cast<char>((v >> 8) & 0xFF));
        if (pending_[3] != '=') out.push_back(static_cast<char>(v & 0xFF));
        if (pending_[3] == '=')
            end_seen_ = true;
        else if (pending_[2] == '=')
            ++errors_;
    }
    return errors_ == 0;
}

bool base64_decoder::finish() {
    bool ended = end_seen_;
    end_seen_ = false;
    pending_count_ = 0;
    return ended;
}

std::string base64_decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    unsigned v = 0, count = 0, pads = 0;
    for (char c : text) {
        int d = digit(c);
        if (d == -2) continue;
        if (d == -1) {
            d = 0;
            ++pads;
        }
        v = (v << 6) | static_cast<unsigned>(d);
        if (++count < 4) continue;
        if (pads < 3) out.push_back(static_cast<char>((v >> 16) & 0xFF));
        if (pads < 2) out.push_back(static_cast<char>((v >> 8) & 0xFF));
        if (pads < 1) out.push_back(static_cast<char>(v & 0xFF));
        if (pads) break;
        v = count = 0;
    }
    return out;
}

void base64_decode(char* text) {
    // The result is never longer than the text: three bytes per four characters.
    const std::string decoded = base64_decode(std::string_view(text));
    decoded.copy(text, decoded.size());
    text[decoded.size()] = '\0';
}

} // namespace lumbrake
