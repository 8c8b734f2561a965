#include "Notices.h"

#include "EngineHooks.h"

#include <QMessageBox>

namespace {

void Show(QMessageBox::Icon icon, const QString& caption, const QString& text)
{
    // Owned by no window, and above the windows that stay on top (the start
    // screen, the setup dialog).
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    NoticeScope notice;
    box.exec();
}

}  // namespace

void ShowErrorNotice(const char* text, const char* caption)
{
    Show(QMessageBox::NoIcon, QString::fromLocal8Bit(caption), QString::fromLocal8Bit(text));
}

void FailureNotice(const QString& text)
{
    Show(QMessageBox::Critical, ApplicationTitle(), text + QLatin1Char('.'));
}
