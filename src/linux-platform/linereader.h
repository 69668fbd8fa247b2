// Line-by-line reading of a text file: close-on-exec, any line length, CR LF read as LF.
#pragma once

#include <cstdio>
#include <string>

namespace lumbrake::platform {

class line_reader {
public:
    line_reader() = default;
    ~line_reader();
    line_reader(const line_reader&) = delete;
    line_reader& operator=(const line_reader&) = delete;

    // False when the file cannot be opened for reading or is a directory; errno tells why.
    bool open(const std::string& path);
    // The next line without its line end; false after the last line.
    bool next(std::string& line);

private:
    std::FILE* file_ = nullptr;
    char* buffer_ = nullptr;
    std::size_t capacity_ = 0;
};

} // namespace lumbrake::platform
