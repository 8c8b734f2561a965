#include "DeviceLists.h"
#include "E2eDevices.h"
#include "FakeDeviceService.h"
#include "MidiPorts.h"
#include "OptionsFile.h"
#include "RoutingDisplay.h"

#include <cstdio>
#include <filesystem>

// What the Linux program saves, in the directory given, for the choices the
// end-to-end run makes in the Windows program's setup dialog: input 1 on
// "Pads", output 1 on "Drums", input 1 routed to output 1.
int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    std::filesystem::current_path(argv[1]);
    FakeDeviceService service(E2eInputs, E2eOutputs);
    DeviceService = &service;
    EnumerateDevices();
    ChooseDevice(true, 1, 3);
    ChooseDevice(false, 1, 3);
    RoutingChecks checks{};
    checks[0][0] = true;
    ApplyRoutingChecks(checks);
    SaveOptions();
    CloseAllDevices();
    FreeDeviceNames();
    return 0;
}
