#include "JackServiceState.h"


#include <cerrno>
#include <utility>

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

void JackDeviceService::notify()
{
    if (void (*notify)() = m_notify.load(std::memory_order_acquire))
        notify();
}

// The notification callbacks run where no JACK call is allowed: they only
// set a flag and wake the main thread, which does the work in update().

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
