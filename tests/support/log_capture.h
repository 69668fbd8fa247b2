// Every log line at every level, captured while the object lives.
#pragma once

#include "util/log.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace tn_test {

class log_capture {
public:
    log_capture() {
        saved_ = lumbrake::g_log;
        stream_ = open_memstream(&buffer_, &size_);
        lumbrake::g_log.stream = stream_;
        for (int& t : lumbrake::g_log.thresholds)
            t = lumbrake::LL_BORING;
    }
    ~log_capture() {
        lumbrake::g_log = saved_;
        std::fclose(stream_);
        std::free(buffer_);
    }
    std::string text() {
        std::fflush(stream_);
        return std::string(buffer_, size_);
    }
    // Lines that hold the piece.
    int count(const std::string& piece) {
        std::string all = text();
        int n = 0;
        for (std::size_t at = all.find(piece); at != std::string::npos;
             at = all.find(piece, at + piece.size()))
            ++n;
        return n;
    }
    bool has(const std::string& piece) { return count(piece) > 0; }
    // The ERROR lines only.
    std::vector<std::string> errors() {
        std::vector<std::string> out;
        std::string all = text();
        std::size_t start = 0;
        while (start < all.size()) {
            std::size_t end = all.find('\n', start);
            if (end == std::string::npos) end = all.size();
            std::string line = all.substr(start, end - start);
            if (line.find(" ERROR [") != std::string::npos) out.push_back(line);
            start = end + 1;
        }
        return out;
    }

private:
    lumbrake::log_state saved_;
    std::FILE* stream_ = nullptr;
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace tn_test
