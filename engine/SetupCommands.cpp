#include "SetupCommands.h"

#include "CloseMatches.h"
#include "EngineHooks.h"
#include "MidiPorts.h"
#include "OptionsFile.h"
#include "OptionsFileIo.h"
#include "RoutingSettings.h"
#include "SavedDeviceNames.h"
#include "SettingsWords.h"

#include <filesystem>
#include <system_error>

namespace {

std::FILE* ErrorStream = stderr;
int NoticesWritten = 0;

void WriteLine(const std::string& text)
{
    std::fprintf(ErrorStream, "Roraridov: %s\n", text.c_str());
}

// The engine's notices, one line each, as the headless program writes them.
void WriteNotice(const char* text, const char* caption)
{
    ++NoticesWritten;
    std::string line = std::string(caption) + ": " + text;
    if (const std::string& subject = NoticeSubject(); !subject.empty())
        line += " (" + subject + ')';
    std::fprintf(ErrorStream, "%s\n", line.c_str());
}

SavedDeviceNames SavedNames()
{
    SavedDeviceNames names;
    for (int port = 0; port < PortCount; ++port)
        names[port] = SavedDeviceName(port);
    return names;
}

// The selection a named device gets on `port`: the saved one if it is the
// port's saved device (present or not), else the first present device of
// that name; -1 when there is none.
int32_t ChosenSelection(int port, const std::string& name, const SavedDeviceNames& saved)
{
    if (name == saved[port])
        return SavedSelection(port);
    const bool input = port < OutputPort(1);
    const std::vector<std::string>& names = input ? InDeviceNames : OutDeviceNames;
    for (size_t at = 1; at < names.size(); ++at) {
        if (names[at] == name && DevicePresent(input, static_cast<int32_t>(at)))
            return static_cast<int32_t>(at);
    }
    return -1;
}

std::string UnknownDeviceWords(int port, const std::string& name, const SavedDeviceNames& saved)
{
    const bool input = port < OutputPort(1);
    const std::vector<std::string>& names = input ? InDeviceNames : OutDeviceNames;
    std::vector<std::string> candidates;
    for (size_t at = 1; at < names.size(); ++at) {
        if (DevicePresent(input, static_cast<int32_t>(at)))
            candidates.push_back(names[at]);
    }
    if (!saved[port].empty())
        candidates.push_back(saved[port]);
    std::string words = PortWords(port) + ": no device \"" + name + "\"; ";
    const std::vector<std::string> close = CloseMatches(name, candidates);
    if (close.empty())
        return words + "nothing close (--list-devices lists them)";
    words += "close matches:";
    for (const std::string& match : close)
        words += " \"" + match + '"' + (&match == &close.back() ? "" : ",");
    return words;
}

// Applies the changes to the settings record and to the six devices;
// false, having said why, when a device is unknown or taken twice.
bool ApplyChanges(const std::vector<SettingsChange>& changes, int32_t (&selections)[PortCount], SavedDeviceNames& names)
{
    const SavedDeviceNames saved = SavedNames();
    names = saved;
    bool named[PortCount] = {};
    bool fine = true;
    for (int port = 0; port < PortCount; ++port)
        selections[port] = SavedSelection(port);
    for (const SettingsChange& change : changes) {
        switch (change.kind) {
        case SettingsChange::Input:
        case SettingsChange::Output: {
            const int port = change.kind == SettingsChange::Input ? InputPort(change.n) : OutputPort(change.n);
            const int32_t selection = change.device.empty() ? 0 : ChosenSelection(port, change.device, saved);
            if (selection < 0) {
                WriteLine(UnknownDeviceWords(port, change.device, saved));
                fine = false;
                break;
            }
            selections[port] = selection;
            names[port] = change.device;
            named[port] = true;
            break;
        }
        case SettingsChange::Route:
            SetRouteMask(change.n, change.routeMask);
            break;
        case SettingsChange::AtToPb:
            SetPressureToBend(change.n, change.on);
            break;
        case SettingsChange::ChVoiceOnly:
            SetChannelVoiceOnly(change.n, change.on);
            break;
        }
    }
    // One device cannot serve two ports of a kind: the second would fail to
    // open at every start.
    for (int port = 0; port < PortCount; ++port) {
        const int first = port < OutputPort(1) ? InputPort(1) : OutputPort(1);
        for (int other = first; other < port; ++other) {
            if (selections[port] != 0 && selections[port] == selections[other] && (named[port] || named[other])) {
                WriteLine(PortWords(other) + " and " + PortWords(port) + " cannot both have \"" + names[port] + '"');
                fine = false;
            }
        }
    }
    return fine;
}

int Run(SetupAction action, const std::vector<SettingsChange>& changes, std::FILE* out)
{
    if (action == SetupAction::ListDevices) {
        if (const std::string none = NoServiceWords(); !none.empty()) {
            WriteLine(none + '.');
            return 1;
        }
    }
    // A directory that was never set up has no file yet: nothing to say.
    if (OptionsFileExists(OptionsFileName))
        LoadOptions();
    RestoreSavedDeviceNames();
    switch (action) {
    case SetupAction::ListDevices:
        std::fputs(DeviceListText(SavedNames()).c_str(), out);
        return 0;
    case SetupAction::Show:
        std::fputs(SavedSettingsText(SavedNames()).c_str(), out);
        return 0;
    case SetupAction::Save:
        break;
    }
    int32_t selections[PortCount];
    SavedDeviceNames names;
    if (!ApplyChanges(changes, selections, names)) {
        WriteLine("nothing saved.");
        return 1;
    }
    const int noticesBefore = NoticesWritten;
    SaveSettings(selections, names);
    if (NoticesWritten != noticesBefore)
        return 1;  // a short write, told as the dialog tells it
    std::fputs(SavedSettingsText(names).c_str(), out);
    return 0;
}

}  // namespace

int RunSetupCommand(SetupAction action, const std::vector<SettingsChange>& changes, ServiceChoice service,
                    const std::string& directory, std::FILE* out, std::FILE* err)
{
    ErrorStream = err;
    if (!directory.empty()) {
        std::error_code failure;
        std::filesystem::current_path(directory, failure);
        if (failure) {
            WriteLine("Cannot change to directory " + directory + '.');
            return 1;
        }
    }
    EngineHooks.ShowErrorNotice = &WriteNotice;
    EnumerateDevices(service);
    int status = 1;
    try {
        status = Run(action, changes, out);
    } catch (const FileFailure& failure) {
        WriteLine(std::string(failure.what()) + '.');
    }
    FreeDeviceNames();
    ReleaseDeviceService();
    EngineHooks.ShowErrorNotice = nullptr;
    return status;
}
