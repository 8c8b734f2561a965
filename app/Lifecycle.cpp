#include "Lifecycle.h"

#include "ApplicationMessageFilter.h"
#include "EngineHooks.h"
#include "MainForm.h"
#include "MidiPorts.h"
#include "Notices.h"
#include "OptionsFile.h"
#include "RoutingSettings.h"
#include "SavedDeviceNames.h"
#include "SetupForm.h"
#include "StartScreen.h"

#include <QApplication>

#include <exception>
#include <memory>

int RunProgram()
{
    EngineHooks.ShowErrorNotice = &ShowErrorNotice;
    EngineHooks.DevicesChanged = &FollowDeviceChanges;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<ApplicationMessageFilter> hook;
    int result = 0;
    try {
        ShowStartScreen();
        form = std::make_unique<TMainForm>();
        form->show();
        // The start screen stays in front, with or without a window manager.
        if (StartScreen)
            StartScreen->raise();
        EnumerateDevices();
        // Before any port opens, so that no wake-up goes unheard.
        hook = std::make_unique<ApplicationMessageFilter>(form.get());
        qApp->installEventFilter(hook.get());
        LoadOptions();
        RestoreSavedDeviceNames();
        form->RefreshRoutingDisplay();
        OpenSavedDevices();
        CloseStartScreen();

        QApplication::exec();

        CloseAllDevices();
        FreeDeviceNames();
    } catch (const std::exception& failure) {
        // Nothing after the failing step runs: no port is opened or closed.
        FailureNotice(QString::fromLocal8Bit(failure.what()));
        result = 1;
    }
    if (hook)
        qApp->removeEventFilter(hook.get());
    hook.reset();
    bool inputOpen = false;
    for (int n = 1; n <= 3; ++n)
        inputOpen = inputOpen || OpenSelection[InputPort(n)] != 0;
    if (inputOpen)
        form.release();  // a capture thread may still wake it
    form.reset();
    CloseStartScreen();
    ReleaseDeviceService();
    EngineHooks.ShowErrorNotice = nullptr;
    EngineHooks.DevicesChanged = nullptr;
    return result;
}
