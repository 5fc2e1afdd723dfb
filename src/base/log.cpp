#include "base/log.h"

#include "base/options.h"
#include "base/paths.h"
#include "base/text.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t message_size = 1024;

// A regular file with no other name; then blocking mode again.
bool is_plain_file(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)
        return false;
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

} // namespace

void log_progress_to(const char *log_path, const char *fmt, va_list args) {
    char message[message_size];
    if (format_buffer(message, sizeof message, fmt, args) < 0)
        return;

    if (run_options.verbosity > 0)
        print_to(stderr, "upgrade: %s\n", message);

    // Opened for every message and closed at once, so a crash or a restart
    // loses nothing already logged. What another user may plant at the name
    // in /tmp is never written: a symbolic link (O_NOFOLLOW), a FIFO (it
    // would block the run for good; O_NONBLOCK makes its open fail or
    // return at once) or a hard link to some other file.
    const int fd = open(log_path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    if (!is_plain_file(fd)) {
        (void)close(fd);
        return;
    }
    // One write per line: O_APPEND keeps concurrent lines whole.
    char line[message_size + sizeof "upgrade: \n"];
    const int len = format_string(line, sizeof line, "upgrade: %s\n", message);
    const ssize_t ignored = write(fd, line, static_cast<size_t>(len));
    (void)ignored;
    (void)close(fd);
}

void log_progress(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    log_progress_to(paths::log_file, fmt, args);
    va_end(args);
}

void fatal(const char *fmt, ...) {
    fputs("ERROR: ", stderr);
    va_list args;
    va_start(args, fmt);
    (void)format_stream(stderr, fmt, args);
    va_end(args);
    fputc('\n', stderr);
    exit(1);
}
