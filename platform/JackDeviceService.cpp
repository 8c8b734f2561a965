#include "JackDeviceService.h"

#include "DeviceNames.h"
#include "MidiBytes.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// libjack reports a missing server and a dying one on stderr; the program
// has no console to speak to.
void Silent(const char*) {}

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

JackDeviceService::JackDeviceService(std::string clientName) : m_clientName(std::move(clientName))
{
    for (JackPort& out : m_outputs) {
        out.outgoing = jack_ringbuffer_create(OutgoingBytes);
        if (out.outgoing)
            jack_ringbuffer_mlock(out.outgoing);
    }
}

JackDeviceService::~JackDeviceService()
{
    {
        std::lock_guard lock(m_watchMutex);
        m_stopping = true;
    }
    m_watchWake.notify_all();
    if (m_watcher.joinable())
        m_watcher.join();
    if (m_found)
        jack_client_close(m_found);
    for (bool input : {true, false}) {
        for (JackPort& record : input ? m_inputs : m_outputs) {
            if (record.inUse)
                close(&record, input);
        }
    }
    if (m_client) {
        if (!gone())
            jack_deactivate(m_client);
        jack_client_close(m_client);
    }
    for (JackPort& out : m_outputs) {
        if (out.outgoing)
            jack_ringbuffer_free(out.outgoing);
    }
}

bool JackDeviceService::start(jack_client_t* client)
{
    for (const JackPort& out : m_outputs) {
        if (!out.outgoing) {
            jack_client_close(client);
            return false;
        }
    }
    if (!adopt(client))
        return false;
    m_watcher = std::thread(&JackDeviceService::watch, this);
    return true;
}

// Makes a freshly opened client ours: callbacks, activation, our open ports
// registered again and the device lists brought up to date.
bool JackDeviceService::adopt(jack_client_t* client)
{
    jack_set_process_callback(client, &JackDeviceService::Process, this);
    jack_on_shutdown(client, &JackDeviceService::Shutdown, this);
    jack_set_port_registration_callback(client, &JackDeviceService::PortRegistered, this);
    jack_set_port_rename_callback(client, &JackDeviceService::PortRenamed, this);
    // Set before activation: the process thread reads it, and starts only then.
    m_client = client;
    m_serverGone.store(false, std::memory_order_release);
    if (jack_activate(client) != 0) {
        jack_client_close(client);
        m_client = nullptr;
        m_serverGone.store(true, std::memory_order_release);
        return false;
    }
    for (bool input : {true, false}) {
        for (JackPort& record : input ? m_inputs : m_outputs) {
            if (record.inUse)
                registerPort(record, input);
        }
    }
    refreshDevices();
    connectWaitingPorts();
    return true;
}

// After the server has gone: its client and ports are dead; our ports stay
// open on their devices and wait for a server to come back.
void JackDeviceService::dropDeadClient()
{
    for (bool input : {true, false}) {
        for (JackPort& record : input ? m_inputs : m_outputs) {
            record.port.store(nullptr, std::memory_order_seq_cst);
            while (record.busy.load(std::memory_order_seq_cst))
                std::this_thread::yield();
            if (record.outgoing)
                jack_ringbuffer_reset(record.outgoing);
        }
    }
    jack_client_close(m_client);
    m_client = nullptr;
    std::lock_guard lock(m_newsMutex);
    m_registered.clear();
    for (JackDevices* devices : {&m_sources, &m_sinks})
        std::fill(devices->ports.begin(), devices->ports.end(), nullptr);
}

bool JackDeviceService::update()
{
    bool changed = false;
    if (m_client && gone()) {
        dropDeadClient();
        searchForServer();
        changed = true;
    }
    if (!m_client) {
        jack_client_t* found = nullptr;
        {
            std::lock_guard lock(m_watchMutex);
            std::swap(found, m_found);
        }
        if (found && adopt(found))
            return true;
        if (found)
            searchForServer();
        return changed;
    }
    if (m_portsChanged.exchange(false, std::memory_order_acq_rel)) {
        forgetLinksOfReturnedDevices();
        changed = refreshDevices();
    }
    connectWaitingPorts();
    return changed;
}

