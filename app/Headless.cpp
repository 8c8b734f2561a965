#include "Headless.h"

#include "ApplicationMessageFilter.h"
#include "ApplicationTitle.h"
#include "EngineHooks.h"
#include "ProgramSteps.h"
#include "LostMessages.h"
#include "MidiPorts.h"
#include "OptionsFile.h"
#include "QuitSignals.h"
#include "SettingsWords.h"
#include "WakeUpEvent.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <memory>

namespace {

void WriteLine(const QString& caption, const QString& text)
{
    QString line = caption + QStringLiteral(": ") + text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}

// Written, and the program goes on as when a notice is dismissed. Lines
// about a port say which port and device, as a window's context would.
void WriteNotice(const char* text, const char* caption)
{
    QString line = QString::fromLocal8Bit(text);
    if (const std::string& subject = NoticeSubject(); !subject.empty())
        line += QStringLiteral(" (") + QString::fromStdString(subject) + QLatin1Char(')');
    WriteLine(QString::fromLocal8Bit(caption), line);
}

// One line when messages begin to be lost and one when they stop, rather
// than one a message: a flood of lines would only add to the load.
void ReportLosses(LossWatch& watch)
{
    switch (WatchLosses(watch)) {
    case LossChange::Began:
        WriteLine(ApplicationTitle(), QStringLiteral("losing MIDI messages (%1 lost so far)").arg(watch.seen));
        break;
    case LossChange::Ended:
        WriteLine(ApplicationTitle(), QStringLiteral("no longer losing MIDI messages (%1 lost in all)").arg(watch.seen));
        break;
    case LossChange::None:
        break;
    }
}

}  // namespace

int RunHeadless(const QString& directory, ServiceChoice service)
{
    EngineHooks.ShowErrorNotice = &WriteNotice;
    // Stands in for the main window: the wake-ups go to it, and the hook
    // drains the ring on them.
    auto mainObject = std::make_unique<QObject>();
    SetWakeUpTarget(new WakeUpEvent(mainObject.get()));
    ApplicationMessageFilter hook(mainObject.get());
    int result = 0;
    try {
        if (!directory.isEmpty() && !QDir::setCurrent(directory))
            throw FileFailure("Cannot change to directory " + directory.toStdString());
        // Said before the saved devices fail to open, one notice each.
        StartEngine([&hook] { qApp->installEventFilter(&hook); }, service, [] {
            if (DeviceService->serviceName().empty())
                WriteLine(ApplicationTitle(), QString::fromStdString(NoServiceWords()) + QLatin1Char('.'));
        });
        // On standard output, apart from the notices: news, not a fault.
        std::printf("%s: %s\n", ApplicationTitle().toLocal8Bit().constData(), OpenedDevicesLine().c_str());
        std::fflush(stdout);
        LossWatch losses;
        QTimer lossTimer;
        QObject::connect(&lossTimer, &QTimer::timeout, [&losses] { ReportLosses(losses); });
        lossTimer.start(1000);

        if (!QuitSignals::received())
            QCoreApplication::exec();

        StopEngine();
    } catch (const std::exception& failure) {
        WriteLine(ApplicationTitle(), QString::fromLocal8Bit(failure.what()) + QLatin1Char('.'));
        result = 1;
    }
    qApp->removeEventFilter(&hook);
    if (InputStillOpen())
        mainObject.release();  // a capture thread may still wake it
    else
        SetWakeUpTarget(nullptr);
    ReleaseDeviceService();
    ReleaseRunLock();
    EngineHooks.ShowErrorNotice = nullptr;
    return result;
}
