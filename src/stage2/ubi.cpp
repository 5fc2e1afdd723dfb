#include "stage2/ubi.h"

#include "base/options.h"
#include "base/paths.h"
#include "base/text.h"
#include "mtd/mtd_device.h"
#include "mtd/stored.h"

#include <errno.h>
#include <fcntl.h>
#include <mtd/ubi-user.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

int detach_ubi_in(const char *sysfs_dir, const char *control, int mtd_index) {
    // Without UBI's sysfs class nothing tells which device is attached; with
    // its control node there, UBI is in the kernel and may be.
    if (access(sysfs_dir, R_OK | X_OK) != 0) {
        if (access(control, F_OK) == 0)
            print_to(stderr, "mtd: UBI attachment of mtd%d could not be checked: %s cannot be read\n", mtd_index,
                     sysfs_dir);
        return 0;
    }
    int left = 0;
    for (int ubi = 0; ubi < max_ubi_devices; ubi++) {
        if (ubi_attached_mtd(sysfs_dir, ubi) != mtd_index)
            continue;
        const int ctrl = open(control, O_RDONLY | O_CLOEXEC);
        int32_t number = ubi;
        const int rc = ctrl < 0 ? -1 : mtd_ioctl(ctrl, UBI_IOCDET, &number);
        const int error = errno;
        if (ctrl >= 0)
            (void)close(ctrl);
        if (rc < 0) {
            left = -1;
            print_to(stderr, "mtd: UBI device %d is attached to mtd%d and cannot be detached: %s\n", ubi, mtd_index,
                     strerror(error));
        } else if (run_options.verbosity > 0)
            print_to(stderr, "Detached UBI device %d from mtd%d\n", ubi, mtd_index);
    }
    return left;
}

int detach_ubi(int mtd_index) { return detach_ubi_in(paths::sysfs_ubi_dir, paths::ubi_control, mtd_index); }