// Asks the server for the MIDI ports of every client but us. Returns whether
// a device came, went, came back or was renamed.
bool JackDeviceService::refreshDevices()
{
    bool changed = false;
    for (bool input : {true, false}) {
        JackDevices& devices = input ? m_sources : m_sinks;
        // Our input devices are the other clients' output ports.
        std::vector<std::pair<std::string, const jack_port_t*>> now;
        if (const char** names = jack_get_ports(m_client, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                                input ? JackPortIsOutput : JackPortIsInput)) {
            for (const char** name = names; *name; ++name) {
                // Decided by the port itself: our client may not have the
                // name it asked for, and another client may have it.
                const jack_port_t* port = jack_port_by_name(m_client, *name);
                if (port && !jack_port_is_mine(m_client, port))
                    now.emplace_back(*name, port);
            }
            jack_free(names);
        }
        const auto seenNow = [&](const std::string& name) {
            return std::any_of(now.begin(), now.end(), [&](const auto& entry) { return entry.first == name; });
        };
        std::vector<const jack_port_t*> ports(devices.names.size(), nullptr);
        for (const auto& [name, port] : now) {
            int64_t at = devices.find(name);
            if (at < 0) {
                // The same port under a name not seen before: renamed. It
                // keeps its place, and what is open on it follows.
                for (size_t i = 0; i < devices.ports.size() && at < 0; ++i) {
                    if (devices.ports[i] == port && !seenNow(devices.names[i]))
                        at = static_cast<int64_t>(i);
                }
                if (at >= 0) {
                    for (JackPort& record : input ? m_inputs : m_outputs) {
                        if (record.inUse && record.peer == devices.names[static_cast<size_t>(at)])
                            record.peer = name;
                    }
                    devices.names[static_cast<size_t>(at)] = name;
                } else {
                    at = static_cast<int64_t>(devices.names.size());
                    devices.names.push_back(name);
                    ports.push_back(nullptr);
                }
                changed = true;
            }
            ports[static_cast<size_t>(at)] = port;
        }
        for (size_t i = 0; i < ports.size() && !changed; ++i)
            changed = devices.present(i) != (ports[i] != nullptr);
        devices.ports = std::move(ports);
    }
    return changed;
}

bool JackDeviceService::registerPort(JackPort& record, bool input)
{
    Ports& ports = input ? m_inputs : m_outputs;
    // Named after the program's own port, so that a patchbay that remembers
    // connections by name finds the same port every time.
    const std::string name = (input ? "in_" : "out_") + std::to_string(&record - ports.data() + 1);
    jack_port_t* port = jack_port_register(m_client, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                           input ? JackPortIsInput : JackPortIsOutput, 0);
    if (!port)
        return false;
    record.connected = false;
    record.port.store(port, std::memory_order_seq_cst);
    return true;
}

bool JackDeviceService::connect(JackPort& record, bool input)
{
    jack_port_t* port = record.port.load(std::memory_order_relaxed);
    if (!port)
        return false;
    const char* own = jack_port_name(port);
    const int result = input ? jack_connect(m_client, record.peer.c_str(), own)
                             : jack_connect(m_client, own, record.peer.c_str());
    record.connected = result == 0 || result == EEXIST;
    return record.connected;
}

// Every open port whose device is here is connected to it: after a device
// came back, a server came back, or an open that found its device absent.
void JackDeviceService::connectWaitingPorts()
{
    bool failed = false;
    for (bool input : {true, false}) {
        const JackDevices& devices = input ? m_sources : m_sinks;
        for (JackPort& record : input ? m_inputs : m_outputs) {
            if (!record.inUse)
                continue;
            if (!record.port.load(std::memory_order_relaxed) && !registerPort(record, input)) {
                failed = true;
                continue;
            }
            const int64_t at = devices.find(record.peer);
            if (at < 0 || !devices.present(static_cast<size_t>(at))) {
                record.connected = false;  // its links went with it
                continue;
            }
            if (!record.connected && !connect(record, input))
                failed = true;
        }
    }
    // A name let go a moment ago may not be free yet, and a port registered
    // a moment ago may not be seen yet (both happen on PipeWire).
    if (failed)
        retryLater();
}

int JackDeviceService::Process(jack_nframes_t frames, void* self)
{
    auto* service = static_cast<JackDeviceService*>(self);
    for (JackPort& in : service->m_inputs)
        service->receive(in, frames);
    for (JackPort& out : service->m_outputs)
        service->transmit(out, frames);
    service->m_cycles.fetch_add(1, std::memory_order_release);
    return 0;
}

