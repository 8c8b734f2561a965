#include "MidiPorts.h"

#include "EngineHooks.h"
#include "MessagePath.h"
#include "RoutingSettings.h"
#include "SavedDeviceNames.h"
#include "SoundingNotes.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

std::vector<std::string> InDeviceNames;
std::vector<std::string> OutDeviceNames;

namespace {

std::unique_ptr<MidiDeviceService> SystemService;
std::atomic<bool> DeviceChangePending{false};
// Per input, its device's arrivals when last looked at.
uint32_t InputArrivals[3] = {};

// Any thread: the service has news for the main thread.
void NoteDeviceChange()
{
    DeviceChangePending.store(true, std::memory_order_release);
    PostWakeUp();
}

// Reads the names after the "no device" entry: a renamed device keeps its
// place, devices the service added go at the end; positions already handed
// out never change.
void ReadDeviceNames(bool input)
{
    std::vector<std::string>& names = input ? InDeviceNames : OutDeviceNames;
    const uint32_t count = input ? DeviceService->midiInGetNumDevs() : DeviceService->midiOutGetNumDevs();
    names.resize(std::max<size_t>(names.size(), size_t{count} + 1));
    for (uint32_t device = 0; device < count; ++device) {
        std::string name = DeviceService->deviceName(input, device);
        if (name.empty())
            name = (input ? "MIDI input " : "MIDI output ") + std::to_string(device + 1);
        names[device + 1] = std::move(name);
    }
}

enum class PortKind { Input, Output };

const char* Caption(PortKind kind, int n)
{
    return kind == PortKind::Input && n == 1 ? "Errorr... in MIDI in 1" : "Errorr...";
}

// "input 2, device \"keys:out\"": the port a notice is about and the device
// it was opening or closing; one not in the list by its saved name, or by its
// position when it has none.
std::string Subject(PortKind kind, int n, int32_t selection)
{
    const bool input = kind == PortKind::Input;
    const std::vector<std::string>& names = input ? InDeviceNames : OutDeviceNames;
    const int port = input ? InputPort(n) : OutputPort(n);
    std::string device = selection > 0 && static_cast<size_t>(selection) < names.size() ? names[selection]
                                                                                         : RestoredDeviceName(port);
    device = device.empty() ? std::to_string(selection) : '"' + device + '"';
    return (input ? "input " : "output ") + std::to_string(n) + ", device " + device;
}

void ReportCloseFailure(PortKind kind, int n, int32_t selection, MmResult code)
{
    const bool input = kind == PortKind::Input;
    const char* text = nullptr;
    switch (code) {
    case MIDIERR_STILLPLAYING:
        text = input ? "Buffers are still in the queue." : "Errorr: Buffers are still in the queue.";
        break;
    case MMSYSERR_INVALHANDLE:
        text = input ? "The specified device handle is invalid." : "Errorr: The specified device handle is invalid.";
        break;
    case MMSYSERR_NOMEM:
        text = input ? "The system is unable to load mapper string description."
                     : "Errorr: The system is unable to load mapper string description.";
        break;
    default:
        return;
    }
    ErrorNotice(text, Caption(kind, n), Subject(kind, n, selection));
}

void ReportOpenFailure(PortKind kind, int n, int32_t selection, MmResult code)
{
    const char* text = nullptr;
    switch (code) {
    case MMSYSERR_BADDEVICEID:
        text = "Errorr: The specified device identifier is out of range.";
        break;
    case MMSYSERR_ALLOCATED:
        text = "Errorr: The specified resource is already allocated.";
        break;
    case MMSYSERR_NOMEM:
        text = "Errorr: The system is unable to allocate or lock memory.";
        break;
    case MMSYSERR_INVALPARAM:
        text = "Errorr: The specified pointer or structure is invalid.";
        break;
    case MIDIERR_NODEVICE:
        // This one has the plain caption on every port, input 1 included.
        ErrorNotice("Errorr: No MIDI port was found. This error occurs only when the mapper is opened.", "Errorr...",
                    Subject(kind, n, selection));
        return;
    default:
        return;
    }
    ErrorNotice(text, Caption(kind, n), Subject(kind, n, selection));
}

void Select(PortKind kind, int n, int32_t selection)
{
    const bool input = kind == PortKind::Input;
    const int port = input ? InputPort(n) : OutputPort(n);

    if (OpenSelection[port] != 0) {
        // Nothing may be left sounding on a device that goes away: once the
        // capture callbacks no longer send on it, its record is complete.
        if (!input) {
            CaptureOutputs[n - 1].store(nullptr);
            WaitForCapture();
            ReleaseOutput(n);
        }
        const MmResult closed = input ? DeviceService->midiInClose(DeviceHandles[port])
                                      : DeviceService->midiOutClose(DeviceHandles[port]);
        if (closed != MMSYSERR_NOERROR) {
            // Opening over a handle that failed to close would leave the old
            // device open for good and out of reach; keep it so a later
            // choice can retry the close.
            if (!input)
                CaptureOutputs[n - 1].store(DeviceHandles[port]);
            ReportCloseFailure(kind, n, OpenSelection[port], closed);
            return;
        }
        OpenSelection[port] = 0;
        DeviceHandles[port] = nullptr;
        if (input) {
            // The note-offs of a closed input will never come: route what it
            // sent before closing, then release what it left sounding.
            DrainEvents();
            ReleaseInput(n);
        }
    }
    if (selection == 0)
        return;

    // Negative selections wrap to huge device numbers and fail as out of range.
    const uint32_t device = static_cast<uint32_t>(selection) - 1u;
    MidiHandle handle = nullptr;
    DeviceService->nameNextPort(input, n);
    if (input)
        SendFromCapture(DeviceService->sendsFromCapture());
    const MmResult opened = input
        ? DeviceService->midiInOpen(&handle, device, MidiInputProcs[n - 1], 0, CALLBACK_FUNCTION)
        : DeviceService->midiOutOpen(&handle, device, 0, 0, CALLBACK_NULL);
    if (opened != MMSYSERR_NOERROR) {
        ReportOpenFailure(kind, n, selection, opened);
        return;
    }
    DeviceHandles[port] = handle;
    OpenSelection[port] = selection;
    if (input) {
        InputArrivals[n - 1] = DeviceService->deviceArrivals(true, device);
        DeviceService->midiInStart(handle);
    } else {
        CaptureOutputs[n - 1].store(handle);
    }
}

}  // namespace

