#include "MiddleCut.h"

#include <vector>

namespace {

constexpr const char* Ellipsis = "\xE2\x80\xA6";

// Where each character starts.
std::vector<size_t> CharacterStarts(const std::string& text)
{
    std::vector<size_t> starts;
    for (size_t at = 0; at < text.size(); ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80)
            starts.push_back(at);
    }
    return starts;
}

}  // namespace

std::string CutInTheMiddle(const std::string& text, int width, const std::function<int(const std::string&)>& measure)
{
    if (measure(text) <= width)
        return text;
    const std::vector<size_t> starts = CharacterStarts(text);
    const size_t count = starts.size();
    // Fewest characters dropped first: the kept ones are split evenly, the
    // extra one going to the start.
    for (size_t kept = count; kept-- > 0;) {
        const size_t head = (kept + 1) / 2, tail = kept - head;
        const std::string cut = text.substr(0, head < count ? starts[head] : text.size()) + Ellipsis +
                                text.substr(tail > 0 ? starts[count - tail] : text.size());
        if (measure(cut) <= width)
            return cut;
    }
    return Ellipsis;
}
