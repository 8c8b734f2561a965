#include "CommandLine.h"

#include <string_view>

namespace {

// The services this build can open by name; the names also go into the
// usage text, hence the macro.
struct ServiceName {
    std::string_view name;
    ServiceChoice choice;
};
#ifdef _WIN32
#define SERVICE_NAMES "winmm"
constexpr ServiceName Services[] = {{"winmm", ServiceChoice::Winmm}};
#else
#define SERVICE_NAMES "jack|alsa"
constexpr ServiceName Services[] = {{"jack", ServiceChoice::Jack}, {"alsa", ServiceChoice::Alsa}};
#endif

bool ChooseService(std::string_view name, CommandLine& line)
{
    for (const auto& service : Services) {
        if (service.name == name) {
            line.service = service.choice;
            return true;
        }
    }
    line.action = CommandLine::Wrong;
    line.problem = "option '--service' takes " SERVICE_NAMES ", not '" + std::string(name) + "'";
    return false;
}

}  // namespace

const char* const Usage =
    "Usage: Roraridov [--service " SERVICE_NAMES "] [--headless [--directory DIR]]\n"
    "       Roraridov --help | --version\n"
    "\n"
    "Routes up to three MIDI inputs to up to three MIDI outputs.\n"
    "\n"
    "  --headless        run without a window; notices go to standard error,\n"
    "                    SIGTERM, SIGINT or SIGHUP end it\n"
    "  --directory DIR   with --headless: read Roraridov.opt and\n"
    "                    Roraridov.devices from DIR, not the current directory\n"
    "  --service NAME    use this MIDI service (" SERVICE_NAMES "), not the one\n"
    "                    found running; jack waits for a server to start\n"
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
        } else if (argument == "--service" && i + 1 < argc) {
            if (!ChooseService(argv[++i], line))
                return line;
        } else if (argument.starts_with("--service=")) {
            if (!ChooseService(argument.substr(argument.find('=') + 1), line))
                return line;
        } else {
            line.action = CommandLine::Wrong;
            if (argument == "--directory")
                line.problem = "option '--directory' needs a directory";
            else if (argument == "--service")
                line.problem = "option '--service' needs " SERVICE_NAMES;
            else
                line.problem = "unknown option '" + std::string(argument) + "'";
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