void EnumerateDevices(ServiceChoice choice)
{
    if (!DeviceService) {
        SystemService.reset(OpenSystemDeviceService(choice));
        DeviceService = SystemService.get();
    }
    InDeviceNames.assign(1, "NO Selected IN Device");
    ReadDeviceNames(true);
    OutDeviceNames.assign(1, "NO Selected OUT Device");
    ReadDeviceNames(false);
    DeviceService->setChangeNotifier(&NoteDeviceChange);
}

bool DevicePresent(bool input, int32_t selection)
{
    return selection <= 0 || DeviceService->devicePresent(input, static_cast<uint32_t>(selection - 1));
}

void ServiceDevices()
{
    // A plain load first: this runs on every wake-up of the message path.
    if (!DeviceService || !DeviceChangePending.load(std::memory_order_relaxed) ||
        !DeviceChangePending.exchange(false, std::memory_order_acq_rel))
        return;
    if (!DeviceService->update())
        return;
    ReadDeviceNames(true);
    ReadDeviceNames(false);
    // A keyboard unplugged with keys down will never send their note-offs,
    // nor will one that went and came back (or was replaced) since.
    for (int n = 1; n <= 3; ++n) {
        const int32_t selection = OpenSelection[InputPort(n)];
        if (selection <= 0)
            continue;
        const uint32_t arrivals = DeviceService->deviceArrivals(true, static_cast<uint32_t>(selection - 1));
        const bool cameBack = std::exchange(InputArrivals[n - 1], arrivals) != arrivals;
        if (!DevicePresent(true, selection) || cameBack) {
            WaitForCapture();
            DrainEvents();
            ReleaseInput(n);
        }
    }
    if (EngineHooks.DevicesChanged)
        EngineHooks.DevicesChanged();
}

bool DeviceChangeWaiting()
{
    return DeviceChangePending.load(std::memory_order_acquire);
}

int32_t FindSavedDevice(bool input, int32_t selection, const std::string& name)
{
    std::vector<std::string>& names = input ? InDeviceNames : OutDeviceNames;
    if (selection > 0 && static_cast<size_t>(selection) < names.size() && names[selection] == name)
        return selection;
    for (size_t at = 1; at < names.size(); ++at) {
        if (names[at] == name)
            return static_cast<int32_t>(at);
    }
    if (const int64_t device = DeviceService->expectDevice(input, name); device >= 0) {
        ReadDeviceNames(input);
        return static_cast<int32_t>(device + 1);
    }
    // Gone, on a service that cannot wait for it: fails as out of range.
    return static_cast<int32_t>(names.size());
}

void SelectInput(int n, int32_t selection)
{
    Select(PortKind::Input, n, selection);
}

void SelectOutput(int n, int32_t selection)
{
    Select(PortKind::Output, n, selection);
}

void CloseAllDevices()
{
    for (int n = 1; n <= 3; ++n)
        SelectInput(n, 0);
    for (int n = 1; n <= 3; ++n)
        SelectOutput(n, 0);
}

void OpenSavedDevices()
{
    for (int n = 1; n <= 3; ++n)
        SelectInput(n, RoutingOptions.InSelect[n - 1]);
    for (int n = 1; n <= 3; ++n)
        SelectOutput(n, RoutingOptions.OutSelect[n - 1]);
}

void FreeDeviceNames()
{
    InDeviceNames.clear();
    InDeviceNames.shrink_to_fit();
    OutDeviceNames.clear();
    OutDeviceNames.shrink_to_fit();
}

void ReleaseDeviceService()
{
    if (DeviceService)
        DeviceService->setChangeNotifier(nullptr);
    DeviceChangePending.store(false, std::memory_order_relaxed);
    // A port whose close failed is still open: its device thread may call in
    // at any time and reads the callback record the service owns, so the
    // service stays for the rest of the process.
    for (int port = 0; port < PortCount; ++port) {
        if (OpenSelection[port] != 0)
            return;
    }
    if (SystemService && DeviceService == SystemService.get())
        DeviceService = nullptr;
    SystemService.reset();
}
