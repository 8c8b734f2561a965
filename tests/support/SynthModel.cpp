#include "SynthModel.h"

#include "SoundingNotes.h"

void SynthModel::hear(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() < 2)
        return;
    const uint8_t channel = bytes[0] & 0x0F;
    const uint8_t value = bytes.size() > 2 ? bytes[2] : 0;
    switch (bytes[0] & 0xF0) {
    case 0x90:
    case 0x80:
        m_notes[channel][bytes[1] & 0x7F] = (bytes[0] & 0xF0) == 0x90 && value != 0;
        break;
    case 0xB0:
        if (bytes[1] == 64)
            m_sustain[channel] = value >= 64;
        else if (bytes[1] == 66)
            m_sostenuto[channel] = value >= 64;
        break;
    case 0xE0:
        m_bend[channel] = value;
        break;
    default:
        break;
    }
}

std::string SynthModel::leftSounding() const
{
    std::string left;
    for (int channel = 0; channel < 16; ++channel) {
        const std::string at = " on channel " + std::to_string(channel + 1) + ";";
        for (int note = 0; note < 128; ++note) {
            if (m_notes[channel][note])
                left += " note " + std::to_string(note) + at;
        }
        if (m_sustain[channel])
            left += " sustain" + at;
        if (m_sostenuto[channel])
            left += " sostenuto" + at;
        if (m_bend[channel] != 64)
            left += " bend " + std::to_string(m_bend[channel]) + at;
    }
    return left;
}

std::vector<uint8_t> RandomPlayerMessage(std::mt19937& random)
{
    const auto pick = [&](int below) { return static_cast<uint8_t>(std::uniform_int_distribution<>(0, below - 1)(random)); };
    const uint8_t channel = pick(3);
    switch (pick(8)) {
    case 0:
        return {static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(pick(2) ? 64 : 66), pick(2) ? uint8_t(127) : uint8_t(0)};
    case 1:
        return {static_cast<uint8_t>(0xD0 | channel), pick(128)};
    case 2:
    case 3:
        return {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(60 + pick(12)), 64};
    default:
        return {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(60 + pick(12)), static_cast<uint8_t>(1 + pick(127))};
    }
}

bool RandomUserChange(std::mt19937& random, int n, const std::function<void(int)>& reopen)
{
    switch (random() % 8) {
    case 0:
        SetRouting(n, static_cast<int32_t>(random() % 8), random() % 2, false);
        return true;
    case 1:
        reopen(n);
        return true;
    default:
        return false;
    }
}
