#include "EngineStartUp.h"

#include "MidiPorts.h"
#include "OptionsFile.h"
#include "RoutingSettings.h"
#include "SavedDeviceNames.h"

#include <QCoreApplication>

void StartEngine(QObject& hook, ServiceChoice service, const std::function<void()>& loaded)
{
    TakeRunLock();
    EnumerateDevices(service);
    QCoreApplication::instance()->installEventFilter(&hook);
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
