#include "MessagePath.h"

#include "EngineHooks.h"
#include "EventRing.h"
#include "MidiPorts.h"
#include "SoundingNotes.h"

int32_t ActivityHold[PortCount]{};

namespace {

void LightLamp(int port)
{
    if (ActivityHold[port] != 0)
        return;
    ActivityHold[port] = 1;
    if (EngineHooks.SetLamp)
        EngineHooks.SetLamp(port, true);
}

void RouteEntry(uint32_t entry)
{
    const uint32_t n = TagOf(entry);
    if (n < 1 || n > 3)
        return;
    LightLamp(InputPort(static_cast<int>(n)));

    uint32_t out = entry;
    const uint8_t status = StatusOf(entry);
    const bool fromPressure = RoutingOptions.AtToPb[n - 1] && (status & 0xF0) == 0xD0;
    if (fromPressure)
        out = PressureToPitchBend(status, Data1Of(entry));

    const int32_t mask = RoutingOptions.RouteMask[n - 1];
    for (int k = 1; k <= 3; ++k) {
        if ((mask & (1 << (k - 1))) && SendToOutput(k, out))
            TrackSent(static_cast<int>(n), k, out, fromPressure);
    }
}

}  // namespace

template <int N>
void MidiInputProc(MidiHandle, uint32_t message, uintptr_t, uintptr_t param1, uintptr_t)
{
    static_assert(N >= 1 && N <= 3);
    if (message != MIM_DATA && message != MIM_MOREDATA)
        return;
    if (ChannelVoiceOnly(N) && (param1 & 0xFF) >= 0xF0)
        return;
    PushEvent((static_cast<uint32_t>(param1) & 0x00FFFFFF) | (static_cast<uint32_t>(N) << 24));
    PostWakeUp();
}

template void MidiInputProc<1>(MidiHandle, uint32_t, uintptr_t, uintptr_t, uintptr_t);
template void MidiInputProc<2>(MidiHandle, uint32_t, uintptr_t, uintptr_t, uintptr_t);
template void MidiInputProc<3>(MidiHandle, uint32_t, uintptr_t, uintptr_t, uintptr_t);

const MidiInProc MidiInputProcs[3] = {&MidiInputProc<1>, &MidiInputProc<2>, &MidiInputProc<3>};

void ApplicationMessage(uint32_t message, bool&)
{
    if (message == WakeUpMessage && !NoticeShowing()) {
        ServiceDevices();
        DrainEvents();
    }
}

void DrainEvents()
{
    uint32_t entry;
    while (PopEvent(entry))
        RouteEntry(entry);
}

uint32_t PressureToPitchBend(uint8_t status, uint8_t pressure)
{
    // Least significant seven bits 0, most significant the pressure halved
    // and raised by 64: pressure 0 is the centre, 127 the top.
    return 0xE0u | (status & 0x0Fu) | ((((pressure & 0x7Fu) >> 1) + 64u) << 16);
}

bool SendToOutput(int k, uint32_t message)
{
    const int port = OutputPort(k);
    LightLamp(port);
    if (OpenSelection[port] == 0)
        return false;
    DeviceService->midiOutShortMsg(DeviceHandles[port], message);
    return true;
}

void DecayActivity()
{
    for (int port = 0; port < PortCount; ++port) {
        if (ActivityHold[port] != 0)
            --ActivityHold[port];
        else if (EngineHooks.SetLamp)
            EngineHooks.SetLamp(port, false);
    }
}

void ResetMessagePath()
{
    for (int32_t& hold : ActivityHold)
        hold = 0;
    ResetEventRing();
    ResetSoundingNotes();
}
