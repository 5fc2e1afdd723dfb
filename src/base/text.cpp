#include "base/text.h"

#include "base/lines.h"

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Where formatted output goes: a bounded buffer or a stream.
struct Sink {
    char *buf;
    size_t size;
    FILE *stream;
    size_t length; // everything produced so far, written or not
    bool failed;
};

void put(Sink &sink, const char *text, size_t n) {
    if (sink.stream != nullptr) {
        if (n != 0 && fwrite(text, 1, n, sink.stream) != n)
            sink.failed = true;
    } else if (sink.size != 0 && sink.length < sink.size - 1) {
        const size_t room = sink.size - 1 - sink.length;
        memcpy(sink.buf + sink.length, text, n < room ? n : room);
    }
    sink.length += n;
}

void pad(Sink &sink, char c, size_t n) {
    while (n-- > 0)
        put(sink, &c, 1);
}

// A field of the given width around text, right-aligned; zero padding goes
// between the sign and the digits.
void field(Sink &sink, const char *text, size_t n, size_t width, bool zero, size_t sign_len) {
    if (n >= width) {
        put(sink, text, n);
        return;
    }
    if (zero) {
        put(sink, text, sign_len);
        pad(sink, '0', width - n);
        put(sink, text + sign_len, n - sign_len);
    } else {
        pad(sink, ' ', width - n);
        put(sink, text, n);
    }
}

// The magnitude of a negative value, computed without overflow.
unsigned long long magnitude_of(long long negative) { return static_cast<unsigned long long>(-(negative + 1)) + 1; }

// The arguments, wrapped so that helpers can take them by reference
// whatever va_list is on the platform.
struct Args {
    va_list list;
};

// Digits of value in base, most significant first, after an optional sign.
size_t number_text(char *out, unsigned long long value, unsigned base, bool negative) {
    char digits[24];
    size_t n = 0;
    do {
        uint64_t digit = 0;
        value = divide_u64(value, base, &digit);
        digits[n++] = "0123456789abcdef"[digit];
    } while (value != 0);
    size_t len = 0;
    if (negative)
        out[len++] = '-';
    while (n > 0)
        out[len++] = digits[--n];
    return len;
}

// A conversion this formatter does not know would leave its argument
// unread, and every later conversion would take the wrong one. Debug and
// sanitizer builds stop at once; a release build copies the rest of the
// format as it stands and reads no further argument. (scripts/lint.sh
// checks that no format string of the program holds one.)
void unknown_conversion(Sink &sink, const char *percent) {
#ifndef NDEBUG
    fputs("format: unknown conversion\n", stderr);
    abort();
#endif
    put(sink, percent, strlen(percent));
}

void format_core(Sink &sink, const char *fmt, Args &args) {
    const char *p = fmt;
    while (*p != '\0') {
        const char *percent = strchr(p, '%');
        if (percent == nullptr) {
            put(sink, p, strlen(p));
            return;
        }
        put(sink, p, static_cast<size_t>(percent - p));
        const char *conv = percent + 1;

        const bool zero = *conv == '0';
        if (zero)
            conv++;
        size_t width = 0;
        while (*conv >= '0' && *conv <= '9')
            width = width * 10 + static_cast<size_t>(*conv++ - '0');
        const bool ll = conv[0] == 'l' && conv[1] == 'l';
        if (ll)
            conv += 2;

        char text[32];
        switch (*conv) {
        case 'd': {
            const long long v = ll ? va_arg(args.list, long long) : va_arg(args.list, int);
            const unsigned long long magnitude = v < 0 ? magnitude_of(v) : static_cast<unsigned long long>(v);
            const size_t n = number_text(text, magnitude, 10, v < 0);
            field(sink, text, n, width, zero, v < 0 ? 1 : 0);
            break;
        }
        case 'u':
        case 'x':
        case 'o': {
            const unsigned base = *conv == 'u' ? 10 : *conv == 'o' ? 8 : 16;
            const unsigned long long v = ll ? va_arg(args.list, unsigned long long) : va_arg(args.list, unsigned);
            field(sink, text, number_text(text, v, base, false), width, zero, 0);
            break;
        }
        case 's': {
            const char *s = va_arg(args.list, const char *);
            if (s == nullptr)
                s = "(null)";
            field(sink, s, strlen(s), width, false, 0);
            break;
        }
        case '%':
            put(sink, "%", 1);
            break;
        default:
            unknown_conversion(sink, percent);
            return;
        }
        p = conv + 1;
    }
}

bool is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(int c) { return c >= '0' && c <= '9'; }

// Accumulates decimal digits with saturation at the given bounds, as
// strtol and strtoll do.
struct Decimal {
    unsigned long long magnitude;
    bool overflow;
};

