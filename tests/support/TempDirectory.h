#pragma once

#include <filesystem>

// A fresh directory that becomes the current one for its lifetime, so the
// options file of a test lives where nothing else looks. Made under `base`,
// the system's temporary directory unless told.
class TempDirectory {
public:
    explicit TempDirectory(const std::filesystem::path& base = std::filesystem::temp_directory_path());
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_previous;
    std::filesystem::path m_path;
};
