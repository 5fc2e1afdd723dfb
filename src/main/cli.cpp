#include "main/cli.h"

#include "base/log.h"
#include "base/options.h"
#include "base/process.h"
#include "base/text.h"
#include "image/fit_keys.h"
#include "stage1/stage_one.h"
#include "stage2/stage_two.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void print_usage() {
    print_to(stderr,
             "Usage: reflasher [-T] [-F] [-q|-v] [--part NAME] <image-file>\n"
             "\n"
             "  -T, --test       verify image but do not flash\n"
             "  -F, --force      ignore image check failures (dangerous!)\n"
             "  -q               less verbose\n"
             "  -v               more verbose\n"
             "      --part NAME  MTD partition name (default: %s)\n"
             "  -h, --help       this help\n"
             "\n"
             "Configuration is NOT preserved across the upgrade.\n",
             default_part_name);
}

namespace {

bool is(const char *arg, const char *option) { return strcmp(arg, option) == 0; }

// At -v --version: the keys a FIT must be signed with, if any.
void print_fit_keys() {
    const FitKeys &keys = built_in_fit_keys;
    if (keys.count == 0) {
        fputs("FIT signatures: not checked (no keys built in)\n", stdout);
        return;
    }
    print_to(stdout, "FIT signatures: every configuration signed with %s of these keys:\n", keys.any ? "one" : "each");
    for (int i = 0; i < keys.count; i++)
        print_to(stdout, "  %s (%s)\n", keys.keys[i].name, keys.keys[i].algo);
}

} // namespace

ParsedCommandLine parse_command_line(int argc, char **argv) {
    const char *image_path = nullptr;
    bool second_stage = false;

    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (is(arg, "--stage2")) {
            second_stage = true;
        } else if (is(arg, "-v")) {
            if (run_options.verbosity < INT_MAX)
                run_options.verbosity++;
        } else if (is(arg, "-q")) {
            if (run_options.verbosity > INT_MIN)
                run_options.verbosity--;
        } else if (is(arg, "-F") || is(arg, "--force")) {
            run_options.force = true;
        } else if (is(arg, "-T") || is(arg, "--test")) {
            run_options.test_only = true;
        } else if (is(arg, "-h") || is(arg, "--help")) {
            print_usage();
            return {RunMode::exit_now, 0, nullptr};
        } else if (is(arg, "-V") || is(arg, "--version")) {
            print_to(stdout, "reflasher %s\n", REFLASHER_VERSION);
            if (run_options.verbosity > 1)
                print_fit_keys();
            return {RunMode::exit_now, 0, nullptr};
        } else if (is(arg, "--part")) {
            if (i + 1 >= argc)
                fatal("--part requires an argument");
            run_options.part_name = argv[++i];
        } else if (is(arg, "--verbose")) {
            if (i + 1 >= argc)
                fatal("--verbose requires an argument");
            run_options.verbosity = parse_atoi(argv[++i]);
        } else if (arg[0] == '-' && arg[1] != '\0') {
            print_to(stderr, "Invalid option: %s\n", arg);
            return {RunMode::exit_now, 1, nullptr};
        } else {
            image_path = arg;
        }
    }

    if (image_path == nullptr) {
        print_usage();
        return {RunMode::exit_now, 1, nullptr};
    }
    return {second_stage ? RunMode::stage_two : RunMode::stage_one, 0, image_path};
}

int reflasher_main(int argc, char **argv) {
    // Before anything is opened: a closed standard descriptor would be
    // taken by the next open, and the program's messages would go there.
    if (open_missing_std_fds() < 0)
        exit(1);
    const ParsedCommandLine cmd = parse_command_line(argc, argv);
    switch (cmd.mode) {
    case RunMode::stage_one:
        return stage_one(cmd.image_path);
    case RunMode::stage_two:
        return stage_two(cmd.image_path);
    case RunMode::exit_now:
        break;
    }
    return cmd.exit_status;
}
