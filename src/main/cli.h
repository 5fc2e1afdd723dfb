// The command line: the entry routine and the parser behind it.
#pragma once

// Which road the parsed command line takes.
enum class RunMode { stage_one, stage_two, exit_now };

struct ParsedCommandLine {
    RunMode mode;
    int exit_status;        // meaningful when mode is exit_now
    const char *image_path; // meaningful otherwise
};

// Reads argv into run_options (which the caller has reset to its defaults)
// and decides the road. Prints the usage text or "Invalid option" itself;
// ends the process through fatal() when --part or --verbose lacks its value.
ParsedCommandLine parse_command_line(int argc, char **argv);

void print_usage();

// The program's entry routine: parse, then run stage one or stage two.
int reflasher_main(int argc, char **argv);
