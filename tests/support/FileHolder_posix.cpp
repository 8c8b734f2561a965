#include "FileHolder.h"

#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

FileHolder::FileHolder(const char* name)
{
    const int fd = open(name, O_RDONLY);
    if (fd < 0)
        return;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return;
    }
    m_handle = reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
}

FileHolder::~FileHolder()
{
    if (m_handle)
        close(static_cast<int>(reinterpret_cast<intptr_t>(m_handle) - 1));
}
