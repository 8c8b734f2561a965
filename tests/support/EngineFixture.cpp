#include "EngineFixture.h"

#include "EngineReset.h"
#include "MidiPorts.h"
#include "RoutingSettings.h"

namespace {

std::vector<bool> LampState(PortCount, false);
std::vector<std::pair<int, bool>> LampCalls;
std::vector<Notice> Notices;
std::vector<std::string> NoticeSubjects;

void RecordLamp(int port, bool lit)
{
    LampState[port] = lit;
    LampCalls.emplace_back(port, lit);
}

void RecordNotice(const char* text, const char* caption)
{
    Notices.push_back({text, caption});
    NoticeSubjects.push_back(NoticeSubject());
}

}  // namespace

void EngineFixture::SetUp()
{
    ResetEngine();
    LampState.assign(PortCount, false);
    LampCalls.clear();
    Notices.clear();
    NoticeSubjects.clear();
    DeviceService = &fake;
    EngineHooks.SetLamp = &RecordLamp;
    EngineHooks.ShowErrorNotice = &RecordNotice;
    SetWakeUpTarget(&wakeUps);
    EnumerateDevices();
}

void EngineFixture::TearDown()
{
    // Close through the service so no capture thread outlives the test.
    EngineHooks.ShowErrorNotice = nullptr;
    CloseAllDevices();
    ResetEngine();
    DeviceService = nullptr;
}

void EngineFixture::play(uint32_t device, std::initializer_list<uint32_t> messages)
{
    for (uint32_t message : messages)
        fake.deliver(device, message);
    fake.waitDelivered();
}

std::vector<bool> EngineFixture::lamps()
{
    return LampState;
}

std::vector<std::pair<int, bool>>& EngineFixture::lampCalls()
{
    return LampCalls;
}

std::vector<Notice>& EngineFixture::notices()
{
    return Notices;
}

std::vector<std::string>& EngineFixture::noticeSubjects()
{
    return NoticeSubjects;
}
