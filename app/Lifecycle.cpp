#include "Lifecycle.h"

#include "ApplicationMessageFilter.h"
#include "EngineHooks.h"
#include "MainForm.h"
#include "Notices.h"
#include "ProgramSteps.h"
#include "QuitSignals.h"
#include "SetupForm.h"
#include "StartScreen.h"

#include <QApplication>

#include <memory>

int RunProgram(ServiceChoice service)
{
    EngineHooks.ShowErrorNotice = &ShowErrorNotice;
    EngineHooks.DevicesChanged = &FollowDeviceChanges;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<ApplicationMessageFilter> hook;
    FrontEndSteps steps;
    steps.showStartScreen = &ShowStartScreen;
    steps.createMainForm = [&] {
        form = std::make_unique<TMainForm>();
        form->show();
        // The start screen stays in front, with or without a window manager.
        if (StartScreen)
            StartScreen->raise();
    };
    steps.installHook = [&] {
        hook = std::make_unique<ApplicationMessageFilter>(form.get());
        qApp->installEventFilter(hook.get());
    };
    steps.refreshRoutingDisplay = [&] { form->RefreshRoutingDisplay(); };
    steps.closeStartScreen = &CloseStartScreen;
    steps.runMainLoop = [] {
        if (!QuitSignals::received())
            QApplication::exec();
    };
    steps.failureNotice = [](const char* text) { FailureNotice(QString::fromLocal8Bit(text)); };
    steps.removeHook = [&] {
        if (hook)
            qApp->removeEventFilter(hook.get());
        hook.reset();
    };
    steps.releaseMainForm = [&](bool keep) {
        if (keep)
            form.release();  // a capture thread may still wake it
        form.reset();
    };
    const int result = RunWindowProgram(steps, service);
    EngineHooks.ShowErrorNotice = nullptr;
    EngineHooks.DevicesChanged = nullptr;
    return result;
}
