#include "GuestDevices.h"

#include <algorithm>

std::string VirtualDevice(int n)
{
#ifdef _WIN32
    return "VirMIDI 0-" + std::to_string(n);  // as wine's winmm names it
#else
    return "Virtual Raw MIDI 0-" + std::to_string(n) + ":";
#endif
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

std::set<int> Sounding(const std::vector<Bytes>& messages)
{
    std::set<int> sounding;
    for (const Bytes& m : messages) {
        if (m.size() != 3)
            continue;
        if ((m[0] & 0xF0) == 0x90 && m[2] != 0)
            sounding.insert((m[0] & 0x0F) << 7 | m[1]);
        else if ((m[0] & 0xF0) == 0x80 || (m[0] & 0xF0) == 0x90)
            sounding.erase((m[0] & 0x0F) << 7 | m[1]);
    }
    return sounding;
}
