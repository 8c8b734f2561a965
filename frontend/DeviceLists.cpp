#include "DeviceLists.h"

#include "MidiPorts.h"
#include "RoutingSettings.h"

const std::vector<std::string>& DeviceNames(bool input)
{
    return input ? InDeviceNames : OutDeviceNames;
}

std::string DeviceEntryText(bool input, int32_t selection)
{
    const std::string& name = DeviceNames(input).at(static_cast<size_t>(selection));
    return DevicePresent(input, selection) ? name : name + " (absent)";
}

int32_t ShownDevice(bool input, int n)
{
    return OpenSelection[input ? InputPort(n) : OutputPort(n)];
}

int32_t ChooseDevice(bool input, int n, int32_t selection)
{
    if (input)
        SelectInput(n, selection);
    else
        SelectOutput(n, selection);
    return ShownDevice(input, n);
}
