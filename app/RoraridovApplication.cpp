#include "RoraridovApplication.h"

#include "Notices.h"

#include <QFont>

#include <exception>

RoraridovApplication::RoraridovApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // The main window ends the loop itself, and stays up while the ports close.
    setQuitOnLastWindowClosed(false);
    // The windows are laid out for these fonts; where they are missing, the
    // closest in width will do (Liberation Sans has Arial's metrics).
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Arial"), {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                                         QStringLiteral("DejaVu Sans")});
}

bool RoraridovApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& failure) {
        FailureNotice(QString::fromLocal8Bit(failure.what()));
    }
    return false;
}
