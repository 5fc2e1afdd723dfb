#include "stage2/stage_two.h"

#include "base/options.h"
#include "base/process.h"
#include "mtd/claim.h"
#include "mtd/stored.h"
#include "stage2/flash.h"
#include "stage2/ramfs.h"
#include "stage2/reboot.h"
#include "stage2/ubi.h"

namespace {

// Before the root switch, while the old root can still be used: nothing
// stored on the partition may write to it any more. Stage one did this
// already; a stage two started by hand, or a file system mounted since,
// is handled here, and what cannot be made safe still ends the run with
// the system running as it is. UBI devices on that flash are detached
// here, where a failure can still refuse.
void make_stored_safe(const char *part_name) {
    static Stored stored;
    check_stored(part_name, &stored, false);
    if (make_stored_read_only(system_stored_paths, &stored) < 0)
        refuse_stored(part_name);
    for (int i = 0; i < stored.mtd_count; i++) {
        if (detach_ubi(stored.mtd[i]) < 0)
            refuse_stored(part_name);
    }
}

} // namespace

int stage_two(const char *image_path) {
    // Stage one set these before the exec already; a stage two started by
    // hand sets them here. Nothing may end the process between the first
    // erase and the restart.
    ignore_terminating_signals();
    avoid_oom_killer();
    // Handed over by stage one; a stage two started by hand takes it here.
    claim_or_refuse(run_options.part_name, true);
    make_stored_safe(run_options.part_name);
    switch_to_ramfs(image_path);
    run_writing_sequence(image_path);
    return finish_and_reboot();
}
