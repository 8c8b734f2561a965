#include "TempDirectory.h"

#include <cstdlib>
#include <string>

TempDirectory::TempDirectory() : m_previous(std::filesystem::current_path())
{
    std::string pattern = (std::filesystem::temp_directory_path() / "roraridov-XXXXXX").string();
    if (mkdtemp(pattern.data()))
        m_path = pattern;
    std::filesystem::current_path(m_path);
}

TempDirectory::~TempDirectory()
{
    std::error_code error;
    std::filesystem::current_path(m_previous, error);
    std::filesystem::remove_all(m_path, error);
}
