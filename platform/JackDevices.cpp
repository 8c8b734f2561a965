#include "JackServiceState.h"

#include <cerrno>
#include <utility>

namespace {

using ListedPorts = std::vector<std::pair<std::string, const jack_port_t*>>;

std::string ClientOf(const std::string& portName)
{
    return portName.substr(0, portName.find(':'));
}

bool Listed(const ListedPorts& ports, const std::string& name)
{
    return std::any_of(ports.begin(), ports.end(), [&](const auto& entry) { return entry.first == name; });
}

// The device whose port this is, under a name not seen before: a rename
// keeps the port and its client, and the old name is gone. The new name
// may be read before the rename is heard of, so the port decides; the
// caller has made sure it was not registered anew in the meantime.
int64_t RenamedDevice(const JackDevices& devices, const ListedPorts& now, const std::string& name,
                      const jack_port_t* port)
{
    for (size_t i = 0; i < devices.ports.size(); ++i) {
        if (devices.ports[i] == port && ClientOf(devices.names[i]) == ClientOf(name) && !Listed(now, devices.names[i]))
            return static_cast<int64_t>(i);
    }
    return -1;
}

}  // namespace

// Asks the server for the MIDI ports of every client but us. Returns whether
// a device came, went, came back or was renamed.
bool JackDeviceService::refreshDevices()
{
    const std::vector<const jack_port_t*> registered = takeRegisteredPorts();
    bool changed = false;
    for (bool input : {true, false}) {
        JackDevices& devices = input ? m_sources : m_sinks;
        const ListedPorts now = listPorts(input);
        std::vector<const jack_port_t*> ports(devices.names.size(), nullptr);
        for (const auto& [name, port] : now) {
            // A handle seen before may be a new port's: jackd hands a gone
            // port's id, which is its handle, to the next one registered.
            const bool anew =
                m_heard.lost || std::find(registered.begin(), registered.end(), port) != registered.end();
            int64_t at = devices.find(name);
            if (at < 0 && !anew)
                at = RenamedDevice(devices, now, name, port);
            if (at >= 0 && devices.names[static_cast<size_t>(at)] != name) {
                rename(input, static_cast<size_t>(at), name);
                changed = true;
            } else if (at < 0) {
                at = static_cast<int64_t>(devices.names.size());
                devices.names.push_back(name);
                devices.ports.push_back(nullptr);
                devices.arrivals.push_back(0);
                ports.push_back(nullptr);
                arrive(input, static_cast<size_t>(at));
                changed = true;
            } else if (anew || devices.ports[static_cast<size_t>(at)] != port) {
                // Back, or gone and back between two looks: as good as new.
                arrive(input, static_cast<size_t>(at));
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

// The MIDI ports of the other clients, in the server's order.
ListedPorts JackDeviceService::listPorts(bool input)
{
    ListedPorts now;
    // Our input devices are the other clients' output ports.
    if (const char** names = jack_get_ports(m_client, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                            input ? JackPortIsOutput : JackPortIsInput)) {
        for (const char** name = names; *name; ++name) {
            // Decided by the port itself: our client may not have the name
            // it asked for, and another client may have it.
            const jack_port_t* port = jack_port_by_name(m_client, *name);
            if (port && !jack_port_is_mine(m_client, port))
                now.emplace_back(*name, port);
        }
        jack_free(names);
    }
    return now;
}

// The ports registered since the last look, as they are now.
std::vector<const jack_port_t*> JackDeviceService::takeRegisteredPorts()
{
    m_heard.registered.clear();
    m_heard.lost = false;
    {
        std::lock_guard lock(m_newsMutex);
        std::swap(m_news, m_heard);
    }
    std::vector<const jack_port_t*> ports;
    for (const jack_port_id_t id : m_heard.registered) {
        if (const jack_port_t* port = jack_port_by_id(m_client, id))
            ports.push_back(port);
    }
    return ports;
}

// A device that came has no links yet, and a keyboard's note-offs from
// before it went will never come.
void JackDeviceService::arrive(bool input, size_t device)
{
    JackDevices& devices = input ? m_sources : m_sinks;
    ++devices.arrivals[device];
    for (JackPort& record : input ? m_inputs : m_outputs) {
        if (record.inUse && record.peer == devices.names[device])
            record.connected = false;
    }
}

// A renamed device keeps its place, and what is open on it follows.
void JackDeviceService::rename(bool input, size_t device, const std::string& name)
{
    JackDevices& devices = input ? m_sources : m_sinks;
    for (JackPort& record : input ? m_inputs : m_outputs) {
        if (record.inUse && record.peer == devices.names[device])
            record.peer = name;
    }
    devices.names[device] = name;
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

void JackDeviceService::notify()
{
    if (void (*notify)() = m_notify.load(std::memory_order_acquire))
        notify();
}

// The notification callbacks run where no JACK call is allowed: they only
// note what they heard and wake the main thread, which does the work in
// update().

void JackDeviceService::PortRegistered(jack_port_id_t id, int registered, void* self)
{
    auto* service = static_cast<JackDeviceService*>(self);
    if (registered) {
        std::lock_guard lock(service->m_newsMutex);
        PortNews& news = service->m_news;
        if (news.registered.size() < news.registered.capacity())
            news.registered.push_back(id);
        else
            news.lost = true;
    }
    service->m_portsChanged.store(true, std::memory_order_release);
    service->notify();
}

// jackd tells of a closing client's ports when it deactivates, while they
// are still listed, and of nothing when it frees them moments later; only
// the client's own going comes after that. So a client that went is a
// reason to look again. One that came is not: its ports' news follows, and
// a look taken before that news left a routed path deaf (seen headless).
void JackDeviceService::ClientRegistered(const char*, int registered, void* self)
{
    if (registered)
        return;
    auto* service = static_cast<JackDeviceService*>(self);
    service->m_portsChanged.store(true, std::memory_order_release);
    service->notify();
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
    devices.arrivals.push_back(0);
    return static_cast<int64_t>(devices.names.size()) - 1;
}

uint32_t JackDeviceService::deviceArrivals(bool input, uint32_t device)
{
    const JackDevices& devices = input ? m_sources : m_sinks;
    return device < devices.arrivals.size() ? devices.arrivals[device] : 0;
}
