#include "RoutingDisplay.h"

#include "RoutingSettings.h"
#include "SoundingNotes.h"

std::array<bool, 15> RoutingDisplay()
{
    // Per input, the check box numbers of its five settings in the order
    // InputSettings gives them.
    static constexpr int Mapping[3][5] = {{1, 2, 3, 10, 11}, {4, 5, 6, 13, 12}, {7, 8, 9, 15, 14}};
    std::array<bool, 15> boxes{};
    for (int n = 1; n <= 3; ++n) {
        const auto states = InputSettings(n);
        for (int item = 0; item < 5; ++item)
            boxes[static_cast<size_t>(Mapping[n - 1][item] - 1)] = states[static_cast<size_t>(item)];
    }
    return boxes;
}

RoutingChecks CurrentRoutingChecks()
{
    return {InputSettings(1), InputSettings(2), InputSettings(3)};
}

void ApplyRoutingChecks(const RoutingChecks& checks)
{
    for (int n = 1; n <= 3; ++n) {
        const auto& items = checks[static_cast<size_t>(n - 1)];
        const int32_t mask = (items[0] ? 1 : 0) + (items[1] ? 2 : 0) + (items[2] ? 4 : 0);
        SetRouting(n, mask, items[3], items[4]);
    }
}

std::string LostMessagesText(uint64_t lost)
{
    return "MIDI messages lost: " + std::to_string(lost);
}
