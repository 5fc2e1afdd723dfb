#include "mtd/guard.h"

#include "base/lines.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"
#include "mtd/mtd_device.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

const char *const protected_partitions[] = {
    "Preloader",    "U-Boot",        "U-Config",  "RF-EEPROM",      "Firmware_2", "Kernel_2",
    "RootFS_2",     "Config_2",      "Storage_B", "Storage_A",      "Dump",       "U-State",
    "U-Config_res", "RF-EEPROM_res", "Full",      "nmbm_spim_nand", "spi-nand0",  nullptr,
};

namespace {

constexpr size_t name_size = 256;

bool is_protected(const char *name) {
    for (const char *const *entry = protected_partitions; *entry != nullptr; entry++) {
        if (strcmp(*entry, name) == 0)
            return true;
    }
    return false;
}

// The name of partition `index` in a table in the format of /proc/mtd,
// where a line is "mtd<N>: <size> <erase size> "<name>"".
bool name_of_index(const char *table, int index, char *name, size_t size) {
    LineReader file{};
    if (lines_open(file, table) < 0)
        return false;
    char line[4096];
    bool found = false;
    while (!found && lines_next(file, line, sizeof line)) {
        int listed = -1;
        const char *open = strchr(line, '"');
        const char *close = strrchr(line, '"');
        if (!scan_mtd_prefix(line, &listed) || listed != index || open == nullptr || close == open)
            continue;
        const auto length = static_cast<size_t>(close - open - 1);
        if (length < size) {
            memcpy(name, open + 1, length);
            name[length] = '\0';
            found = true;
        }
    }
    lines_close(file);
    return found;
}

} // namespace

dev_t check_protected_in(const char *table, const char *name) {
    if (is_protected(name))
        fatal("refusing to write to protected partition '%s'", name);
    struct stat st {};
    const int index = stat(name, &st) == 0 ? mtd_index_of(st) : -1;
    if (index < 0)
        return 0;
    char partition[name_size];
    if (!name_of_index(table, index, partition, sizeof partition))
        fatal("refusing to write to %s: an MTD device that %s does not list", name, table);
    if (is_protected(partition))
        fatal("refusing to write to protected partition '%s' (given as %s)", partition, name);
    return st.st_rdev;
}

dev_t check_protected(const char *name) { return check_protected_in(paths::proc_mtd, name); }
