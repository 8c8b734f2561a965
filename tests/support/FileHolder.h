#pragma once

// Another program holding a file open the way the options file is opened:
// exclusively (a lock on POSIX, share mode 0 on Windows).
class FileHolder {
public:
    explicit FileHolder(const char* name);
    ~FileHolder();
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    bool holding() const { return m_handle != nullptr; }

private:
    void* m_handle = nullptr;
};
