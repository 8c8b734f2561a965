#include "TypeToFind.h"

#include <algorithm>

namespace {

char Folded(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) { return Folded(a) == Folded(b); });
}

}  // namespace

int TypeToFind::find(const void* list, std::string_view typed, int current, const std::vector<std::string>& entries,
                     Clock::time_point now)
{
    const bool continuing =
        m_list == list && m_typedAt != Clock::time_point{} && now - m_typedAt < std::chrono::milliseconds(500);
    m_prefix = continuing ? m_prefix + std::string(typed) : std::string(typed);
    m_typedAt = now;
    m_list = list;
    const int count = static_cast<int>(entries.size());
    const int first = current + (continuing ? 0 : 1);
    for (int i = 0; i < count; ++i) {
        const int index = ((first + i) % count + count) % count;
        if (StartsWith(entries[static_cast<size_t>(index)], m_prefix))
            return index == current ? -1 : index;
    }
    return -1;
}
