#include "QtPrinters.h"

#include "EngineFixture.h"
#include "LampShape.h"
#include "LostMessages.h"
#include "MainForm.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "Patience.h"
#include "RoutingSettings.h"
#include "SetupForm.h"

#include <QCheckBox>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <functional>

#include <memory>

namespace {

class MainWindow : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        form = std::make_unique<TMainForm>();
        form->show();
    }

    void TearDown() override
    {
        CloseAllDevices();
        form.reset();
        TMainForm::OpenSetupDialog = &ShowSetupDialog;
        EngineFixture::TearDown();
    }

    template <typename T = QWidget>
    T* control(const char* name)
    {
        auto* widget = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(nullptr, widget) << name;
        return widget;
    }

    std::vector<QString> checked()
    {
        std::vector<QString> names;
        for (int i = 1; i <= 15; ++i) {
            auto* box = control<QCheckBox>(qPrintable(QStringLiteral("CheckBox%1").arg(i)));
            if (box->isChecked())
                names.push_back(box->objectName());
        }
        return names;
    }

    std::vector<bool> lampsLit()
    {
        std::vector<bool> lit;
        for (const char* name : {"ShapeIn1", "ShapeIn2", "ShapeIn3", "ShapeOut1", "ShapeOut2", "ShapeOut3"})
            lit.push_back(control<LampShape>(name)->isLit());
        return lit;
    }

    // The colour the lamp paints at its centre.
    QColor painted(const char* lamp)
    {
        auto* shape = control<LampShape>(lamp);
        return shape->grab().toImage().pixelColor(shape->rect().center());
    }

    std::unique_ptr<TMainForm> form;
};

TEST_F(MainWindow, IsAFixedWindowWithItsCaption)
{
    EXPECT_EQ(QStringLiteral(" Zozuruvav - Roraridov"), form->windowTitle());
    EXPECT_EQ(QSize(257, 369), form->size());
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(form->windowIcon().isNull());
}

struct Placed {
    const char* name;
    QRect geometry;
    const char* text;  // for labels and check boxes
};

TEST_F(MainWindow, EveryControlIsWhereItBelongs)
{
    const Placed controls[] = {
        {"Bevel1", {16, 48, 225, 65}, nullptr},     {"Bevel2", {8, 16, 241, 249}, nullptr},
        {"Bevel3", {8, 275, 241, 41}, nullptr},     {"Bevel4", {16, 120, 225, 65}, nullptr},
        {"Bevel5", {16, 192, 225, 65}, nullptr},    {"Bevel6", {8, 328, 241, 33}, nullptr},
        {"ShapeIn1", {15, 295, 18, 17}, nullptr},   {"ShapeIn2", {47, 295, 17, 17}, nullptr},
        {"ShapeIn3", {79, 295, 17, 17}, nullptr},   {"ShapeOut1", {159, 295, 17, 17}, nullptr},
        {"ShapeOut2", {191, 295, 17, 17}, nullptr}, {"ShapeOut3", {223, 295, 17, 17}, nullptr},
        {"Label1", {16, 24, 225, 17}, "Main MIDI Connections"},
        {"Label2", {22, 64, 16, 34}, "1"},          {"Label3", {22, 136, 16, 34}, "2"},
        {"Label4", {22, 208, 16, 34}, "3"},         {"Label5", {16, 336, 225, 17}, ""},
        {"Label6", {160, 280, 81, 13}, "OUTS 1-3"}, {"Label7", {10, 3, 85, 13}, "Press F2 for setup"},
        {"Label8", {16, 280, 81, 13}, "INS 1-3"},   {"Image1", {40, 64, 33, 33}, nullptr},
        {"Image2", {40, 136, 33, 33}, nullptr},     {"Image3", {40, 208, 33, 33}, nullptr},
        {"CheckBox1", {168, 56, 65, 17}, "To Out 1"},   {"CheckBox2", {168, 72, 65, 17}, "To Out 2"},
        {"CheckBox3", {168, 88, 65, 17}, "To Out 3"},   {"CheckBox4", {168, 128, 65, 17}, "To Out 1"},
        {"CheckBox5", {168, 144, 65, 17}, "To Out 2"},  {"CheckBox6", {168, 160, 65, 17}, "To Out 3"},
        {"CheckBox7", {168, 200, 65, 17}, "To Out 1"},  {"CheckBox8", {168, 216, 65, 17}, "To Out 2"},
        {"CheckBox9", {168, 232, 65, 17}, "To Out 3"},  {"CheckBox10", {88, 56, 65, 17}, "AT to PB"},
        {"CheckBox11", {88, 72, 65, 17}, "ChV Only"},   {"CheckBox12", {88, 144, 65, 17}, "ChV Only"},
        {"CheckBox13", {88, 128, 65, 17}, "AT to PB"},  {"CheckBox14", {88, 216, 65, 17}, "ChV Only"},
        {"CheckBox15", {88, 200, 65, 17}, "AT to PB"},
    };
    for (const Placed& placed : controls) {
        QWidget* widget = control(placed.name);
        ASSERT_NE(nullptr, widget);
        if (QLatin1String(placed.name) == QLatin1String("Label7")) {  // sized to its text
            EXPECT_EQ(placed.geometry.topLeft(), widget->geometry().topLeft());
            EXPECT_GE(widget->width(), placed.geometry.width());
        } else {
            EXPECT_EQ(placed.geometry, widget->geometry()) << placed.name;
        }
        if (auto* label = qobject_cast<QLabel*>(widget); label && placed.text) {
            EXPECT_EQ(QString::fromLatin1(placed.text), label->text()) << placed.name;
        }
        if (auto* box = qobject_cast<QCheckBox*>(widget)) {
            EXPECT_EQ(QString::fromLatin1(placed.text), box->text()) << placed.name;
            EXPECT_FALSE(box->isEnabled()) << placed.name;
            EXPECT_EQ(Qt::RightToLeft, box->layoutDirection()) << placed.name;
        }
    }
    for (int i = 1; i <= 9; ++i)
        EXPECT_EQ(Qt::NoFocus, control(qPrintable(QStringLiteral("CheckBox%1").arg(i)))->focusPolicy());
}

