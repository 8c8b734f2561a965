#include "SettingsChange.h"

namespace {

struct ChangeOption {
    std::string_view option;
    SettingsChange::Kind kind;
    std::string_view takes;  // the value's shape, for the words of a mistake
};

// In the order of the kinds.
constexpr ChangeOption Options[] = {
    {"--input", SettingsChange::Input, "N=NAME (or N= for none)"},
    {"--output", SettingsChange::Output, "N=NAME (or N= for none)"},
    {"--route", SettingsChange::Route, "N=OUTPUTS, outputs 1 to 3 with commas between (N=1,3; N= for none)"},
    {"--at-to-pb", SettingsChange::AtToPb, "N=on or N=off"},
    {"--channel-voice-only", SettingsChange::ChVoiceOnly, "N=on or N=off"},
};

bool ParseOutputs(std::string_view list, int32_t& mask)
{
    mask = 0;
    if (list.empty())
        return true;
    for (size_t at = 0;; at += 2) {
        if (at >= list.size() || list[at] < '1' || list[at] > '3')
            return false;
        mask |= 1 << (list[at] - '1');
        if (at + 1 == list.size())
            return true;
        if (list[at + 1] != ',')
            return false;
    }
}

bool ParseSwitch(std::string_view word, bool& on)
{
    on = word == "on";
    return on || word == "off";
}

}  // namespace

bool SettingsChangeOption(std::string_view option, SettingsChange::Kind& kind)
{
    for (const auto& known : Options) {
        if (known.option == option) {
            kind = known.kind;
            return true;
        }
    }
    return false;
}

std::string ParseSettingsChange(SettingsChange::Kind kind, std::string_view value, SettingsChange& change)
{
    change = SettingsChange{};
    change.kind = kind;
    const std::string_view rest = value.size() >= 2 ? value.substr(2) : std::string_view{};
    bool fine = value.size() >= 2 && value[0] >= '1' && value[0] <= '3' && value[1] == '=';
    if (fine) {
        change.n = value[0] - '0';
        switch (kind) {
        case SettingsChange::Input:
        case SettingsChange::Output:
            change.device = rest;
            break;
        case SettingsChange::Route:
            fine = ParseOutputs(rest, change.routeMask);
            break;
        case SettingsChange::AtToPb:
        case SettingsChange::ChVoiceOnly:
            fine = ParseSwitch(rest, change.on);
            break;
        }
    }
    if (fine)
        return {};
    const ChangeOption& option = Options[kind];
    return "option '" + std::string(option.option) + "' takes " + std::string(option.takes) + ", not '" +
           std::string(value) + "'";
}
