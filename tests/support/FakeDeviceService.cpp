#include "FakeDeviceService.h"

#include "AllocationCounter.h"
#include "DeviceNames.h"
#include "MidiBytes.h"
#include "WinmmRoutingThread.h"

#include <algorithm>
#include <chrono>
#include <tuple>
#include <utility>

struct FakeDeviceService::Port {
    Kind kind;
    uint32_t device;
    MidiInProc callback = nullptr;
    uintptr_t instance = 0;
    bool open = true;
    bool started = false;
    bool stopping = false;
    bool busy = false;
    uint64_t delivered = 0;  // callbacks returned
    std::deque<std::tuple<uint32_t, uint32_t, std::vector<uint8_t>>> queue;  // notification, message, long bytes
    std::thread thread;
};

// The routing thread's wake-up, as an auto-reset event. (MinGW's
// std::counting_semaphore lost a wake-up under wine.)
struct FakeDeviceService::RoutingEvent {
    std::mutex mutex;
    std::condition_variable signalled;
    bool set = false;
};

namespace {

FakeDeviceService::RoutingEvent& EventOf(void* event)
{
    return *static_cast<FakeDeviceService::RoutingEvent*>(event);
}

const WinmmThreadCalls RoutingCalls{
    [](void* event) {
        std::lock_guard lock(EventOf(event).mutex);
        EventOf(event).set = true;
        EventOf(event).signalled.notify_one();
    },
    [](void* event) {
        std::unique_lock lock(EventOf(event).mutex);
        EventOf(event).signalled.wait(lock, [event] { return EventOf(event).set; });
        EventOf(event).set = false;
    },
    [](void*) { static thread_local CountAllocationsHere counting; },
};

const char* KindName(FakeDeviceService::Kind kind)
{
    return kind == FakeDeviceService::Kind::Input ? "in" : "out";
}

}  // namespace

FakeDeviceService::FakeDeviceService(std::vector<std::string> inputs, std::vector<std::string> outputs)
    : m_inputs(std::move(inputs)), m_outputs(std::move(outputs))
{
}

FakeDeviceService::~FakeDeviceService()
{
    std::vector<Port*> running;
    {
        std::lock_guard lock(m_mutex);
        for (auto& port : m_ports) {
            if (port->thread.joinable()) {
                port->stopping = true;
                running.push_back(port.get());
            }
        }
    }
    m_changed.notify_all();
    for (Port* port : running)
        port->thread.join();
}

void FakeDeviceService::failNextOpen(Kind kind, uint32_t device, MmResult code)
{
    std::lock_guard lock(m_mutex);
    m_openFailures[{kind, device}] = code;
}

void FakeDeviceService::failNextClose(Kind kind, uint32_t device, MmResult code)
{
    std::lock_guard lock(m_mutex);
    m_closeFailures[{kind, device}] = code;
}

void FakeDeviceService::holdElsewhere(Kind kind, uint32_t device, bool held)
{
    std::lock_guard lock(m_mutex);
    m_heldElsewhere[{kind, device}] = held;
}

void FakeDeviceService::deliver(uint32_t inputDevice, uint32_t message, uint32_t notification)
{
    enqueue(inputDevice, notification, message, {});
}

void FakeDeviceService::deliverCycle(uint32_t inputDevice, const std::vector<uint32_t>& messages)
{
    {
        std::lock_guard lock(m_mutex);
        Port* port = openPort(Kind::Input, inputDevice);
        for (size_t i = 0; port && i < messages.size(); ++i)
            port->queue.emplace_back(MIM_DATA, messages[i], std::vector<uint8_t>{});
    }
    m_changed.notify_all();
    waitDelivered();
}

void FakeDeviceService::deliverLong(uint32_t inputDevice, std::vector<uint8_t> bytes)
{
    enqueue(inputDevice, MIM_LONGDATA, 0, std::move(bytes));
}

void FakeDeviceService::enqueue(uint32_t inputDevice, uint32_t notification, uint32_t message,
                                std::vector<uint8_t> bytes)
{
    {
        std::lock_guard lock(m_mutex);
        Port* port = openPort(Kind::Input, inputDevice);
        if (!port)
            return;
        port->queue.emplace_back(notification, message, std::move(bytes));
    }
    m_changed.notify_all();
}

