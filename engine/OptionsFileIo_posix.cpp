#include "OptionsFileIo.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens without blocking (a FIFO of that name must not hang the program)
// and takes the exclusive lock; only a regular file will do. `access` is
// O_RDONLY to read, O_WRONLY to save: a save needs no read permission, and
// a file the user cannot write is refused rather than replaced. On failure
// errno says why; NotARegularFile stands for what the system has no word for.
constexpr int NotARegularFile = -1;

int OpenLocked(const char* path, int access)
{
    const int fd = open(path, access | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info;
    int error = 0;
    if (fstat(fd, &info) != 0)
        error = errno;
    else if (!S_ISREG(info.st_mode))
        error = NotARegularFile;
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = errno;
    if (error == 0)
        return fd;
    close(fd);
    errno = error;
    return -1;
}

// What a user is told after the program's own words.
std::string Reason(int error)
{
    if (error == EWOULDBLOCK)
        return "Another program holds it";  // the lock, held elsewhere
    if (error == NotARegularFile)
        return "Not a regular file";
    return std::generic_category().message(error);
}

bool WriteAll(int fd, const void* data, size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0)
            errno = EIO;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Rewrites an open file from its start: the old way, for when no new file
// can be made beside it.
SaveResult RewriteInPlace(int fd, const void* data, size_t size)
{
    if (ftruncate(fd, 0) != 0)
        return SaveResult::CannotCreate;
    return WriteAll(fd, data, size) && fsync(fd) == 0 ? SaveResult::Saved : SaveResult::ShortWrite;
}

// Where a save must write: links followed to the file they name, even one
// that does not exist yet.
std::string SavePath(const char* name)
{
    std::string path = name;
    for (int hops = 0; hops < 40; ++hops) {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved))
            return resolved;
        char target[PATH_MAX];
        const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length <= 0)
            return path;  // no link: a new file of that name
        target[length] = '\0';
        const size_t slash = path.rfind('/');
        if (target[0] == '/' || slash == std::string::npos)
            path = target;
        else
            path = path.substr(0, slash + 1) + target;
    }
    return path;
}

// A new file beside `path`, made with the mode a new file gets (0666 less
// the process's mask, applied by the system: the mask is shared by every
// thread, so it is never changed here). Returns its descriptor and name.
int CreateBeside(const std::string& path, std::string& temporary)
{
    for (unsigned attempt = 0;; ++attempt) {
        temporary = path + ".new-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST || attempt == 100)
            return fd;
    }
}

// The rename reaches the disk with its directory. A file system that cannot
// sync a directory says EINVAL: there is nothing more to be had there.
bool SyncDirectoryOf(const std::string& path)
{
    const std::string directory = path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1);
    const int dir = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return true;  // a directory the user may write but not read: nothing to sync it through
    const bool synced = fsync(dir) == 0 || errno == EINVAL;
    close(dir);
    return synced;
}

int RunLockFd = -1;

}  // namespace

bool OptionsFileExists(const char* name)
{
    struct stat info;
    return stat(name, &info) == 0 && !S_ISDIR(info.st_mode);
}

bool OptionsFileNameTaken(const char* name)
{
    struct stat info;
    return lstat(name, &info) == 0;
}

bool RemoveOptionsFile(const char* name)
{
    return unlink(name) == 0;
}

bool ReadOptionsFile(const char* name, void* buffer, size_t size, size_t& got)
{
    const int fd = OpenLocked(name, O_RDONLY);
    if (fd < 0)
        return false;
    got = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (got < size) {
        const ssize_t n = read(fd, bytes + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    close(fd);  // releases the lock
    return true;
}

SaveResult ReplaceOptionsFile(const char* name, const void* data, size_t size, std::string* reason)
{
    // Where the file really is: a link to it stays a link to the new one.
    const std::string path = SavePath(name);
    const auto fail = [reason](SaveResult result) {
        if (reason)
            *reason = Reason(errno);
        return result;
    };

    int target = -1;
    struct stat info;
    const bool replacing = lstat(path.c_str(), &info) == 0;
    if (replacing) {
        // Anyone holding the old file keeps us from replacing it.
        target = OpenLocked(path.c_str(), O_WRONLY);
        if (target < 0)
            return fail(SaveResult::CannotCreate);
    }

    std::string temporary;
    const int fd = CreateBeside(path, temporary);
    if (fd < 0) {
        // A file the user may write in a directory they may not. Not on a
        // full disk: truncating there would lose the old file.
        const bool forbidden = errno == EACCES || errno == EPERM;
        SaveResult result = target >= 0 && forbidden ? RewriteInPlace(target, data, size) : SaveResult::CannotCreate;
        if (result != SaveResult::Saved)
            fail(result);
        if (target >= 0)
            close(target);
        return result;
    }
    // The new file takes the old one's mode, its owner's choice; one that
    // is not ours cannot be given it, and gets a new file's mode.
    if (replacing)
        fchmod(fd, info.st_mode & 07777);
    const bool written = WriteAll(fd, data, size) && fsync(fd) == 0;
    SaveResult result = SaveResult::Saved;
    if (!written)
        result = fail(SaveResult::ShortWrite);
    close(fd);
    if (written && rename(temporary.c_str(), path.c_str()) != 0)
        result = fail(SaveResult::CannotCreate);
    if (result != SaveResult::Saved)
        unlink(temporary.c_str());
    else if (!SyncDirectoryOf(path))
        result = fail(SaveResult::CannotCreate);  // as a failed rename: it may not last
    if (target >= 0)
        close(target);
    return result;
}

RunLock TakeRunLockFile(const char* name)
{
    ReleaseRunLockFile();
    // Never removed: a copy that removed it on its way out could let a third
    // copy lock a new file while a second still holds the old one.
    const int fd = open(name, O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return RunLock::Unavailable;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return held ? RunLock::HeldElsewhere : RunLock::Unavailable;
    }
    RunLockFd = fd;
    return RunLock::Taken;
}

void ReleaseRunLockFile()
{
    if (RunLockFd >= 0)
        close(RunLockFd);
    RunLockFd = -1;
}
