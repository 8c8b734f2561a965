#include "EngineHooks.h"

#include "MessagePath.h"
#include "MidiPorts.h"

#include <atomic>

TEngineHooks EngineHooks;

namespace {

std::atomic<WakeUpTarget*> CurrentWakeUpTarget{nullptr};
int NoticesUp = 0;

}  // namespace

void SetWakeUpTarget(WakeUpTarget* target)
{
    CurrentWakeUpTarget.store(target, std::memory_order_release);
}

void PostWakeUp() noexcept
{
    if (WakeUpTarget* target = CurrentWakeUpTarget.load(std::memory_order_acquire))
        target->Post();
}

void ErrorNotice(const char* text, const char* caption)
{
    NoticeScope notice;
    if (EngineHooks.ShowErrorNotice)
        EngineHooks.ShowErrorNotice(text, caption);
}

NoticeScope::NoticeScope()
{
    ++NoticesUp;
}

NoticeScope::~NoticeScope()
{
    if (--NoticesUp == 0) {
        DrainEvents();
        // Device news that came meanwhile is taken in the loop, not here in
        // the middle of whatever showed the notice.
        if (DeviceChangeWaiting())
            PostWakeUp();
    }
}

bool NoticeShowing()
{
    return NoticesUp > 0;
}

void ResetEngineHooks()
{
    EngineHooks = TEngineHooks{};
    CurrentWakeUpTarget.store(nullptr, std::memory_order_release);
    NoticesUp = 0;
}
