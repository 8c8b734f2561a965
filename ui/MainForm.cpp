#include "MainForm.h"

#include "EngineHooks.h"
#include "LampShape.h"
#include "LostMessages.h"
#include "MessagePath.h"
#include "Pictures.h"
#include "RoutingDisplay.h"
#include "SetupForm.h"
#include "VirtualKeys.h"
#include "WakeUpEvent.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QToolTip>

#include <algorithm>

TMainForm* MainForm = nullptr;
void (*TMainForm::OpenSetupDialog)(TMainForm*) = &ShowSetupDialog;

namespace {

QFont Font(const char* family, int pixels, bool bold = false)
{
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QFrame* Bevel(QWidget* parent, const char* name, QRect geometry, QFrame::Shadow shadow)
{
    auto* bevel = new QFrame(parent);
    bevel->setObjectName(QString::fromLatin1(name));
    bevel->setGeometry(geometry);
    bevel->setFrameShape(QFrame::Box);
    bevel->setFrameShadow(shadow);
    return bevel;
}

QLabel* Label(QWidget* parent, const char* name, QRect geometry, const char* text, const QFont& font,
              Qt::Alignment alignment, const QColor& textColour, const QColor& background = QColor())
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setFont(font);
    label->setAlignment(alignment);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, textColour);
    if (background.isValid()) {
        label->setAutoFillBackground(true);
        palette.setColor(QPalette::Window, background);
    }
    label->setPalette(palette);
    return label;
}

QLabel* Socket(QWidget* parent, const char* name, QRect geometry)
{
    // Drawn transparent: the white of the picture lets the face show through.
    QPixmap picture = SocketPicture();
    picture.setMask(picture.createMaskFromColor(Qt::white));
    auto* image = new QLabel(parent);
    image->setObjectName(QString::fromLatin1(name));
    image->setGeometry(geometry);
    image->setPixmap(picture);
    image->setScaledContents(true);
    return image;
}

void LampHook(int port, bool lit)
{
    if (MainForm)
        MainForm->setLamp(port, lit);
}


}  // namespace

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_wakeUp(new WakeUpEvent(this))
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral(" Zozuruvav - Roraridov"));
    setWindowIcon(ApplicationIcon());
    setFixedSize(257, 369);
    setFont(Font("MS Sans Serif", 10));
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);
    // The lost message count is its tooltip: shown while another program
    // (a synth's own window) has the focus too.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    build();

    // Key preview: Esc and F2 reach the window whatever has the focus.
    qApp->installEventFilter(this);

    auto* timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("Timer"));
    timer->setInterval(300);
    connect(timer, &QTimer::timeout, this, &TMainForm::TimerTimer);
    timer->start();
    showLostMessages();

    MainForm = this;
    EngineHooks.SetLamp = &LampHook;
    SetWakeUpTarget(m_wakeUp);
}