void JackDeviceService::notify()
{
    if (void (*notify)() = m_notify.load(std::memory_order_acquire))
        notify();
}

// The notification callbacks run where no JACK call is allowed: they only
// set a flag and wake the main thread, which does the work in update().
void JackDeviceService::Shutdown(void* self)
{
    auto* service = static_cast<JackDeviceService*>(self);
    service->m_serverGone.store(true, std::memory_order_release);
    service->notify();
}

void JackDeviceService::PortRegistered(jack_port_id_t id, int registered, void* self)
{
    auto* service = static_cast<JackDeviceService*>(self);
    if (registered) {
        std::lock_guard lock(service->m_newsMutex);
        service->m_registered.push_back(id);
    }
    service->m_portsChanged.store(true, std::memory_order_release);
    service->notify();
}

// A device whose port was registered again (a synth that restarted between
// two looks at the list) has lost its links, though it never looked absent.
void JackDeviceService::forgetLinksOfReturnedDevices()
{
    std::vector<jack_port_id_t> registered;
    {
        std::lock_guard lock(m_newsMutex);
        registered.swap(m_registered);
    }
    for (const jack_port_id_t id : registered) {
        const jack_port_t* port = jack_port_by_id(m_client, id);
        if (!port || jack_port_is_mine(m_client, port))
            continue;
        const char* name = jack_port_name(port);
        for (bool input : {true, false}) {
            for (JackPort& record : input ? m_inputs : m_outputs) {
                if (record.inUse && record.peer == name)
                    record.connected = false;
            }
        }
    }
}

void JackDeviceService::PortRenamed(jack_port_id_t, const char*, const char*, void* self)
{
    auto* service = static_cast<JackDeviceService*>(self);
    service->m_portsChanged.store(true, std::memory_order_release);
    service->notify();
}


void JackDeviceService::receive(JackPort& in, jack_nframes_t frames)
{
    // busy before port, both sequentially consistent, pairs with the close's
    // port-then-busy: either this sees no port or the close sees busy.
    in.busy.store(true, std::memory_order_seq_cst);
    jack_port_t* port = in.port.load(std::memory_order_seq_cst);
    if (port && in.started.load(std::memory_order_acquire)) {
        void* buffer = jack_port_get_buffer(port, frames);
        const jack_nframes_t stamp = jack_last_frame_time(m_client);
        const uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0)
                continue;
            ReadShortMessages(event.buffer, event.size, [&](uint32_t packed) {
                in.callback(reinterpret_cast<MidiHandle>(&in), MIM_DATA, in.instance, packed, stamp + event.time);
            });
        }
    }
    in.busy.store(false, std::memory_order_release);
}

void JackDeviceService::transmit(JackPort& out, jack_nframes_t frames)
{
    out.busy.store(true, std::memory_order_seq_cst);
    if (jack_port_t* port = out.port.load(std::memory_order_seq_cst)) {
        void* buffer = jack_port_get_buffer(port, frames);
        jack_midi_clear_buffer(buffer);
        uint32_t packed;
        // At most one event a frame: PipeWire drops every event of a cycle
        // that carries too many, so a backlog goes out over several cycles.
        for (jack_nframes_t written = 0; written < frames && jack_ringbuffer_read_space(out.outgoing) >= sizeof packed;
             ++written) {
            jack_ringbuffer_peek(out.outgoing, reinterpret_cast<char*>(&packed), sizeof packed);
            uint8_t bytes[3];
            const size_t length = UnpackShortMessage(packed, bytes);
            // All at the cycle's first frame, in order; what does not fit
            // this cycle's buffer waits for the next one.
            if (length && jack_midi_event_write(buffer, 0, bytes, length) != 0)
                break;
            jack_ringbuffer_read_advance(out.outgoing, sizeof packed);
        }
    }
    out.busy.store(false, std::memory_order_release);
}

std::string JackDeviceService::deviceName(bool input, uint32_t device)
{
    const JackDevices& devices = input ? m_sources : m_sinks;
    return device < devices.names.size() ? devices.names[device] : std::string();
}

bool JackDeviceService::devicePresent(bool input, uint32_t device)
{
    const JackDevices& devices = input ? m_sources : m_sinks;
    return devices.present(device);
}

