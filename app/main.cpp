#include "CommandLine.h"
#include "Headless.h"
#include "Lifecycle.h"
#include "QuitSignals.h"
#include "RoraridovApplication.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Decided before any application object exists: --help, --version and a
    // wrong command line need no display.
    const CommandLine line = ParseCommandLine(argc, argv);
    switch (line.action) {
    case CommandLine::Help:
        std::fputs(Usage, stdout);
        return 0;
    case CommandLine::Version:
        std::printf("%s %s\n", RORARIDOV_NAME, RORARIDOV_VERSION);
        return 0;
    case CommandLine::Wrong:
        std::fprintf(stderr, "%s: %s\n\n%s", RORARIDOV_NAME, line.problem.c_str(), Usage);
        return 2;
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
