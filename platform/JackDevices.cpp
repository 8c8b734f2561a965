#include "JackServiceState.h"

#include <cerrno>
#include <utility>

// Asks the server for the MIDI ports of every client but us. Returns whether
// a device came, went, came back or was renamed.
bool JackDeviceService::refreshDevices()
{
    const std::vector<PortKey> registered = takeRegisteredPorts();
    // A handle seen before may be a new port's: jackd hands a gone port's
    // id, which is its handle, to the next one registered.
    const auto anew = [&](PortKey port) {
        return m_heard.lost || std::find(registered.begin(), registered.end(), port) != registered.end();
    };
    bool changed = false;
    for (bool input : {true, false}) {
        DeviceList& devices = input ? m_sources : m_sinks;
        if (RefreshDeviceList(devices, listPorts(input), anew, LinksOf(input ? m_inputs : m_outputs)))
            changed = true;
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
                now.push_back({*name, reinterpret_cast<PortKey>(port)});
        }
        jack_free(names);
    }
    return now;
}

// The ports registered since the last look, as they are now.
std::vector<PortKey> JackDeviceService::takeRegisteredPorts()
{
    m_heard.registered.clear();
    m_heard.lost = false;
    {
        std::lock_guard lock(m_newsMutex);
        std::swap(m_news, m_heard);
    }
    std::vector<PortKey> ports;
    for (const jack_port_id_t id : m_heard.registered) {
        if (const jack_port_t* port = jack_port_by_id(m_client, id))
            ports.push_back(reinterpret_cast<PortKey>(port));
    }
    return ports;
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
        const DeviceList& devices = input ? m_sources : m_sinks;
        for (JackPort& record : input ? m_inputs : m_outputs) {
            if (!record.inUse)
                continue;
            if (!record.port.load(std::memory_order_relaxed) && !registerPort(record, input)) {
                failed = true;
                continue;
            }
            if (LinkWaiting(devices, record) && !connect(record, input))
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
    return (input ? m_sources : m_sinks).name(device);
}

bool JackDeviceService::devicePresent(bool input, uint32_t device)
{
    return (input ? m_sources : m_sinks).present(device);
}

int64_t JackDeviceService::expectDevice(bool input, const std::string& name)
{
    return (input ? m_sources : m_sinks).expect(name);
}

uint32_t JackDeviceService::deviceArrivals(bool input, uint32_t device)
{
    return (input ? m_sources : m_sinks).arrived(device);
}
