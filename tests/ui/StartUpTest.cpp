#include "QtPrinters.h"

#include "EngineFixture.h"
#include "LampShape.h"
#include "Lifecycle.h"
#include "MainForm.h"
#include "MessagePath.h"
#include "NoticeCatcher.h"
#include "OptionsFile.h"
#include "Patience.h"
#include "RoutingSettings.h"
#include "StartScreen.h"
#include "TempDirectory.h"

#include <QCheckBox>
#include <QLabel>
#include <QTest>

#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

namespace {

using Strings = std::vector<std::string>;

// The whole program over the in-memory service, in a directory of its own.
class StartUp : public EngineFixture {
protected:
    static void SaveFile(std::array<int32_t, 6> selections, std::array<int32_t, 3> masks = {0, 0, 0})
    {
        TRoutingOptions options{};
        for (int n = 0; n < 3; ++n) {
            options.InSelect[n] = selections[n];
            options.OutSelect[n] = selections[n + 3];
            options.RouteMask[n] = masks[n];
        }
        std::ofstream(OptionsFileName, std::ios::binary).write(reinterpret_cast<const char*>(&options), sizeof options);
    }

    static void PressEscape() { QTest::keyClick(MainForm, Qt::Key_Escape); }

    static Strings Opened(const Strings& calls)
    {
        Strings opened;
        for (const auto& call : calls) {
            if (call.rfind("open", 0) == 0)
                opened.push_back(call);
        }
        return opened;
    }