void FakeDeviceService::waitDelivered()
{
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] {
            for (auto& port : m_ports) {
                if (port->thread.joinable() && !port->stopping && (port->busy || !port->queue.empty()))
                    return false;
            }
            return true;
        });
    }
    if (m_router)
        m_router->flush();
}

std::vector<uint32_t> FakeDeviceService::sent(uint32_t outputDevice) const
{
    std::lock_guard lock(m_mutex);
    std::vector<uint32_t> messages;
    for (const auto& [device, message] : m_sendLog) {
        if (device == outputDevice)
            messages.push_back(message);
    }
    return messages;
}

std::vector<std::vector<uint8_t>> FakeDeviceService::sentLong(uint32_t outputDevice) const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::vector<uint8_t>> messages;
    for (const auto& [device, bytes] : m_longSends) {
        if (device == outputDevice)
            messages.push_back(bytes);
    }
    return messages;
}

void FakeDeviceService::failNextLongSend(MmResult code)
{
    std::lock_guard lock(m_mutex);
    m_longSendFailure = code;
}

std::vector<std::pair<uint32_t, uint32_t>> FakeDeviceService::sendLog() const
{
    std::lock_guard lock(m_mutex);
    return m_sendLog;
}

void FakeDeviceService::clearSent()
{
    std::lock_guard lock(m_mutex);
    m_sendLog.clear();
    m_longSends.clear();
}

bool FakeDeviceService::isOpen(Kind kind, uint32_t device) const
{
    std::lock_guard lock(m_mutex);
    return openPort(kind, device) != nullptr;
}

std::vector<std::string> FakeDeviceService::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

void FakeDeviceService::clearCalls()
{
    std::lock_guard lock(m_mutex);
    m_calls.clear();
}

uint32_t FakeDeviceService::midiInGetNumDevs()
{
    return static_cast<uint32_t>(m_inputs.size());
}

MmResult FakeDeviceService::midiInGetDevCapsA(uint32_t device, MidiInCaps* caps, uint32_t size)
{
    return DescribeDevice(m_inputs, device, caps, size);
}

MmResult FakeDeviceService::midiInOpen(MidiHandle* slot, uint32_t device, MidiInProc callback, uintptr_t instance,
                                       uint32_t flags)
{
    if (flags != CALLBACK_FUNCTION || !callback)
        return MMSYSERR_INVALPARAM;
    return open(Kind::Input, slot, device, callback, instance);
}

MmResult FakeDeviceService::midiInStart(MidiHandle handle)
{
    std::lock_guard lock(m_mutex);
    Port* port = find(handle);
    if (!port || port->kind != Kind::Input || !port->open)
        return MMSYSERR_INVALHANDLE;
    port->started = true;
    m_calls.push_back("start in " + std::to_string(port->device));
    return MMSYSERR_NOERROR;
}

MmResult FakeDeviceService::midiInClose(MidiHandle handle)
{
    return close(Kind::Input, handle);
}

uint32_t FakeDeviceService::midiOutGetNumDevs()
{
    return static_cast<uint32_t>(m_outputs.size());
}

MmResult FakeDeviceService::midiOutGetDevCapsA(uint32_t device, MidiOutCaps* caps, uint32_t size)
{
    return DescribeDevice(m_outputs, device, caps, size);
}

MmResult FakeDeviceService::midiOutOpen(MidiHandle* slot, uint32_t device, uintptr_t callback, uintptr_t instance,
                                        uint32_t flags)
{
    if (callback != 0 || flags != CALLBACK_NULL)
        return MMSYSERR_INVALPARAM;
    return open(Kind::Output, slot, device, nullptr, instance);
}

void FakeDeviceService::deliverWhenSent(uint32_t outputDevice, uint32_t sent, uint32_t inputDevice, uint32_t message)
{
    std::lock_guard lock(m_mutex);
    m_trigger = Trigger{outputDevice, sent, inputDevice, message};
}

void FakeDeviceService::refuseSends(uint32_t outputDevice, bool refuse)
{
    std::lock_guard lock(m_mutex);
    m_refusing[outputDevice] = refuse;
}

void FakeDeviceService::sendFromCapture(bool on)
{
    std::lock_guard lock(m_mutex);
    m_sendsFromCapture = on;
    // Sends from a capture callback are counted as its allocations.
    m_sendLog.reserve(1 << 20);
}

