#include "EngineHooks.h"

#include "MessagePath.h"
#include "MidiPorts.h"

#include <atomic>
#include <utility>

TEngineHooks EngineHooks;

namespace {

std::atomic<WakeUpTarget*> CurrentWakeUpTarget{nullptr};
int NoticesUp = 0;
std::string Subject;

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

void ErrorNotice(const char* text, const char* caption, const std::string& subject)
{
    std::string outer = std::exchange(Subject, subject);
    ErrorNotice(text, caption);
    Subject = std::move(outer);
}

const std::string& NoticeSubject()
{
    return Subject;
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
    Subject.clear();
}
