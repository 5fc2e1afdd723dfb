// Completion and restart of the device.
#pragma once

// Logs completion and restarts the device: reboot(2) first, then the
// kernel's SysRq trigger. Returns 0 only when every attempt came back.
int finish_and_reboot();
