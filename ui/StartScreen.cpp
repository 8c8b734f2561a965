#include "StartScreen.h"

#include "JpegDecoder.h"
#include "Pictures.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QScreen>

TStartScreen* StartScreen = nullptr;

TStartScreen::TStartScreen()
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("StartScreen"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(312, 266);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setGeometry(rect());
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    panel->setLineWidth(3);

    auto* image = new QLabel(panel);
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(4, 4, 304, 258);
    image->setScaledContents(true);
    image->setPixmap(QPixmap::fromImage(DecodeJpeg(StartPictureJpeg())));
    image->installEventFilter(this);
    m_image = image;
}

void TStartScreen::Image1Click()
{
    hide();
}

bool TStartScreen::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_image && event->type() == QEvent::MouseButtonRelease) {
        Image1Click();
        return true;
    }
    return false;
}

void ShowStartScreen()
{
    StartScreen = new TStartScreen;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        StartScreen->move(screen->availableGeometry().center() - StartScreen->rect().center());
    StartScreen->show();
    StartScreen->raise();
    StartScreen->repaint();
    // Lets the window system put it on the screen; no input and no wake-ups yet.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
}

void CloseStartScreen()
{
    if (!StartScreen)
        return;
    StartScreen->hide();
    delete StartScreen;
    StartScreen = nullptr;
}