TMainForm::~TMainForm()
{
    SetWakeUpTarget(nullptr);
    EngineHooks.SetLamp = nullptr;
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::build()
{
    const QColor white(Qt::white), black(Qt::black);
    // In creation (and painting) order.
    Bevel(this, "Bevel1", {16, 48, 225, 65}, QFrame::Sunken);
    Bevel(this, "Bevel2", {8, 16, 241, 249}, QFrame::Raised);
    Bevel(this, "Bevel3", {8, 275, 241, 41}, QFrame::Raised);
    const struct {
        const char* name;
        QRect geometry;
        int port;
    } lamps[] = {{"ShapeIn1", {15, 295, 18, 17}, 0}, {"ShapeOut3", {223, 295, 17, 17}, 5},
                 {"ShapeIn2", {47, 295, 17, 17}, 1}, {"ShapeIn3", {79, 295, 17, 17}, 2},
                 {"ShapeOut2", {191, 295, 17, 17}, 4}, {"ShapeOut1", {159, 295, 17, 17}, 3}};
    for (const auto& lamp : lamps) {
        auto* shape = new LampShape(this);
        shape->setObjectName(QString::fromLatin1(lamp.name));
        shape->setGeometry(lamp.geometry);
        m_lamps[lamp.port] = shape;
    }
    const Qt::Alignment centred = Qt::AlignHCenter | Qt::AlignTop;
    const Qt::Alignment bottom = Qt::AlignLeft | Qt::AlignBottom;
    Label(this, "Label8", {16, 280, 81, 13}, "INS 1-3", Font("MS Sans Serif", 11, true), centred, white, black);
    Label(this, "Label6", {160, 280, 81, 13}, "OUTS 1-3", Font("MS Sans Serif", 11, true), centred, white, black);
    Label(this, "Label1", {16, 24, 225, 17}, "Main MIDI Connections", Font("MS Sans Serif", 13, true), centred, white,
          black);
    Socket(this, "Image1", {40, 64, 33, 33});
    Bevel(this, "Bevel4", {16, 120, 225, 65}, QFrame::Sunken);
    Label(this, "Label3", {22, 136, 16, 34}, "2", Font("Arial", 29, true), bottom, black);
    Socket(this, "Image2", {40, 136, 33, 33});
    Bevel(this, "Bevel5", {16, 192, 225, 65}, QFrame::Sunken);
    Label(this, "Label4", {22, 208, 16, 34}, "3", Font("Arial", 29, true), bottom, black);
    Socket(this, "Image3", {40, 208, 33, 33});
    Label(this, "Label2", {22, 64, 16, 34}, "1", Font("Arial", 29, true), bottom, black);
    Bevel(this, "Bevel6", {8, 328, 241, 33}, QFrame::Raised);
    // The classic desktop colour stands in for the system's.
    Label(this, "Label5", {16, 336, 225, 17}, "", Font("MS Sans Serif", 13, true), centred, white, QColor(0, 128, 128));
    QLabel* hint = Label(this, "Label7", {10, 3, 85, 13}, "Press F2 for setup", Font("MS Sans Serif", 10),
                         Qt::AlignLeft | Qt::AlignTop, Qt::gray);
    hint->resize(std::max(hint->width(), hint->sizeHint().width()), hint->height());  // sized to its text

    const struct {
        QRect geometry;
        const char* caption;
    } boxes[15] = {{{168, 56, 65, 17}, "To Out 1"},  {{168, 72, 65, 17}, "To Out 2"},  {{168, 88, 65, 17}, "To Out 3"},
                   {{168, 128, 65, 17}, "To Out 1"}, {{168, 144, 65, 17}, "To Out 2"}, {{168, 160, 65, 17}, "To Out 3"},
                   {{168, 200, 65, 17}, "To Out 1"}, {{168, 216, 65, 17}, "To Out 2"}, {{168, 232, 65, 17}, "To Out 3"},
                   {{88, 56, 65, 17}, "AT to PB"},   {{88, 72, 65, 17}, "ChV Only"},   {{88, 144, 65, 17}, "ChV Only"},
                   {{88, 128, 65, 17}, "AT to PB"},  {{88, 216, 65, 17}, "ChV Only"},  {{88, 200, 65, 17}, "AT to PB"}};
    for (int i = 0; i < 15; ++i) {
        auto* box = new QCheckBox(QString::fromLatin1(boxes[i].caption), this);
        box->setObjectName(QStringLiteral("CheckBox%1").arg(i + 1));
        box->setGeometry(boxes[i].geometry);
        box->setLayoutDirection(Qt::RightToLeft);  // caption on the left of the box
        box->setEnabled(false);
        if (i < 9)
            box->setFocusPolicy(Qt::NoFocus);
        m_checkBoxes[i] = box;
    }
}

void TMainForm::RefreshRoutingDisplay()
{
    const auto boxes = RoutingDisplay();
    for (size_t i = 0; i < boxes.size(); ++i)
        m_checkBoxes[i]->setChecked(boxes[i]);
}

void TMainForm::FormKeyDown(int key)
{
    const KeyAction action = MainWindowKey(key);
    if (action == KeyAction::Close)
        close();
    else if (action == KeyAction::OpenSetup && OpenSetupDialog)
        OpenSetupDialog(this);
}

void TMainForm::TimerTimer()
{
    DecayActivity();
    showLostMessages();
}

void TMainForm::showLostMessages()
{
    const uint64_t lost = LostMessages();
    if (lost != m_lostShown)
        setToolTip(QString::fromStdString(LostMessagesText(lost)));
    m_lostShown = lost;
}

void TMainForm::setLamp(int port, bool lit)
{
    m_lamps[port]->setLit(lit);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (!watched->isWidgetType() || static_cast<QWidget*>(watched)->window() != this)
        return false;
    if (event->type() == QEvent::KeyPress) {
        if (const int key = VirtualKeyCode(static_cast<QKeyEvent*>(event))) {
            FormKeyDown(key);
            return true;
        }
    }
    // The window's tooltip wherever the mouse rests: over the disabled check
    // boxes that cover most of the window, Qt's own hides again at once.
    if (event->type() == QEvent::ToolTip) {
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), toolTip());
        return true;
    }
    return false;
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    // Ends the main loop but stays on the screen while the ports close.
    event->ignore();
    QCoreApplication::quit();
}

void TMainForm::showEvent(QShowEvent* event)
{
    if (!m_centred) {
        m_centred = true;
        if (const QScreen* screen = this->screen())
            move(screen->availableGeometry().center() - rect().center());
    }
    QWidget::showEvent(event);
}