int64_t JackDeviceService::expectDevice(bool input, const std::string& name)
{
    JackDevices& devices = input ? m_sources : m_sinks;
    if (const int64_t at = devices.find(name); at >= 0)
        return at;
    devices.names.push_back(name);
    devices.ports.push_back(nullptr);
    return static_cast<int64_t>(devices.names.size()) - 1;
}

MmResult JackDeviceService::midiInOpen(MidiHandle* slot, uint32_t device, MidiInProc callback, uintptr_t instance,
                                       uint32_t flags)
{
    if (!slot || !callback || flags != CALLBACK_FUNCTION)
        return MMSYSERR_INVALPARAM;
    return open(slot, true, device, callback, instance);
}

MmResult JackDeviceService::midiOutOpen(MidiHandle* slot, uint32_t device, uintptr_t callback, uintptr_t,
                                        uint32_t flags)
{
    if (!slot || callback != 0 || flags != CALLBACK_NULL)
        return MMSYSERR_INVALPARAM;
    return open(slot, false, device, nullptr, 0);
}

// A port opens on a device that is listed, present or not: an absent one is
// connected the moment it appears.
MmResult JackDeviceService::open(MidiHandle* slot, bool input, uint32_t device, MidiInProc callback,
                                 uintptr_t instance)
{
    Ports& ports = input ? m_inputs : m_outputs;
    const JackDevices& devices = input ? m_sources : m_sinks;
    int& wanted = input ? m_nextInput : m_nextOutput;
    const int hint = std::exchange(wanted, 0);
    if (device >= devices.names.size())
        return MMSYSERR_BADDEVICEID;
    const std::string& peer = devices.names[device];
    // One device on two of our ports would hear (or play) everything twice.
    for (const JackPort& record : ports) {
        if (record.inUse && record.peer == peer)
            return MMSYSERR_ALLOCATED;
    }
    JackPort* record = nullptr;
    if (hint >= 1 && hint <= static_cast<int>(ports.size()) && !ports[hint - 1].inUse)
        record = &ports[hint - 1];
    for (size_t i = 0; !record && i < ports.size(); ++i) {
        if (!ports[i].inUse)
            record = &ports[i];
    }
    if (!record)
        return MMSYSERR_NOMEM;

    record->started.store(false, std::memory_order_relaxed);
    record->callback = callback;
    record->instance = instance;
    record->peer = peer;
    if (record->outgoing)
        jack_ringbuffer_reset(record->outgoing);
    if (m_client && !gone() &&
        (!registerPort(*record, input) || (devices.present(device) && !connect(*record, input))))
        retryLater();
    record->inUse = true;
    *slot = reinterpret_cast<MidiHandle>(record);
    return MMSYSERR_NOERROR;
}

JackPort* JackDeviceService::find(MidiHandle handle, Ports& ports)
{
    for (JackPort& record : ports) {
        if (reinterpret_cast<MidiHandle>(&record) == handle)
            return record.inUse ? &record : nullptr;
    }
    return nullptr;
}

MmResult JackDeviceService::midiInStart(MidiHandle handle)
{
    JackPort* in = find(handle, m_inputs);
    if (!in)
        return MMSYSERR_INVALHANDLE;
    in->started.store(true, std::memory_order_release);
    return MMSYSERR_NOERROR;
}

MmResult JackDeviceService::midiInClose(MidiHandle handle)
{
    JackPort* in = find(handle, m_inputs);
    return in ? close(in, true) : MMSYSERR_INVALHANDLE;
}

MmResult JackDeviceService::midiOutClose(MidiHandle handle)
{
    JackPort* out = find(handle, m_outputs);
    return out ? close(out, false) : MMSYSERR_INVALHANDLE;
}

