#include "base/process.h"

#include "base/paths.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

constexpr int ignored_signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU};

constexpr char oom_score_adj_min[] = "-1000";

} // namespace

int open_missing_std_fds() {
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) >= 0)
            continue;
        // The lowest free descriptor: this one, since those below are open.
        const int opened = open(paths::dev_null, O_RDWR);
        if (opened != fd) {
            if (opened >= 0)
                (void)close(opened);
            return -1;
        }
    }
    return 0;
}

void ignore_terminating_signals() {
    for (const int sig : ignored_signals)
        (void)signal(sig, SIG_IGN);
    // A process-group leader cannot start a session; the ignored signals
    // are what matters then.
    (void)setsid();
}

void avoid_oom_killer() {
    const int fd = open(paths::oom_score_adj, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    const ssize_t ignored = write(fd, oom_score_adj_min, sizeof oom_score_adj_min - 1);
    (void)ignored;
    (void)close(fd);
}
