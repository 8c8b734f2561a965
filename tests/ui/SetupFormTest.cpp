#include "QtPrinters.h"

#include "ApplicationMessageFilter.h"
#include "EngineFixture.h"
#include "MainForm.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "NoticeCatcher.h"
#include "Notices.h"
#include "OptionsFile.h"
#include "Patience.h"
#include "RoutingSettings.h"
#include "SetupForm.h"
#include "TempDirectory.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QWindow>

#include <fstream>
#include <functional>
#include <memory>
#include <sys/stat.h>

namespace {

using Strings = std::vector<std::string>;
using Messages = std::vector<uint32_t>;

// The dialog over the in-memory service, opened from a real main window with
// the application-wide hook in place, in a directory of its own.
class SetupDialog : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        EngineHooks.ShowErrorNotice = &ShowErrorNotice;
        form = std::make_unique<TMainForm>();
        form->show();
        hook = std::make_unique<ApplicationMessageFilter>(form.get());
        qApp->installEventFilter(hook.get());
    }

    void TearDown() override
    {
        qApp->removeEventFilter(hook.get());
        CloseAllDevices();
        hook.reset();
        form.reset();
        EngineFixture::TearDown();
    }

    // Presses F2 in the main window and runs `inDialog` inside the dialog's
    // own modal loop; the dialog closes with Esc afterwards unless it did.
    void withDialog(const std::function<void(TSetupForm*)>& inDialog)
    {
        QTimer::singleShot(0, [&] {
            ASSERT_NE(nullptr, SetupForm);
            inDialog(SetupForm);
            if (SetupForm)
                QTest::keyClick(SetupForm, Qt::Key_Escape);
        });
        QTest::keyClick(form.get(), Qt::Key_F2);
    }

    template <typename T>
    static T* child(TSetupForm* dialog, const char* name)
    {
        auto* widget = dialog->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(nullptr, widget) << name;
        return widget;
    }

    // A left click in the middle of an item's check box, or on its text.
    // A double-click goes in through the window as two press and release
    // pairs, so the double-click event comes between them as from a mouse.
    static void clickCheckBox(QListWidget* list, int row, bool onText = false, bool twice = false)
    {
        const QRect itemRect = list->visualItemRect(list->item(row));
        const int indicator = list->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, list);
        const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
        const QPoint at(onText ? itemRect.right() - 10 : itemRect.left() + margin + indicator / 2, itemRect.center().y());
        if (twice) {
            QWindow* window = list->window()->windowHandle();
            QTest::mouseDClick(window, Qt::LeftButton, {}, window->mapFromGlobal(list->viewport()->mapToGlobal(at)));
        } else {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        }
    }

    static std::vector<bool> checks(QListWidget* list)
    {
        std::vector<bool> states;
        for (int i = 0; i < list->count(); ++i)
            states.push_back(list->item(i)->checkState() == Qt::Checked);
        return states;
    }

    std::unique_ptr<TMainForm> form;
    std::unique_ptr<ApplicationMessageFilter> hook;
    TempDirectory directory;
};