void add_digit(Decimal &d, int digit, unsigned long long limit) {
    if (d.overflow)
        return;
    const auto v = static_cast<unsigned long long>(digit);
    if (d.magnitude > divide_u64(limit - v, 10)) {
        d.overflow = true;
        return;
    }
    d.magnitude = d.magnitude * 10 + v;
}

// The saturated value of a magnitude and sign within [min, max].
long long saturate(const Decimal &d, bool negative, long long min, long long max) {
    if (negative) {
        const unsigned long long limit = magnitude_of(min);
        if (d.overflow || d.magnitude >= limit)
            return min;
        return -static_cast<long long>(d.magnitude);
    }
    if (d.overflow || d.magnitude > static_cast<unsigned long long>(max))
        return max;
    return static_cast<long long>(d.magnitude);
}

// Reads an optionally signed decimal number from text, saturated within
// [min, max]. Returns the number of characters used (0 when no digit).
size_t scan_decimal(const char *text, long long min, long long max, long long *value) {
    const char *p = text;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        p++;
    if (!is_digit(*p))
        return 0;
    Decimal d{0, false};
    const unsigned long long limit = negative ? magnitude_of(min) : static_cast<unsigned long long>(max);
    while (is_digit(*p))
        add_digit(d, *p++ - '0', limit);
    *value = saturate(d, negative, min, max);
    return static_cast<size_t>(p - text);
}

} // namespace

int format_buffer(char *buf, size_t size, const char *fmt, va_list args) {
    Sink sink{buf, size, nullptr, 0, false};
    Args copy;
    va_copy(copy.list, args);
    format_core(sink, fmt, copy);
    va_end(copy.list);
    if (size != 0)
        buf[sink.length < size ? sink.length : size - 1] = '\0';
    return sink.length > INT_MAX ? -1 : static_cast<int>(sink.length);
}

int format_string(char *buf, size_t size, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int n = format_buffer(buf, size, fmt, args);
    va_end(args);
    return n;
}

int format_stream(FILE *stream, const char *fmt, va_list args) {
    Sink sink{nullptr, 0, stream, 0, false};
    Args copy;
    va_copy(copy.list, args);
    format_core(sink, fmt, copy);
    va_end(copy.list);
    if (sink.failed || sink.length > INT_MAX)
        return -1;
    return static_cast<int>(sink.length);
}

int print_to(FILE *stream, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int n = format_stream(stream, fmt, args);
    va_end(args);
    return n;
}

int parse_atoi(const char *text) {
    while (is_space(*text))
        text++;
    long long value = 0;
    if (scan_decimal(text, LONG_MIN, LONG_MAX, &value) == 0)
        return 0;
    return static_cast<int>(value);
}

bool scan_mtd_prefix(const char *line, int *index) {
    if (strncmp(line, "mtd", 3) != 0)
        return false;
    const char *p = line + 3;
    while (is_space(*p))
        p++;
    long long value = 0;
    if (scan_decimal(p, LONG_MIN, LONG_MAX, &value) == 0)
        return false;
    *index = static_cast<int>(value);
    return true;
}

bool scan_long_long(LineReader &file, long long *value) {
    int c = lines_getc(file);
    while (c >= 0 && is_space(c))
        c = lines_getc(file);
    const bool negative = c == '-';
    if (c == '-' || c == '+')
        c = lines_getc(file);
    if (!is_digit(c))
        return false;
    Decimal d{0, false};
    const unsigned long long limit = negative ? magnitude_of(LLONG_MIN) : static_cast<unsigned long long>(LLONG_MAX);
    while (c >= 0 && is_digit(c)) {
        add_digit(d, c - '0', limit);
        c = lines_getc(file);
    }
    *value = saturate(d, negative, LLONG_MIN, LLONG_MAX);
    return true;
}

long long read_number_file(const char *path) {
    LineReader file{};
    long long value = -1;
    if (lines_open(file, path) < 0)
        return -1;
    if (!scan_long_long(file, &value))
        value = -1;
    lines_close(file);
    return value;
}

uint64_t divide_u64(uint64_t value, uint64_t divisor, uint64_t *remainder) {
    uint64_t quotient = 0;
    uint64_t rest = 0;
    for (int bit = 63; bit >= 0; bit--) {
        rest = rest << 1 | (value >> bit & 1);
        if (rest >= divisor) {
            rest -= divisor;
            quotient |= UINT64_C(1) << bit;
        }
    }
    if (remainder != nullptr)
        *remainder = rest;
    return quotient;
}

bool contains(const char *haystack, const char *needle) {
    const size_t n = strlen(needle);
    for (const char *p = haystack; *p != '\0'; p++) {
        if (strncmp(p, needle, n) == 0)
            return true;
    }
    return n == 0;
}
