// What the tmpfs copy runs: root switch, writing, restart.
#pragma once

// Returns 0 only when the device did not restart after a complete write;
// every failure ends the process with status 1.
int stage_two(const char *image_path);