TEST_F(SetupDialog, IsLaidOutAsDesigned)
{
    withDialog([&](TSetupForm* dialog) {
        EXPECT_EQ(QStringLiteral(" MIDI Setup Dialog"), dialog->windowTitle());
        EXPECT_EQ(QSize(377, 361), dialog->size());
        EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
        EXPECT_TRUE(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_FALSE(dialog->windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(dialog->windowFlags() & Qt::WindowSystemMenuHint);
        EXPECT_TRUE(dialog->isModal());
        EXPECT_EQ(form.get(), dialog->parentWidget());

        const struct {
            const char* name;
            QRect geometry;
            const char* text;
        } controls[] = {
            {"GroupBox1", {8, 8, 233, 305}, "MIDI In/Out Devices Setup"},
            {"GroupBox2", {248, 8, 121, 305}, "MIDI THRU Settings"},
            {"Button1", {8, 328, 361, 25}, "Save as \"Deffault\""},
            {"Label1", {8, 16, 59, 13}, "MIDI Input 1"},     {"Label9", {8, 56, 59, 13}, "MIDI Input 2"},
            {"Label5", {8, 96, 59, 13}, "MIDI Input 3"},     {"Label2", {8, 176, 67, 13}, "MIDI Output 1"},
            {"Label3", {8, 216, 67, 13}, "MIDI Output 2"},   {"Label4", {8, 256, 67, 13}, "MIDI Output 3"},
            {"Label6", {8, 16, 33, 13}, "Input 1"},          {"Label7", {8, 112, 33, 13}, "Input 2"},
            {"Label8", {8, 208, 33, 13}, "Input 3"},         {"Bevel1", {8, 160, 217, 9}, nullptr},
            {"Input1ComboBox", {8, 32, 217, 21}, nullptr},   {"Input2ComboBox", {8, 72, 217, 21}, nullptr},
            {"Input3ComboBox", {8, 112, 217, 21}, nullptr},  {"Out1ComboBox", {8, 192, 217, 21}, nullptr},
            {"Out2ComboBox", {8, 232, 217, 21}, nullptr},    {"Out3ComboBox", {8, 272, 217, 21}, nullptr},
            {"CheckListBox1", {8, 32, 105, 73}, nullptr},    {"CheckListBox2", {8, 128, 105, 73}, nullptr},
            {"CheckListBox3", {8, 224, 105, 73}, nullptr},
        };
        for (const auto& c : controls) {
            QWidget* widget = child<QWidget>(dialog, c.name);
            ASSERT_NE(nullptr, widget);
            if (qobject_cast<QLabel*>(widget)) {  // sized to its text, never narrower than laid out
                EXPECT_EQ(c.geometry.topLeft(), widget->geometry().topLeft()) << c.name;
                EXPECT_EQ(c.geometry.height(), widget->height()) << c.name;
                EXPECT_GE(widget->width(), c.geometry.width()) << c.name;
            } else {
                EXPECT_EQ(c.geometry, widget->geometry()) << c.name;
            }
            if (!c.text)
                continue;
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                EXPECT_EQ(QString::fromLatin1(c.text), label->text()) << c.name;
            }
            if (auto* group = qobject_cast<QGroupBox*>(widget)) {
                EXPECT_EQ(QString::fromLatin1(c.text), group->title()) << c.name;
            }
            if (auto* button = qobject_cast<QPushButton*>(widget)) {
                EXPECT_EQ(QString::fromLatin1(c.text), button->text());
                EXPECT_TRUE(button->font().bold());
            }
        }
        for (const char* name : {"Input1ComboBox", "Out3ComboBox"})
            EXPECT_FALSE(child<QComboBox>(dialog, name)->isEditable());
        auto* list = child<QListWidget>(dialog, "CheckListBox2");
        ASSERT_EQ(5, list->count());
        const char* items[] = {"To Output 1", "To Output 2", "To Output 3", "AT to PB", "Ch Voice Only"};
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(QString::fromLatin1(items[i]), list->item(i)->text());

        // Tab order: input 1, output 1, output 2, input 2, input 3, output 3, save, the three check lists.
        const char* order[] = {"Input1ComboBox", "Out1ComboBox",  "Out2ComboBox",  "Input2ComboBox",
                               "Input3ComboBox", "Out3ComboBox",  "Button1",       "CheckListBox1",
                               "CheckListBox2",  "CheckListBox3"};
        for (size_t i = 0; i + 1 < std::size(order); ++i) {
            QWidget* next = child<QWidget>(dialog, order[i])->nextInFocusChain();
            while (next && next->focusPolicy() == Qt::NoFocus)
                next = next->nextInFocusChain();
            EXPECT_EQ(QString::fromLatin1(order[i + 1]), next->objectName()) << "after " << order[i];
        }
    });
}

// A JACK port's full name can be wider than the screen: what tells two ports
// of one device apart is at its end.
TEST_F(SetupDialog, ALongNameKeepsItsStartAndEndAndShowsWholeOnHover)
{
    const QString longName = QStringLiteral("a2j:Midi Through [14] (capture): Midi Through Port-0, the one with "
                                            "the longest name anybody ever gave a port, number 7");
    InDeviceNames[2] = longName.toStdString();  // as a JACK service lists it
    SelectInput(1, 2);
    withDialog([&](TSetupForm* dialog) {
        auto* list = child<QComboBox>(dialog, "Input1ComboBox");
        EXPECT_EQ(longName, list->toolTip());
        EXPECT_EQ(longName, list->itemData(2, Qt::ToolTipRole).toString());
        const QString shown = list->itemText(2);
        EXPECT_TRUE(shown.startsWith(QStringLiteral("a2j:Midi Through")) && shown.endsWith(QStringLiteral("number 7")) &&
                    shown.contains(QChar(0x2026)))
            << shown.toStdString();
        list->showPopup();
        const int popupWidth = list->view()->window()->width();
        list->hidePopup();
        EXPECT_GE(popupWidth, list->width());
        EXPECT_LE(popupWidth, 2 * list->width() + 40);
    });
}

TEST_F(SetupDialog, ShowsWhatIsOpenAndTheRoutingAndFiresNothing)
{
    SelectInput(2, 2);
    SelectOutput(3, 1);
    RoutingOptions.RouteMask[0] = 5;
    SetChannelVoiceOnly(3, true);
    fake.clearCalls();
    const TRoutingOptions before = RoutingOptions;
    withDialog([&](TSetupForm* dialog) {
        EXPECT_EQ(QStringLiteral("NO Selected IN Device"), child<QComboBox>(dialog, "Input1ComboBox")->currentText());
        EXPECT_EQ(QStringLiteral("Keys B"), child<QComboBox>(dialog, "Input2ComboBox")->currentText());
        EXPECT_EQ(QStringLiteral("NO Selected IN Device"), child<QComboBox>(dialog, "Input3ComboBox")->currentText());
        EXPECT_EQ(QStringLiteral("NO Selected OUT Device"), child<QComboBox>(dialog, "Out1ComboBox")->currentText());
        EXPECT_EQ(QStringLiteral("Synth A"), child<QComboBox>(dialog, "Out3ComboBox")->currentText());
        EXPECT_EQ(4, child<QComboBox>(dialog, "Input1ComboBox")->count());
        EXPECT_EQ((std::vector<bool>{true, false, true, false, false}), checks(child<QListWidget>(dialog, "CheckListBox1")));
        EXPECT_EQ((std::vector<bool>{false, false, false, false, true}), checks(child<QListWidget>(dialog, "CheckListBox3")));
    });
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(0, memcmp(&before, &RoutingOptions, sizeof before));
    EXPECT_EQ(nullptr, SetupForm);  // destroyed when it closed
}

TEST_F(SetupDialog, TypingTheStartOfANamePicksAndOpensIt)
{
    withDialog([&](TSetupForm* dialog) {
        auto* list = child<QComboBox>(dialog, "Input1ComboBox");
        list->setFocus();
        QTest::keyClicks(list, "pa");
        EXPECT_EQ(QStringLiteral("Pads"), list->currentText());
        EXPECT_EQ(3, OpenSelection[InputPort(1)]);
        QTest::qWait(600);  // a new prefix
        QTest::keyClicks(list, "KEYS B");
        EXPECT_EQ(QStringLiteral("Keys B"), list->currentText());
        EXPECT_EQ(2, OpenSelection[InputPort(1)]);
        // The space was part of the name: it opened no drop-down.
        EXPECT_FALSE(list->view()->isVisible());
        // Letters that match no entry change nothing, and are not passed on.
        fake.clearCalls();
        QTest::qWait(600);
        QTest::keyClicks(list, "z z");
        EXPECT_EQ(QStringLiteral("Keys B"), list->currentText());
        EXPECT_FALSE(list->view()->isVisible());
        EXPECT_TRUE(fake.calls().empty());
        auto* out = child<QComboBox>(dialog, "Out2ComboBox");
        out->setFocus();
        QTest::keyClick(out, Qt::Key_Down);
        EXPECT_EQ(1, OpenSelection[OutputPort(2)]);
    });
    EXPECT_TRUE(fake.isOpen(FakeDeviceService::Kind::Input, 1));
    EXPECT_FALSE(fake.isOpen(FakeDeviceService::Kind::Input, 2));
    EXPECT_EQ((Strings{"open out 0"}), fake.calls());  // only the arrow key's choice
}

TEST_F(SetupDialog, AFailedOpenFallsBackToWhatIsReallyOpen)
{
    SelectOutput(2, 1);
    fake.holdElsewhere(FakeDeviceService::Kind::Output, 1);
    NoticeCatcher user;
    withDialog([&](TSetupForm* dialog) {
        auto* list = child<QComboBox>(dialog, "Out2ComboBox");
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);  // Synth A -> Synth B, held by another program
        EXPECT_EQ(QStringLiteral("NO Selected OUT Device"), list->currentText());
        EXPECT_TRUE(dialog->isVisible());
    });
    ASSERT_EQ(1u, user.shown.size());
    EXPECT_EQ(QStringLiteral("Errorr: The specified resource is already allocated."), user.shown[0].text);
    EXPECT_EQ(QStringLiteral("Errorr..."), user.shown[0].caption);
    EXPECT_EQ(0, OpenSelection[OutputPort(2)]);
}