    TempDirectory directory;
};

TEST_F(StartUp, FirstStartInAnEmptyDirectory)
{
    std::vector<bool> lamps;
    std::vector<QString> boxes;
    NoticeCatcher user([&] {
        for (auto* lamp : MainForm->findChildren<LampShape*>())
            lamps.push_back(lamp->isLit());
        for (auto* box : MainForm->findChildren<QCheckBox*>())
            if (box->isChecked())
                boxes.push_back(box->objectName());
        PressEscape();
    });
    EXPECT_EQ(0, RunProgram());
    ASSERT_EQ(1u, user.shown.size());
    EXPECT_EQ(QStringLiteral("Options file not exist!  Initializing With Deffault Values!"), user.shown[0].text);
    EXPECT_EQ(QStringLiteral("Errorr!"), user.shown[0].caption);
    EXPECT_TRUE(user.shown[0].startScreenVisible);
    EXPECT_TRUE(user.shown[0].mainFormVisible);
    EXPECT_TRUE(user.reachedMainLoop);
    EXPECT_EQ(std::vector<bool>(6, false), lamps);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(nullptr, StartScreen);
}

TEST_F(StartUp, RestoresTheSavedDevicesAndRouting)
{
    SaveFile({1, 0, 3, 2, 0, 1}, {2, 0, 5});
    std::vector<int32_t> open;
    std::vector<QString> boxes;
    NoticeCatcher user([&] {
        open.assign(OpenSelection, OpenSelection + PortCount);
        for (auto* box : MainForm->findChildren<QCheckBox*>())
            if (box->isChecked())
                boxes.push_back(box->objectName());
        PressEscape();
    });
    EXPECT_EQ(0, RunProgram());
    EXPECT_TRUE(user.shown.empty());
    EXPECT_EQ((std::vector<int32_t>{1, 0, 3, 2, 0, 1}), open);
    std::sort(boxes.begin(), boxes.end());
    EXPECT_EQ((std::vector<QString>{QStringLiteral("CheckBox2"), QStringLiteral("CheckBox7"), QStringLiteral("CheckBox9")}),
              boxes);
    EXPECT_EQ((Strings{"open in 0", "open in 2", "open out 1", "open out 0"}), Opened(fake.calls()));
}

TEST_F(StartUp, ASavedDeviceThatIsGoneIsReportedAndTheOthersOpen)
{
    SaveFile({2, 0, 0, 9, 3, 0});
    std::vector<int32_t> open;
    NoticeCatcher user([&] {
        open.assign(OpenSelection, OpenSelection + PortCount);
        PressEscape();
    });
    RunProgram();
    ASSERT_EQ(1u, user.shown.size());
    EXPECT_EQ(QStringLiteral("Errorr: The specified device identifier is out of range."), user.shown[0].text);
    EXPECT_EQ(QStringLiteral("Errorr..."), user.shown[0].caption);
    EXPECT_EQ(QMessageBox::NoIcon, user.shown[0].icon);
    EXPECT_TRUE(user.shown[0].startScreenVisible);
    EXPECT_EQ((std::vector<int32_t>{2, 0, 0, 0, 3, 0}), open);
}

TEST_F(StartUp, EscapeClosesEveryPortInOrderBeforeTheEnd)
{
    SaveFile({1, 2, 3, 1, 2, 3});
    NoticeCatcher user([&] {
        fake.clearCalls();
        PressEscape();
    });
    EXPECT_EQ(0, RunProgram());
    EXPECT_EQ((Strings{"close in 0", "close in 1", "close in 2", "close out 0", "close out 1", "close out 2"}),
              fake.calls());
    for (int port = 0; port < PortCount; ++port)
        EXPECT_EQ(0, OpenSelection[port]);
}

TEST_F(StartUp, ClosingLeavesTheWindowUpWhileFailedClosesAreReported)
{
    SaveFile({1, 0, 0, 0, 0, 0});
    NoticeCatcher user([&] {
        fake.failNextClose(FakeDeviceService::Kind::Input, 0, MMSYSERR_INVALHANDLE);
        MainForm->close();  // as the title bar's close button does
    });
    EXPECT_EQ(0, RunProgram());
    ASSERT_EQ(1u, user.shown.size());
    EXPECT_EQ(QStringLiteral("The specified device handle is invalid."), user.shown[0].text);
    EXPECT_EQ(QStringLiteral("Errorr... in MIDI in 1"), user.shown[0].caption);
    EXPECT_TRUE(user.shown[0].mainFormVisible);
}

TEST_F(StartUp, MessagesAreRoutedByTheMainLoop)
{
    SaveFile({1, 0, 0, 2, 0, 0}, {1, 0, 0});
    bool routed = false;
    NoticeCatcher user([&] {
        fake.deliver(0, Msg(0x90, 60, 100));
        routed = QTest::qWaitFor([&] { return fake.sent(1).size() == 1; }, PatienceMs);
        PressEscape();
    });
    RunProgram();
    EXPECT_TRUE(routed);
}

TEST_F(StartUp, AnOptionsFileThatCannotBeOpenedEndsTheProgramFirst)
{
    SaveFile({1, 1, 1, 1, 1, 1});
    const int holder = open(OptionsFileName, O_RDONLY);
    ASSERT_EQ(0, flock(holder, LOCK_EX));
    NoticeCatcher user([] { PressEscape(); });
    EXPECT_NE(0, RunProgram());
    close(holder);
    ASSERT_EQ(1u, user.shown.size());
    EXPECT_EQ(QStringLiteral("Cannot open file Roraridov.opt."), user.shown[0].text);
    EXPECT_EQ(QMessageBox::Critical, user.shown[0].icon);
    EXPECT_EQ(QStringLiteral("ui_tests"), user.shown[0].caption);
    EXPECT_FALSE(user.reachedMainLoop);
    EXPECT_TRUE(fake.calls().empty());  // nothing opened, nothing closed
}

TEST(StartScreenWindow, ShowsThePictureAndAClickHidesIt)
{
    ShowStartScreen();
    ASSERT_NE(nullptr, StartScreen);
    EXPECT_TRUE(StartScreen->isVisible());
    EXPECT_EQ(QSize(312, 266), StartScreen->size());
    EXPECT_TRUE(StartScreen->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(StartScreen->windowFlags() & Qt::FramelessWindowHint);
    auto* image = StartScreen->findChild<QLabel*>(QStringLiteral("Image1"));
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(QRect(4, 4, 304, 258), image->geometry());
    EXPECT_FALSE(image->pixmap().isNull());
    QTest::mouseClick(image, Qt::LeftButton);
    EXPECT_FALSE(StartScreen->isVisible());
    CloseStartScreen();
    EXPECT_EQ(nullptr, StartScreen);
}

}  // namespace
