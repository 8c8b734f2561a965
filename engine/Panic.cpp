#include "Panic.h"

#include "MessagePath.h"
#include "MidiPorts.h"
#include "RoutingSettings.h"
#include "SoundingNotes.h"

namespace {

constexpr uint8_t AllNotesOff = 123;
constexpr uint8_t ResetAllControllers = 121;

}  // namespace

void SendPanic()
{
    // Whatever was captured before the key is sent first and recorded: a
    // note-on still queued would otherwise follow the panic and hang. Where
    // the capture callbacks send, one that began before may still be writing
    // the record.
    DrainEvents();
    WaitForCapture();
    for (int k = 1; k <= 3; ++k) {
        if (OpenSelection[OutputPort(k)] == 0)
            continue;
        ReleaseOutput(k);
        for (uint32_t channel = 0; channel < 16; ++channel) {
            SendToOutput(k, (0xB0 | channel) | uint32_t{AllNotesOff} << 8);
            SendToOutput(k, (0xB0 | channel) | uint32_t{ResetAllControllers} << 8);
        }
    }
}
