#pragma once

#include "SavedDeviceNames.h"

#include <cstdint>
#include <stdexcept>

// The options file: the 44-byte image of the settings record, in the
// current directory.
inline constexpr const char* OptionsFileName = "Roraridov.opt";

// Beside the options file, locked while a copy of the program runs on it.
inline constexpr const char* RunLockFileName = "Roraridov.lock";

// A file operation that could not be carried out: raised, not reported.
class FileFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Fills the settings from the file, or falls back to no devices. Raises
// FileFailure when the file exists but cannot be opened.
void LoadOptions();

// Writes the settings, with the devices open now as the saved ones. Raises
// FileFailure when the file cannot be created, saying the system's reason
// after the file's name; the old file is then, as after a short write, left
// exactly as it was.
void SaveOptions();

// The same save, the one writer of both files, for devices chosen without
// opening them: `selections` and their full `names` (empty for none) in
// port order.
void SaveSettings(const int32_t (&selections)[PortCount], const SavedDeviceNames& names);

// Claims the options file of the current directory for this run: two copies
// on one file would both open its devices and every message would arrive
// twice. Raises FileFailure when another copy holds it; where no lock can be
// made at all, the run goes on without one.
void TakeRunLock();
void ReleaseRunLock();
