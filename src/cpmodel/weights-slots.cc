#include "cpmodel/weights-slots.h"

namespace lumbrake {

weight_slots weights_to_slots(const std::vector<QuerySliceWeight>& weights) {
    weight_slots slots;
    slots.fill(WEIGHT_DEFAULT);
    for (const QuerySliceWeight& w : weights)
        if (w.Slice >= 1 && w.Slice <= WEIGHT_SLICES) slots[static_cast<std::size_t>(w.Slice - 1)] = w.Weight;
    return slots;
}

std::vector<QuerySliceWeight> slots_to_weights(const weight_slots& slots) {
    std::vector<QuerySliceWeight> out;
    for (int i = 0; i < WEIGHT_SLICES; ++i)
        if (slots[static_cast<std::size_t>(i)] >= 0)
            out.push_back({i + 1, slots[static_cast<std::size_t>(i)]});
    return out;
}

const std::array<weight_box, 3>& named_weight_boxes() {
    static const std::array<weight_box, 3> boxes{{
        {"Marginal text",
         {{{"Normal:", 5}, {"Emphasized:", 6}, {"Link:", 7}, {"Remote link:", 8}, {"Header:", 9}}}},
        {"Central text",
         {{{"Normal:", 10},
           {"Emphasized:", 11},
           {"Link:", 12},
           {"Remote link:", 13},
           {"Header:", 14}}}},
        {"Other",
         {{{"Author:", 1}, {"Keyword:", 2}, {"Abstract:", 3}, {"Invisible:", 4}, {"Title:", 15}}}},
    }};
    return boxes;
}

const std::array<weight_control, 16>& custom_weight_grid() {
    static const std::array<weight_control, 16> grid = [] {
        static const char* const labels[16] = {
            "Custom 0:", "Custom 1:", "Custom 2:", "Custom 3:", "Custom 4:", "Custom 5:",
            "Custom 6:", "Custom 7:", "Custom 8:", "Custom 9:", "Custom A:", "Custom B:",
            "Custom C:", "Custom D:", "Custom E:", "Custom F:"};
        std::array<weight_control, 16> g{};
        // Each column of pairs runs through four consecutive custom digits downwards.
        for (int row = 0; row < 4; ++row)
            for (int col = 0; col < 4; ++col) {
                const int digit = col * 4 + row;
                g[static_cast<std::size_t>(row * 4 + col)] = {labels[digit], 16 + digit};
            }
        return g;
    }();
    return grid;
}

} // namespace lumbrake
