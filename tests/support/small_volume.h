// A small tmpfs mounted on a folder for the life of the object (needs root; mounted() tells),
// that a test fills to its last byte and empties again: a full data volume.
#pragma once

#include <sys/mount.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace tn_test {

class small_volume {
public:
    // `size` as tmpfs takes it, e.g. "size=6m".
    small_volume(const std::filesystem::path& where, const char* size) : where_(where) {
        std::filesystem::create_directories(where);
        mounted_ = ::mount("tmpfs", where.c_str(), "tmpfs", 0, size) == 0;
    }
    ~small_volume() {
        if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
    }
    small_volume(const small_volume&) = delete;
    small_volume& operator=(const small_volume&) = delete;

    bool mounted() const { return mounted_; }
    // Takes every free byte with a file of its own.
    void fill() {
        FILE* f = std::fopen((where_ / "filler").c_str(), "wb");
        std::string block(65536, 'x');
        while (f && std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
        }
        if (f) std::fclose(f);
        // Whatever a smaller write still finds.
        f = std::fopen((where_ / "filler2").c_str(), "wb");
        while (f && std::fwrite("x", 1, 1, f) == 1 && std::fflush(f) == 0) {
        }
        if (f) std::fclose(f);
    }
    void make_room() {
        std::filesystem::remove(where_ / "filler");
        std::filesystem::remove(where_ / "filler2");
    }

private:
    std::filesystem::path where_;
    bool mounted_ = false;
};

} // namespace tn_test
