#include "OptionsFile.h"

#include "EngineHooks.h"
#include "OptionsFileIo.h"
#include "RoutingSettings.h"
#include "SavedDeviceNames.h"

#include <cstring>
#include <string>

void LoadOptions()
{
    bool loaded = false;
    if (!OptionsFileExists(OptionsFileName)) {
        ErrorNotice("Options file not exist!  Initializing With Deffault Values!", "Errorr!");
    } else {
        unsigned char image[sizeof RoutingOptions];
        size_t got = 0;
        if (!ReadOptionsFile(OptionsFileName, image, sizeof image, got))
            throw FileFailure(std::string("Cannot open file ") + OptionsFileName);
        // The bytes read land from the record's first byte; a short file
        // leaves the rest as it was.
        memcpy(&RoutingOptions, image, got);
        loaded = got == sizeof image;
        if (!loaded)
            ErrorNotice("Error While Reading Options File !", "Errorr!");
    }
    if (!loaded) {
        for (int n = 0; n < 3; ++n)
            RoutingOptions.InSelect[n] = RoutingOptions.OutSelect[n] = 0;
    }
}

void SaveOptions()
{
    SaveSettings(OpenSelection, OpenDeviceNames());
}

void SaveSettings(const int32_t (&selections)[PortCount], const SavedDeviceNames& deviceNames)
{
    for (int n = 1; n <= 3; ++n) {
        RoutingOptions.InSelect[n - 1] = selections[InputPort(n)];
        RoutingOptions.OutSelect[n - 1] = selections[OutputPort(n)];
    }
    // Names first, and put back when the options file fails: the names must
    // never point at other devices than the indices saved with them.
    const DeviceNamesBefore names = SaveDeviceNames(deviceNames);
    std::string reason;
    const SaveResult result = ReplaceOptionsFile(OptionsFileName, &RoutingOptions, sizeof RoutingOptions, &reason);
    if (result != SaveResult::Saved)
        UndoDeviceNames(names);
    switch (result) {
    case SaveResult::Saved:
        break;
    case SaveResult::CannotCreate:
        throw FileFailure(std::string("Cannot create file ") + OptionsFileName + ": " + reason);
    case SaveResult::ShortWrite:
        ErrorNotice("Error Writing Options File !", "Bad Write");
        break;
    }
}

void TakeRunLock()
{
    if (TakeRunLockFile(RunLockFileName) == RunLock::HeldElsewhere)
        throw FileFailure("Another copy is already running in this directory");
}

void ReleaseRunLock()
{
    ReleaseRunLockFile();
}