TEST_F(MainWindow, StartsWithClearBoxesAndSilverLamps)
{
    EXPECT_TRUE(checked().empty());
    EXPECT_EQ(std::vector<bool>(6, false), lampsLit());
    EXPECT_EQ(QColor(192, 192, 192), painted("ShapeIn1"));
}

TEST_F(MainWindow, EachSettingChecksItsOwnBox)
{
    struct Row {
        std::function<void()> set;
        const char* box;
    };
    const Row rows[] = {
        {[] { RoutingOptions.RouteMask[0] = 1; }, "CheckBox1"},  {[] { RoutingOptions.RouteMask[0] = 2; }, "CheckBox2"},
        {[] { RoutingOptions.RouteMask[0] = 4; }, "CheckBox3"},  {[] { RoutingOptions.AtToPb[0] = 1; }, "CheckBox10"},
        {[] { SetChannelVoiceOnly(1, true); }, "CheckBox11"},     {[] { RoutingOptions.RouteMask[1] = 1; }, "CheckBox4"},
        {[] { RoutingOptions.RouteMask[1] = 2; }, "CheckBox5"},  {[] { RoutingOptions.RouteMask[1] = 4; }, "CheckBox6"},
        {[] { RoutingOptions.AtToPb[1] = 1; }, "CheckBox13"},     {[] { SetChannelVoiceOnly(2, true); }, "CheckBox12"},
        {[] { RoutingOptions.RouteMask[2] = 1; }, "CheckBox7"},  {[] { RoutingOptions.RouteMask[2] = 2; }, "CheckBox8"},
        {[] { RoutingOptions.RouteMask[2] = 4; }, "CheckBox9"},  {[] { RoutingOptions.AtToPb[2] = 1; }, "CheckBox15"},
        {[] { SetChannelVoiceOnly(3, true); }, "CheckBox14"},
    };
    for (const Row& row : rows) {
        RoutingOptions = TRoutingOptions{};
        row.set();
        form->RefreshRoutingDisplay();
        EXPECT_EQ(std::vector<QString>{QString::fromLatin1(row.box)}, checked()) << row.box;
    }
    RoutingOptions = TRoutingOptions{};
    RoutingOptions.RouteMask[0] = 0x7FFFFFF8;  // no low bits
    form->RefreshRoutingDisplay();
    EXPECT_TRUE(checked().empty());
}

TEST_F(MainWindow, LampsFollowTrafficAndGoOutAtTheSecondTick)
{
    SelectInput(2, 1);
    SelectOutput(3, 1);
    RoutingOptions.RouteMask[1] = 4;
    play(0, {Msg(0x90, 60, 100)});
    DrainEvents();
    EXPECT_EQ((std::vector<bool>{false, true, false, false, false, true}), lampsLit());
    EXPECT_EQ(QColor(255, 255, 0), painted("ShapeIn2"));
    form->TimerTimer();
    EXPECT_EQ((std::vector<bool>{false, true, false, false, false, true}), lampsLit());
    form->TimerTimer();
    EXPECT_EQ(std::vector<bool>(6, false), lampsLit());
}

// Where the mouse rests on the window, over a disabled check box too, and
// while another window is active.
TEST_F(MainWindow, ItsTooltipCountsTheLostMessagesAtEachTick)
{
    QWidget other;
    other.show();
    other.activateWindow();
    CountLostMessages(3);
    form->TimerTimer();
    auto* box = control<QCheckBox>("CheckBox12");
    QTest::mouseMove(form->windowHandle(), box->geometry().center());
    QTest::mouseMove(form->windowHandle(), box->geometry().center() + QPoint(1, 1));
    EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, PatienceMs));
    EXPECT_EQ(QStringLiteral("MIDI messages lost: 3"), QToolTip::text());
    QToolTip::hideText();
}

TEST_F(MainWindow, TheTimerTicksEvery300Milliseconds)
{
    auto* timer = form->findChild<QTimer*>(QStringLiteral("Timer"));
    ASSERT_NE(nullptr, timer);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(300, timer->interval());
    // Left alone, a lit lamp goes out by the timer itself.
    SelectInput(1, 1);
    play(0, {Msg(0xF8)});
    DrainEvents();
    EXPECT_TRUE(lampsLit()[0]);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !lampsLit()[0]; }, PatienceMs));
}

TEST_F(MainWindow, F2OpensTheSetupDialogAndF9SendsThePanicWhateverHasTheFocus)
{
    static int opened;
    opened = 0;
    TMainForm::OpenSetupDialog = [](TMainForm*) { ++opened; };
    SelectOutput(2, 2);
    QTest::keyClick(form.get(), Qt::Key_F2);
    QTest::keyClick(control("CheckBox12"), Qt::Key_F2, Qt::ShiftModifier);
    QTest::keyClick(form.get(), Qt::Key_F3);
    QTest::keyClick(form.get(), Qt::Key_A);
    EXPECT_EQ(2, opened);
    EXPECT_TRUE(fake.sent(1).empty());
    QTest::keyClick(control("CheckBox12"), Qt::Key_F9);
    EXPECT_EQ(32u, fake.sent(1).size());  // two controllers on each channel
}

}  // namespace
