#include "JackDeviceService.h"

#include "DeviceNames.h"
#include "MidiBytes.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <array>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

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
    bool inUse = false;                     // main thread's view
};

constexpr size_t PortsPerDirection = 8;
constexpr size_t OutgoingBytes = 64 * 1024;

class JackDeviceService final : public MidiDeviceService {
public:
    explicit JackDeviceService(jack_client_t* client);
    ~JackDeviceService() override;

    bool start();

    uint32_t midiInGetNumDevs() override { return static_cast<uint32_t>(m_sources.size()); }
    MmResult midiInGetDevCapsA(uint32_t device, MidiInCaps* caps, uint32_t size) override
    {
        return DescribeDevice(m_sources, device, caps, size);
    }
    MmResult midiInOpen(MidiHandle* slot, uint32_t device, MidiInProc callback, uintptr_t instance,
                        uint32_t flags) override;
    MmResult midiInStart(MidiHandle handle) override;
    MmResult midiInClose(MidiHandle handle) override;

    uint32_t midiOutGetNumDevs() override { return static_cast<uint32_t>(m_sinks.size()); }
    MmResult midiOutGetDevCapsA(uint32_t device, MidiOutCaps* caps, uint32_t size) override
    {
        return DescribeDevice(m_sinks, device, caps, size);
    }
    MmResult midiOutOpen(MidiHandle* slot, uint32_t device, uintptr_t callback, uintptr_t instance,
                         uint32_t flags) override;
    MmResult midiOutShortMsg(MidiHandle handle, uint32_t message) override;
    MmResult midiOutClose(MidiHandle handle) override;

private:
    static int Process(jack_nframes_t frames, void* self);
    static void Shutdown(void* self);

    void receive(JackPort& in, jack_nframes_t frames);
    void transmit(JackPort& out, jack_nframes_t frames);
    JackPort* find(MidiHandle handle, std::array<JackPort, PortsPerDirection>& ports);
    MmResult open(MidiHandle* slot, std::array<JackPort, PortsPerDirection>& ports, const std::string& peer,
                  MidiInProc callback, uintptr_t instance);
    MmResult close(JackPort* record);
    bool gone() const { return m_serverGone.load(std::memory_order_acquire); }

    jack_client_t* m_client;
    std::vector<std::string> m_sources;  // other clients' MIDI outputs: our input devices
    std::vector<std::string> m_sinks;    // other clients' MIDI inputs: our output devices
    std::array<JackPort, PortsPerDirection> m_inputs;
    std::array<JackPort, PortsPerDirection> m_outputs;
    std::atomic<bool> m_serverGone{false};
};

std::vector<std::string> ListPorts(jack_client_t* client, unsigned long flags)
{
    std::vector<std::string> names;
    const std::string own = std::string(jack_get_client_name(client)) + ":";
    if (const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags)) {
        for (const char** name = ports; *name; ++name) {
            if (std::string(*name).rfind(own, 0) != 0)
                names.emplace_back(*name);
        }
        jack_free(ports);
    }
    return names;
}

JackDeviceService::JackDeviceService(jack_client_t* client) : m_client(client)
{
    for (JackPort& out : m_outputs) {
        out.outgoing = jack_ringbuffer_create(OutgoingBytes);
        if (out.outgoing)
            jack_ringbuffer_mlock(out.outgoing);
    }
}

JackDeviceService::~JackDeviceService()
{
    for (auto* ports : {&m_inputs, &m_outputs}) {
        for (JackPort& record : *ports) {
            if (record.inUse)
                close(&record);
        }
    }
    if (!gone())
        jack_deactivate(m_client);
    jack_client_close(m_client);
    for (JackPort& out : m_outputs) {
        if (out.outgoing)
            jack_ringbuffer_free(out.outgoing);
    }
}

bool JackDeviceService::start()
{
    for (const JackPort& out : m_outputs) {
        if (!out.outgoing)
            return false;
    }
    jack_set_process_callback(m_client, &JackDeviceService::Process, this);
    jack_on_shutdown(m_client, &JackDeviceService::Shutdown, this);
    if (jack_activate(m_client) != 0)
        return false;
    m_sources = ListPorts(m_client, JackPortIsOutput);
    m_sinks = ListPorts(m_client, JackPortIsInput);
    return true;
}

int JackDeviceService::Process(jack_nframes_t frames, void* self)
{
    auto* service = static_cast<JackDeviceService*>(self);
    for (JackPort& in : service->m_inputs)
        service->receive(in, frames);
    for (JackPort& out : service->m_outputs)
        service->transmit(out, frames);
    return 0;
}

