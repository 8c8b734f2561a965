// libFuzzer target: arbitrary device names files. The reader must not crash,
// and whatever it accepts must be six lines of text that it gives back
// unchanged when written out again.

#include "SavedDeviceNames.h"

#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SavedDeviceNames names;
    names.fill("untouched");
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!ParseDeviceNames(text, names)) {
        for (const std::string& name : names) {
            if (name != "untouched")
                abort();
        }
        return 0;
    }
    std::string again;
    for (const std::string& name : names) {
        if (name.find('\n') != std::string::npos)
            abort();
        again += name + '\n';
    }
    SavedDeviceNames reread;
    if (!ParseDeviceNames(again, reread) || reread != names)
        abort();
    return 0;
}
