#include "ProgramTitle.h"

std::string ProgramTitle(const std::string& fileName)
{
    std::string title = fileName.substr(0, fileName.find('.'));
    for (size_t at = 1; at < title.size(); ++at) {
        if (title[at] >= 'A' && title[at] <= 'Z')
            title[at] = static_cast<char>(title[at] - 'A' + 'a');
    }
    return title;
}
