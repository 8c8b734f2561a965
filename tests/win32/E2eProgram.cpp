#include "E2eDevices.h"
#include "FakeDeviceService.h"
#include "Program.h"

#include <windows.h>

// The Windows program over the in-memory service, chosen when it is built:
// wine here has no MIDI devices. Installed by the end-to-end run's own
// installer, never by the one users get.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    FakeDeviceService service(E2eInputs, E2eOutputs);
    DeviceService = &service;
    return RunRoraridov();
}
