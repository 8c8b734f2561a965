#include "Lifecycle.h"

#include "ApplicationMessageFilter.h"
#include "EngineHooks.h"
#include "EngineStartUp.h"
#include "MainForm.h"
#include "MidiPorts.h"
#include "Notices.h"
#include "OptionsFile.h"
#include "QuitSignals.h"
#include "SetupForm.h"
#include "StartScreen.h"

#include <QApplication>

#include <exception>
#include <memory>

int RunProgram(ServiceChoice service)
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
        hook = std::make_unique<ApplicationMessageFilter>(form.get());
        StartEngine(*hook, service, [&] { form->RefreshRoutingDisplay(); });
        CloseStartScreen();

        if (!QuitSignals::received())
            QApplication::exec();

        StopEngine();
    } catch (const std::exception& failure) {
        // Nothing after the failing step runs: no port is opened or closed.
        FailureNotice(QString::fromLocal8Bit(failure.what()));
        result = 1;
    }
    if (hook)
        qApp->removeEventFilter(hook.get());
    hook.reset();
    // The service's threads may post to the window's wake-up event until the
    // service is gone; an input still open keeps both alive.
    ReleaseDeviceService();
    ReleaseRunLock();
    if (InputStillOpen())
        form.release();  // a capture thread may still wake it
    form.reset();
    CloseStartScreen();
    EngineHooks.ShowErrorNotice = nullptr;
    EngineHooks.DevicesChanged = nullptr;
    return result;
}
