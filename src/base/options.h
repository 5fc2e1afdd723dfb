// The process-wide run options, set once by the command line parser and
// only read afterwards.
#pragma once

struct RunOptions {
    int verbosity;
    bool force;
    bool test_only;
    const char *part_name;
};

inline constexpr char default_part_name[] = "Firmware_1";

extern RunOptions run_options;

// Puts run_options back to its defaults.
void reset_run_options();
