// Must precede <windows.h>, whose macros share its constants' names.
#include "MidiDeviceService.h"

#include "MidiBytes.h"
#include "WinmmInputBuffers.h"
#include "WinmmOutputHeaders.h"
#include "WinmmRoutingThread.h"

#include <atomic>
#include <memory>
#include <string>

#include <windows.h>
#include <mmsystem.h>

namespace {

// winmm calls a CALLBACK (stdcall on 32-bit) function with its own handle
// type; the trampoline copies what it brings into the routing thread's ring
// for this slot, which is its instance value.
struct InputSlot {
    MidiInProc callback = nullptr;  // the engine's, while the slot is in use
    unsigned index = 0;
    WinmmRoutingThread* router = nullptr;
    HMIDIIN handle = nullptr;
    HANDLE wake = nullptr;  // the routing thread's event
    MIDIHDR headers[WinmmInputBuffers::Count]{};
    std::unique_ptr<WinmmInputBuffers> owned;  // made on the slot's first open, kept for the run
};

struct OutputSlot {
    // Looked up by the routing thread too, for long messages.
    std::atomic<HMIDIOUT> handle{nullptr};
    MIDIHDR headers[WinmmOutputHeaders::Count]{};
    std::unique_ptr<WinmmOutputHeaders> pool;  // made on the slot's first open, kept for the run
};

constexpr size_t InputSlots = 16;
constexpr size_t OutputSlots = 16;

MIDIHDR& Header(MIDIHDR* headers, unsigned n, uint8_t* bytes, uint32_t size)
{
    MIDIHDR& header = headers[n];
    header = MIDIHDR{};
    header.lpData = reinterpret_cast<LPSTR>(bytes);
    header.dwBufferLength = size;
    header.dwUser = n;
    return header;
}

InputSlot& In(void* slot)
{
    return *static_cast<InputSlot*>(slot);
}

OutputSlot& Out(void* slot)
{
    return *static_cast<OutputSlot*>(slot);
}

const WinmmInputCalls InputCalls{
    [](void* slot, unsigned n, uint8_t* bytes, uint32_t size) -> MmResult {
        return midiInPrepareHeader(In(slot).handle, &Header(In(slot).headers, n, bytes, size), sizeof(MIDIHDR));
    },
    [](void* slot, unsigned n) -> MmResult {
        return midiInAddBuffer(In(slot).handle, &In(slot).headers[n], sizeof(MIDIHDR));
    },
    [](void* slot, unsigned n) -> MmResult {
        return midiInUnprepareHeader(In(slot).handle, &In(slot).headers[n], sizeof(MIDIHDR));
    },
    [](void* slot) -> MmResult { return midiInReset(In(slot).handle); },
    [](void* slot) { SetEvent(In(slot).wake); },
};

const WinmmOutputCalls OutputCalls{
    [](void* slot, unsigned n, uint8_t* bytes, uint32_t size) -> MmResult {
        return midiOutPrepareHeader(Out(slot).handle, &Header(Out(slot).headers, n, bytes, size), sizeof(MIDIHDR));
    },
    [](void* slot, unsigned n) -> MmResult {
        return midiOutLongMsg(Out(slot).handle, &Out(slot).headers[n], sizeof(MIDIHDR));
    },
    [](void* slot, unsigned n) -> MmResult {
        return midiOutUnprepareHeader(Out(slot).handle, &Out(slot).headers[n], sizeof(MIDIHDR));
    },
    [](void* slot) -> MmResult { return midiOutReset(Out(slot).handle); },
};

void CALLBACK Trampoline(HMIDIIN handle, UINT message, DWORD_PTR slot, DWORD_PTR param1, DWORD_PTR param2);

// Multimedia Class Scheduler's "Pro Audio" task, where avrt.dll offers it:
// the routing thread then runs ahead of ordinary work however busy the
// machine is. Loaded at run time so that a system without it still runs
// the program, with the thread merely raised above normal.
void RaiseToProAudio()
{
    using SetCharacteristics = HANDLE(WINAPI*)(LPCWSTR, LPDWORD);
    if (HMODULE avrt = LoadLibraryW(L"avrt.dll")) {
        const auto set = reinterpret_cast<SetCharacteristics>(
            reinterpret_cast<void*>(GetProcAddress(avrt, "AvSetMmThreadCharacteristicsW")));
        DWORD task = 0;
        // Kept loaded: the thread keeps the class until it ends.
        if (set && set(L"Pro Audio", &task))
            return;
        FreeLibrary(avrt);
    }
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

// An auto-reset event, closed after the thread that waits on it has ended.
struct Event {
    HANDLE handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~Event()
    {
        if (handle)
            CloseHandle(handle);
    }
};

const WinmmThreadCalls ThreadCalls{
    [](void* event) { SetEvent(static_cast<Event*>(event)->handle); },
    [](void* event) { WaitForSingleObject(static_cast<Event*>(event)->handle, INFINITE); },
    [](void*) { RaiseToProAudio(); },
};

// winmm gives product names in the ANSI code page; the program keeps its
// names (and its names file) in UTF-8, as on every other system.
std::string Utf8FromAnsi(const std::string& ansi)
{
    const int wide = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    if (wide <= 0)
        return ansi;
    std::wstring text(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, text.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return ansi;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(bytes) - 1);
    return utf8;
}

// Input is routed on a thread of the program's own (see WinmmRoutingThread),
// so playing goes on while the main thread waits in a notice or a menu; the
// engine's capture callbacks send from there, and the main thread only
// lights lamps and shows notices.
class WinmmDeviceService final : public MidiDeviceService {
public:
    WinmmDeviceService()
    {
        for (unsigned index = 0; index < InputSlots; ++index) {
            m_slots[index].index = index;
            m_slots[index].router = &m_router;
            m_slots[index].wake = m_wake.handle;
        }
    }

    std::string deviceName(bool input, uint32_t device) override
    {
        return Utf8FromAnsi(MidiDeviceService::deviceName(input, device));
    }

    uint32_t midiInGetNumDevs() override { return ::midiInGetNumDevs(); }

    MmResult midiInGetDevCapsA(uint32_t device, MidiInCaps* caps, uint32_t size) override
    {
        if (!caps || size < sizeof *caps)
            return MMSYSERR_INVALPARAM;
        MIDIINCAPSA system{};
        const MMRESULT result = ::midiInGetDevCapsA(device, &system, sizeof system);
        CopyProductName(caps->szPname, result == MMSYSERR_NOERROR ? system.szPname : "");
        return result;
    }

    MmResult midiInOpen(MidiHandle* slot, uint32_t device, MidiInProc callback, uintptr_t instance,
                        uint32_t flags) override
    {
        if (!slot || !callback || flags != CALLBACK_FUNCTION)
            return MMSYSERR_INVALPARAM;
        size_t index = 0;
        while (index < InputSlots && m_slots[index].callback)
            ++index;
        if (index == InputSlots || !m_wake.handle)
            return MMSYSERR_NOMEM;
        InputSlot& input = m_slots[index];
        if (!input.owned)
            input.owned = std::make_unique<WinmmInputBuffers>(InputCalls, &input);
        // Before the open: winmm may call back from inside it.
        if (!m_router.attach(input.index, callback, instance, input.owned.get()))
            return MMSYSERR_NOMEM;
        input.callback = callback;
        HMIDIIN handle = nullptr;
        MMRESULT result = ::midiInOpen(&handle, device, reinterpret_cast<DWORD_PTR>(&Trampoline),
                                       reinterpret_cast<DWORD_PTR>(&input), CALLBACK_FUNCTION);
        if (result == MMSYSERR_NOERROR) {
            input.handle = handle;
            // Long messages need buffers in the driver's queue before the start.
            result = input.owned->queue();
            if (result != MMSYSERR_NOERROR) {
                input.owned->withdraw();
                ::midiInClose(handle);
            }
        }
        if (result != MMSYSERR_NOERROR) {
            vacate(input);
            return result;
        }
        *slot = reinterpret_cast<MidiHandle>(handle);
        return MMSYSERR_NOERROR;
    }

    MmResult midiInStart(MidiHandle handle) override { return ::midiInStart(reinterpret_cast<HMIDIIN>(handle)); }

    MmResult midiInClose(MidiHandle handle) override
    {
        InputSlot* input = nullptr;
        for (InputSlot& slot : m_slots) {
            if (slot.callback && slot.handle == reinterpret_cast<HMIDIIN>(handle))
                input = &slot;
        }
        // winmm refuses to close an input that still holds buffers.
        if (input)
            input->owned->withdraw();
        const MMRESULT result = ::midiInClose(reinterpret_cast<HMIDIIN>(handle));
        // winmm sends its last callback (MIM_CLOSE) before the close returns;
        // what the ring still holds is routed before the engine releases
        // what this input left sounding.
        if (input && result == MMSYSERR_NOERROR) {
            vacate(*input);
        } else if (input) {
            // The buffers the reset returned must be seen as withdrawn before
            // they are queued anew, or they would be added twice.
            m_router.flush();
            input->owned->queue();
        }
        return result;
    }

    uint32_t midiOutGetNumDevs() override { return ::midiOutGetNumDevs(); }

    MmResult midiOutGetDevCapsA(uint32_t device, MidiOutCaps* caps, uint32_t size) override
    {
        if (!caps || size < sizeof *caps)
            return MMSYSERR_INVALPARAM;
        MIDIOUTCAPSA system{};
        const MMRESULT result = ::midiOutGetDevCapsA(device, &system, sizeof system);
        CopyProductName(caps->szPname, result == MMSYSERR_NOERROR ? system.szPname : "");
        return result;
    }

    MmResult midiOutOpen(MidiHandle* slot, uint32_t device, uintptr_t callback, uintptr_t instance,
                         uint32_t flags) override
    {
        if (!slot)
            return MMSYSERR_INVALPARAM;
        OutputSlot* output = findOutput(nullptr);
        if (!output)
            return MMSYSERR_NOMEM;
        HMIDIOUT handle = nullptr;
        const MMRESULT result = ::midiOutOpen(&handle, device, callback, instance, flags);
        if (result != MMSYSERR_NOERROR)
            return result;
        if (!output->pool)
            output->pool = std::make_unique<WinmmOutputHeaders>(OutputCalls, output);
        output->handle.store(handle);
        *slot = reinterpret_cast<MidiHandle>(handle);
        return MMSYSERR_NOERROR;
    }

    MmResult midiOutShortMsg(MidiHandle handle, uint32_t message) override
    {
        return ::midiOutShortMsg(reinterpret_cast<HMIDIOUT>(handle), message);
    }

    // The engine sends long messages from its capture callbacks only, on
    // the routing thread, so the headers have one user at a time: this one
    // is here for the interface's sake.
    MmResult midiOutLongMsg(MidiHandle handle, const uint8_t* bytes, uint32_t size) override
    {
        OutputSlot* output = handle ? findOutput(reinterpret_cast<HMIDIOUT>(handle)) : nullptr;
        return output ? output->pool->send(bytes, size) : MMSYSERR_INVALHANDLE;
    }

    MmResult midiOutClose(MidiHandle handle) override
    {
        OutputSlot* output = handle ? findOutput(reinterpret_cast<HMIDIOUT>(handle)) : nullptr;
        // winmm refuses to close an output whose headers it still holds.
        if (output)
            output->pool->finish();
        const MMRESULT result = ::midiOutClose(reinterpret_cast<HMIDIOUT>(handle));
        if (output && result == MMSYSERR_NOERROR)
            output->handle.store(nullptr);
        return result;
    }

    bool sendsFromCapture() override { return true; }

    MmResult midiOutShortMsgNow(MidiHandle handle, uint32_t message, uintptr_t) override
    {
        return ::midiOutShortMsg(reinterpret_cast<HMIDIOUT>(handle), message);
    }

    MmResult midiOutLongMsgNow(MidiHandle handle, const uint8_t* bytes, uint32_t size, uintptr_t) override
    {
        return midiOutLongMsg(handle, bytes, size);
    }

    void waitForCapture() override { m_router.waitForPass(); }

    uint64_t messagesDropped() override { return m_router.dropped(); }

private:
    void vacate(InputSlot& input)
    {
        m_router.detach(input.index);
        input.callback = nullptr;
        input.handle = nullptr;
    }

    OutputSlot* findOutput(HMIDIOUT handle)
    {
        for (OutputSlot& output : m_outputs) {
            if (output.handle.load() == handle)
                return &output;
        }
        return nullptr;
    }

    Event m_wake;  // outlives the thread that waits on it
    WinmmRoutingThread m_router{ThreadCalls, &m_wake};
    InputSlot m_slots[InputSlots];
    OutputSlot m_outputs[OutputSlots];
};

void CALLBACK Trampoline(HMIDIIN handle, UINT message, DWORD_PTR slot, DWORD_PTR param1, DWORD_PTR param2)
{
    // Copies and signals, nothing more: the routing thread does the rest.
    const auto* input = reinterpret_cast<const InputSlot*>(slot);
    const auto midiHandle = reinterpret_cast<MidiHandle>(handle);
    if (message == MIM_DATA || message == MIM_MOREDATA) {
        input->router->pushShort(input->index, midiHandle, message, static_cast<uint32_t>(param1), param2);
    } else if (message == MIM_LONGDATA || message == MIM_LONGERROR) {
        if (const auto* header = reinterpret_cast<const MIDIHDR*>(param1))
            input->router->pushLong(input->index, midiHandle, message, static_cast<unsigned>(header->dwUser),
                                    header->dwBytesRecorded, param2);
    }
}

}  // namespace

MidiDeviceService* OpenSystemDeviceService(ServiceChoice)
{
    return (new WinmmDeviceService)->describe("winmm", true);  // the only one there is
}
