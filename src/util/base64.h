// Base64 (standard alphabet, "=" padding): a streaming encoder and decoder for MIME bodies,
// and the in-place decoder of NUL-terminated credentials.
#pragma once

#include <string>
#include <string_view>

namespace lumbrake {

// Streaming encoder: call encode() any number of times (the input may be split anywhere),
// then finish(). Lines break with CR LF after every 72 characters; finish() adds no break.
class base64_encoder {
public:
    // Appends the characters of every complete group of three bytes to out.
    void encode(std::string& out, std::string_view bytes);
    // Appends the padded last group (if any) and resets the state.
    void finish(std::string& out);

private:
    unsigned line_length_ = 0;
    unsigned char pending_[3] = {};
    unsigned pending_count_ = 0;
};

// Streaming decoder: decode() any number of times, then finish().
class base64_decoder {
public:
    // Appends the decoded bytes to out. CR and LF are skipped; other characters outside the
    // alphabet are skipped and counted. Returns true when this call counted no error.
    bool decode(std::string& out, std::string_view text);
    // Drops a partial group; true when the data ended with padding. Resets the state.
    bool finish();
    // The errors counted by the last decode() call.
    int errors() const { return errors_; }

private:
    bool end_seen_ = false;
    char pending_[4] = {};
    unsigned pending_count_ = 0;
    int errors_ = 0;
};

// The bytes of the text. Characters outside the alphabet are skipped; a group holding "="
// ends the decoding; a last partial group is dropped.
std::string base64_decode(std::string_view text);

// Decodes the NUL-terminated text in place and NUL-terminates the result. Characters outside
// the alphabet are skipped; a group holding "=" ends the decoding; a last partial group is
// dropped. The caller reads the result as a C string.
void base64_decode(char* text);

} // namespace lumbrake
