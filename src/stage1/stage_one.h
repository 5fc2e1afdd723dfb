// What the installed program does: check the image, stage itself into
// tmpfs and re-execute that copy as stage two.
#pragma once

// Returns 0 in test mode once the check has passed (or was forced);
// otherwise never returns: it re-executes the program or ends through
// fatal().
int stage_one(const char *image_path);

// Checks the staged image against the target partition and prints the one
// message of the first failing test. Returns 0 when the check passed.
// *signed_ok tells whether the image was found to be a FIT signed by the
// keys built in (never without keys).
int check_image(const char *staged_path, bool *signed_ok);

// The memory that staging takes: the image when it is copied (image_bytes,
// 0 when it lies in /tmp already), the program copy (program_bytes) and a
// margin for the run and the kernel (staging_margin), all in tmpfs, which
// no process owns. When MemAvailable of meminfo is smaller, prints one line
// with both figures and returns -1 (the kernel would otherwise end other
// processes, a watchdog's feeder among them, while df still shows room in
// /tmp). Returns 0 when it fits or MemAvailable cannot be read.
constexpr long long staging_margin = 4 << 20;
int check_staging_room_in(const char *meminfo, long long image_bytes, long long program_bytes);

// Checks that a staging directory is a real directory owned by this user
// and closed to writes by group and others. Prints why not and returns -1.
int check_staging_dir(const char *path);

// Makes /tmp/root and /tmp/root/sbin, each checked with check_staging_dir
// before anything is made inside it; ends the run through fatal() when
// either cannot be made or is unsafe.
void make_staging_dirs();
