#include "base/options.h"

RunOptions run_options = {1, false, false, default_part_name};

void reset_run_options() { run_options = RunOptions{1, false, false, default_part_name}; }
