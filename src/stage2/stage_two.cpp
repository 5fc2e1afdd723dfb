#include "stage2/stage_two.h"

#include "stage2/flash.h"
#include "stage2/ramfs.h"
#include "stage2/reboot.h"

int stage_two(const char *image_path) {
    switch_to_ramfs(image_path);
    run_writing_sequence(image_path);
    return finish_and_reboot();
}
