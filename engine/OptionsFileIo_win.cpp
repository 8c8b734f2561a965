#include "OptionsFileIo.h"

#include <string>
#include <system_error>

#include <windows.h>

namespace {

std::wstring Wide(const char* name)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
    std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), length);
    return wide;
}

// Share mode 0: while this handle is open nobody else may open the file,
// and a file someone else has open cannot be opened here.
HANDLE OpenExclusive(const std::wstring& name, DWORD access, DWORD disposition)
{
    return CreateFileW(name.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The system's words for the last failure, without their closing full stop.
std::string LastReason()
{
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return "Another program holds it";
    std::string text = std::system_category().message(static_cast<int>(error));
    while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    return text;
}

HANDLE RunLockHandle = INVALID_HANDLE_VALUE;

}  // namespace

bool OptionsFileExists(const char* name)
{
    const DWORD attributes = GetFileAttributesW(Wide(name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool OptionsFileNameTaken(const char* name)
{
    return GetFileAttributesW(Wide(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveOptionsFile(const char* name)
{
    return DeleteFileW(Wide(name).c_str()) != 0;
}

bool ReadOptionsFile(const char* name, void* buffer, size_t size, size_t& got)
{
    const HANDLE file = OpenExclusive(Wide(name), GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    got = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (got < size) {
        DWORD read = 0;
        if (!ReadFile(file, bytes + got, static_cast<DWORD>(size - got), &read, nullptr) || read == 0)
            break;
        got += read;
    }
    CloseHandle(file);
    return true;
}

SaveResult ReplaceOptionsFile(const char* name, const void* data, size_t size, std::string* reason)
{
    const auto fail = [reason](SaveResult result) {
        if (reason)
            *reason = LastReason();
        return result;
    };
    const std::wstring target = Wide(name);
    // Anyone holding the old file keeps us from replacing it.
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        const HANDLE old = OpenExclusive(target, GENERIC_READ, OPEN_EXISTING);
        if (old == INVALID_HANDLE_VALUE)
            return fail(SaveResult::CannotCreate);
        CloseHandle(old);
    }

    const std::wstring temporary = target + L".new";
    const HANDLE file = OpenExclusive(temporary, GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE)
        return fail(SaveResult::CannotCreate);
    DWORD written = 0;
    const bool whole = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size &&
                       FlushFileBuffers(file);
    const SaveResult result = whole ? SaveResult::Saved : fail(SaveResult::ShortWrite);
    CloseHandle(file);
    if (!whole) {
        DeleteFileW(temporary.c_str());
        return result;
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        fail(SaveResult::CannotCreate);
        DeleteFileW(temporary.c_str());
        return SaveResult::CannotCreate;
    }
    return SaveResult::Saved;
}

RunLock TakeRunLockFile(const char* name)
{
    ReleaseRunLockFile();
    // Share mode 0 is the lock; the file goes with the last handle, so no
    // stale one is left behind.
    const HANDLE file = CreateFileW(Wide(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? RunLock::HeldElsewhere
                                                                                 : RunLock::Unavailable;
    }
    RunLockHandle = file;
    return RunLock::Taken;
}

void ReleaseRunLockFile()
{
    if (RunLockHandle != INVALID_HANDLE_VALUE)
        CloseHandle(RunLockHandle);
    RunLockHandle = INVALID_HANDLE_VALUE;
}
