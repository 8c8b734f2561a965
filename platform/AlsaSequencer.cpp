// Our sequencer client: its life, the lists of the other clients' ports, and
// the subscriptions that link our ports to the devices chosen for them.

#include "AlsaServiceState.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// libasound reports on stderr; the program has no console to speak to.
void Silent(const char*, int, const char*, int, const char*, ...) {}

constexpr unsigned DeviceTypes =
    SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SYNTH | SND_SEQ_PORT_TYPE_APPLICATION;

PortKey KeyOf(int client, int port)
{
    return (static_cast<PortKey>(client) << 8 | static_cast<PortKey>(port)) + 1;
}

snd_seq_addr_t AddressOf(PortKey key)
{
    snd_seq_addr_t address;
    address.client = static_cast<unsigned char>((key - 1) >> 8);
    address.port = static_cast<unsigned char>(key - 1);
    return address;
}

}  // namespace

AlsaDeviceService::AlsaDeviceService(snd_seq_t* seq) : m_seq(seq), m_scratch(new uint8_t[ScratchBytes])
{
    for (AlsaPort& in : m_inputs)
        in.reader = std::make_unique<MidiInputReader>();
    for (AlsaPort& out : m_outputs) {
        out.queue = std::make_unique<ByteRing>(QueueBytes);
        out.held = std::make_unique<ByteRing>(QueueBytes);
        out.credit = BurstBytes;
    }
}

AlsaDeviceService::~AlsaDeviceService()
{
    // Held notes went out when the engine closed the ports; a port it left
    // open lets out what it queued here.
    for (bool input : {true, false}) {
        for (AlsaPort& record : input ? m_inputs : m_outputs) {
            if (record.inUse)
                close(record, input);
        }
    }
    if (m_reader.joinable()) {
        m_stopping.store(true, std::memory_order_release);
        wakeReader();
        m_reader.join();
    }
    if (m_wake >= 0)
        ::close(m_wake);
    if (m_decoder)
        snd_midi_event_free(m_decoder);
    if (m_encoder)
        snd_midi_event_free(m_encoder);
    snd_seq_close(m_seq);
}

bool AlsaDeviceService::start(const char* clientName)
{
    m_client = snd_seq_client_id(m_seq);
    if (m_client < 0 || snd_seq_set_client_name(m_seq, clientName) < 0 || !makePorts())
        return false;
    // Room for a burst: what does not fit the kernel's pools is lost or waits.
    snd_seq_set_client_pool_input(m_seq, 2000);
    snd_seq_set_client_pool_output(m_seq, 2000);
    if (snd_seq_set_output_buffer_size(m_seq, OutputBufferBytes) < 0 ||
        snd_seq_set_input_buffer_size(m_seq, InputBufferBytes) < 0)
        return false;
    if (snd_midi_event_new(ChunkBytes, &m_encoder) < 0 || snd_midi_event_new(ChunkBytes, &m_decoder) < 0)
        return false;
    // Every event decoded alone, its status byte included.
    snd_midi_event_no_status(m_decoder, 1);
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const int count = snd_seq_poll_descriptors_count(m_seq, POLLIN);
    if (m_wake < 0 || count <= 0)
        return false;
    m_polls.resize(static_cast<size_t>(count) + 1);
    snd_seq_poll_descriptors(m_seq, m_polls.data(), static_cast<unsigned>(count), POLLIN);
    m_polls.back() = pollfd{m_wake, POLLIN, 0};

    // Devices that come and go are announced to every subscriber of
    // System:Announce; in_1 hears it, and the reader tells it by its sender.
    if (snd_seq_connect_from(m_seq, m_inputs[0].own, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0)
        return false;
    refreshDevices(true);
    m_reader = std::thread(&AlsaDeviceService::read, this);
    return true;
}

// Named after the program's own ports, so that a patchbay that remembers
// connections by name finds the same port every time.
bool AlsaDeviceService::makePorts()
{
    for (bool input : {true, false}) {
        Ports& ports = input ? m_inputs : m_outputs;
        for (size_t i = 0; i < ports.size(); ++i) {
            const std::string name = (input ? "in_" : "out_") + std::to_string(i + 1);
            const unsigned caps = input ? SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                                        : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
            ports[i].own = snd_seq_create_simple_port(m_seq, name.c_str(), caps,
                                                      SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
            if (ports[i].own < 0)
                return false;
        }
    }
    return true;
}

// The MIDI ports of every client but us and the system's, in the sequencer's
// order, named "client:port" by their names alone: the numbers change with
// the order devices were plugged in, the names do not.
ListedPorts AlsaDeviceService::listPorts(bool input)
{
    ListedPorts now;
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    const unsigned wanted = input ? SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                                  : SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(m_seq, client) >= 0) {
        const int number = snd_seq_client_info_get_client(client);
        if (number == m_client || number == SND_SEQ_CLIENT_SYSTEM)
            continue;
        snd_seq_port_info_set_client(port, number);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(m_seq, port) >= 0) {
            const unsigned caps = snd_seq_port_info_get_capability(port);
            if ((caps & wanted) != wanted || (caps & SND_SEQ_PORT_CAP_NO_EXPORT) ||
                !(snd_seq_port_info_get_type(port) & DeviceTypes))
                continue;
            now.push_back({std::string(snd_seq_client_info_get_name(client)) + ':' + snd_seq_port_info_get_name(port),
                           KeyOf(number, snd_seq_port_info_get_port(port))});
        }
    }
    return now;
}

