// Progress messages and fatal errors.
#pragma once

#include <stdarg.h>

#define REFLASHER_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))

// Records a milestone in the progress log and echoes it on stderr while
// verbosity is above 0. Every failure of the log itself is silent.
void log_progress(const char *fmt, ...) REFLASHER_PRINTF(1, 2);

// Inner form over an explicit log file path.
void log_progress_to(const char *log_path, const char *fmt, va_list args) REFLASHER_PRINTF(2, 0);

// "ERROR: " and the message on stderr, then exit status 1.
[[noreturn]] void fatal(const char *fmt, ...) REFLASHER_PRINTF(1, 2);
