#include "CommandLine.h"

#include <string_view>
#include <utility>

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
    "       Roraridov [--service " SERVICE_NAMES "] [--directory DIR] --list-devices\n"
    "       Roraridov [--directory DIR] --show\n"
    "       Roraridov [--service " SERVICE_NAMES "] [--directory DIR] [--input N=NAME] [--output N=NAME]\n"
    "                 [--route N=OUTPUTS] [--at-to-pb N=on|off] [--channel-voice-only N=on|off] --save\n"
    "       Roraridov --help | --version\n";

const char* const Help =
    "Routes up to three MIDI inputs to up to three MIDI outputs.\n"
    "\n"
    "  --headless        run without a window; notices go to standard error,\n"
    "                    SIGTERM, SIGINT or SIGHUP end it, SIGUSR1 sends the panic\n"
    "                      Roraridov --headless --directory ~/.config/roraridov\n"
    "  --directory DIR   read (and save) Roraridov.opt and Roraridov.devices in\n"
    "                    DIR, not the current directory\n"
    "                      Roraridov --directory ~/.config/roraridov --show\n"
    "  --service NAME    use this MIDI service (" SERVICE_NAMES "), not the one\n"
    "                    found running; jack waits for a server to start\n"
    "                      Roraridov --service alsa --list-devices\n"
    "  --list-devices    list the devices present, then each port's saved device\n"
    "                    and whether it is present\n"
    "                      Roraridov --list-devices\n"
    "  --show            show the saved settings, one line a port\n"
    "                      Roraridov --show\n"
    "  --save            save the settings with the changes below; what is not\n"
    "                    named keeps its saved value (N is 1 to 3)\n"
    "                      Roraridov --input 1=keys:out --route 1=1,3 --save\n"
    "  --input N=NAME    input N's device, by its full name; N= for none\n"
    "                      Roraridov --input 2= --save\n"
    "  --output N=NAME   output N's device, by its full name; N= for none\n"
    "                      Roraridov --output 1=synth:in --save\n"
    "  --route N=OUTPUTS the outputs input N goes to; N= for none\n"
    "                      Roraridov --route 1=1,3 --route 2= --save\n"
    "  --at-to-pb N=on|off  input N turns channel pressure into pitch bend\n"
    "                      Roraridov --at-to-pb 1=on --save\n"
    "  --channel-voice-only N=on|off  input N passes channel voice messages only\n"
    "                      Roraridov --channel-voice-only 3=off --save\n"
    "  --help            show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "In the windows F2 opens the setup dialog, F9 sends the panic and Esc quits.\n";

namespace {

// The value of an option given as "--name value" or "--name=value"; false
// when it has none.
bool OptionValue(std::string_view name, int argc, const char* const argv[], int& i, std::string_view& value)
{
    const std::string_view argument = argv[i];
    if (argument == name && i + 1 < argc) {
        value = argv[++i];
        return true;
    }
    if (argument.size() > name.size() && argument.starts_with(name) && argument[name.size()] == '=') {
        value = argument.substr(name.size() + 1);
        return true;
    }
    return false;
}

CommandLine Wrong(CommandLine& line, std::string problem)
{
    line.action = CommandLine::Wrong;
    line.problem = std::move(problem);
    return line;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const argv[])
{
    CommandLine line;
    bool help = false, version = false, directory = false;
    std::vector<CommandLine::Action> actions;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        std::string_view value;
        SettingsChange::Kind kind;
        if (argument == "--headless") {
            actions.push_back(CommandLine::Headless);
        } else if (argument == "--list-devices") {
            actions.push_back(CommandLine::ListDevices);
        } else if (argument == "--show") {
            actions.push_back(CommandLine::Show);
        } else if (argument == "--save") {
            actions.push_back(CommandLine::Save);
        } else if (argument == "--help") {
            help = true;
        } else if (argument == "--version") {
            version = true;
        } else if (OptionValue("--directory", argc, argv, i, value)) {
            directory = true;
            line.directory = value;
        } else if (OptionValue("--service", argc, argv, i, value)) {
            if (!ChooseService(value, line))
                return line;
        } else if (const std::string_view name = argument.substr(0, argument.find('='));
                   SettingsChangeOption(name, kind) && OptionValue(name, argc, argv, i, value)) {
            SettingsChange change;
            if (std::string problem = ParseSettingsChange(kind, value, change); !problem.empty())
                return Wrong(line, problem);
            line.changes.push_back(change);
        } else if (argument == "--directory") {
            return Wrong(line, "option '--directory' needs a directory");
        } else if (argument == "--service") {
            return Wrong(line, "option '--service' needs " SERVICE_NAMES);
        } else if (SettingsChangeOption(argument, kind)) {
            return Wrong(line, "option '" + std::string(argument) + "' needs a value");
        } else {
            return Wrong(line, "unknown option '" + std::string(argument) + "'");
        }
    }
    if (help) {
        line.action = CommandLine::Help;
        return line;
    }
    if (version) {
        line.action = CommandLine::Version;
        return line;
    }
    if (actions.size() > 1)
        return Wrong(line, "choose one of '--headless', '--list-devices', '--show' and '--save'");
    if (!actions.empty())
        line.action = actions.front();
    if (directory && line.directory.empty())
        return Wrong(line, "option '--directory' needs a directory");
    if (directory && line.action == CommandLine::Window)
        return Wrong(line, "option '--directory' needs '--headless', '--list-devices', '--show' or '--save'");
    if (!line.changes.empty() && line.action != CommandLine::Save)
        return Wrong(line, "options that change the settings need '--save'");
    return line;
}