// Returns whether a device came, went, came back or was renamed.
bool AlsaDeviceService::refreshDevices(bool first)
{
    // Taken before the ports are listed: a port created after this shows up
    // in the next look as well.
    std::array<uint64_t, AddressBits / 64> created{};
    for (size_t i = 0; i < created.size(); ++i)
        created[i] = m_created[i].exchange(0, std::memory_order_acq_rel);
    const auto anew = [&](PortKey key) {
        const size_t bit = key - 1;
        return !first && bit < AddressBits && (created[bit / 64] >> (bit % 64) & 1) != 0;
    };
    bool changed = false;
    for (bool input : {true, false}) {
        if (RefreshDeviceList(list(input), listPorts(input), anew, LinksOf(input ? m_inputs : m_outputs)))
            changed = true;
    }
    return changed;
}

bool AlsaDeviceService::link(AlsaPort& record, bool input)
{
    const snd_seq_addr_t device = AddressOf(list(input).keys[record.device]);
    const int result = input ? snd_seq_connect_from(m_seq, record.own, device.client, device.port)
                             : snd_seq_connect_to(m_seq, record.own, device.client, device.port);
    record.connected = result == 0 || result == -EBUSY;
    if (record.connected)
        record.linked = device;
    return record.connected;
}

// A device that has gone took the subscription with it: nothing to undo.
void AlsaDeviceService::unlink(AlsaPort& record, bool input)
{
    if (!record.connected)
        return;
    const snd_seq_addr_t device = record.linked;
    if (input)
        snd_seq_disconnect_from(m_seq, record.own, device.client, device.port);
    else
        snd_seq_disconnect_to(m_seq, record.own, device.client, device.port);
    record.connected = false;
}

// Every open port whose device is here is linked to it: after the device
// came back, or an open that found it absent.
void AlsaDeviceService::linkWaitingPorts()
{
    for (bool input : {true, false}) {
        for (AlsaPort& record : input ? m_inputs : m_outputs) {
            if (record.inUse && LinkWaiting(list(input), record))
                link(record, input);
        }
    }
}

bool AlsaDeviceService::update()
{
    const bool changed = m_portsChanged.exchange(false, std::memory_order_acq_rel) && refreshDevices(false);
    linkWaitingPorts();
    return changed;
}

void AlsaDeviceService::notify()
{
    if (void (*notify)() = m_notify.load(std::memory_order_acquire))
        notify();
}

MidiDeviceService* OpenAlsaDeviceService(const char* clientName)
{
    // Probing the sequencer when its device node is missing makes ALSA print
    // to stderr; a missing node is a plain "no".
    if (access("/dev/snd/seq", R_OK | W_OK) != 0)
        return nullptr;
    snd_lib_error_set_handler(&Silent);
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0)
        return nullptr;
    auto* service = new AlsaDeviceService(seq);
    if (!service->start(clientName)) {
        delete service;
        return nullptr;
    }
    return service;
}
