// Small tools for the guest scenarios, built with the same toolchain and C
// library as the program under test.
//   rig_helper strerror N        the C library's text for error number N
//   rig_helper noboot CMD ARGS   runs CMD without CAP_SYS_BOOT, so that
//                                reboot(2) is refused
#include <linux/capability.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc == 3 && strcmp(argv[1], "strerror") == 0) {
        puts(strerror(atoi(argv[2])));
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
    fputs("usage: rig_helper strerror N | noboot CMD [ARGS...]\n", stderr);
    return 2;
}
