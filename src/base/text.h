// Formatting and number parsing for the program's own messages, files and
// arguments, in place of the C library's printf and scanf families. They
// behave like those for what the program uses, without the library's
// floating-point formatting and scanning, which a static build would
// otherwise carry: with static musl on AArch64, a program that calls
// snprintf, fprintf, sscanf and fscanf links to 62,832 bytes stripped, the
// same program without them to 13,680 bytes, while the whole of this
// program stays within its 64 KiB budget.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

struct LineReader;

#define TEXT_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))

// printf-style formatting of exactly what the program's format strings use
// (scripts/lint.sh checks them): the conversions d u x o s and %%, the
// flag '0', a decimal field width, and the length modifier ll. Any other
// conversion stops a debug or sanitizer build at once; a release build
// copies the rest of the format as it stands and reads no more arguments.
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
bool scan_long_long(LineReader &file, long long *value);

// The number at the start of a file (a sysfs attribute) as scan_long_long
// reads it; -1 when the file cannot be read or begins with none.
long long read_number_file(const char *path);

// value / divisor, with the remainder in *remainder (when given); divisor
// below 2^63. Every 64-bit division of the program goes through this one
// small routine: 32-bit targets would otherwise carry the compiler's four
// division helpers, about 4 KiB on MIPS.
uint64_t divide_u64(uint64_t value, uint64_t divisor, uint64_t *remainder = nullptr);

// strstr(haystack, needle) != nullptr, by plain comparison at each place:
// the names compared here are short, and the C library's general
// algorithm costs more than a kilobyte on small targets.
bool contains(const char *haystack, const char *needle);
