// What the command line asks for: the two inputs and where to start in each.
#ifndef TANDEMCHECK_RUN_SETTINGS_H
#define TANDEMCHECK_RUN_SETTINGS_H

#include <cstdint>
#include <optional>
#include <string>

// One record for the whole run, filled by the command-line parser.
struct run_settings {
    std::optional<std::string> filename1;  // path given with -a
    std::optional<std::string> filename2;  // path given with -b
    std::uint64_t offset1 = 0;             // start offset in the first input (-o)
    std::uint64_t offset2 = 0;             // start offset in the second input (-p)
    int debug_mode = 0;                    // 1 with -d: trace lines on standard error
    bool keep_going = false;               // -k: read on past what a medium cannot read
    std::optional<std::string> checksum;   // -s: a checksum list, or a digest, for the image
};

#endif
