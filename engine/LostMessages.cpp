#include "LostMessages.h"

#include "EventRing.h"
#include "MidiDeviceService.h"

#include <atomic>

namespace {

std::atomic<uint64_t> Lost{0};

}  // namespace

void CountLostMessages(uint64_t n)
{
    Lost.fetch_add(n, std::memory_order_relaxed);
}

uint64_t LostMessages()
{
    return Lost.load(std::memory_order_relaxed) + DroppedEvents() +
           (DeviceService ? DeviceService->messagesDropped() : 0);
}

LossChange WatchLosses(LossWatch& watch)
{
    const uint64_t now = LostMessages();
    const bool losing = now != watch.seen;
    watch.seen = now;
    if (losing == watch.losing)
        return LossChange::None;
    watch.losing = losing;
    return losing ? LossChange::Began : LossChange::Ended;
}

void ResetLostMessages()
{
    Lost.store(0, std::memory_order_relaxed);
}
