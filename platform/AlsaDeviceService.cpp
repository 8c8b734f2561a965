#include "AlsaDeviceService.h"

#include "DeviceNames.h"
#include "MidiBytes.h"
#include "MidiInputReader.h"

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <memory>
#include <type_traits>
#include <unistd.h>

namespace {

// The same code serves CoreMIDI on macOS.
#ifdef __APPLE__
constexpr RtMidi::Api SequencerApi = RtMidi::MACOSX_CORE;
#else
constexpr RtMidi::Api SequencerApi = RtMidi::LINUX_ALSA;
#endif

struct AlsaPort {
    std::unique_ptr<RtMidiIn> in;
    std::unique_ptr<RtMidiOut> out;
    std::unique_ptr<MidiInputReader> reader;  // inputs: storage for long messages, taken at the open
    std::string device;  // the name it was opened on
    MidiInProc callback = nullptr;
    uintptr_t instance = 0;
    std::atomic<bool> started{false};
    bool failed = false;  // set by RtMidi's error callback during an open or a long send
};

// RtMidi prints warnings unless it is given somewhere else to put them.
void NoteError(RtMidiError::Type type, const std::string&, void* port)
{
    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
        static_cast<AlsaPort*>(port)->failed = true;
}

template <typename Rt>
std::vector<std::string> PortNames(Rt& rt)
{
    std::vector<std::string> names;
    const unsigned count = rt.getPortCount();
    for (unsigned i = 0; i < count; ++i)
        names.push_back(rt.getPortName(i));
    return names;
}

void Deliver(double stamp, std::vector<unsigned char>* message, void* user)
{
    auto* port = static_cast<AlsaPort*>(user);
    if (!port->started.load(std::memory_order_acquire) || !message)
        return;
    // RtMidi puts system exclusive together from the sequencer's chunks; the
    // reader still passes on any real-time byte found inside one by itself
    // and drops a message too long, whole.
    port->reader->deliver(message->data(), message->size(), port->callback, reinterpret_cast<MidiHandle>(port),
                          port->instance, static_cast<uintptr_t>(stamp * 1000));
}

class AlsaDeviceService final : public MidiDeviceService {
public:
    AlsaDeviceService(std::string clientName, std::vector<std::string> inputs, std::vector<std::string> outputs)
        : m_clientName(std::move(clientName)), m_inputs(std::move(inputs)), m_outputs(std::move(outputs))
    {
    }

    uint32_t midiInGetNumDevs() override { return static_cast<uint32_t>(m_inputs.size()); }
    uint32_t midiOutGetNumDevs() override { return static_cast<uint32_t>(m_outputs.size()); }

    MmResult midiInGetDevCapsA(uint32_t device, MidiInCaps* caps, uint32_t size) override
    {
        return DescribeDevice(m_inputs, device, caps, size);
    }

    MmResult midiOutGetDevCapsA(uint32_t device, MidiOutCaps* caps, uint32_t size) override
    {
        return DescribeDevice(m_outputs, device, caps, size);
    }

    // The sequencer's own "client:port" names, whole; the list is fixed for
    // the run.
    std::string deviceName(bool input, uint32_t device) override
    {
        const std::vector<std::string>& names = input ? m_inputs : m_outputs;
        return device < names.size() ? names[device] : std::string();
    }

    MmResult midiInOpen(MidiHandle* slot, uint32_t device, MidiInProc callback, uintptr_t instance,
                        uint32_t flags) override
    {
        if (!slot || !callback || flags != CALLBACK_FUNCTION)
            return MMSYSERR_INVALPARAM;
        auto port = std::make_unique<AlsaPort>();
        port->callback = callback;
        port->instance = instance;
        port->reader = std::make_unique<MidiInputReader>();
        return open(slot, std::move(port), &AlsaPort::in, device, m_inputs, "in");
    }

    MmResult midiInStart(MidiHandle handle) override
    {
        if (!handle)
            return MMSYSERR_INVALHANDLE;
        reinterpret_cast<AlsaPort*>(handle)->started.store(true, std::memory_order_release);
        return MMSYSERR_NOERROR;
    }

    MmResult midiInClose(MidiHandle handle) override
    {
        if (!handle)
            return MMSYSERR_INVALHANDLE;
        std::erase(m_open, reinterpret_cast<AlsaPort*>(handle));
        auto* port = reinterpret_cast<AlsaPort*>(handle);
        // The input thread reads the record until it is stopped: closing the
        // port joins it, and only then may the record go. Left to the record's
        // own destructor, the thread would outlive the members it reads.
        port->started.store(false, std::memory_order_release);
        port->in->closePort();
        port->in->cancelCallback();
        port->in.reset();
        delete port;
        return MMSYSERR_NOERROR;
    }

