#pragma once

#include <cstddef>
#include <string>

// The file operations the options file needs, one implementation per
// platform. "Exclusive" means nobody else may have the file open meanwhile:
// a second copy of the program, or anything else that locks it, is refused.

// True when something other than a directory has that name.
bool OptionsFileExists(const char* name);

// True when anything at all has that name: a directory or a dangling link too.
bool OptionsFileNameTaken(const char* name);

// Opens the file exclusively and reads up to `size` bytes. Returns false when
// it cannot be opened; otherwise `got` says how many bytes were read.
bool ReadOptionsFile(const char* name, void* buffer, size_t size, size_t& got);

// Deletes the file; false when it cannot.
bool RemoveOptionsFile(const char* name);

enum class SaveResult { Saved, CannotCreate, ShortWrite };

// Replaces the file with exactly these bytes, atomically: the bytes go to a
// new file beside it, are flushed to disk, and the new file is renamed over
// the old one, so a failed or interrupted save leaves the old file whole.
// A file the user may not write is refused. On a failure `reason`, when
// given, gets the system's reason in words ("Permission denied").
SaveResult ReplaceOptionsFile(const char* name, const void* data, size_t size, std::string* reason = nullptr);

// A lock held for a whole run on a file of its own, so that it never stands
// in the way of the options file's lock. Taken: this process holds it until
// it is let go or the process ends (a crash leaves no stale lock).
// HeldElsewhere: another process holds it. Unavailable: the file cannot be
// made (a directory the user may not write), so nothing is known.
enum class RunLock { Taken, HeldElsewhere, Unavailable };
RunLock TakeRunLockFile(const char* name);
void ReleaseRunLockFile();
