// Small tools for the guest scenarios and benchmarks, built with the same
// toolchain and C library as the program under test.
//   rig_helper strerror N        the C library's text for error number N
//                                (or ELOOP)
//   rig_helper noboot CMD ARGS   runs CMD without CAP_SYS_BOOT, so that
//                                reboot(2) is refused
//   rig_helper measure CMD ARGS  runs CMD; prints "MEASURE wall_ms cpu_ms
//                                maxrss_kb" on stderr
//   rig_helper stamp [--sample] TRIGGER
//                                copies stdin to stdout, each line after the
//                                milliseconds since start; at the line
//                                TRIGGER it also prints "PROBE cpu_ms
//                                peak_rss_kb peak_locked_kb" of the running
//                                stage two, whose memory --sample reads
//                                every 5 ms meanwhile
//   rig_helper ubiattach MTD VID_HDR_OFFSET
//                                attaches UBI to MTD device MTD (busybox's
//                                ubiattach cannot set the offset)
//   rig_helper rawwrite DEVICE IMAGE
//                                erases and writes the MTD device's blocks
//                                with the image and does nothing else (no
//                                read-back, no comparison): the floor that
//                                no writer can beat
//   rig_helper cut erase|write|reboot OFFSET BYTES CMD ARGS...
//                                runs CMD traced (and the stage two it
//                                becomes) and holds it stopped at a chosen
//                                moment: erase, once its MEMERASE of OFFSET
//                                (in the partition) has returned; write,
//                                once its write at OFFSET, cut short to
//                                BYTES, has returned (a power cut inside
//                                the program); reboot, on entering
//                                reboot(2). Then prints "RIG-CUT MOMENT
//                                OFFSET" and waits for the power to go
//                                (AArch64 only)
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <mtd/mtd-user.h>
#include <mtd/ubi-user.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#if defined(__aarch64__)
#include <asm/ptrace.h>
#include <linux/elf.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#endif

