#include "FileHolder.h"

#include <windows.h>

FileHolder::FileHolder(const char* name)
{
    const HANDLE file = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        m_handle = file;
}

FileHolder::~FileHolder()
{
    if (m_handle)
        CloseHandle(m_handle);
}
