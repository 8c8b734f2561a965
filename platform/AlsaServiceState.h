#pragma once

#include "AlsaDeviceService.h"
#include "ByteRing.h"
#include "DeviceList.h"
#include "DeviceNames.h"
#include "MidiInputReader.h"

#include <alsa/asoundlib.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

// The service's jobs live in files of their own: the client's life, the
// device lists and the subscriptions in AlsaSequencer.cpp, our ports opened
// on them and the main thread's sends in AlsaPorts.cpp, and the reader
// thread, which receives, routes and sends, in AlsaReader.cpp.
//
// Only the reader thread writes to the sequencer: the main thread's sends
// wait for it in a queue of their own, so that everything one port sends
// leaves in order and the sequencer's output buffer has one user.

using Clock = std::chrono::steady_clock;

// One of our six ports, in_1...in_3 or out_1...out_3, made once for the run.
struct AlsaPort : DeviceLink {
    int own = -1;  // our port number
    std::atomic<bool> started{false};
    MidiInProc callback = nullptr;
    uintptr_t instance = 0;
    // Inputs, reader thread only (the main thread resets it while the port
    // is stopped): a system exclusive message that spans events above all.
    std::unique_ptr<MidiInputReader> reader;
    // Outputs: the main thread's messages, each a 32-bit size and its bytes.
    std::unique_ptr<ByteRing> queue;
    // Outputs, written and read by the reader thread (the main thread reads
    // its size): what waits behind system exclusive that leaves at the pace
    // of a MIDI cable, in the same form; how much of the first message has
    // left, and the bytes the output may take at once.
    std::unique_ptr<ByteRing> held;
    uint32_t heldSent = 0;
    double credit = 0;
    Clock::time_point creditAt{};
    // Main thread: the device's address the link was made to.
    snd_seq_addr_t linked{};
};

constexpr size_t PortsPerDirection = 3;
// Sequencer events of other clients read in one pass of the reader, at most,
// before it sends what it has and looks at the main thread's queues again.
constexpr int EventsPerPass = 1024;
// The encoder cuts system exclusive into events of this many bytes, as the
// kernel's own MIDI ports do.
constexpr long ChunkBytes = 256;
constexpr size_t QueueBytes = 2 * MaxLongMessageBytes + 16 * 1024;
// The kernel drops what a MIDI port's 4 KiB buffer cannot take, so system
// exclusive leaves no faster than a cable carries it (31,250 baud), after a
// first burst.
constexpr double WireBytesPerSecond = 3125;
constexpr double BurstBytes = 1024;
constexpr int PaceMillis = 20;
constexpr size_t OutputBufferBytes = 256 * 1024;
constexpr size_t InputBufferBytes = 256 * 1024;
// Room for one event's bytes, a system exclusive chunk however long.
constexpr size_t ScratchBytes = MaxLongMessageBytes + 16;
// Clients 0-191, ports 0-255: one bit each for "created since the last look".
constexpr size_t AddressBits = 192 * 256;

class AlsaDeviceService final : public MidiDeviceService {
public:
    explicit AlsaDeviceService(snd_seq_t* seq);
    ~AlsaDeviceService() override;

    bool start(const char* clientName);

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
    MmResult midiOutLongMsg(MidiHandle handle, const uint8_t* bytes, uint32_t size) override;
    MmResult midiOutClose(MidiHandle handle) override;

    std::string deviceName(bool input, uint32_t device) override { return list(input).name(device); }
    bool devicePresent(bool input, uint32_t device) override { return list(input).present(device); }
    int64_t expectDevice(bool input, const std::string& name) override { return list(input).expect(name); }
    uint32_t deviceArrivals(bool input, uint32_t device) override { return list(input).arrived(device); }
    void nameNextPort(bool input, int n) override { (input ? m_nextInput : m_nextOutput) = n; }
    void setChangeNotifier(void (*notify)()) override { m_notify.store(notify, std::memory_order_release); }
    bool update() override;

