// Opens the two inputs and positions each at its start offset.
#ifndef TANDEMCHECK_INPUTS_H
#define TANDEMCHECK_INPUTS_H

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <optional>

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

// The size of the disk behind `fd` (described by `st`), or nothing when it
// is no disk or the system cannot say.
std::optional<std::uint64_t> disk_size(int fd, const struct stat& st);

// How many bytes `stream` holds from its position on, where that can be
// known: regular files and disks. Pipes, character devices and regular
// files that report no size (as those under /proc do) give nothing.
std::optional<std::uint64_t> known_length(std::FILE* stream);

// The most a run over these two streams can compare: the smaller of their
// known lengths, or nothing when neither is known.
std::optional<std::uint64_t> length_to_compare(std::FILE* stream1, std::FILE* stream2);

// Writes "prefix: system text for error_number" as perror does, but to `err`.
void report_system_error(std::FILE* err, const char* prefix, int error_number);

#endif
