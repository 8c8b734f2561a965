#pragma once

#include "MidiDeviceService.h"
#include "SettingsChange.h"

#include <cstdio>
#include <string>
#include <vector>

// Setting a machine up without the windows (over ssh, say): the commands
// behind --list-devices, --show and the changes saved with --save. Each
// reads the options file and the device names file of `directory` (the
// current one when empty) on the service chosen, writes its answer to `out`
// and anything wrong, one line each, to `err`, and returns the exit status.
enum class SetupAction { ListDevices, Show, Save };

int RunSetupCommand(SetupAction action, const std::vector<SettingsChange>& changes, ServiceChoice service,
                    const std::string& directory, std::FILE* out, std::FILE* err);