TEST_F(SetupDialog, ClosingOutputOneLeavesOnlyItsLamp)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    withDialog([&](TSetupForm* dialog) {
        auto* list = child<QComboBox>(dialog, "Out1ComboBox");
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Home);
        EXPECT_EQ(0, OpenSelection[OutputPort(1)]);
        fake.deliver(0, Msg(0x90, 60, 100));
        EXPECT_TRUE(QTest::qWaitFor([&] { return ActivityHold[OutputPort(1)] == 1; }, PatienceMs));
    });
    EXPECT_TRUE(fake.sent(0).empty());
}

TEST_F(SetupDialog, ChannelVoiceOnlyTakesEffectForTheNextMessage)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    fake.clearCalls();
    bool boxChecked = false;
    withDialog([&](TSetupForm* dialog) {
        auto* list = child<QListWidget>(dialog, "CheckListBox1");
        list->setFocus();
        list->setCurrentRow(4);
        QTest::keyClick(list, Qt::Key_Space);
        boxChecked = form->findChild<QCheckBox*>(QStringLiteral("CheckBox11"))->isChecked();
        fake.deliver(0, Msg(0xF8));
        fake.deliver(0, Msg(0x90, 60, 1));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !fake.sent(0).empty(); }, PatienceMs));
    });
    EXPECT_TRUE(ChannelVoiceOnly(1));
    EXPECT_TRUE(boxChecked);
    EXPECT_EQ(Messages{Msg(0x90, 60, 1)}, fake.sent(0));
    EXPECT_TRUE(fake.calls().empty());  // no port was reopened
}

