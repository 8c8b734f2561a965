#include "SettingsWords.h"

#include "MidiPorts.h"
#include "RoutingSettings.h"

namespace {

bool IsInput(int port)
{
    return port < OutputPort(1);
}

const std::vector<std::string>& ListOf(int port)
{
    return IsInput(port) ? InDeviceNames : OutDeviceNames;
}

// A port saved by a position alone (no names file) that names nothing
// listed is told by its number.
std::string SavedDeviceWords(int port, const std::string& name)
{
    if (!name.empty())
        return name;
    const int32_t selection = SavedSelection(port);
    return selection == 0 ? "none" : "device " + std::to_string(selection) + " (not listed)";
}

std::string OnOff(bool on)
{
    return on ? "on" : "off";
}

std::string RouteWords(int32_t mask)
{
    std::string outputs;
    for (int k = 1; k <= 3; ++k) {
        if (mask & (1 << (k - 1)))
            outputs += (outputs.empty() ? "" : ", ") + std::to_string(k);
    }
    if (outputs.empty())
        return "to no output";
    return (outputs.size() == 1 ? "to output " : "to outputs ") + outputs;
}

}  // namespace

std::string PortWords(int port)
{
    return IsInput(port) ? "input " + std::to_string(port - InputPort(1) + 1)
                         : "output " + std::to_string(port - OutputPort(1) + 1);
}

std::string SavedSettingsText(const SavedDeviceNames& names)
{
    std::string text;
    for (int port = 0; port < PortCount; ++port) {
        text += PortWords(port) + ": " + SavedDeviceWords(port, names[port]);
        if (IsInput(port)) {
            const int n = port - InputPort(1) + 1;
            text += "; " + RouteWords(RouteMaskOf(n)) + "; AT to PB " + OnOff(PressureToBend(n)) +
                    "; Ch Voice Only " + OnOff(ChannelVoiceOnly(n));
        }
        text += '\n';
    }
    return text;
}

std::string DeviceListText(const SavedDeviceNames& saved)
{
    std::string text;
    for (int port : {InputPort(1), OutputPort(1)}) {
        const std::vector<std::string>& names = ListOf(port);
        for (size_t selection = 1; selection < names.size(); ++selection) {
            if (DevicePresent(IsInput(port), static_cast<int32_t>(selection)))
                text += (IsInput(port) ? "input\t" : "output\t") + names[selection] + '\n';
        }
    }
    text += '\n';
    for (int port = 0; port < PortCount; ++port) {
        const int32_t selection = SavedSelection(port);
        const bool listed = selection > 0 && static_cast<size_t>(selection) < ListOf(port).size();
        text += PortWords(port) + ": " + SavedDeviceWords(port, saved[port]);
        if (selection != 0)
            text += listed && DevicePresent(IsInput(port), selection) ? " (present)" : " (absent)";
        text += '\n';
    }
    return text;
}

std::string OpenedDevicesLine()
{
    const std::string& service = DeviceService->serviceName();
    std::string line = "MIDI service " + (service.empty() ? std::string("none") : service);
    if (!service.empty() && !DeviceService->answered())
        line += ", waiting for its server";
    for (int port = 0; port < PortCount; ++port) {
        line += port == InputPort(1) || port == OutputPort(1) ? "; " : ", ";
        const int32_t selection = OpenSelection[port];
        line += PortWords(port) + ' ';
        if (selection <= 0 || static_cast<size_t>(selection) >= ListOf(port).size()) {
            line += "none";
            continue;
        }
        line += '"' + ListOf(port)[selection] + '"';
        if (!DevicePresent(IsInput(port), selection))
            line += " (absent)";
    }
    return line;
}

std::string NoServiceWords()
{
    const std::string& service = DeviceService->serviceName();
    if (service.empty())
        return "No MIDI service answers: no device can open";
    if (!DeviceService->answered())
        return "No " + service + " server answers";
    return {};
}
