#pragma once

#include "MidiDeviceService.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class WinmmRoutingThread;

// An in-memory device service for tests. Inputs deliver on a thread of their
// own, as a real service does; outputs record what is sent to them.
class FakeDeviceService final : public MidiDeviceService {
public:
    enum class Kind { Input, Output };

    FakeDeviceService(std::vector<std::string> inputs, std::vector<std::string> outputs);
    ~FakeDeviceService() override;

    // The next open (or close) of that device fails with this code.
    void failNextOpen(Kind kind, uint32_t device, MmResult code);
    void failNextClose(Kind kind, uint32_t device, MmResult code);
    // Another program holds the device: opens fail with MMSYSERR_ALLOCATED.
    void holdElsewhere(Kind kind, uint32_t device, bool held = true);

    // Queues a message for the open input device; its own thread hands it to
    // the registered callback. Messages for a closed device are lost.
    void deliver(uint32_t inputDevice, uint32_t message, uint32_t notification = MIM_DATA);
    // Delivers messages that arrive in one cycle (where capture callbacks
    // send, the cycle's end runs once, after the last) and waits for them.
    void deliverCycle(uint32_t inputDevice, const std::vector<uint32_t>& messages);
    // Queues a system exclusive message, handed over as MIM_LONGDATA in order
    // with deliver()'s.
    void deliverLong(uint32_t inputDevice, std::vector<uint8_t> bytes);
    // Returns once every queued message has been handed over.
    void waitDelivered();

    // When `sent` next goes to the output device, `message` arrives on the
    // input device, as a note played while the main thread sends: the send
    // returns once a capture callback took it, or at once while a cycle
    // starts (callbacks wait for that).
    void deliverWhenSent(uint32_t outputDevice, uint32_t sent, uint32_t inputDevice, uint32_t message);
    // Sends to the output device fail with MMSYSERR_NOMEM, as from a full queue.
    void refuseSends(uint32_t outputDevice, bool refuse);
    // Lets the capture callbacks send (as JACK does), recording those sends
    // with the others; off by default.
    void sendFromCapture(bool on);
    // Routes as the winmm service does: each input's thread plays the
    // driver's callback and only copies into a WinmmRoutingThread, whose
    // thread calls the capture callbacks, which send from there (counting
    // their allocations). Short messages only. Before any input opens.
    void routeOnThread();
    struct RoutingEvent;  // the routing thread's wake-up

    // Every short message sent to the output device, in order, from any
    // handle; a long message shows as 0xF0 in its place.
    std::vector<uint32_t> sent(uint32_t outputDevice) const;
    // Every long message sent to the output device, in order.
    std::vector<std::vector<uint8_t>> sentLong(uint32_t outputDevice) const;
    // The next long send, to any output, fails with this code.
    void failNextLongSend(MmResult code);
    // Every send to any output, in order, as (output device, message).
    std::vector<std::pair<uint32_t, uint32_t>> sendLog() const;
    void clearSent();
    bool isOpen(Kind kind, uint32_t device) const;
    // A log of opens and closes, e.g. "open in 2", "close out 0".
    std::vector<std::string> calls() const;
    void clearCalls();

    uint32_t midiInGetNumDevs() override;
    MmResult midiInGetDevCapsA(uint32_t device, MidiInCaps* caps, uint32_t size) override;
    MmResult midiInOpen(MidiHandle* slot, uint32_t device, MidiInProc callback, uintptr_t instance,
                        uint32_t flags) override;
    MmResult midiInStart(MidiHandle handle) override;
    MmResult midiInClose(MidiHandle handle) override;
    uint32_t midiOutGetNumDevs() override;
    MmResult midiOutGetDevCapsA(uint32_t device, MidiOutCaps* caps, uint32_t size) override;
    MmResult midiOutOpen(MidiHandle* slot, uint32_t device, uintptr_t callback, uintptr_t instance,
                         uint32_t flags) override;
    MmResult midiOutShortMsg(MidiHandle handle, uint32_t message) override;
    MmResult midiOutLongMsg(MidiHandle handle, const uint8_t* bytes, uint32_t size) override;
    MmResult midiOutLongMsgNow(MidiHandle handle, const uint8_t* bytes, uint32_t size, uintptr_t time) override;
    MmResult midiOutClose(MidiHandle handle) override;
    bool sendsFromCapture() override;
    MmResult midiOutShortMsgNow(MidiHandle handle, uint32_t message, uintptr_t time) override;
    void setCaptureCycleEnd(void (*atEnd)()) override { m_cycleEnd = atEnd; }
    void setCaptureCycleStart(void (*atStart)(uintptr_t)) override { m_cycleStart = atStart; }
    void waitForCapture() override;
    // A cycle starts on the caller's thread once no capture callback runs.
    void waitForCycle() override;
    uint64_t messagesDropped() override;

private:
    struct Port;
    using Key = std::pair<Kind, uint32_t>;

    Port* find(MidiHandle handle) const;
    Port* openPort(Kind kind, uint32_t device) const;
    void enqueue(uint32_t inputDevice, uint32_t notification, uint32_t message, std::vector<uint8_t> bytes);
    MmResult open(Kind kind, MidiHandle* slot, uint32_t device, MidiInProc callback, uintptr_t instance);
    MmResult close(Kind kind, MidiHandle handle);
    void run(Port* port);

    std::vector<std::string> m_inputs;
    std::vector<std::string> m_outputs;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<Port>> m_ports;  // never freed before the service: stale handles stay checkable
    std::map<Key, MmResult> m_openFailures;
    std::map<Key, MmResult> m_closeFailures;
    std::map<Key, bool> m_heldElsewhere;
    std::vector<std::pair<uint32_t, uint32_t>> m_sendLog;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> m_longSends;
    MmResult m_longSendFailure = MMSYSERR_NOERROR;
    std::vector<std::string> m_calls;
    bool m_sendsFromCapture = false;
    std::atomic<void (*)()> m_cycleEnd{nullptr};
    std::atomic<void (*)(uintptr_t)> m_cycleStart{nullptr};
    bool m_cycleStarting = false;
    struct Trigger {
        uint32_t output, sent, input, message;
    };
    std::optional<Trigger> m_trigger;
    std::map<uint32_t, bool> m_refusing;
    std::unique_ptr<RoutingEvent> m_routingEvent;
    std::unique_ptr<WinmmRoutingThread> m_router;  // last: its thread sends through the members above
};
