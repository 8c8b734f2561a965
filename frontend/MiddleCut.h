#pragma once

#include <functional>
#include <string>

// A long device name cut in the middle to fit `width` (in whatever unit
// `measure` gives), keeping the start of the client and the end of the port,
// the part that tells two ports of one device apart. UTF-8 in and out; cut
// only between characters. The whole name is shown on hover.
std::string CutInTheMiddle(const std::string& text, int width, const std::function<int(const std::string&)>& measure);
