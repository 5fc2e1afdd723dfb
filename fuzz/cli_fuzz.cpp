// Fuzz target: the command line parser over arbitrary argument vectors.
// The input is split at zero bytes into arguments. (Run it with
// -close_fd_mask=3: the usage text and the version would flood the
// fuzzer's output.)
#include "base/options.h"
#include "main/cli.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr int max_args = 64;

bool is_one_of(const char *p, char **args, int n) {
    for (int i = 1; i < n; i++) {
        if (p == args[i])
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    char buf[4096];
    if (size >= sizeof buf)
        return 0;
    memcpy(buf, data, size);
    buf[size] = '\0';

    char *args[max_args + 1];
    int argc = 0;
    args[argc++] = const_cast<char *>("reflasher");
    for (char *p = buf; p <= buf + size && argc < max_args; p += strlen(p) + 1)
        args[argc++] = p;
    args[argc] = nullptr;
    // An option missing its value ends the process through fatal(): a
    // tested path of its own, not one for the fuzzer.
    for (int i = 1; i < argc; i++) {
        if (strcmp(args[i], "--part") == 0 || strcmp(args[i], "--verbose") == 0) {
            if (i + 1 >= argc)
                return 0;
            i++;
        }
    }

    reset_run_options();
    const ParsedCommandLine cmd = parse_command_line(argc, args);
    if (cmd.mode == RunMode::exit_now) {
        if (cmd.exit_status != 0 && cmd.exit_status != 1)
            abort();
        return 0;
    }
    // The image path and the partition name always point into the vector.
    if (!is_one_of(cmd.image_path, args, argc))
        abort();
    if (run_options.part_name != default_part_name && !is_one_of(run_options.part_name, args, argc))
        abort();
    return 0;
}