    MmResult midiOutOpen(MidiHandle* slot, uint32_t device, uintptr_t callback, uintptr_t, uint32_t flags) override
    {
        if (!slot || callback != 0 || flags != CALLBACK_NULL)
            return MMSYSERR_INVALPARAM;
        return open(slot, std::make_unique<AlsaPort>(), &AlsaPort::out, device, m_outputs, "out");
    }

    MmResult midiOutShortMsg(MidiHandle handle, uint32_t message) override
    {
        uint8_t bytes[3];
        const size_t length = UnpackShortMessage(message, bytes);
        if (!handle)
            return MMSYSERR_INVALHANDLE;
        if (length == 0)
            return MMSYSERR_INVALPARAM;
        reinterpret_cast<AlsaPort*>(handle)->out->sendMessage(bytes, length);
        return MMSYSERR_NOERROR;
    }

    MmResult midiOutLongMsg(MidiHandle handle, const uint8_t* bytes, uint32_t size) override
    {
        if (!handle)
            return MMSYSERR_INVALHANDLE;
        if (!IsWholeSystemExclusive(bytes, size))
            return MMSYSERR_INVALPARAM;
        auto* port = reinterpret_cast<AlsaPort*>(handle);
        port->failed = false;
        port->out->sendMessage(bytes, size);
        return port->failed ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
    }

    MmResult midiOutClose(MidiHandle handle) override
    {
        if (!handle)
            return MMSYSERR_INVALHANDLE;
        std::erase(m_open, reinterpret_cast<AlsaPort*>(handle));
        delete reinterpret_cast<AlsaPort*>(handle);
        return MMSYSERR_NOERROR;
    }

private:
    // Each port is a sequencer client of its own (an RtMidi object), opened
    // on the port that now carries the name listed at enumeration.
    template <typename Rt>
    MmResult open(MidiHandle* slot, std::unique_ptr<AlsaPort> port, std::unique_ptr<Rt> AlsaPort::*side,
                  uint32_t device, const std::vector<std::string>& names, const char* portName)
    {
        if (device >= names.size())
            return MMSYSERR_BADDEVICEID;
        // One device on two of our ports would hear (or play) everything twice.
        for (const AlsaPort* open : m_open) {
            if ((*open).*side && open->device == names[device])
                return MMSYSERR_ALLOCATED;
        }
        port->device = names[device];
        try {
            auto& rt = (*port).*side;
            rt = std::make_unique<Rt>(SequencerApi, m_clientName);
            rt->setErrorCallback(&NoteError, port.get());
            const AlsaPortLookup found = FindAlsaPort(device, names, PortNames(*rt));
            if (found.result != MMSYSERR_NOERROR)
                return found.result;
            if constexpr (std::is_same_v<Rt, RtMidiIn>) {
                // System exclusive, clock and active sensing all pass.
                rt->ignoreTypes(false, false, false);
                rt->setCallback(&Deliver, port.get());
            }
            rt->openPort(found.index, portName);
        } catch (const RtMidiError&) {
            return MIDIERR_NODEVICE;
        }
        if (port->failed)
            return MIDIERR_NODEVICE;
        m_open.push_back(port.get());
        *slot = reinterpret_cast<MidiHandle>(port.release());
        return MMSYSERR_NOERROR;
    }

    std::string m_clientName;
    std::vector<std::string> m_inputs;
    std::vector<std::string> m_outputs;
    std::vector<AlsaPort*> m_open;
};

}  // namespace

AlsaPortLookup FindAlsaPort(uint32_t device, const std::vector<std::string>& enumerated,
                            const std::vector<std::string>& current)
{
    if (device >= enumerated.size())
        return {MMSYSERR_BADDEVICEID};
    const std::string& wanted = enumerated[device];
    if (device < current.size() && current[device] == wanted)
        return {MMSYSERR_NOERROR, device};
    for (unsigned i = 0; i < current.size(); ++i) {
        if (current[i] == wanted)
            return {MMSYSERR_NOERROR, i};
    }
    return {MIDIERR_NODEVICE};
}

MidiDeviceService* OpenAlsaDeviceService(const char* clientName)
{
#ifndef __APPLE__
    // Probing the sequencer when its device node is missing makes ALSA print
    // to stderr; a missing node is a plain "no".
    if (access("/dev/snd/seq", R_OK | W_OK) != 0)
        return nullptr;
#endif
    try {
        RtMidiIn in(SequencerApi, clientName);
        RtMidiOut out(SequencerApi, clientName);
        return new AlsaDeviceService(clientName, PortNames(in), PortNames(out));
    } catch (const RtMidiError&) {
        return nullptr;
    }
}
