#pragma once

#include <cstdint>
#include <string>

// The operating system's MIDI device service, in the shape of the Windows
// multimedia MIDI functions. Every backend (winmm, JACK, the ALSA sequencer,
// the in-memory one used by tests) implements this one interface; the engine
// reaches the backend in use through DeviceService.
//
// <mmsystem.h> defines macros with the names and values of the constants
// below, so on Windows this header must come before <windows.h>.
#if defined(MMSYSERR_NOERROR)
#error "include MidiDeviceService.h before <windows.h>"
#endif

using MmResult = uint32_t;

inline constexpr MmResult MMSYSERR_NOERROR = 0;
inline constexpr MmResult MMSYSERR_ERROR = 1;
inline constexpr MmResult MMSYSERR_BADDEVICEID = 2;
inline constexpr MmResult MMSYSERR_ALLOCATED = 4;
inline constexpr MmResult MMSYSERR_INVALHANDLE = 5;
inline constexpr MmResult MMSYSERR_NODRIVER = 6;
inline constexpr MmResult MMSYSERR_NOMEM = 7;
inline constexpr MmResult MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MmResult MMSYSERR_INVALPARAM = 11;
inline constexpr MmResult MIDIERR_STILLPLAYING = 65;
inline constexpr MmResult MIDIERR_NODEVICE = 68;

// Notification codes a capture callback may receive. The two data
// notifications carry a short message, MIM_LONGDATA a system exclusive one;
// the program ignores the rest.
inline constexpr uint32_t MIM_OPEN = 0x3C1;
inline constexpr uint32_t MIM_CLOSE = 0x3C2;
inline constexpr uint32_t MIM_DATA = 0x3C3;
inline constexpr uint32_t MIM_LONGDATA = 0x3C4;
inline constexpr uint32_t MIM_ERROR = 0x3C5;
inline constexpr uint32_t MIM_LONGERROR = 0x3C6;
inline constexpr uint32_t MIM_MOREDATA = 0x3CC;

inline constexpr uint32_t CALLBACK_NULL = 0x00000;
inline constexpr uint32_t CALLBACK_FUNCTION = 0x30000;

// Product names are at most 31 characters plus the terminating zero.
inline constexpr int MAXPNAMELEN = 32;

struct MidiInCaps {
    char szPname[MAXPNAMELEN];
};

struct MidiOutCaps {
    char szPname[MAXPNAMELEN];
};

struct MidiDevice;  // opaque to the engine; each backend gives it meaning
using MidiHandle = MidiDevice*;

// The longest system exclusive message the program carries, F0 and F7 included.
inline constexpr uint32_t MaxLongMessageBytes = 64 * 1024;

// What param1 of MIM_LONGDATA points to: one whole system exclusive message,
// F0 ... F7, valid only during the callback.
struct MidiLongMessage {
    const uint8_t* bytes;
    uint32_t size;
};

// Called on a thread of the service. param1 holds a packed short message for
// MIM_DATA and MIM_MOREDATA: status in bits 0-7, data bytes in bits 8-23,
// bits 24-31 zero. For MIM_LONGDATA it holds a MidiLongMessage*: services
// hand over whole messages only, on the same thread as the input's short
// messages and in order with them. param2 is a time stamp.
using MidiInProc = void (*)(MidiHandle handle, uint32_t message, uintptr_t instance,
                            uintptr_t param1, uintptr_t param2);

class MidiDeviceService {
public:
    virtual ~MidiDeviceService() = default;

    virtual uint32_t midiInGetNumDevs() = 0;
    virtual MmResult midiInGetDevCapsA(uint32_t device, MidiInCaps* caps, uint32_t size) = 0;
    virtual MmResult midiInOpen(MidiHandle* slot, uint32_t device, MidiInProc callback,
                                uintptr_t instance, uint32_t flags) = 0;
    virtual MmResult midiInStart(MidiHandle handle) = 0;
    // Once a close returns success the callback is not running and will not
    // be called again for this handle.
    virtual MmResult midiInClose(MidiHandle handle) = 0;

    virtual uint32_t midiOutGetNumDevs() = 0;
    virtual MmResult midiOutGetDevCapsA(uint32_t device, MidiOutCaps* caps, uint32_t size) = 0;
    virtual MmResult midiOutOpen(MidiHandle* slot, uint32_t device, uintptr_t callback,
                                 uintptr_t instance, uint32_t flags) = 0;
    // Must not allocate, lock or block: it is called from the message path.
    virtual MmResult midiOutShortMsg(MidiHandle handle, uint32_t message) = 0;
    // Main thread. Copies one whole system exclusive message (F0 ... F7) into
    // the service's own storage and returns at once; it goes out whole, after
    // every message the handle accepted before and before any it accepts
    // after. MMSYSERR_NOMEM (or MIDIERR_STILLPLAYING) when it cannot be taken
    // now, MMSYSERR_INVALPARAM when it is not one whole message or is too long.
    virtual MmResult midiOutLongMsg(MidiHandle handle, const uint8_t* bytes, uint32_t size);
    // Returns once every message this handle accepted has left, as far as
    // the service can tell; a service without a queue of its own has nothing
    // to wait for.
    virtual MmResult midiOutClose(MidiHandle handle) = 0;

