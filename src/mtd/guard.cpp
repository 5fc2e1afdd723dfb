#include "mtd/guard.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"

#include <linux/major.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

// The name of the partition whose character device `path` is (followed
// through links): MTD devices have minors 2N (mtdN) and 2N + 1 (mtdNro).
// Returns false when the path is no MTD character device or its name
// cannot be read.
bool partition_behind(const char *sysfs_dir, const char *path, char *name, size_t size) {
    struct stat st {};
    if (stat(path, &st) != 0 || !S_ISCHR(st.st_mode) || major(st.st_rdev) != MTD_CHAR_MAJOR)
        return false;
    char name_path[512];
    if (format_string(name_path, sizeof name_path, "%s/mtd%u/name", sysfs_dir, minor(st.st_rdev) / 2) >=
        static_cast<int>(sizeof name_path))
        return false;
    FILE *file = fopen(name_path, "re");
    if (file == nullptr)
        return false;
    const bool read = fgets(name, static_cast<int>(size), file) != nullptr;
    (void)fclose(file);
    if (!read)
        return false;
    name[strcspn(name, "\n")] = '\0';
    return true;
}

} // namespace

void check_protected_in(const char *sysfs_dir, const char *name) {
    if (is_protected(name))
        fatal("refusing to write to protected partition '%s'", name);
    char partition[name_size];
    if (partition_behind(sysfs_dir, name, partition, sizeof partition) && is_protected(partition))
        fatal("refusing to write to protected partition '%s' (given as %s)", partition, name);
}

void check_protected(const char *name) { check_protected_in(paths::sysfs_mtd_dir, name); }
