#pragma once

#include "DeviceList.h"
#include "DeviceNames.h"
#include "JackDeviceService.h"
#include "MidiInputReader.h"

#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// The service's jobs live in files of their own: the server's life (finding,
// attaching, losing and finding it again) in JackServerLink.cpp, the device
// lists (names, presence, reconnection) in JackDevices.cpp, our ports opened
// on them and the main thread's sends in JackPorts.cpp, and the process
// callback's port I/O, the only real-time code, in JackProcess.cpp.

using Clock = std::chrono::steady_clock;

// One of our JACK ports. The process thread finds it through `port`, which
// the main thread publishes after setting everything else up and clears
// before tearing anything down.
struct JackPort : DeviceLink {
    std::atomic<jack_port_t*> port{nullptr};
    std::atomic<bool> started{false};
    MidiInProc callback = nullptr;
    uintptr_t instance = 0;
    // Inputs, process thread only: the bytes read so far, a system exclusive
    // message that spans events above all.
    std::unique_ptr<MidiInputReader> reader;
    jack_ringbuffer_t* outgoing = nullptr;  // outputs: packed messages from midiOutShortMsg
    // Outputs, written and read by the process thread (the main thread reads
    // its size, and empties it only while the port is unregistered): what
    // this output could not take in its cycle, kept whole and in order for a
    // later one.
    jack_ringbuffer_t* held = nullptr;
    // Process thread only, outputs: whether the port is registered this
    // cycle; its buffer (null outside a cycle, or when the server gave none),
    // the largest event it can take, the events written to it, their cost in
    // PipeWire's block and the frame of the last one; and the bytes taken
    // from `outgoing` this run, which orders it with `held`.
    bool cycleLive = false;
    void* cycleBuffer = nullptr;
    size_t cycleCapacity = 0;
    uint32_t cycleEvents = 0;
    size_t cycleBlock = 0;
    jack_nframes_t cycleFrame = 0;
    uint64_t queuedTaken = 0;
    // Main thread only, the DeviceLink: `connected` is kept here, not asked
    // of the server: a client's view of the links lags, and a second connect
    // made on that view doubles the link on PipeWire (every message twice).
};

// Ports registered since the main thread last looked. The notification
// thread that hears them must not allocate, so the room is set aside once;
// news beyond it is only marked lost.
struct PortNews {
    std::vector<jack_port_id_t> registered;
    bool lost = false;
};

constexpr size_t PortNewsRoom = 1024;
constexpr size_t PortsPerDirection = 8;
// Events written to one port in one cycle, at most. PipeWire's libjack drops
// a whole cycle that carries more than about 1,365, whatever the period;
// jackd takes more.
constexpr uint32_t EventsPerCycle = 512;
// PipeWire's libjack re-encodes each port's cycle into one block of 32,768
// bytes: a 16-byte header, then per event 16 bytes and its size rounded up to
// 8 (a 3-byte note costs 24). The receiving side throws a fuller block away
// whole, though every write to the JACK buffer succeeded. jackd has no such
// block; counting the same way there costs it nothing it would carry.
constexpr size_t CycleBlockBytes = 32768 - 16;
constexpr size_t BlockCost(uint32_t size)
{
    return 16 + ((size_t{size} + 7) & ~size_t{7});
}
// Room for what an output could not take this cycle: two of the longest
// system exclusive messages and the notes around them.
constexpr size_t HeldBytes = 2 * MaxLongMessageBytes + 16 * 1024;
constexpr size_t OutgoingBytes = 64 * 1024;
constexpr auto ServerSearchInterval = std::chrono::seconds(1);
constexpr auto ConnectRetryInterval = std::chrono::milliseconds(100);

class JackDeviceService final : public MidiDeviceService {
public:
    explicit JackDeviceService(std::string clientName);
    ~JackDeviceService() override;

    bool start(jack_client_t* client);

    uint32_t midiInGetNumDevs() override { return static_cast<uint32_t>(m_sources.names.size()); }
    MmResult midiInGetDevCapsA(uint32_t device, MidiInCaps* caps, uint32_t size) override
    {
        return DescribeDevice(m_sources.names, device, caps, size);
    }
    MmResult midiInOpen(MidiHandle* slot, uint32_t device, MidiInProc callback, uintptr_t instance,
                        uint32_t flags) override;
    MmResult midiInStart(MidiHandle handle) override;
    MmResult midiInClose(MidiHandle handle) override;

    uint32_t midiOutGetNumDevs() override { return static_cast<uint32_t>(m_sinks.names.size()); }
    MmResult midiOutGetDevCapsA(uint32_t device, MidiOutCaps* caps, uint32_t size) override
    {
        return DescribeDevice(m_sinks.names, device, caps, size);
    }
    MmResult midiOutOpen(MidiHandle* slot, uint32_t device, uintptr_t callback, uintptr_t instance,
                         uint32_t flags) override;
    MmResult midiOutShortMsg(MidiHandle handle, uint32_t message) override;
    MmResult midiOutClose(MidiHandle handle) override;

