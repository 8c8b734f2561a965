#include "TempDirectory.h"

#include <chrono>
#include <random>
#include <string>

TempDirectory::TempDirectory(const std::filesystem::path& base) : m_previous(std::filesystem::current_path())
{
    std::mt19937_64 random(std::random_device{}() ^
                           static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    do {
        m_path = base / ("roraridov-" + std::to_string(random() % 1000000000));
    } while (!std::filesystem::create_directory(m_path));
    std::filesystem::current_path(m_path);
}

TempDirectory::~TempDirectory()
{
    std::error_code error;
    std::filesystem::current_path(m_previous, error);
    std::filesystem::remove_all(m_path, error);
}
