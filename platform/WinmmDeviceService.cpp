// Must precede <windows.h>, whose macros share its constants' names.
#include "MidiDeviceService.h"

#include "MidiBytes.h"

#include <string>

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
};

constexpr size_t InputSlots = 16;

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
        if (index == InputSlots)
            return MMSYSERR_NOMEM;
        // Filled before the open: winmm may call back from inside it.
        m_slots[index].callback = callback;
        m_slots[index].instance = instance;
        HMIDIIN handle = nullptr;
        const MMRESULT result = ::midiInOpen(&handle, device, reinterpret_cast<DWORD_PTR>(&Trampoline),
                                             reinterpret_cast<DWORD_PTR>(&m_slots[index]), CALLBACK_FUNCTION);
        if (result != MMSYSERR_NOERROR) {
            m_slots[index] = InputSlot{};
            return result;
        }
        m_slots[index].handle = handle;
        *slot = reinterpret_cast<MidiHandle>(handle);
        return MMSYSERR_NOERROR;
    }

    MmResult midiInStart(MidiHandle handle) override { return ::midiInStart(reinterpret_cast<HMIDIIN>(handle)); }

    MmResult midiInClose(MidiHandle handle) override
    {
        const MMRESULT result = ::midiInClose(reinterpret_cast<HMIDIIN>(handle));
        if (result == MMSYSERR_NOERROR) {
            // winmm sends its last callback (MIM_CLOSE) before the close returns.
            for (InputSlot& slot : m_slots) {
                if (slot.callback && slot.handle == reinterpret_cast<HMIDIIN>(handle))
                    slot = InputSlot{};
            }
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
        HMIDIOUT handle = nullptr;
        const MMRESULT result = ::midiOutOpen(&handle, device, callback, instance, flags);
        if (result == MMSYSERR_NOERROR)
            *slot = reinterpret_cast<MidiHandle>(handle);
        return result;
    }

    MmResult midiOutShortMsg(MidiHandle handle, uint32_t message) override
    {
        return ::midiOutShortMsg(reinterpret_cast<HMIDIOUT>(handle), message);
    }

    MmResult midiOutClose(MidiHandle handle) override { return ::midiOutClose(reinterpret_cast<HMIDIOUT>(handle)); }

private:
    InputSlot m_slots[InputSlots];
};

void CALLBACK Trampoline(HMIDIIN handle, UINT message, DWORD_PTR slot, DWORD_PTR param1, DWORD_PTR param2)
{
    const auto* input = reinterpret_cast<const InputSlot*>(slot);
    input->callback(reinterpret_cast<MidiHandle>(handle), message, input->instance, param1, param2);
}

}  // namespace

MidiDeviceService* OpenSystemDeviceService(ServiceChoice)
{
    return new WinmmDeviceService;  // the only one there is
}
