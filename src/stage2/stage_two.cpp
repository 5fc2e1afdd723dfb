#include "stage2/stage_two.h"

#include "base/process.h"
#include "stage2/flash.h"
#include "stage2/ramfs.h"
#include "stage2/reboot.h"

int stage_two(const char *image_path) {
    // Stage one set these before the exec already; a stage two started by
    // hand sets them here. Nothing may end the process between the first
    // erase and the restart.
    ignore_terminating_signals();
    avoid_oom_killer();
    switch_to_ramfs(image_path);
    run_writing_sequence(image_path);
    return finish_and_reboot();
}