TEST_F(SetupDialog, RoutingInputThreeToOutputTwoChecksItsBoxAtOnce)
{
    bool boxChecked = false;
    withDialog([&](TSetupForm* dialog) {
        auto* list = child<QListWidget>(dialog, "CheckListBox3");
        clickCheckBox(list, 1);
        boxChecked = form->findChild<QCheckBox*>(QStringLiteral("CheckBox8"))->isChecked();
    });
    EXPECT_TRUE(boxChecked);
    EXPECT_EQ(2, RoutingOptions.RouteMask[2]);
}

TEST_F(SetupDialog, OnlyTheCheckBoxOfAnItemTogglesIt)
{
    withDialog([&](TSetupForm* dialog) {
        auto* list = child<QListWidget>(dialog, "CheckListBox2");
        clickCheckBox(list, 3, true);  // on the text
        EXPECT_EQ(3, list->currentRow());
        EXPECT_EQ(std::vector<bool>(5, false), checks(list));
        clickCheckBox(list, 3);
        EXPECT_EQ((std::vector<bool>{false, false, false, true, false}), checks(list));
        EXPECT_EQ(1, RoutingOptions.AtToPb[1]);
        QSignalSpy toggles(list, &QListWidget::itemChanged);
        clickCheckBox(list, 0, false, true);  // a double-click toggles twice
        EXPECT_EQ(2, toggles.count());
        EXPECT_FALSE(checks(list)[0]);
    });
}

