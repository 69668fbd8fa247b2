// Resolution against Python's urllib.parse.urljoin over a table of (base, reference) pairs
// (tests/uri/data/urljoin_python.tsv, made by scripts/gen/gen_urljoin_cases.py).
//
// Where the two differ only in what the canonical form evens out (dot segments and "//" in
// an absolute reference, case of the authority, a default port), both sides are compared in
// canonical form. The remaining differences are deliberate and listed below with the reason.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "util/uri.h"

using namespace lumbrake;

namespace {

struct difference {
    const char* base;
    const char* ref;
    const char* ours;
    const char* why;
};

const difference deliberate[] = {
#include "urljoin_differences.inc"
};

const difference* find_difference(const std::string& base, const std::string& ref) {
    for (const difference& d : deliberate)
        if (base == d.base && ref == d.ref) return &d;
    return nullptr;
}

} // namespace

TEST(UrljoinCompare, AgreesWithPythonUrljoin) {
    std::ifstream in(std::string(TN_TEST_DATA) + "/urljoin_python.tsv");
    ASSERT_TRUE(in) << "missing urljoin_python.tsv";
    std::string line;
    std::size_t pairs = 0;
    std::vector<const difference*> used;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
        ASSERT_NE(t2, std::string::npos) << line;
        std::string base = line.substr(0, t1), ref = line.substr(t1 + 1, t2 - t1 - 1),
                    python = line.substr(t2 + 1);
        ++pairs;
        URI b(base);
        std::string ours = urljoin(b.parts(), b.record(), ref, true);
        const difference* d = find_difference(base, ref);
        if (d) {
            used.push_back(d);
            EXPECT_EQ(ours, d->ours) << "base " << base << " ref " << ref << " (" << d->why << ")";
            EXPECT_NE(canonicalize_url(ours), canonicalize_url(python))
                << "listed as a difference but agrees: base " << base << " ref " << ref;
            continue;
        }
        if (ours == python) continue;
        EXPECT_EQ(canonicalize_url(ours), canonicalize_url(python))
            << "base " << base << " ref " << ref << " ours " << ours << " python " << python;
    }
    EXPECT_GT(pairs, 300u);
    EXPECT_EQ(used.size(), std::size(deliberate)) << "a listed difference has no pair";
}