void FakeDeviceService::routeOnThread()
{
    m_routingEvent = std::make_unique<RoutingEvent>();
    m_router = std::make_unique<WinmmRoutingThread>(RoutingCalls, m_routingEvent.get());
    std::lock_guard lock(m_mutex);
    m_sendLog.reserve(1 << 20);
}

bool FakeDeviceService::sendsFromCapture()
{
    std::lock_guard lock(m_mutex);
    return m_sendsFromCapture || m_router;
}

MmResult FakeDeviceService::midiOutShortMsgNow(MidiHandle handle, uint32_t message, uintptr_t)
{
    const MmResult result = midiOutShortMsg(handle, message);
    // A winmm output takes its time over a message (a third of a millisecond
    // on a cable), which leaves the main thread room to race the routing.
    if (m_router)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    return result;
}

MmResult FakeDeviceService::midiOutLongMsgNow(MidiHandle handle, const uint8_t* bytes, uint32_t size, uintptr_t)
{
    return midiOutLongMsg(handle, bytes, size);
}

uint64_t FakeDeviceService::messagesDropped()
{
    return m_router ? m_router->dropped() : 0;
}

void FakeDeviceService::waitForCapture()
{
    if (m_router) {
        m_router->waitForPass();
        return;
    }
    std::unique_lock lock(m_mutex);
    std::vector<std::pair<Port*, uint64_t>> running;
    for (auto& port : m_ports) {
        if (port->busy)
            running.emplace_back(port.get(), port->delivered);
    }
    m_changed.wait(lock, [&] {
        for (auto [port, delivered] : running) {
            if (port->busy && port->delivered == delivered)
                return false;
        }
        return true;
    });
}

void FakeDeviceService::waitForCycle()
{
    auto* const atStart = m_cycleStart.load();
    if (!atStart)
        return;
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return std::none_of(m_ports.begin(), m_ports.end(), [](auto& p) { return p->busy; }); });
    m_cycleStarting = true;
    lock.unlock();
    atStart(0);
    lock.lock();
    m_cycleStarting = false;
    m_changed.notify_all();
}

MmResult FakeDeviceService::midiOutShortMsg(MidiHandle handle, uint32_t message)
{
    std::unique_lock lock(m_mutex);
    Port* port = find(handle);
    if (!port || port->kind != Kind::Output || !port->open)
        return MMSYSERR_INVALHANDLE;
    uint8_t bytes[3];
    const size_t length = UnpackShortMessage(message, bytes);
    if (length == 0)
        return MMSYSERR_INVALPARAM;
    if (const auto refusing = m_refusing.find(port->device); refusing != m_refusing.end() && refusing->second)
        return MMSYSERR_NOMEM;
    // Recorded as it would go on the wire: the tag byte and any bytes the
    // status does not call for are not part of the message.
    uint32_t wire = 0;
    for (size_t i = 0; i < length; ++i)
        wire |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    m_sendLog.emplace_back(port->device, wire);
    if (m_trigger && m_trigger->output == port->device && m_trigger->sent == wire) {
        const Trigger trigger = *std::exchange(m_trigger, std::nullopt);
        if (Port* input = openPort(Kind::Input, trigger.input)) {
            input->queue.emplace_back(MIM_DATA, trigger.message, std::vector<uint8_t>{});
            const uint64_t taken = input->delivered + input->busy + input->queue.size();
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return m_cycleStarting || input->delivered >= taken; });
        }
    }
    return MMSYSERR_NOERROR;
}

MmResult FakeDeviceService::midiOutLongMsg(MidiHandle handle, const uint8_t* bytes, uint32_t size)
{
    std::lock_guard lock(m_mutex);
    Port* port = find(handle);
    if (!port || port->kind != Kind::Output || !port->open)
        return MMSYSERR_INVALHANDLE;
    if (const MmResult failure = std::exchange(m_longSendFailure, MMSYSERR_NOERROR))
        return failure;
    if (!IsWholeSystemExclusive(bytes, size))
        return MMSYSERR_INVALPARAM;
    m_sendLog.emplace_back(port->device, 0xF0);
    m_longSends.emplace_back(port->device, std::vector<uint8_t>(bytes, bytes + size));
    return MMSYSERR_NOERROR;
}

