// Replays the fuzz seeds, every prefix of them and deterministic mutations through the fuzz
// entry, so the normal build checks the reader's robustness too.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fff_binary_entry.h"

namespace {

std::vector<std::string> load_corpus() {
    std::vector<std::string> seeds;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(TN_TEST_DATA) + "/corpus")) {
        std::ifstream in(entry.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return seeds;
}

void run(const std::string& input) {
    fff_binary_fuzz_one(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

TEST(FffFuzzReplay, SeedsAndAllTheirPrefixes) {
    const auto seeds = load_corpus();
    ASSERT_GE(seeds.size(), 3u);
    for (const auto& seed : seeds)
        for (std::size_t n = 0; n <= seed.size(); ++n)
            run(seed.substr(0, n));
}

TEST(FffFuzzReplay, RandomMutations) {
    const auto seeds = load_corpus();
    std::mt19937 rng(20240601);
    auto pick = [&](std::size_t n) {
        return n ? std::uniform_int_distribution<std::size_t>(0, n - 1)(rng) : 0;
    };
    for (int round = 0; round < 100000; ++round) {
        std::string s = seeds[pick(seeds.size())];
        const int edits = 1 + static_cast<int>(pick(4));
        for (int e = 0; e < edits; ++e) {
            switch (pick(5)) {
            case 0: // flip a bit
                if (!s.empty()) s[pick(s.size())] ^= static_cast<char>(1u << pick(8));
                break;
            case 1: // set a byte to an interesting value
                if (!s.empty()) {
                    static const unsigned char values[] = {0x00, 0x7F, 0x80, 0x81,
                                                           0x84, 0x86, 0x8C, 0xFF};
                    s[pick(s.size())] = static_cast<char>(values[pick(sizeof values)]);
                }
                break;
            case 2: // insert a random byte
                s.insert(s.begin() + static_cast<std::ptrdiff_t>(pick(s.size() + 1)),
                         static_cast<char>(pick(256)));
                break;
            case 3: // cut the tail
                s.resize(pick(s.size() + 1));
                break;
            case 4: { // splice a piece of another seed
                const std::string& other = seeds[pick(seeds.size())];
                const std::size_t from = pick(other.size());
                s.insert(pick(s.size() + 1), other.substr(from, pick(other.size() - from + 1)));
                break;
            }
            }
        }
        run(s);
    }
}

} // namespace
