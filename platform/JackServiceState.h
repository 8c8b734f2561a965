#pragma once

#include "DeviceNames.h"
#include "JackDeviceService.h"

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The service's three jobs live in three files: the server's life (finding,
// attaching, losing and finding it again) in JackServerLink.cpp, the device
// lists and the ports opened on them in JackDevices.cpp, and the process
// callback's port I/O, the only real-time code, in JackProcess.cpp.

using Clock = std::chrono::steady_clock;

// One of our JACK ports. The process thread finds it through `port`, which
// the main thread publishes after setting everything else up and clears
// before tearing anything down.
struct JackPort {
    std::atomic<jack_port_t*> port{nullptr};
    // Set by the process thread while it uses this record; a close waits for
    // it to clear (with `port` already cleared) before unregistering.
    std::atomic<bool> busy{false};
    std::atomic<bool> started{false};
    MidiInProc callback = nullptr;
    uintptr_t instance = 0;
    jack_ringbuffer_t* outgoing = nullptr;  // outputs: packed messages from midiOutShortMsg
    // Main thread only.
    bool inUse = false;
    std::string peer;  // full name of the device this port serves
    // Connected to the device as it is now. Kept here, not asked of the
    // server: a client's view of the links lags, and a second connect made
    // on that view doubles the link on PipeWire (every message twice).
    bool connected = false;
};

// Devices keep their number for the run: one that goes stays listed as
// absent, one that comes is added at the end.
struct JackDevices {
    std::vector<std::string> names;
    // The port behind each device as this client saw it last, null while it
    // is absent; also tells a renamed port, whose new name may be read
    // before the rename is heard of.
    std::vector<const jack_port_t*> ports;

    bool present(size_t device) const { return device < ports.size() && ports[device]; }

    int64_t find(const std::string& name) const
    {
        const auto at = std::find(names.begin(), names.end(), name);
        return at == names.end() ? -1 : at - names.begin();
    }
};

constexpr size_t PortsPerDirection = 8;
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
    void nameNextPort(bool input, int n) override { (input ? m_nextInput : m_nextOutput) = n; }
    void setChangeNotifier(void (*notify)()) override { m_notify.store(notify, std::memory_order_release); }
    bool update() override;

private:
    using Ports = std::array<JackPort, PortsPerDirection>;

    static int Process(jack_nframes_t frames, void* self);
    static void Shutdown(void* self);
    static void PortRegistered(jack_port_id_t, int, void* self);
    static void PortRenamed(jack_port_id_t, const char*, const char*, void* self);

    void receive(JackPort& in, jack_nframes_t frames);
    void transmit(JackPort& out, jack_nframes_t frames);
    void notify();

    bool adopt(jack_client_t* client);
    void dropDeadClient();
    bool refreshDevices();
    void forgetLinksOfReturnedDevices();
    bool registerPort(JackPort& record, bool input);
    bool connect(JackPort& record, bool input);
    void connectWaitingPorts();

    JackPort* find(MidiHandle handle, Ports& ports);
    MmResult open(MidiHandle* slot, bool input, uint32_t device, MidiInProc callback, uintptr_t instance);
    MmResult close(JackPort* record, bool input);
    void letQueueOut(JackPort& out);
    bool gone() const { return m_serverGone.load(std::memory_order_acquire); }

    // The watcher thread: looks for a server again once the one we had has
    // gone, and asks for another update when a connection must be retried.
    void watch();
    void searchForServer();
    void retryLater();

    std::string m_clientName;
    jack_client_t* m_client = nullptr;  // null while no server answers
    JackDevices m_sources;  // other clients' MIDI outputs: our input devices
    JackDevices m_sinks;    // other clients' MIDI inputs: our output devices
    Ports m_inputs;
    Ports m_outputs;
    int m_nextInput = 0;
    int m_nextOutput = 0;
    std::atomic<bool> m_serverGone{false};
    std::atomic<bool> m_portsChanged{false};
    // Ports registered since the last update, heard on the notification
    // thread: a device back under the same name has lost its links.
    std::mutex m_newsMutex;
    std::vector<jack_port_id_t> m_registered;
    std::atomic<uint64_t> m_cycles{0};
    std::atomic<void (*)()> m_notify{nullptr};

    std::thread m_watcher;
    std::mutex m_watchMutex;
    std::condition_variable m_watchWake;
    bool m_stopping = false;
    bool m_searching = false;
    bool m_retryWanted = false;
    Clock::time_point m_wakeAt = Clock::time_point::max();
    jack_client_t* m_found = nullptr;  // a new server's client, for the main thread to adopt
};