    std::string deviceName(bool input, uint32_t device) override;
    bool devicePresent(bool input, uint32_t device) override;
    int64_t expectDevice(bool input, const std::string& name) override;
    uint32_t deviceArrivals(bool input, uint32_t device) override;
    void nameNextPort(bool input, int n) override { (input ? m_nextInput : m_nextOutput) = n; }
    void setChangeNotifier(void (*notify)()) override { m_notify.store(notify, std::memory_order_release); }
    bool update() override;

    using Ports = std::array<JackPort, PortsPerDirection>;

    bool sendsFromCapture() override { return true; }
    MmResult midiOutShortMsgNow(MidiHandle handle, uint32_t message, uintptr_t time) override;
    void setCaptureCycleStart(void (*atStart)(uintptr_t)) override
    {
        m_captureCycleStart.store(atStart, std::memory_order_release);
    }
    void setCaptureCycleEnd(void (*atEnd)()) override { m_captureCycleEnd.store(atEnd, std::memory_order_release); }
    void waitForCapture() override;
    void waitForCycle() override;
    uint64_t messagesDropped() override { return m_dropped.load(std::memory_order_relaxed); }

private:
    static int Process(jack_nframes_t frames, void* self);
    static void Shutdown(void* self);
    static void PortRegistered(jack_port_id_t, int, void* self);
    static void PortRenamed(jack_port_id_t, const char*, const char*, void* self);
    static void ClientRegistered(const char*, int, void* self);

    void beginOutput(JackPort& out, jack_nframes_t frames);
    void writeWaiting(JackPort& out);
    bool writeHeld(JackPort& out, uint32_t size);
    void endCycle();
    MmResult writeNow(JackPort& out, const uint8_t* bytes, uint32_t size, uintptr_t time);
    MmResult midiOutLongMsgNow(MidiHandle handle, const uint8_t* bytes, uint32_t size, uintptr_t time) override;
    void receiveInputs(jack_nframes_t frames);
    JackPort* outputOf(MidiHandle handle);
    // Main thread: until no cycle that may have begun before the call runs.
    void waitOutOfCycle();
    // Main thread: sleeps while `waiting()` holds, woken at each cycle's end,
    // until `deadline` (which a live server's cycle overrides when
    // `unlessRunning`: a live one always finishes its cycle).
    template <typename Waiting>
    void sleepAcrossCycles(Waiting waiting, Clock::time_point deadline, bool unlessRunning);
    void notify();

    bool adopt(jack_client_t* client);
    void dropDeadClient();
    bool refreshDevices();
    std::vector<PortKey> takeRegisteredPorts();
    ListedPorts listPorts(bool input);
    bool registerPort(JackPort& record, bool input);
    bool connect(JackPort& record, bool input);
    void connectWaitingPorts();

    JackPort* find(MidiHandle handle, Ports& ports);
    MmResult open(MidiHandle* slot, bool input, uint32_t device, MidiInProc callback, uintptr_t instance);
    MmResult close(JackPort* record, bool input);
    bool letQueueOut(JackPort& out);
    Clock::duration stallPatience() const;
    bool gone() const { return m_serverGone.load(std::memory_order_acquire); }

    // The watcher thread: looks for a server again once the one we had has
    // gone, and asks for another update when a connection must be retried.
    void watch();
    void searchForServer();
    void retryLater();

    std::string m_clientName;
    jack_client_t* m_client = nullptr;  // null while no server answers
    DeviceList m_sources;  // other clients' MIDI outputs: our input devices
    DeviceList m_sinks;     // other clients' MIDI inputs: our output devices
    Ports m_inputs;
    Ports m_outputs;
    int m_nextInput = 0;
    int m_nextOutput = 0;
    std::atomic<bool> m_serverGone{false};
    std::atomic<bool> m_portsChanged{false};
    // A port's handle is only its id on jackd, which hands a free id to the
    // next port registered; what was registered anew says which ports are
    // new, though their handles and names were seen before.
    std::mutex m_newsMutex;
    PortNews m_news;   // heard on the notification thread
    PortNews m_heard;  // main thread: the news taken at the last look
    std::atomic<uint64_t> m_cycles{0};
    // Set by the process thread for the length of a cycle. A close clears a
    // port first and then waits for this to clear; the cycle sets this first
    // and then reads the ports: either it does not see the port, or the close
    // waits until it is done with it.
    std::atomic<bool> m_inCycle{false};
    // Process thread only: the cycle's first frame and length.
    jack_nframes_t m_cycleStart = 0;
    jack_nframes_t m_cycleFrames = 0;
    // A main thread waiting for a cycle to end counts itself here and sleeps
    // on the semaphore, which the cycle posts only while someone waits: no
    // system call in the cycle otherwise.
    std::atomic<int> m_cycleWaiters{0};
    sem_t m_cycleEnded;
    // Held messages that could never go out (larger than any cycle of the
    // port carries): let go of and counted, never silently.
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<void (*)()> m_notify{nullptr};
    std::atomic<void (*)(uintptr_t)> m_captureCycleStart{nullptr};
    std::atomic<void (*)()> m_captureCycleEnd{nullptr};

    std::thread m_watcher;
    std::mutex m_watchMutex;
    std::condition_variable m_watchWake;
    bool m_stopping = false;
    bool m_searching = false;
    bool m_retryWanted = false;
    Clock::time_point m_wakeAt = Clock::time_point::max();
    jack_client_t* m_found = nullptr;  // a new server's client, for the main thread to adopt
};
