// Formatting and number parsing for the program's own messages, files and
// arguments. They behave like the C library's printf and scanf families
// for what the program uses, without pulling in the library's floating-
// point formatting and scanning, which a static build would otherwise carry.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

#define TEXT_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))

// printf-style formatting. Supported: the conversions d i u x X o c s and
// %%, the flags '0' and '-', a decimal field width, and the length
// modifiers hh h l ll z. Anything else is copied through as it stands.
//
// Like vsnprintf: writes at most size - 1 characters and a terminating
// zero byte, returns the length the whole result would have.
int format_buffer(char *buf, size_t size, const char *fmt, va_list args) TEXT_PRINTF(3, 0);
int format_string(char *buf, size_t size, const char *fmt, ...) TEXT_PRINTF(3, 4);

// Like vfprintf and fprintf: no length limit, returns the characters
// written or -1 when the stream failed.
int format_stream(FILE *stream, const char *fmt, va_list args) TEXT_PRINTF(2, 0);
int print_to(FILE *stream, const char *fmt, ...) TEXT_PRINTF(2, 3);

// The value of a decimal integer argument by atoi's rules: leading white
// space, an optional sign, digits up to the first non-digit, 0 without
// digits. Out-of-range values are narrowed the way glibc's atoi narrows
// strtol's saturated result.
int parse_atoi(const char *text);

// sscanf(line, "mtd%d:", index) == 1: the line begins with "mtd" and a
// decimal number (white space and a sign allowed before the digits).
// Stores the number only when it converts.
bool scan_mtd_prefix(const char *line, int *index);

// fscanf(file, "%lld", value) == 1: skips white space, then reads an
// optionally signed decimal number, saturated like strtoll.
bool scan_long_long(FILE *file, long long *value);
