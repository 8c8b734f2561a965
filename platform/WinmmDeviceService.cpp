// Must precede <windows.h>, whose macros share its constants' names.
#include "MidiDeviceService.h"

#include "MidiBytes.h"
#include "WinmmInputBuffers.h"
#include "WinmmOutputHeaders.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <windows.h>
#include <mmsystem.h>

namespace {

// winmm calls a CALLBACK (stdcall on 32-bit) function with its own handle
// type; the trampoline turns that call into the engine's. Its instance value
// is the slot holding the engine's callback and instance value.
struct InputSlot {
    MidiInProc callback = nullptr;
    uintptr_t instance = 0;
    HMIDIIN handle = nullptr;
    HANDLE wake = nullptr;  // the service thread's event
    MIDIHDR headers[WinmmInputBuffers::Count]{};
    // Made on the slot's first open and kept for the run; published for the
    // service thread once made.
    std::unique_ptr<WinmmInputBuffers> owned;
    std::atomic<WinmmInputBuffers*> buffers{nullptr};
};

struct OutputSlot {
    HMIDIOUT handle = nullptr;
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

class WinmmDeviceService final : public MidiDeviceService {
public:
    ~WinmmDeviceService() override
    {
        if (m_serviceThread.joinable()) {
            m_stopping.store(true, std::memory_order_release);
            SetEvent(m_wake);
            m_serviceThread.join();
        }
        if (m_wake)
            CloseHandle(m_wake);
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
        if (index == InputSlots || !startServiceThread())
            return MMSYSERR_NOMEM;
        InputSlot& input = m_slots[index];
        if (!input.owned) {
            input.owned = std::make_unique<WinmmInputBuffers>(InputCalls, &input);
            input.buffers.store(input.owned.get(), std::memory_order_release);
        }
        // Filled before the open: winmm may call back from inside it.
        input.callback = callback;
        input.instance = instance;
        input.wake = m_wake;
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
        // winmm sends its last callback (MIM_CLOSE) before the close returns.
        if (input && result == MMSYSERR_NOERROR)
            vacate(*input);
        else if (input)
            input->owned->queue();
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
        output->handle = handle;
        *slot = reinterpret_cast<MidiHandle>(handle);
        return MMSYSERR_NOERROR;
    }

    MmResult midiOutShortMsg(MidiHandle handle, uint32_t message) override
    {
        return ::midiOutShortMsg(reinterpret_cast<HMIDIOUT>(handle), message);
    }

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
            output->handle = nullptr;
        return result;
    }

private:
    static void vacate(InputSlot& input)
    {
        input.callback = nullptr;
        input.instance = 0;
        input.handle = nullptr;
    }

    OutputSlot* findOutput(HMIDIOUT handle)
    {
        for (OutputSlot& output : m_outputs) {
            if (output.handle == handle)
                return &output;
        }
        return nullptr;
    }

    // Gives input buffers back to the driver, which the inputs' callbacks may
    // not do. A thread of its own rather than the main thread: that one may
    // sit in a notice for minutes while a dump streams in, and the driver
    // drops what finds no buffer.
    bool startServiceThread()
    {
        if (m_serviceThread.joinable())
            return true;
        if (!m_wake)
            m_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!m_wake)
            return false;
        m_serviceThread = std::thread([this] {
            while (WaitForSingleObject(m_wake, INFINITE) == WAIT_OBJECT_0 &&
                   !m_stopping.load(std::memory_order_acquire)) {
                for (InputSlot& input : m_slots) {
                    if (WinmmInputBuffers* buffers = input.buffers.load(std::memory_order_acquire))
                        buffers->giveBack();
                }
            }
        });
        return true;
    }

    InputSlot m_slots[InputSlots];
    OutputSlot m_outputs[OutputSlots];
    HANDLE m_wake = nullptr;
    std::atomic<bool> m_stopping{false};
    std::thread m_serviceThread;
};

void CALLBACK Trampoline(HMIDIIN handle, UINT message, DWORD_PTR slot, DWORD_PTR param1, DWORD_PTR param2)
{
    auto* input = reinterpret_cast<InputSlot*>(slot);
    if (message == MIM_LONGDATA || message == MIM_LONGERROR) {
        const auto* header = reinterpret_cast<const MIDIHDR*>(param1);
        if (header)
                input->owned->received(static_cast<unsigned>(header->dwUser), header->dwBytesRecorded,
                                   message == MIM_LONGERROR, input->callback, reinterpret_cast<MidiHandle>(handle),
                                   input->instance, param2);
        return;
    }
    input->callback(reinterpret_cast<MidiHandle>(handle), message, input->instance, param1, param2);
}

}  // namespace

MidiDeviceService* OpenSystemDeviceService(ServiceChoice)
{
    return (new WinmmDeviceService)->describe("winmm", true);  // the only one there is
}
