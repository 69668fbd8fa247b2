// The weights dialog's model: a search panel's slice weights as one value per slice (-1: the
// daemon's default), and the dialog's arrangement of the 31 slices.
#pragma once

#include "api/query-types.h"

#include <array>
#include <vector>

namespace lumbrake {

constexpr int WEIGHT_SLICES = 31;
constexpr int WEIGHT_DEFAULT = -1;
constexpr int WEIGHT_MAX = 100;

// Index = slice id - 1.
using weight_slots = std::array<int, WEIGHT_SLICES>;

// Every slot -1, then each entry with a slice id 1..31 in list order (a later entry for the same
// slice wins); other slice ids are skipped.
weight_slots weights_to_slots(const std::vector<QuerySliceWeight>& weights);

// One entry per slot holding 0 or more, in ascending slice id.
std::vector<QuerySliceWeight> slots_to_weights(const weight_slots& slots);

// One labelled control of the dialog.
struct weight_control {
    const char* label; // untranslated
    int slice;
};

// The three boxes of named slices, five controls each, in the dialog's order.
struct weight_box {
    const char* title; // untranslated
    std::array<weight_control, 5> controls;
};
const std::array<weight_box, 3>& named_weight_boxes();

// The custom slices in the order the eight-column grid is filled, row by row: "Custom 0:",
// "Custom 4:", "Custom 8:", "Custom C:", then 1, 5, 9, D, and so on.
const std::array<weight_control, 16>& custom_weight_grid();

} // namespace lumbrake
