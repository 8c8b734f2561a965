#include "EngineReset.h"

#include "EngineHooks.h"
#include "LostMessages.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "OptionsFile.h"
#include "RoutingSettings.h"

void ResetEngine()
{
    RoutingOptions = TRoutingOptions{};
    for (int port = 0; port < PortCount; ++port) {
        OpenSelection[port] = 0;
        DeviceHandles[port] = nullptr;
    }
    ResetMessagePath();
    ResetLostMessages();
    ResetEngineHooks();
    FreeDeviceNames();
    ReleaseDeviceService();
    ReleaseRunLock();
}
