// Whole-file reads and writes in one call, with the system's error text on failure.
#pragma once

#include <string>
#include <string_view>

namespace lumbrake {

// Clears both outputs, then reads the whole file (binary). False with the system's text of
// the last error when the file cannot be opened or a read fails.
bool read_whole_file(const std::string& file_name, std::string& error, std::string& content);

// Creates or truncates the file and writes all bytes (binary). False with the system's text
// of the last error when opening, writing or closing fails.
bool write_whole_file(const std::string& file_name, std::string& error, std::string_view bytes);

} // namespace lumbrake