    bool sendsFromCapture() override { return true; }
    MmResult midiOutShortMsgNow(MidiHandle handle, uint32_t message, uintptr_t time) override;
    MmResult midiOutLongMsgNow(MidiHandle handle, const uint8_t* bytes, uint32_t size, uintptr_t time) override;
    void waitForCapture() override { waitForPass(); }
    void setCaptureCycleStart(void (*atStart)(uintptr_t)) override { m_atStart.store(atStart); }
    void setCaptureCycleEnd(void (*atEnd)()) override { m_atEnd.store(atEnd); }
    void waitForCycle() override;

    using Ports = std::array<AlsaPort, PortsPerDirection>;

private:
    DeviceList& list(bool input) { return input ? m_sources : m_sinks; }

    // AlsaSequencer.cpp, main thread.
    bool makePorts();
    ListedPorts listPorts(bool input);
    bool refreshDevices(bool first);
    bool link(AlsaPort& record, bool input);
    void unlink(AlsaPort& record, bool input);
    void linkWaitingPorts();
    void notify();

    // AlsaPorts.cpp, main thread.
    MmResult open(MidiHandle* slot, bool input, uint32_t device, MidiInProc callback, uintptr_t instance);
    MmResult close(AlsaPort& record, bool input);
    AlsaPort* find(MidiHandle handle, Ports& ports);
    MmResult queue(MidiHandle handle, const uint8_t* bytes, uint32_t size);
    bool letQueueOut(AlsaPort& out);
    void waitForPass();
    // Sleeps until `done()` holds, woken at the end of each pass; with
    // `wake`, asks the reader for one more pass each time. Gives up after a
    // second, against a reader that is gone.
    template <typename Done>
    void waitForPasses(Done done, bool wake);
    void wakeReader();

    // AlsaReader.cpp, the reader thread.
    void read();
    void pass();
    void sendQueued(AlsaPort& out);
    void sendHeld(AlsaPort& out);
    MmResult hold(AlsaPort& out, const uint8_t* bytes, uint32_t size);
    MmResult write(AlsaPort& out, const uint8_t* bytes, uint32_t size);
    bool writeChunk(AlsaPort& out, const uint8_t* bytes, uint32_t size);
    int waitMillis() const;
    void flush();
    void take(const snd_seq_event_t& event);
    void hearNews(const snd_seq_event_t& event);
    MmResult send(AlsaPort& out, const uint8_t* bytes, uint32_t size);
    AlsaPort* outputOf(MidiHandle handle);

    snd_seq_t* m_seq;
    int m_client = -1;
    Ports m_inputs;
    Ports m_outputs;
    DeviceList m_sources;  // other clients' readable ports: our input devices
    DeviceList m_sinks;    // other clients' writable ports: our output devices
    int m_nextInput = 0;
    int m_nextOutput = 0;
    std::atomic<void (*)()> m_notify{nullptr};

    // Set by the reader when a port or client came or went; the main thread
    // looks again in update().
    std::atomic<bool> m_portsChanged{false};
    // The addresses at which a port was created since the main thread last
    // looked: a port there is new, though its address and name were seen
    // before (a keyboard plugged in again may get its old number back).
    std::array<std::atomic<uint64_t>, AddressBits / 64> m_created{};

    // The reader thread and its handshake: it sets m_inPass for the length
    // of a pass, then counts it. A close stops a port first and then waits
    // until no pass that may have seen it runs.
    std::thread m_reader;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_inPass{false};
    std::atomic<uint64_t> m_passes{0};
    // Posted at a pass's end only while the main thread waits for one.
    std::atomic<int> m_passWaiters{0};
    std::counting_semaphore<> m_passEnded{0};
    // Events a subscriber could not take, this run.
    std::atomic<uint64_t> m_refused{0};
    // The engine's hooks: a pass is to the reader what a cycle is to JACK.
    std::atomic<void (*)(uintptr_t)> m_atStart{nullptr};
    std::atomic<void (*)()> m_atEnd{nullptr};
    int m_wake = -1;  // an eventfd: the main thread has queued, or the reader must stop
    std::vector<pollfd> m_polls;

    // Reader thread only.
    snd_midi_event_t* m_decoder = nullptr;
    snd_midi_event_t* m_encoder = nullptr;
    std::unique_ptr<uint8_t[]> m_scratch;
};
