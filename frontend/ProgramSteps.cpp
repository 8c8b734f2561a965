#include "ProgramSteps.h"

#include "MidiPorts.h"
#include "OptionsFile.h"
#include "RoutingSettings.h"
#include "SavedDeviceNames.h"

#include <exception>

void StartEngine(const std::function<void()>& installHook, ServiceChoice service,
                 const std::function<void()>& loaded)
{
    TakeRunLock();
    EnumerateDevices(service);
    installHook();
    LoadOptions();
    RestoreSavedDeviceNames();
    loaded();
    OpenSavedDevices();
}

void StopEngine()
{
    CloseAllDevices();
    FreeDeviceNames();
}

bool InputStillOpen()
{
    for (int n = 1; n <= 3; ++n) {
        if (OpenSelection[InputPort(n)] != 0)
            return true;
    }
    return false;
}

int RunWindowProgram(const FrontEndSteps& steps, ServiceChoice service)
{
    int result = 0;
    try {
        steps.showStartScreen();
        steps.createMainForm();
        StartEngine(steps.installHook, service, steps.refreshRoutingDisplay);
        steps.closeStartScreen();
        steps.runMainLoop();
        StopEngine();
    } catch (const std::exception& failure) {
        steps.failureNotice(failure.what());
        result = 1;
    }
    steps.removeHook();
    // The service's threads may post to the window's wake-up until the
    // service is gone; an input still open keeps both alive.
    ReleaseDeviceService();
    ReleaseRunLock();
    steps.releaseMainForm(InputStillOpen());
    steps.closeStartScreen();
    return result;
}
