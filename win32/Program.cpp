#include "EngineHooks.h"
#include "ProgramSteps.h"

#include "MainForm.h"
#include "MessageLoop.h"
#include "Notices.h"
#include "Program.h"
#include "SetupForm.h"
#include "StartScreen.h"

#include <commctrl.h>
#include <objbase.h>

#include <memory>

int RunRoraridov()
{
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // The start screen's picture decoder is a COM object.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EngineHooks.ShowErrorNotice = &ShowErrorNotice;
    EngineHooks.DevicesChanged = &FollowDeviceChanges;
    std::unique_ptr<TMainForm> form;
    FrontEndSteps steps;
    steps.showStartScreen = &ShowStartScreen;
    steps.createMainForm = [&] {
        form = std::make_unique<TMainForm>();
        ShowWindow(form->window(), SW_SHOW);
        UpdateWindow(form->window());
        // The start screen stays in front, with or without a window manager.
        if (StartScreen)
            SetWindowPos(StartScreen->window(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    };
    // The loops themselves pass the wake-ups on (MessageLoop.h).
    steps.installHook = [] {};
    steps.refreshRoutingDisplay = [&] { form->RefreshRoutingDisplay(); };
    steps.closeStartScreen = &CloseStartScreen;
    steps.runMainLoop = [] { RunMessageLoop(); };
    steps.failureNotice = [](const char* text) { FailureNotice(text); };
    steps.removeHook = [] {};
    steps.releaseMainForm = [&](bool keep) {
        if (keep)
            form.release();  // a capture thread may still wake it
        form.reset();
    };
    const int result = RunWindowProgram(steps);
    EngineHooks.ShowErrorNotice = nullptr;
    EngineHooks.DevicesChanged = nullptr;
    CoUninitialize();
    return result;
}
