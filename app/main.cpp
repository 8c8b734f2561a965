#include "CommandLine.h"
#include "Headless.h"
#include "Lifecycle.h"
#include "QuitSignals.h"
#include "RoraridovApplication.h"
#include "SetupCommands.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Decided before any application object exists: --help, --version, a
    // wrong command line and the set-up commands need no display.
    const CommandLine line = ParseCommandLine(argc, argv);
    switch (line.action) {
    case CommandLine::Help:
        std::printf("%s\n%s", Usage, Help);
        return 0;
    case CommandLine::Version:
        std::printf("%s %s\n", RORARIDOV_NAME, RORARIDOV_VERSION);
        return 0;
    case CommandLine::Wrong:
        std::fprintf(stderr, "%s: %s\n\n%s", RORARIDOV_NAME, line.problem.c_str(), Usage);
        return 2;
    case CommandLine::ListDevices:
        return RunSetupCommand(SetupAction::ListDevices, line.changes, line.service, line.directory, stdout, stderr);
    case CommandLine::Show:
        return RunSetupCommand(SetupAction::Show, line.changes, line.service, line.directory, stdout, stderr);
    case CommandLine::Save:
        return RunSetupCommand(SetupAction::Save, line.changes, line.service, line.directory, stdout, stderr);
    case CommandLine::Headless:
    case CommandLine::Window:
        break;
    }
    // Qt gets only the program's name: the rest was the program's own.
    static int qtArgc = 1;
    if (line.action == CommandLine::Headless) {
        QCoreApplication app(qtArgc, argv);
        QuitSignals quitSignals;
        return RunHeadless(QString::fromLocal8Bit(line.directory.c_str()), line.service);
    }
    RoraridovApplication app(qtArgc, argv);
    QuitSignals quitSignals;
    return RunProgram(line.service);
}
