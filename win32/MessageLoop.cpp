#include "EngineHooks.h"
#include "MessagePath.h"

#include "MessageLoop.h"

#include <atomic>
#include <map>

namespace {

// Posts coalesce: the flag is cleared when the main window takes the
// message, before the ring is drained, so a capture after that posts again.
class PostedWakeUp final : public WakeUpTarget {
public:
    void Post() noexcept override
    {
        if (!m_pending.exchange(true, std::memory_order_acq_rel))
            PostMessageW(m_window.load(std::memory_order_acquire), WM_USER, 0, 0);
    }
    void taken() noexcept { m_pending.exchange(false, std::memory_order_acq_rel); }
    void attach(HWND window) { m_window.store(window, std::memory_order_release); }
    HWND window() const { return m_window.load(std::memory_order_acquire); }

private:
    std::atomic<HWND> m_window{nullptr};
    std::atomic<bool> m_pending{false};
};

PostedWakeUp WakeUp;
std::map<HWND, KeyPreview> Previews;
HWND Dialog = nullptr;

bool PreviewKey(const MSG& message)
{
    if (message.message != WM_KEYDOWN && message.message != WM_SYSKEYDOWN)
        return false;
    const auto preview = Previews.find(GetAncestor(message.hwnd, GA_ROOT));
    return preview != Previews.end() && preview->second(static_cast<int>(message.wParam));
}

}  // namespace

void AttachWakeUp(HWND mainWindow)
{
    WakeUp.attach(mainWindow);
    SetWakeUpTarget(mainWindow ? &WakeUp : nullptr);
}

void WakeUpTaken()
{
    WakeUp.taken();
}

void SetKeyPreview(HWND window, KeyPreview preview)
{
    if (preview)
        Previews[window] = preview;
    else
        Previews.erase(window);
}

void SetDialogWindow(HWND dialog)
{
    Dialog = dialog;
}

void RunMessageLoop(const bool* done)
{
    MSG message;
    while (!(done && *done)) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            if (done)
                PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (message.message == WakeUpMessage && message.hwnd && message.hwnd == WakeUp.window()) {
            WakeUp.taken();
            bool handled = false;
            ApplicationMessage(WakeUpMessage, handled);
        }
        if (PreviewKey(message))
            continue;
        if (Dialog && IsDialogMessageW(Dialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
