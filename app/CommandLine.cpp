#include "CommandLine.h"

#include <string_view>

const char* const Usage =
    "Usage: Roraridov [--headless [--directory DIR]]\n"
    "       Roraridov --help | --version\n"
    "\n"
    "Routes up to three MIDI inputs to up to three MIDI outputs.\n"
    "\n"
    "  --headless        run without a window; notices go to standard error,\n"
    "                    SIGTERM, SIGINT or SIGHUP end it\n"
    "  --directory DIR   with --headless: read Roraridov.opt and\n"
    "                    Roraridov.devices from DIR, not the current directory\n"
    "  --help            show this help and exit\n"
    "  --version         show the version and exit\n";

CommandLine ParseCommandLine(int argc, const char* const argv[])
{
    CommandLine line;
    bool headless = false, help = false, version = false, directory = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--headless") {
            headless = true;
        } else if (argument == "--help") {
            help = true;
        } else if (argument == "--version") {
            version = true;
        } else if (argument == "--directory" && i + 1 < argc) {
            directory = true;
            line.directory = argv[++i];
        } else if (argument.starts_with("--directory=")) {
            directory = true;
            line.directory = argument.substr(argument.find('=') + 1);
        } else {
            line.action = CommandLine::Wrong;
            line.problem = argument == "--directory" ? "option '--directory' needs a directory"
                                                     : "unknown option '" + std::string(argument) + "'";
            return line;
        }
    }
    if (directory && (!headless || line.directory.empty())) {
        line.action = CommandLine::Wrong;
        line.problem = line.directory.empty() ? "option '--directory' needs a directory"
                                              : "option '--directory' needs '--headless'";
    } else if (help) {
        line.action = CommandLine::Help;
    } else if (version) {
        line.action = CommandLine::Version;
    } else if (headless) {
        line.action = CommandLine::Headless;
    }
    return line;
}
