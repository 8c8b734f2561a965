#include "QtPrinters.h"
#include "AllocationCounter.h"
#include "ApplicationMessageFilter.h"
#include "EngineFixture.h"
#include "EventRing.h"
#include "EventLoopWait.h"
#include "MainForm.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "RoutingSettings.h"
#include "WakeUpEvent.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <memory>
#include <thread>

namespace {

// The main window as the wake-up target and the application-wide hook,
// over the in-memory service.
class WakeUp : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        form = std::make_unique<TMainForm>();
        filter = std::make_unique<ApplicationMessageFilter>(form.get());
        qApp->installEventFilter(filter.get());
        SelectInput(1, 1);
        SelectOutput(1, 1);
        RoutingOptions.RouteMask[0] = 1;
    }

    void TearDown() override
    {
        CloseAllDevices();
        qApp->removeEventFilter(filter.get());
        filter.reset();
        form.reset();
        EngineFixture::TearDown();
    }

    std::unique_ptr<TMainForm> form;
    std::unique_ptr<ApplicationMessageFilter> filter;
};

TEST_F(WakeUp, TheMainLoopRoutesWhatADeviceThreadCaptured)
{
    fake.deliver(0, Msg(0x90, 60, 100));
    EXPECT_TRUE(WaitUntil([&] { return fake.sent(0).size() == 1; }));
}

TEST_F(WakeUp, NoEntryWaitsForALaterMessage)
{
    // Wake-ups coalesce, yet the last message of a burst from three threads
    // must go out without any message after it. Whatever the ring refused
    // as full is counted; everything else arrives, in order per input.
    SelectInput(2, 2);
    SelectInput(3, 3);
    RoutingOptions.RouteMask[1] = RoutingOptions.RouteMask[2] = 1;
    constexpr int PerInput = 3000;
    std::vector<std::thread> players;
    for (uint32_t device = 0; device < 3; ++device) {
        players.emplace_back([this, device] {
            for (int i = 0; i < PerInput; ++i) {
                fake.deliver(device, Msg(0xB0 | device, i % 128, i / 128));
                if (i % 100 == 0)
                    std::this_thread::yield();
            }
        });
    }
    EXPECT_TRUE(WaitUntil([&] { return fake.sent(0).size() + DroppedEvents() == 3 * PerInput; }));
    for (auto& player : players)
        player.join();

    int last[3] = {-1, -1, -1};
    for (uint32_t message : fake.sent(0)) {
        const int input = message & 0x0F;
        const int i = Data1Of(message) + 128 * Data2Of(message);
        ASSERT_GT(i, last[input]);
        last[input] = i;
    }
}

TEST_F(WakeUp, RoutingGoesOnInsideAModalDialog)
{
    QDialog dialog;
    size_t sentInDialog = 0;
    QTimer::singleShot(0, &dialog, [&] {
        fake.deliver(0, Msg(0x90, 61, 100));
        WaitUntil([&] { return !fake.sent(0).empty(); });
        sentInDialog = fake.sent(0).size();
        dialog.reject();
    });
    dialog.exec();
    EXPECT_EQ(1u, sentInDialog);
}

TEST_F(WakeUp, ANoticeLoopConsumesWakeUpsAndOneDrainFollowsIt)
{
    static FakeDeviceService* service;
    static size_t sentDuringNotice;
    service = &fake;
    sentDuringNotice = 99;
    EngineHooks.ShowErrorNotice = [](const char*, const char*) {
        NoticeScope notice;
        service->deliver(0, Msg(0x90, 62, 100));
        service->waitDelivered();
        // The notice's own loop takes the wake-up without draining.
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
        sentDuringNotice = service->sent(0).size();
    };
    ErrorNotice("Options file not exist!", "Errorr!");
    EXPECT_EQ(0u, sentDuringNotice);
    EXPECT_EQ(1u, fake.sent(0).size());
}

TEST_F(WakeUp, WithoutTheHookNothingIsRouted)
{
    qApp->removeEventFilter(filter.get());
    fake.deliver(0, Msg(0x90, 63, 100));
    fake.waitDelivered();
    WaitUntil([] { return false; }, 100);
    EXPECT_TRUE(fake.sent(0).empty());
    qApp->installEventFilter(filter.get());
    fake.deliver(0, Msg(0x80, 63, 0));
    EXPECT_TRUE(WaitUntil([&] { return fake.sent(0).size() == 2; }));
}

TEST_F(WakeUp, PostingAllocatesNothing)
{
    WakeUpEvent event(form.get());
    const uint64_t before = CountedAllocations();
    std::thread([&] {
        CountAllocationsHere counting;
        for (int i = 0; i < 1000; ++i)
            event.Post();
    }).join();
    EXPECT_EQ(before, CountedAllocations());
}

}  // namespace