MmResult FakeDeviceService::midiOutClose(MidiHandle handle)
{
    return close(Kind::Output, handle);
}

FakeDeviceService::Port* FakeDeviceService::find(MidiHandle handle) const
{
    for (auto& port : m_ports) {
        if (reinterpret_cast<MidiHandle>(port.get()) == handle)
            return port.get();
    }
    return nullptr;
}

FakeDeviceService::Port* FakeDeviceService::openPort(Kind kind, uint32_t device) const
{
    for (auto& port : m_ports) {
        if (port->kind == kind && port->device == device && port->open)
            return port.get();
    }
    return nullptr;
}

MmResult FakeDeviceService::open(Kind kind, MidiHandle* slot, uint32_t device, MidiInProc callback,
                                 uintptr_t instance)
{
    std::lock_guard lock(m_mutex);
    m_calls.push_back(std::string("open ") + KindName(kind) + " " + std::to_string(device));
    if (!slot)
        return MMSYSERR_INVALPARAM;
    const Key key{kind, device};
    if (auto failure = m_openFailures.find(key); failure != m_openFailures.end()) {
        const MmResult code = failure->second;
        m_openFailures.erase(failure);
        return code;
    }
    const size_t count = kind == Kind::Input ? m_inputs.size() : m_outputs.size();
    if (device >= count)
        return MMSYSERR_BADDEVICEID;
    if (m_heldElsewhere[key] || openPort(kind, device))
        return MMSYSERR_ALLOCATED;

    auto port = std::make_unique<Port>();
    port->kind = kind;
    port->device = device;
    port->callback = callback;
    port->instance = instance;
    if (kind == Kind::Input) {
        if (m_router && !m_router->attach(device, callback, instance, nullptr))
            return MMSYSERR_NOMEM;
        Port* raw = port.get();
        port->thread = std::thread([this, raw] { run(raw); });
    }
    *slot = reinterpret_cast<MidiHandle>(port.get());
    m_ports.push_back(std::move(port));
    return MMSYSERR_NOERROR;
}

MmResult FakeDeviceService::close(Kind kind, MidiHandle handle)
{
    Port* stopped = nullptr;
    {
        std::lock_guard lock(m_mutex);
        Port* port = find(handle);
        if (!port || port->kind != kind || !port->open) {
            m_calls.push_back(std::string("close ") + KindName(kind) + " ?");
            return MMSYSERR_INVALHANDLE;
        }
        m_calls.push_back(std::string("close ") + KindName(kind) + " " + std::to_string(port->device));
        if (auto failure = m_closeFailures.find({kind, port->device}); failure != m_closeFailures.end()) {
            const MmResult code = failure->second;
            m_closeFailures.erase(failure);
            return code;
        }
        port->open = false;
        port->queue.clear();
        if (port->thread.joinable()) {
            port->stopping = true;
            stopped = port;
        }
    }
    m_changed.notify_all();
    // As a real service, no callback runs once the close has returned.
    if (stopped)
        stopped->thread.join();
    if (stopped && m_router)
        m_router->detach(stopped->device);
    return MMSYSERR_NOERROR;
}

void FakeDeviceService::run(Port* port)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this, port] { return port->stopping || (!port->queue.empty() && !m_cycleStarting); });
        if (port->stopping)
            return;
        const auto [notification, message, bytes] = std::move(port->queue.front());
        port->queue.pop_front();
        port->busy = true;
        const bool started = port->started;
        // A cycle ends where the queue runs dry.
        auto* const atEnd = m_sendsFromCapture && port->queue.empty() ? m_cycleEnd.load() : nullptr;
        lock.unlock();
        if (started && m_router) {
            m_router->pushShort(port->device, reinterpret_cast<MidiHandle>(port), notification, message, 0);
        } else if (started) {
            const MidiLongMessage long_{bytes.data(), static_cast<uint32_t>(bytes.size())};
            const uintptr_t param1 = notification == MIM_LONGDATA ? reinterpret_cast<uintptr_t>(&long_) : message;
            CountAllocationsHere counting;
            port->callback(reinterpret_cast<MidiHandle>(port), notification, port->instance, param1, 0);
            if (atEnd)
                atEnd();
        }
        lock.lock();
        port->busy = false;
        ++port->delivered;
        m_changed.notify_all();
    }
}
