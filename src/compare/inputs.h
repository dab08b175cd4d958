// Opens the two inputs and positions each at its start offset.
#ifndef TANDEMCHECK_INPUTS_H
#define TANDEMCHECK_INPUTS_H

#include <cstdio>

#include "cli/run_settings.h"

// The two positioned input streams, or the status to end with.
struct input_pair {
    std::FILE* stream1 = nullptr;  // the input given with -a
    std::FILE* stream2 = nullptr;  // the input given with -b
    bool ok = false;               // false: nothing is open, end with `status`
    int status = 0;
};

// Opens both inputs read-only and seeks to the start offsets. Failures are
// reported on `err`; on failure no stream is left open.
input_pair open_inputs(const run_settings& settings, std::FILE* err);

// Writes "prefix: system text for error_number" as perror does, but to `err`.
void report_system_error(std::FILE* err, const char* prefix, int error_number);

#endif
