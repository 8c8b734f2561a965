#include "MidiDeviceService.h"

#include <algorithm>
#include <iterator>
#include <utility>

MidiDeviceService* DeviceService = nullptr;

std::string MidiDeviceService::deviceName(bool input, uint32_t device)
{
    char name[MAXPNAMELEN]{};
    if (input) {
        MidiInCaps caps{};
        if (midiInGetDevCapsA(device, &caps, sizeof caps) == MMSYSERR_NOERROR)
            std::copy(std::begin(caps.szPname), std::end(caps.szPname), name);
    } else {
        MidiOutCaps caps{};
        if (midiOutGetDevCapsA(device, &caps, sizeof caps) == MMSYSERR_NOERROR)
            std::copy(std::begin(caps.szPname), std::end(caps.szPname), name);
    }
    name[MAXPNAMELEN - 1] = '\0';
    return name;
}

MmResult MidiDeviceService::midiOutLongMsg(MidiHandle, const uint8_t*, uint32_t)
{
    return MMSYSERR_NOTSUPPORTED;
}

bool MidiDeviceService::devicePresent(bool, uint32_t)
{
    return true;
}

int64_t MidiDeviceService::expectDevice(bool, const std::string&)
{
    return -1;
}

uint32_t MidiDeviceService::deviceArrivals(bool, uint32_t)
{
    return 0;
}

void MidiDeviceService::nameNextPort(bool, int) {}

void MidiDeviceService::setChangeNotifier(void (*)()) {}

bool MidiDeviceService::update()
{
    return false;
}

bool MidiDeviceService::sendsFromCapture()
{
    return false;
}

MmResult MidiDeviceService::midiOutShortMsgNow(MidiHandle, uint32_t, uintptr_t)
{
    return MMSYSERR_NOTSUPPORTED;
}

MmResult MidiDeviceService::midiOutLongMsgNow(MidiHandle, const uint8_t*, uint32_t, uintptr_t)
{
    return MMSYSERR_NOTSUPPORTED;
}

void MidiDeviceService::setCaptureCycleStart(void (*)(uintptr_t)) {}

void MidiDeviceService::setCaptureCycleEnd(void (*)()) {}

void MidiDeviceService::waitForCycle() {}

void MidiDeviceService::waitForCapture() {}

MidiDeviceService* MidiDeviceService::describe(std::string name, bool answered)
{
    m_serviceName = std::move(name);
    m_answered = answered;
    return this;
}

uint64_t MidiDeviceService::messagesDropped()
{
    return 0;
}
