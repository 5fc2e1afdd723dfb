// What keeps the process alive and its output where it belongs while it
// rewrites the flash.
#pragma once

// Opens "/dev/null" on each of the descriptors 0, 1 and 2 that is not
// open, so that no file the program opens later becomes standard input,
// output or error (the flash device as descriptor 2 would receive the
// program's messages). Returns 0, or -1 when one could not be opened.
int open_missing_std_fds();

// Ignores the signals of a closed terminal or session, of Ctrl-C and of a
// service manager (SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGTSTP,
// SIGTTIN, SIGTTOU), and leaves the terminal's session where the kernel
// allows it. Ignored dispositions survive execv.
void ignore_terminating_signals();

// Asks the out-of-memory killer to take any other process first. Failure
// is ignored.
void avoid_oom_killer();
