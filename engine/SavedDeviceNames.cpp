#include "SavedDeviceNames.h"

#include "EngineHooks.h"
#include "MidiPorts.h"
#include "OptionsFile.h"
#include "OptionsFileIo.h"

namespace {

// Far more than six device names need; a larger file is not ours.
constexpr size_t LongestFile = 16 * 1024;

bool ValidUtf8Text(std::string_view text)
{
    for (size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        int following = 0;
        if (byte < 0x80) {
            if (byte < 0x20 && byte != '\n' && byte != '\r' && byte != '\t')
                return false;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            following = 1;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            following = 2;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            following = 3;
        } else {
            return false;
        }
        if (text.size() - at <= static_cast<size_t>(following))
            return false;
        for (int i = 1; i <= following; ++i) {
            if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
                return false;
        }
        at += static_cast<size_t>(following) + 1;
    }
    return true;
}

SavedDeviceNames Restored;

std::string& SavedName(SavedDeviceNames& names, bool input, int n)
{
    return names[input ? InputPort(n) : OutputPort(n)];
}

bool SavedSelectionsExist()
{
    for (int n = 0; n < 3; ++n) {
        if (RoutingOptions.InSelect[n] != 0 || RoutingOptions.OutSelect[n] != 0)
            return true;
    }
    return false;
}

}  // namespace

SavedDeviceNames OpenDeviceNames()
{
    SavedDeviceNames open;
    for (int port = 0; port < PortCount; ++port) {
        const bool input = port < OutputPort(1);
        const std::vector<std::string>& names = input ? InDeviceNames : OutDeviceNames;
        const int32_t selection = OpenSelection[port];
        if (selection > 0 && static_cast<size_t>(selection) < names.size())
            open[port] = names[selection];
    }
    return open;
}

std::string DeviceNamesText(const SavedDeviceNames& names)
{
    std::string text;
    for (const std::string& name : names)
        text += name + '\n';
    return text;
}

bool ParseDeviceNames(std::string_view text, SavedDeviceNames& names)
{
    if (text.size() > LongestFile || !ValidUtf8Text(text))
        return false;
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    SavedDeviceNames lines;
    size_t line = 0;
    for (size_t start = 0;; ++line) {
        const size_t end = text.find('\n', start);
        if (line == lines.size())
            return false;
        std::string_view content = text.substr(start, end == std::string_view::npos ? end : end - start);
        if (!content.empty() && content.back() == '\r')
            content.remove_suffix(1);  // written on Windows
        if (content.find('\r') != std::string_view::npos)
            return false;
        lines[line] = content;
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    if (line + 1 != lines.size())
        return false;
    names = std::move(lines);
    return true;
}

namespace {

bool ReadDeviceNamesFile(std::string& text)
{
    text.assign(LongestFile + 1, '\0');
    size_t got = 0;
    if (!ReadOptionsFile(DeviceNamesFileName, text.data(), text.size(), got))
        return false;
    text.resize(got);
    return true;
}

}  // namespace

DeviceNamesBefore SaveDeviceNames(const SavedDeviceNames& names)
{
    DeviceNamesBefore before;
    before.existed = OptionsFileExists(DeviceNamesFileName);
    before.read = before.existed && ReadDeviceNamesFile(before.text);
    const std::string text = DeviceNamesText(names);
    std::string reason;
    const SaveResult result = ReplaceOptionsFile(DeviceNamesFileName, text.data(), text.size(), &reason);
    if (result == SaveResult::ShortWrite || (result == SaveResult::CannotCreate && before.existed)) {
        UndoDeviceNames(before);
        throw FileFailure(std::string("Cannot create file ") + DeviceNamesFileName + ": " + reason);
    }
    return before;
}

void UndoDeviceNames(const DeviceNamesBefore& before)
{
    if (!before.existed)
        RemoveOptionsFile(DeviceNamesFileName);
    else if (before.read)
        ReplaceOptionsFile(DeviceNamesFileName, before.text.data(), before.text.size());
}

void RestoreSavedDeviceNames()
{
    std::string text;
    SavedDeviceNames names;
    Restored = {};
    if (!OptionsFileNameTaken(DeviceNamesFileName))
        return;  // saved by a copy that knew no names: positions, as it meant
    if (!OptionsFileExists(DeviceNamesFileName) || !ReadDeviceNamesFile(text) || !ParseDeviceNames(text, names)) {
        // Positions may now lead to other devices (a synth's output to a
        // keyboard's input): the user must hear of it.
        const std::string text = std::string("Device names file ") + DeviceNamesFileName +
                                 " is damaged or unreadable: saved devices opened by position.";
        if (SavedSelectionsExist())
            ErrorNotice(text.c_str(), "Errorr!");
        return;
    }
    Restored = names;
    for (int n = 1; n <= 3; ++n) {
        for (bool input : {true, false}) {
            int32_t& selection = input ? RoutingOptions.InSelect[n - 1] : RoutingOptions.OutSelect[n - 1];
            const std::string& name = SavedName(names, input, n);
            if (selection != 0 && !name.empty())
                selection = FindSavedDevice(input, selection, name);
        }
    }
}

const std::string& RestoredDeviceName(int port)
{
    return Restored[port];
}

int32_t& SavedSelection(int port)
{
    return port < OutputPort(1) ? RoutingOptions.InSelect[port] : RoutingOptions.OutSelect[port - OutputPort(1)];
}

std::string SavedDeviceName(int port)
{
    const int32_t selection = SavedSelection(port);
    const std::vector<std::string>& names = port < OutputPort(1) ? InDeviceNames : OutDeviceNames;
    if (selection == 0)
        return {};
    if (!Restored[port].empty())
        return Restored[port];
    if (selection > 0 && static_cast<size_t>(selection) < names.size())
        return names[selection];
    return {};
}
