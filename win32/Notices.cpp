#include "EngineHooks.h"
#include "ProgramTitle.h"

#include "Notices.h"
#include "Text.h"

#include <windows.h>

namespace {

void Show(const std::string& text, const std::string& caption, UINT icon)
{
    NoticeScope notice;
    HWND active = GetActiveWindow();
    // No owner and task-modal: every window of the thread is disabled,
    // and MB_TOPMOST keeps it above the start screen and the dialog.
    MessageBoxW(nullptr, Wide(text).c_str(), Wide(caption).c_str(),
                MB_OK | icon | MB_TASKMODAL | MB_TOPMOST | MB_SETFOREGROUND);
    // An ownerless box hands the activation to no one in particular: give it
    // back to the window that had it, so keys reach it again.
    if (active && IsWindow(active))
        SetForegroundWindow(active);
}

std::string ExecutableName()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path);
    return Utf8(name.substr(name.find_last_of(L"\\/") + 1));
}

}  // namespace

void ShowErrorNotice(const char* text, const char* caption)
{
    Show(text, caption, 0);
}

void FailureNotice(const std::string& text)
{
    Show(text + ".", ProgramTitle(ExecutableName()), MB_ICONSTOP);
}
