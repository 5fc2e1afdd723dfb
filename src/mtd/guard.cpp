#include "mtd/guard.h"

#include "base/log.h"

#include <string.h>

const char *const protected_partitions[] = {
    "Preloader",    "U-Boot",        "U-Config",  "RF-EEPROM",      "Firmware_2", "Kernel_2",
    "RootFS_2",     "Config_2",      "Storage_B", "Storage_A",      "Dump",       "U-State",
    "U-Config_res", "RF-EEPROM_res", "Full",      "nmbm_spim_nand", "spi-nand0",  nullptr,
};

void check_protected(const char *name) {
    for (const char *const *entry = protected_partitions; *entry != nullptr; entry++) {
        if (strcmp(*entry, name) == 0)
            fatal("refusing to write to protected partition '%s'", name);
    }
}
