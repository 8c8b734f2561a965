#include "CloseMatches.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Folded(const std::string& text)
{
    std::string folded = text;
    for (char& c : folded)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

// Levenshtein distance, one row at a time.
size_t Edits(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t substitute = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
            diagonal = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, substitute});
        }
    }
    return row[b.size()];
}

}  // namespace

std::vector<std::string> CloseMatches(const std::string& name, const std::vector<std::string>& candidates, size_t count)
{
    const std::string wanted = Folded(name);
    // A third of the name may be wrong, and always a slip or two.
    const size_t allowed = std::max<size_t>(2, wanted.size() / 3);
    std::vector<std::pair<size_t, std::string>> close;
    for (const std::string& candidate : candidates) {
        const std::string folded = Folded(candidate);
        const bool contained = !wanted.empty() && (folded.find(wanted) != std::string::npos ||
                                                   wanted.find(folded) != std::string::npos);
        const size_t edits = Edits(wanted, folded);
        if ((contained || edits <= allowed) &&
            std::none_of(close.begin(), close.end(), [&](const auto& seen) { return seen.second == candidate; }))
            close.emplace_back(contained ? 0 : edits, candidate);
    }
    std::stable_sort(close.begin(), close.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> result;
    for (size_t i = 0; i < close.size() && i < count; ++i)
        result.push_back(close[i].second);
    return result;
}
