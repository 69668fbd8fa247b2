#include "wvadapter/wv-precheck.h"

#include <algorithm>
#include <cstring>

namespace lumbrake::wvadapter {

namespace {

constexpr unsigned char compound_signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

constexpr std::uint32_t end_of_chain = 0xFFFFFFFE;
constexpr std::uint32_t free_sector = 0xFFFFFFFF;

// Word 97 and later: the FIB's character counts and the (offset, length) pairs in the table
// stream that the library reads before anything else.
constexpr std::size_t fib97_ccp_text = 0x4C;
constexpr int story_count = 8;
constexpr std::size_t fib97_plcfbte_chpx = 0xFA;
constexpr std::size_t fib97_plcfbte_papx = 0x102;
constexpr std::size_t fib97_clx = 0x1A2;
constexpr std::size_t fib97_min_length = fib97_clx + 8;
constexpr std::uint16_t nfib_word97 = 0xC1;

} // namespace

bool has_compound_signature(const unsigned char* data, std::size_t length) {
    return length >= 8 && std::memcmp(data, compound_signature, 8) == 0;
}

bool has_legacy_word_signature(const unsigned char* data, std::size_t length) {
    if (length < 8) return false;
    const std::uint32_t magic = le32(data);
    return magic == 0x0000BE31 || magic == 0x002DA5DB || magic == 0x230037FE;
}

bool plausible_compound_file(const unsigned char* data, std::size_t length) {
    if (length < 512 || !has_compound_signature(data, length)) return false;
    if (le16(data + 0x1C) != 0xFFFE) return false;
    const std::uint16_t major = le16(data + 0x1A);
    const std::uint16_t shift = le16(data + 0x1E);
    if (!((major == 3 && shift == 9) || (major == 4 && shift == 12))) return false;
    if (le16(data + 0x20) != 6 || le32(data + 0x38) != 4096) return false;

    const std::size_t sector = std::size_t(1) << shift;
    if (length < 2 * sector) return false; // the header sector and at least one more
    // Sectors after the header; a short last sector still counts.
    const std::uint64_t sectors = (length - sector + sector - 1) / sector;
    const auto inside = [&](std::uint32_t s) { return s < sectors; };

    const std::uint32_t fat_sectors = le32(data + 0x2C);
    if (fat_sectors == 0 || fat_sectors > sectors) return false;
    if (!inside(le32(data + 0x30))) return false; // first directory sector
    const std::uint32_t minifat = le32(data + 0x3C);
    if (minifat != end_of_chain && minifat != free_sector && !inside(minifat)) return false;
    const std::uint32_t difat_sectors = le32(data + 0x48);
    const std::uint32_t first_difat = le32(data + 0x44);
    if (difat_sectors > sectors) return false;
    if (difat_sectors == 0) {
        if (fat_sectors > 109) return false;
    } else if (!inside(first_difat)) {
        return false;
    }
    const std::uint32_t listed = std::min<std::uint32_t>(fat_sectors, 109);
    for (std::uint32_t i = 0; i < listed; ++i)
        if (!inside(le32(data + 0x4C + 4 * i))) return false;
    return true;
}

bool plausible_fib(const unsigned char* fib, std::size_t fib_length, std::size_t word_size,
                   std::size_t table0_size, std::size_t table1_size, std::string& why) {
    if (fib_length > word_size) fib_length = word_size;
    if (fib_length < 0x20) {
        why = "Word stream too short";
        return false;
    }
    const std::uint16_t ident = le16(fib);
    if (ident != 0xA5EC && ident != 0xA5DC) {
        why = "not a Word document stream";
        return false;
    }
    const std::uint16_t nfib = le16(fib + 2);
    const std::uint16_t flags = le16(fib + 0x0A);
    if (flags & 0x0100) {
        why = "encrypted document";
        return false;
    }
    const std::uint32_t fc_min = le32(fib + 0x18);
    const std::uint32_t fc_mac = le32(fib + 0x1C);
    if (fc_min > fc_mac || fc_mac > word_size) {
        why = "text bounds outside the Word stream";
        return false;
    }
    if (nfib < nfib_word97) return true; // the older formats keep their tables in this stream

    if (fib_length < fib97_min_length) {
        why = "file information block too short";
        return false;
    }
    // Every character takes at least one byte of the Word stream.
    std::uint64_t characters = 0;
    for (int i = 0; i < story_count; ++i)
        characters += le32(fib + fib97_ccp_text + 4 * i);
    if (characters > word_size) {
        why = "character counts larger than the Word stream";
        return false;
    }
    const std::size_t table = (flags & 0x0200) ? table1_size : table0_size;
    if (table == no_stream) {
        why = "table stream missing";
        return false;
    }
    for (std::size_t at : {fib97_plcfbte_chpx, fib97_plcfbte_papx, fib97_clx}) {
        const std::uint64_t fc = le32(fib + at), lcb = le32(fib + at + 4);
        if (fc + lcb > table) {
            why = "table reference outside the table stream";
            return false;
        }
    }
    if (le32(fib + fib97_clx + 4) == 0) {
        why = "no piece table";
        return false;
    }
    return true;
}

} // namespace lumbrake::wvadapter
