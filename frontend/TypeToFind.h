#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

// Typing the start of a name in a device list: letters typed less than
// 500 ms apart, in the same list, build one prefix; case is ignored (ASCII
// letters). A new prefix is looked for after the entry shown, so one letter
// typed again steps through the entries it starts.
class TypeToFind {
public:
    using Clock = std::chrono::steady_clock;

    // `list` only tells lists apart. Returns the entry to show, or -1 when no
    // other entry than `current` matches.
    int find(const void* list, std::string_view typed, int current, const std::vector<std::string>& entries,
             Clock::time_point now = Clock::now());

private:
    std::string m_prefix;
    Clock::time_point m_typedAt{};
    const void* m_list = nullptr;
};