    // Services whose capture callbacks run inside the cycle that also fills
    // the outputs (JACK), or on a routing thread of their own (winmm), let a
    // capture callback send: a message then leaves at once, not whenever the
    // main thread is next free. The others answer false and never see the
    // two calls after this one.
    virtual bool sendsFromCapture();
    // Inside a capture callback only: writes the message to the output in
    // the current cycle, at the time stamp the callback was given (param2),
    // never before what the output already took this cycle. Fails, writing
    // nothing, when the output cannot take it this cycle. Must not allocate,
    // lock or block.
    virtual MmResult midiOutShortMsgNow(MidiHandle handle, uint32_t message, uintptr_t time);
    // Inside a capture callback only, as midiOutShortMsgNow: one whole system
    // exclusive message, written whole in this cycle or, where the output
    // cannot take it now, whole in a later one, in order with the rest.
    virtual MmResult midiOutLongMsgNow(MidiHandle handle, const uint8_t* bytes, uint32_t size, uintptr_t time);
    // Main thread, before the capture callbacks may send: `atStart` runs on
    // their thread at the start of each cycle, before any of them and after
    // what the main thread queued for this cycle was taken, with the cycle's
    // first time stamp; `atEnd` at its end, after the last. Null for
    // nothing. Neither may allocate, lock or block.
    virtual void setCaptureCycleStart(void (*atStart)(uintptr_t time));
    virtual void setCaptureCycleEnd(void (*atEnd)());
    // Main thread: returns once a cycle has started (and ended) after the
    // call, or when none runs within a few periods (a server that stopped).
    virtual void waitForCycle();
    // Main thread: returns once every capture callback that may have begun
    // before the call has returned; what it read of the routing before then
    // is no longer in use. Bounded: a server that stopped runs no callback,
    // and a routing thread stuck in a driver is waited for only so long.
    virtual void waitForCapture();
    // Messages the service let go of this run: those a ring of its own had
    // no room for before any capture callback saw them, and those a send
    // accepted that it could not deliver after all; 0 for a service that
    // never does.
    virtual uint64_t messagesDropped();

    // Beyond the capability record: the device's full name, which may be
    // longer than a product-name field and is what a device is known by.
    virtual std::string deviceName(bool input, uint32_t device);
    // A device keeps its number for the whole run; one that has gone is kept
    // in the list as absent (services whose list is fixed never say so).
    virtual bool devicePresent(bool input, uint32_t device);
    // Adds a device that is not here yet but is wanted by name, absent until
    // it appears, and returns its number; -1 where the list is fixed.
    virtual int64_t expectDevice(bool input, const std::string& name);
    // How many times the device has come this run, first time included; one
    // that went and came back between two updates counts again, though it
    // never looked absent. 0 where devices never come and go.
    virtual uint32_t deviceArrivals(bool input, uint32_t device);
    // The program's own port n (1 to 3) is what the next open of that
    // direction serves, for services that name their own ports.
    virtual void nameNextPort(bool input, int n);
    // `notify` may be called on any thread when devices come, go or are
    // renamed, or the server goes or returns; the main thread then calls
    // update(), which does the service's own work (lists, reconnections) and
    // returns whether the device lists changed.
    virtual void setChangeNotifier(void (*notify)());
    virtual bool update();

    // For people, as OpenSystemDeviceService found it: the service's name
    // ("JACK", "ALSA sequencer", "winmm"), empty for the stand-in used when
    // none answered; and whether its server answered then (JACK, when named,
    // may begin by waiting for one).
    const std::string& serviceName() const { return m_serviceName; }
    bool answered() const { return m_answered; }
    MidiDeviceService* describe(std::string name, bool answered);

private:
    std::string m_serviceName;
    bool m_answered = false;
};

// The backend the engine calls. Chosen once per run by OpenSystemDeviceService,
// or set by tests to an in-memory service.
extern MidiDeviceService* DeviceService;

// Which service to open: the machine's own choice, or the one the user named.
enum class ServiceChoice { Automatic, Jack, Alsa, Winmm };

// The machine's own service: on Linux JACK when a server is already running,
// else the ALSA sequencer, else one with no devices; on Windows winmm. A
// service named but not there is one with no devices, but for JACK, which
// waits for a server to answer. Never returns null. The caller owns the
// result.
MidiDeviceService* OpenSystemDeviceService(ServiceChoice choice = ServiceChoice::Automatic);
