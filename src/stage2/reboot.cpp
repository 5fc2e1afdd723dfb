#include "stage2/reboot.h"

#include "base/log.h"
#include "base/paths.h"

#include <fcntl.h>
#include <sys/reboot.h>
#include <unistd.h>

namespace {

constexpr unsigned sysrq_pause_seconds = 5;

// Writes one byte to a /proc control file; every failure is ignored.
void poke(const char *path, char byte) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    const ssize_t ignored = write(fd, &byte, 1);
    (void)ignored;
    (void)close(fd);
}

} // namespace

int finish_and_reboot() {
    log_progress("Upgrade completed");
    (void)sleep(1);
    log_progress("Rebooting system...");
    sync();
    (void)reboot(RB_AUTOBOOT);

    // Still here: the kernel refused the restart. Ask SysRq for one, and
    // once more with all SysRq functions enabled.
    poke(paths::sysrq_trigger, 'b');
    (void)sleep(sysrq_pause_seconds);
    poke(paths::sysrq_enable, '1');
    poke(paths::sysrq_trigger, 'b');
    (void)sleep(sysrq_pause_seconds);
    return 0;
}
