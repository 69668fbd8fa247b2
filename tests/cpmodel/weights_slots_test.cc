// The weights dialog's model: the panel's list to one value per slice and back, and the
// arrangement of the slices in the dialog.
#include "cpmodel/weights-slots.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using lumbrake::QuerySliceWeight;
using W = std::vector<QuerySliceWeight>;

TEST(weights_slots, ListToSlotsAndBack) {
    struct {
        W in;
        W out;
    } cases[] = {
        {{}, {}},
        // 0 is an override, unlike -1.
        {{{5, 0}}, {{5, 0}}},
        {{{5, -1}}, {}},
        // Slice ids outside 1..31 vanish.
        {{{0, 10}, {-3, 10}, {32, 10}, {31, 7}}, {{31, 7}}},
        // The later entry for one slice wins; the result is in ascending slice id.
        {{{16, 1}, {15, 2}, {14, 3}, {15, 4}}, {{14, 3}, {15, 4}, {16, 1}}},
        {{{1, 100}, {31, 100}}, {{1, 100}, {31, 100}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lumbrake::slots_to_weights(lumbrake::weights_to_slots(c.in)), c.out);

    const lumbrake::weight_slots empty = lumbrake::weights_to_slots({});
    for (int v : empty)
        EXPECT_EQ(v, -1);
}

TEST(weights_slots, EverySliceHasExactlyOneControl) {
    std::set<int> slices;
    for (const auto& box : lumbrake::named_weight_boxes())
        for (const auto& c : box.controls)
            EXPECT_TRUE(slices.insert(c.slice).second) << c.slice;
    for (const auto& c : lumbrake::custom_weight_grid())
        EXPECT_TRUE(slices.insert(c.slice).second) << c.slice;
    EXPECT_EQ(slices.size(), 31u);
    EXPECT_EQ(*slices.begin(), 1);
    EXPECT_EQ(*slices.rbegin(), 31);

    EXPECT_EQ(lumbrake::named_weight_boxes()[2].controls[4].slice, 15); // "Title:"
    // The custom grid runs down its columns: first row 0, 4, 8, C; second row starts with 1.
    const auto& grid = lumbrake::custom_weight_grid();
    EXPECT_EQ(std::string(grid[1].label), "Custom 4:");
    EXPECT_EQ(grid[1].slice, 20);
    EXPECT_EQ(std::string(grid[3].label), "Custom C:");
    EXPECT_EQ(grid[3].slice, 28);
    EXPECT_EQ(std::string(grid[4].label), "Custom 1:");
    EXPECT_EQ(grid[4].slice, 17);
    EXPECT_EQ(std::string(grid[15].label), "Custom F:");
    EXPECT_EQ(grid[15].slice, 31);
}

} // namespace
