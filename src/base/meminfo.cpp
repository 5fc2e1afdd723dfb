#include "base/meminfo.h"
#include "base/lines.h"

#include "base/text.h"

#include <string.h>

long long mem_available_in(const char *meminfo) {
    LineReader file{};
    if (lines_open(file, meminfo) < 0)
        return -1;
    constexpr char key[] = "MemAvailable:";
    char line[128];
    long long bytes = -1;
    while (bytes < 0 && lines_next(file, line, sizeof line)) {
        if (strncmp(line, key, sizeof key - 1) == 0)
            bytes = static_cast<long long>(parse_atoi(line + sizeof key - 1)) * 1024; // in kB
    }
    lines_close(file);
    return bytes;
}
