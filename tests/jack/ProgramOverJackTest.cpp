// The whole program over a real JACK server: first start in an empty
// directory, set up in the dialog, play, save; then start again from the
// saved file and play again.

#include "QtPrinters.h"

#include "JackPeer.h"
#include "JackServer.h"
#include "Lifecycle.h"
#include "MainForm.h"
#include "MidiDeviceService.h"
#include "MidiPorts.h"
#include "NoticeCatcher.h"
#include "OptionsFile.h"
#include "Patience.h"
#include "RoutingSettings.h"
#include "SetupForm.h"
#include "TempDirectory.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace {

using Bytes = std::vector<uint8_t>;

void Type(QWidget* list, const char* text)
{
    list->setFocus();
    QTest::qWait(600);  // a fresh prefix
    QTest::keyClicks(list, text);
}

void Tick(QListWidget* list, int row)
{
    list->setFocus();
    list->setCurrentRow(row);
    QTest::keyClick(list, Qt::Key_Space);
}

bool Prime(JackPeer& keyboard, std::initializer_list<JackPeer*> synths)
{
    return PrimePath(keyboard, synths,
                     [](const std::function<bool()>& done, int ms) { return QTest::qWaitFor(done, ms); });
}

std::vector<Bytes> Heard(JackPeer& synth)
{
    std::vector<Bytes> bytes;
    for (const auto& event : synth.received())
        bytes.push_back(event.bytes);
    return bytes;
}

TEST(ProgramOverJack, SetUpPlaySaveRestartAndPlayAgain)
{
    JackServer server;
    ASSERT_TRUE(server.running()) << server.failure();
    JackPeer keys("keys", true, false);
    // Names of different first letters: each letter typed opens what it
    // picks, and no prefix may pass through a synth the other output holds.
    JackPeer synthA("piano", false, true);
    JackPeer synthB("organ", false, true);
    TempDirectory directory;
    DeviceService = nullptr;  // the program finds the JACK server itself

    bool heardInDialog = false;
    std::vector<int32_t> chosen;  // where the devices stand in the program's lists
    NoticeCatcher firstRun([&] {
        chosen = {PositionIn(InDeviceNames, keys.keyboardPort()), 0, 0, PositionIn(OutDeviceNames, synthA.synthPort()),
                  PositionIn(OutDeviceNames, synthB.synthPort()), 0};
        QTimer::singleShot(0, [&] {
            TSetupForm* dialog = SetupForm;
            ASSERT_NE(nullptr, dialog);
            Type(dialog->findChild<QComboBox*>(QStringLiteral("Input1ComboBox")), "keys");
            Type(dialog->findChild<QComboBox*>(QStringLiteral("Out1ComboBox")), "piano");
            Type(dialog->findChild<QComboBox*>(QStringLiteral("Out2ComboBox")), "organ");
            auto* routing = dialog->findChild<QListWidget*>(QStringLiteral("CheckListBox1"));
            Tick(routing, 0);  // to output 1
            Tick(routing, 1);  // to output 2
            Tick(routing, 3);  // AT to PB
            ASSERT_TRUE(Prime(keys, {&synthA, &synthB}));
            keys.play({0x90, 60, 100});
            keys.play({0xD0, 0x25});
            heardInDialog = QTest::qWaitFor([&] { return synthA.received().size() == 2 && synthB.received().size() == 2; }, PatienceMs);
            Tick(routing, 1);  // untick output 2 while the note sounds
            EXPECT_TRUE(QTest::qWaitFor([&] { return synthB.received().size() == 4; }, PatienceMs));
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        QTest::keyClick(MainForm, Qt::Key_F2);
        keys.play({0x80, 60, 0});
        EXPECT_TRUE(QTest::qWaitFor([&] { return synthA.received().size() == 3; }, PatienceMs));
        QTest::keyClick(MainForm, Qt::Key_Escape);
    });
    EXPECT_EQ(0, RunProgram());
    ASSERT_EQ(1u, firstRun.shown.size());
    EXPECT_EQ(QStringLiteral("Options file not exist!  Initializing With Deffault Values!"), firstRun.shown[0].text);
    EXPECT_TRUE(heardInDialog);
    // Quitting centred the bend that pressure made.
    EXPECT_EQ((std::vector<Bytes>{{0x90, 60, 100}, {0xE0, 0x00, 0x52}, {0x80, 60, 0}, {0xE0, 0x00, 0x40}}),
              Heard(synthA));
    // Output 2 was cut while the note sounded: it got the note-off and a centred bend at once.
    EXPECT_EQ((std::vector<Bytes>{{0x90, 60, 100}, {0xE0, 0x00, 0x52}, {0xE0, 0x00, 0x40}, {0x80, 60, 64}}),
              Heard(synthB));

    std::ifstream saved(OptionsFileName, std::ios::binary);
    const Bytes file(std::istreambuf_iterator<char>(saved), {});
    ASSERT_EQ(44u, file.size());
    const int32_t* selections = reinterpret_cast<const int32_t*>(file.data());
    EXPECT_EQ(chosen, std::vector<int32_t>(selections, selections + 6));

    // The second start restores all of it from the file.
    RoutingOptions = TRoutingOptions{};
    synthA.forget();
    NoticeCatcher secondRun([&] {
        EXPECT_TRUE(Prime(keys, {&synthA}));
        keys.play({0xD0, 0x7F});
        EXPECT_TRUE(QTest::qWaitFor([&] { return synthA.received().size() == 1; }, PatienceMs));
        QTest::keyClick(MainForm, Qt::Key_Escape);
    });
    EXPECT_EQ(0, RunProgram());
    EXPECT_TRUE(secondRun.shown.empty());
    EXPECT_EQ((std::vector<Bytes>{{0xE0, 0x00, 0x7F}, {0xE0, 0x00, 0x40}}), Heard(synthA));
}

}  // namespace