// Every message a send accepted goes out before the port goes: the note-offs
// sent just before a close above all. Bounded by a few periods, and not
// waited for at all when no cycle will come.
void JackDeviceService::letQueueOut(JackPort& out)
{
    if (!m_client || gone() || !out.port.load(std::memory_order_relaxed))
        return;
    const double period = double(jack_get_buffer_size(m_client)) / std::max(1u, jack_get_sample_rate(m_client));
    const auto limit = std::chrono::duration<double>(std::min(0.5, 4 * period + 0.02));
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
    while (jack_ringbuffer_read_space(out.outgoing) > 0 && Clock::now() < deadline && !gone())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The cycle that wrote the last of it has ended once the next one has.
    const uint64_t cycle = m_cycles.load(std::memory_order_acquire);
    while (m_cycles.load(std::memory_order_acquire) < cycle + 2 && Clock::now() < deadline && !gone())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

MmResult JackDeviceService::close(JackPort* record, bool input)
{
    if (!input)
        letQueueOut(*record);
    record->started.store(false, std::memory_order_release);
    jack_port_t* port = record->port.exchange(nullptr, std::memory_order_seq_cst);
    // After this wait the process thread is not in this record and will not
    // enter it again, so no callback runs once the close has returned.
    while (record->busy.load(std::memory_order_seq_cst))
        std::this_thread::yield();
    // Unregistering also disconnects. A dead server has nothing left to undo.
    if (port && m_client && !gone())
        jack_port_unregister(m_client, port);
    record->callback = nullptr;
    record->peer.clear();
    record->inUse = false;
    return MMSYSERR_NOERROR;
}

MmResult JackDeviceService::midiOutShortMsg(MidiHandle handle, uint32_t message)
{
    // On the message path: a bounds check, a validity check and a lock-free
    // ring write, nothing that allocates or waits.
    const auto* first = reinterpret_cast<const char*>(m_outputs.data());
    const auto* at = reinterpret_cast<const char*>(handle);
    if (at < first || at >= first + sizeof m_outputs || (at - first) % sizeof(JackPort) != 0)
        return MMSYSERR_INVALHANDLE;
    JackPort& out = *reinterpret_cast<JackPort*>(handle);
    if (!out.inUse)
        return MMSYSERR_INVALHANDLE;
    if (gone() || !out.port.load(std::memory_order_relaxed))
        return MMSYSERR_NODRIVER;
    if (ShortMessageDataBytes(static_cast<uint8_t>(message)) < 0)
        return MMSYSERR_INVALPARAM;
    if (jack_ringbuffer_write_space(out.outgoing) < sizeof message)
        return MMSYSERR_NOMEM;
    jack_ringbuffer_write(out.outgoing, reinterpret_cast<const char*>(&message), sizeof message);
    return MMSYSERR_NOERROR;
}

void JackDeviceService::searchForServer()
{
    {
        std::lock_guard lock(m_watchMutex);
        m_searching = true;
        m_wakeAt = std::min(m_wakeAt, Clock::now() + ServerSearchInterval);
    }
    m_watchWake.notify_all();
}

void JackDeviceService::retryLater()
{
    {
        std::lock_guard lock(m_watchMutex);
        m_retryWanted = true;
        m_wakeAt = std::min(m_wakeAt, Clock::now() + ConnectRetryInterval);
    }
    m_watchWake.notify_all();
}

void JackDeviceService::watch()
{
    std::unique_lock lock(m_watchMutex);
    while (!m_stopping) {
        if (m_wakeAt == Clock::time_point::max()) {
            m_watchWake.wait(lock);
            continue;
        }
        if (m_watchWake.wait_until(lock, m_wakeAt) != std::cv_status::timeout || Clock::now() < m_wakeAt)
            continue;
        m_wakeAt = Clock::time_point::max();
        bool wake = std::exchange(m_retryWanted, false);
        if (m_searching && !m_found) {
            lock.unlock();
            // Never starts a server: it only asks whether one answers.
            jack_status_t status;
            jack_client_t* client = jack_client_open(m_clientName.c_str(), JackNoStartServer, &status);
            lock.lock();
            if (client) {
                m_found = client;
                m_searching = false;
                wake = true;
            } else {
                m_wakeAt = std::min(m_wakeAt, Clock::now() + ServerSearchInterval);
            }
        }
        if (wake) {
            lock.unlock();
            notify();
            lock.lock();
        }
    }
}

}  // namespace

MidiDeviceService* OpenJackDeviceService(const char* clientName)
{
    jack_set_error_function(&Silent);
    jack_set_info_function(&Silent);
    jack_status_t status;
    jack_client_t* client = jack_client_open(clientName, JackNoStartServer, &status);
    if (!client)
        return nullptr;
    auto* service = new JackDeviceService(clientName);
    if (!service->start(client)) {
        delete service;
        return nullptr;
    }
    return service;
}
