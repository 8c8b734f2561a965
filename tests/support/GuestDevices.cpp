#include "GuestDevices.h"

#include <algorithm>

std::string VirtualDevice(int n)
{
    return "Virtual Raw MIDI 0-" + std::to_string(n) + ":";
}

int32_t Selection(const std::vector<std::string>& names, const std::string& start)
{
    for (size_t k = 1; k < names.size(); ++k) {
        if (names[k].starts_with(start))
            return static_cast<int32_t>(k);
    }
    return 0;
}

bool Prime(RawMidiFile& keys, std::initializer_list<MidiListener*> listeners, const WaitFunction& wait)
{
    const auto all = [&](auto heard) {
        return std::all_of(listeners.begin(), listeners.end(), [&](MidiListener* l) { return heard(l->messages()); });
    };
    const bool reached = wait(
        [&] {
            keys.write({0x80, 0, 0});
            return all([](const std::vector<Bytes>& got) { return !got.empty(); });
        },
        20000);
    const Bytes last{0x80, 1, 0};
    keys.write(last);
    const bool settled =
        wait([&] { return all([&](const std::vector<Bytes>& got) { return !got.empty() && got.back() == last; }); },
             10000);
    for (MidiListener* listener : listeners)
        listener->forget();
    return reached && settled;
}