void JackDeviceService::Shutdown(void* self)
{
    static_cast<JackDeviceService*>(self)->m_serverGone.store(true, std::memory_order_release);
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
            // An event is normally one message; take every complete short
            // message it holds and stop at sysex, which is long data.
            size_t at = 0;
            while (at < event.size) {
                if (event.buffer[at] == 0xF0)
                    break;
                uint32_t packed;
                const size_t used = PackShortMessage(event.buffer + at, event.size - at, packed);
                if (used == 0) {
                    ++at;
                    continue;
                }
                in.callback(reinterpret_cast<MidiHandle>(&in), MIM_DATA, in.instance, packed, stamp + event.time);
                at += used;
            }
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
        while (jack_ringbuffer_read_space(out.outgoing) >= sizeof packed) {
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

MmResult JackDeviceService::midiInOpen(MidiHandle* slot, uint32_t device, MidiInProc callback, uintptr_t instance,
                                       uint32_t flags)
{
    if (!slot || !callback || flags != CALLBACK_FUNCTION)
        return MMSYSERR_INVALPARAM;
    if (device >= m_sources.size())
        return MMSYSERR_BADDEVICEID;
    return open(slot, m_inputs, m_sources[device], callback, instance);
}

MmResult JackDeviceService::midiOutOpen(MidiHandle* slot, uint32_t device, uintptr_t callback, uintptr_t,
                                        uint32_t flags)
{
    if (!slot || callback != 0 || flags != CALLBACK_NULL)
        return MMSYSERR_INVALPARAM;
    if (device >= m_sinks.size())
        return MMSYSERR_BADDEVICEID;
    return open(slot, m_outputs, m_sinks[device], nullptr, 0);
}

MmResult JackDeviceService::open(MidiHandle* slot, std::array<JackPort, PortsPerDirection>& ports,
                                 const std::string& peer, MidiInProc callback, uintptr_t instance)
{
    const bool input = &ports == &m_inputs;
    if (gone() || !jack_port_by_name(m_client, peer.c_str()))
        return MIDIERR_NODEVICE;
    size_t index = 0;
    while (index < ports.size() && ports[index].inUse)
        ++index;
    if (index == ports.size())
        return MMSYSERR_NOMEM;
    JackPort& record = ports[index];

    const std::string name = (input ? "in_" : "out_") + std::to_string(index + 1);
    jack_port_t* port = jack_port_register(m_client, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                           input ? JackPortIsInput : JackPortIsOutput, 0);
    if (!port)
        return MMSYSERR_NOMEM;
    record.started.store(false, std::memory_order_relaxed);
    record.callback = callback;
    record.instance = instance;
    if (record.outgoing)
        jack_ringbuffer_reset(record.outgoing);
    record.port.store(port, std::memory_order_seq_cst);

    record.inUse = true;

    const char* own = jack_port_name(port);
    const int connected = input ? jack_connect(m_client, peer.c_str(), own) : jack_connect(m_client, own, peer.c_str());
    if (connected != 0 && connected != EEXIST) {
        close(&record);
        return MIDIERR_NODEVICE;
    }
    *slot = reinterpret_cast<MidiHandle>(&record);
    return MMSYSERR_NOERROR;
}

JackPort* JackDeviceService::find(MidiHandle handle, std::array<JackPort, PortsPerDirection>& ports)
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
    return in ? close(in) : MMSYSERR_INVALHANDLE;
}

MmResult JackDeviceService::midiOutClose(MidiHandle handle)
{
    JackPort* out = find(handle, m_outputs);
    return out ? close(out) : MMSYSERR_INVALHANDLE;
}

MmResult JackDeviceService::close(JackPort* record)
{
    record->started.store(false, std::memory_order_release);
    jack_port_t* port = record->port.exchange(nullptr, std::memory_order_seq_cst);
    // After this wait the process thread is not in this record and will not
    // enter it again, so no callback runs once the close has returned.
    while (record->busy.load(std::memory_order_seq_cst))
        std::this_thread::yield();
    // Unregistering also disconnects. A dead server has nothing left to undo.
    if (port && !gone())
        jack_port_unregister(m_client, port);
    record->callback = nullptr;
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
    if (gone())
        return MMSYSERR_NODRIVER;
    if (ShortMessageDataBytes(static_cast<uint8_t>(message)) < 0)
        return MMSYSERR_INVALPARAM;
    if (jack_ringbuffer_write_space(out.outgoing) < sizeof message)
        return MMSYSERR_NOMEM;
    jack_ringbuffer_write(out.outgoing, reinterpret_cast<const char*>(&message), sizeof message);
    return MMSYSERR_NOERROR;
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
    auto* service = new JackDeviceService(client);
    if (!service->start()) {
        delete service;
        return nullptr;
    }
    return service;
}
