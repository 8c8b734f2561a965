// libFuzzer target: arbitrary options files. The loader must not crash, must
// take exactly the bytes it reads, and must zero the selections whenever the
// read came up short.

#include "EngineHooks.h"
#include "EngineReset.h"
#include "OptionsFile.h"
#include "RoutingSettings.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool inDirectory = [] {
        char pattern[] = "/tmp/roraridov-fuzz-XXXXXX";
        return mkdtemp(pattern) && chdir(pattern) == 0;
    }();
    if (!inDirectory)
        abort();

    const int fd = open(OptionsFileName, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size))
        abort();
    close(fd);

    ResetEngine();
    LoadOptions();

    unsigned char expected[44] = {};
    memcpy(expected, data, size < 44 ? size : 44);
    if (size < 44)
        memset(expected, 0, 24);
    if (memcmp(expected, &RoutingOptions, 44) != 0)
        abort();
    return 0;
}