namespace {

long long now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int measure(char **argv) {
    const long long start = now_ms();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv);
        perror("execvp");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0) {
        perror("wait4");
        return 1;
    }
    const long long wall = now_ms() - start;
    const long long cpu = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000LL +
                          (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
    fprintf(stderr, "MEASURE %lld %lld %ld\n", wall, cpu, usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The process running stage two: the program itself (not the unshare or
// shell around it) with --stage2 among its arguments. 0 when none runs.
long find_stage_two() {
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return 0;
    long found = 0;
    while (dirent *e = readdir(proc)) {
        char path[300];
        snprintf(path, sizeof path, "/proc/%s/cmdline", e->d_name);
        FILE *f = fopen(path, "r");
        if (f == nullptr)
            continue;
        char cmd[512] = {};
        const size_t n = fread(cmd, 1, sizeof cmd - 1, f);
        fclose(f);
        const char *base = strrchr(cmd, '/');
        base = base != nullptr ? base + 1 : cmd;
        bool flag = false;
        for (size_t i = 0; i < n; i += strlen(cmd + i) + 1)
            flag = flag || strcmp(cmd + i, "--stage2") == 0;
        if (flag && strcmp(base, "reflasher") == 0) {
            found = atol(e->d_name);
            break;
        }
    }
    closedir(proc);
    return found;
}

int ubiattach(int mtd, int vid_hdr_offset) {
    const int ctrl = open("/dev/ubi_ctrl", O_RDONLY);
    ubi_attach_req req{};
    req.ubi_num = UBI_DEV_NUM_AUTO;
    req.mtd_num = mtd;
    req.vid_hdr_offset = vid_hdr_offset;
    if (ctrl < 0 || ioctl(ctrl, UBI_IOCATT, &req) < 0) {
        perror("ubiattach");
        return 1;
    }
    return 0;
}

int rawwrite(const char *device, const char *image) {
    const int dev = open(device, O_RDWR);
    const int in = open(image, O_RDONLY);
    mtd_info_user info{};
    if (dev < 0 || in < 0 || ioctl(dev, MEMGETINFO, &info) < 0) {
        perror("rawwrite");
        return 1;
    }
    auto *buf = static_cast<unsigned char *>(malloc(info.erasesize));
    for (uint32_t offset = 0;; offset += info.erasesize) {
        size_t fill = 0;
        ssize_t n = 1;
        while (fill < info.erasesize && (n = read(in, buf + fill, info.erasesize - fill)) > 0)
            fill += static_cast<size_t>(n);
        if (fill == 0)
            break;
        memset(buf + fill, 0xff, info.erasesize - fill);
        erase_info_user erase{offset, info.erasesize};
        if (ioctl(dev, MEMERASE, &erase) < 0 ||
            pwrite(dev, buf, info.erasesize, offset) != static_cast<ssize_t>(info.erasesize)) {
            perror("rawwrite");
            return 1;
        }
    }
    return 0;
}

#if defined(__aarch64__)
// The moments the power can be cut at: a syscall of the traced process,
// recognised at its entry, and held at its exit (or at its entry for
// reboot).
struct Moment {
    const char *event;
    unsigned long long offset;
    unsigned long long bytes;
};

bool entering(pid_t pid, const Moment &m, __ptrace_syscall_info &info) {
    const auto nr = info.entry.nr;
    const auto *args = info.entry.args;
    if (strcmp(m.event, "reboot") == 0)
        return nr == __NR_reboot;
    if (strcmp(m.event, "write") == 0 && nr == __NR_pwrite64 && args[3] == m.offset) {
        // The write is cut short: the rest of the block stays erased.
        user_pt_regs regs{};
        iovec io{&regs, sizeof regs};
        if (ptrace(PTRACE_GETREGSET, pid, NT_PRSTATUS, &io) < 0)
            return false;
        regs.regs[2] = m.bytes < args[2] ? m.bytes : args[2];
        return ptrace(PTRACE_SETREGSET, pid, NT_PRSTATUS, &io) == 0;
    }
    if (strcmp(m.event, "erase") == 0 && nr == __NR_ioctl && args[1] == MEMERASE) {
        // The request's first word (start, then length) from the tracee.
        errno = 0;
        const long word = ptrace(PTRACE_PEEKDATA, pid, args[2], 0);
        erase_info_user request{};
        memcpy(&request, &word, sizeof request);
        return errno == 0 && request.start == m.offset;
    }
    return false;
}

int cut(const Moment &m, char **argv) {
    const pid_t pid = fork();
    if (pid == 0) {
        // Stops at the exec, before the program's first instruction.
        ptrace(PTRACE_TRACEME, 0, 0, 0);
        execvp(argv[0], argv);
        perror("execvp");
        _exit(127);
    }
    int first = 0;
    if (pid < 0 || waitpid(pid, &first, 0) != pid || !WIFSTOPPED(first) ||
        ptrace(PTRACE_SETOPTIONS, pid, 0, PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEEXEC) < 0 ||
        ptrace(PTRACE_SYSCALL, pid, 0, 0) < 0) {
        perror("cut: tracing");
        return 1;
    }
    bool armed = false;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, __WALL) < 0 || !WIFSTOPPED(status)) {
            fprintf(stderr, "cut: the process ended before the moment came\n");
            return 1;
        }
        int deliver = 0;
        if (WSTOPSIG(status) == (SIGTRAP | 0x80)) {
            __ptrace_syscall_info info{};
            if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0)
                return 1;
            const bool reboot_now = strcmp(m.event, "reboot") == 0;
            if (info.op == PTRACE_SYSCALL_INFO_ENTRY && entering(pid, m, info)) {
                armed = true;
                if (reboot_now)
                    break;
            } else if (info.op == PTRACE_SYSCALL_INFO_EXIT && armed) {
                break;
            }
        } else if (status >> 16 == 0) {
            deliver = WSTOPSIG(status); // a signal, not a ptrace event
        }
        ptrace(PTRACE_SYSCALL, pid, 0, deliver);
    }
    printf("RIG-CUT %s 0x%llx\n", m.event, m.offset);
    fflush(stdout);
    for (;;)
        pause();
}
#endif

struct Sample {
    long peak_kb; // largest VmRSS or VmHWM seen
    long locked_kb;
    unsigned long cpu_ms;
};

