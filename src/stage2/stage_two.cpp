#include "stage2/stage_two.h"

#include "base/options.h"
#include "base/process.h"
#include "mtd/claim.h"
#include "stage2/flash.h"
#include "stage2/ramfs.h"
#include "stage2/reboot.h"

int stage_two(const char *image_path) {
    // Stage one set these before the exec already; a stage two started by
    // hand sets them here. Nothing may end the process between the first
    // erase and the restart.
    ignore_terminating_signals();
    avoid_oom_killer();
    // Handed over by stage one; a stage two started by hand takes it here.
    claim_or_refuse(run_options.part_name, true);
    switch_to_ramfs(image_path);
    run_writing_sequence(image_path);
    return finish_and_reboot();
}