TEST_F(SetupDialog, EscapeAndF2CloseItAndKeepTheEditsAndF9SendsThePanic)
{
    SelectOutput(3, 1);
    withDialog([&](TSetupForm* dialog) {
        clickCheckBox(child<QListWidget>(dialog, "CheckListBox1"), 2);
        QTest::keyClick(child<QComboBox>(dialog, "Out3ComboBox"), Qt::Key_F9);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(32u, fake.sent(0).size());
        QTest::keyClick(child<QComboBox>(dialog, "Input3ComboBox"), Qt::Key_F2);
        EXPECT_FALSE(dialog->isVisible());
    });
    EXPECT_EQ(4, RoutingOptions.RouteMask[0]);
    withDialog([&](TSetupForm* dialog) {
        EXPECT_TRUE(checks(child<QListWidget>(dialog, "CheckListBox1"))[2]);
    });
    EXPECT_FALSE(std::filesystem::exists(OptionsFileName));  // nothing saved
}

TEST_F(SetupDialog, SaveWritesThe44Bytes)
{
    SelectInput(2, 3);
    withDialog([&](TSetupForm* dialog) {
        clickCheckBox(child<QListWidget>(dialog, "CheckListBox2"), 0);
        QTest::mouseClick(child<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    });
    std::ifstream in(OptionsFileName, std::ios::binary);
    const std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
    ASSERT_EQ(44u, bytes.size());
    EXPECT_EQ(0, memcmp(bytes.data(), &RoutingOptions, 44));
    EXPECT_EQ(3, RoutingOptions.InSelect[1]);
    EXPECT_EQ(1, RoutingOptions.RouteMask[1]);
}

TEST_F(SetupDialog, ASaveThatCannotCreateTheFileLeavesTheDialogOpen)
{
    mkdir(OptionsFileName, 0755);
    NoticeCatcher user;
    bool stillOpen = false;
    withDialog([&](TSetupForm* dialog) {
        QTest::mouseClick(child<QPushButton>(dialog, "Button1"), Qt::LeftButton);
        stillOpen = dialog->isVisible();
    });
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(1u, user.shown.size());
    EXPECT_EQ(QStringLiteral("Cannot create file Roraridov.opt: Is a directory."), user.shown[0].text);
    EXPECT_EQ(QMessageBox::Critical, user.shown[0].icon);
}

TEST_F(SetupDialog, BackspaceInADeviceListReopensItsPort)
{
    SelectOutput(1, 2);
    fake.clearCalls();
    withDialog([&](TSetupForm* dialog) {
        auto* list = child<QComboBox>(dialog, "Out1ComboBox");
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Backspace);
        EXPECT_EQ(QStringLiteral("Synth B"), list->currentText());
    });
    EXPECT_EQ((Strings{"close out 1", "open out 1"}), fake.calls());
}

TEST_F(SetupDialog, NoNoteIsLeftHangingByTheDialogsChanges)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    SelectOutput(2, 2);
    RoutingOptions.RouteMask[0] = 3;
    RoutingOptions.AtToPb[0] = 1;
    withDialog([&](TSetupForm* dialog) {
        fake.deliver(0, Msg(0x90, 60, 100));
        fake.deliver(0, Msg(0xD0, 0x60));
        ASSERT_TRUE(QTest::qWaitFor([&] { return fake.sent(1).size() == 2; }, PatienceMs));
        auto* list = child<QListWidget>(dialog, "CheckListBox1");
        clickCheckBox(list, 0);  // untick "To Output 1"
        EXPECT_EQ((Messages{Msg(0x90, 60, 100), Msg(0xE0, 0, 0x70), Msg(0xE0, 0, 0x40), Msg(0x80, 60, 64)}),
                  fake.sent(0));
        clickCheckBox(list, 3);  // "AT to PB" off
        EXPECT_EQ((Messages{Msg(0x90, 60, 100), Msg(0xE0, 0, 0x70), Msg(0xE0, 0, 0x40)}), fake.sent(1));
        auto* out = child<QComboBox>(dialog, "Out2ComboBox");
        out->setFocus();
        QTest::keyClick(out, Qt::Key_Down);  // output 2 moves to another device
        EXPECT_EQ((Messages{Msg(0x90, 60, 100), Msg(0xE0, 0, 0x70), Msg(0xE0, 0, 0x40), Msg(0x80, 60, 64)}),
                  fake.sent(1));
        EXPECT_EQ(3, OpenSelection[OutputPort(2)]);
    });
}

}  // namespace