// Samples the memory and CPU time of stage two; keeps the largest values.
void sample(long pid, Sample &s) {
    if (pid <= 0)
        return;
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/status", pid);
    FILE *f = fopen(path, "r");
    if (f == nullptr)
        return;
    char line[256];
    long v = 0;
    while (fgets(line, sizeof line, f) != nullptr) {
        if (sscanf(line, "VmHWM: %ld", &v) == 1 || sscanf(line, "VmRSS: %ld", &v) == 1)
            s.peak_kb = v > s.peak_kb ? v : s.peak_kb;
        if (sscanf(line, "VmLck: %ld", &v) == 1)
            s.locked_kb = v > s.locked_kb ? v : s.locked_kb;
    }
    fclose(f);
    snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    f = fopen(path, "r");
    if (f == nullptr)
        return;
    char stat[1024] = {};
    if (fgets(stat, sizeof stat, f) != nullptr) {
        const char *p = strrchr(stat, ')');
        unsigned long utime = 0, stime = 0;
        // After the command: state, then utime and stime are the 12th and
        // 13th fields.
        if (p != nullptr && sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) == 2)
            s.cpu_ms = (utime + stime) * 1000 / static_cast<unsigned long>(sysconf(_SC_CLK_TCK));
    }
    fclose(f);
}

int stamp(const char *trigger, bool sampling) {
    const long long start = now_ms();
    long pid = 0;
    Sample s{0, 0, 0};
    char line[4096];
    size_t used = 0;
    for (;;) {
        // When sampling, stage two's memory is read every 5 ms; otherwise
        // only at the trigger, so that timed runs share the CPU with nothing.
        pollfd in{0, POLLIN, 0};
        const int ready = poll(&in, 1, sampling ? 5 : -1);
        if (sampling) {
            if (pid == 0)
                pid = find_stage_two();
            sample(pid, s);
        }
        if (ready <= 0)
            continue;
        const ssize_t n = read(0, line + used, sizeof line - 1 - used);
        if (n <= 0)
            break;
        used += static_cast<size_t>(n);
        line[used] = '\0';
        char *eol;
        while ((eol = strchr(line, '\n')) != nullptr) {
            *eol = '\0';
            printf("%lld %s\n", now_ms() - start, line);
            if (strcmp(line, trigger) == 0) {
                if (pid == 0)
                    pid = find_stage_two();
                sample(pid, s);
                printf("PROBE %lu %ld %ld\n", s.cpu_ms, s.peak_kb, s.locked_kb);
            }
            fflush(stdout);
            used -= static_cast<size_t>(eol + 1 - line);
            memmove(line, eol + 1, used + 1);
        }
        if (used == sizeof line - 1)
            used = 0;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 3 && strcmp(argv[1], "strerror") == 0) {
        // By number, or by name where the numbers differ between
        // architectures (ELOOP is 40 on ARM, 90 on MIPS).
        puts(strerror(strcmp(argv[2], "ELOOP") == 0 ? ELOOP : atoi(argv[2])));
        return 0;
    }
    if (argc >= 3 && strcmp(argv[1], "noboot") == 0) {
        if (prctl(PR_CAPBSET_DROP, CAP_SYS_BOOT, 0, 0, 0) != 0) {
            perror("prctl");
            return 1;
        }
        execvp(argv[2], argv + 2);
        perror("execvp");
        return 1;
    }
    if (argc == 4 && strcmp(argv[1], "ubiattach") == 0)
        return ubiattach(atoi(argv[2]), atoi(argv[3]));
    if (argc == 4 && strcmp(argv[1], "rawwrite") == 0)
        return rawwrite(argv[2], argv[3]);
    if (argc >= 3 && strcmp(argv[1], "measure") == 0)
        return measure(argv + 2);
    if (argc == 3 && strcmp(argv[1], "stamp") == 0)
        return stamp(argv[2], false);
    if (argc == 4 && strcmp(argv[1], "stamp") == 0 && strcmp(argv[2], "--sample") == 0)
        return stamp(argv[3], true);
#if defined(__aarch64__)
    if (argc >= 6 && strcmp(argv[1], "cut") == 0)
        return cut(Moment{argv[2], strtoull(argv[3], nullptr, 0), strtoull(argv[4], nullptr, 0)}, argv + 5);
#endif
    fputs("usage: rig_helper strerror N | noboot CMD... | measure CMD... | stamp [--sample] TRIGGER | "
          "ubiattach MTD VID_HDR_OFFSET | rawwrite DEVICE IMAGE | cut erase|write|reboot OFFSET BYTES CMD...\n",
          stderr);
    return 2;
}
