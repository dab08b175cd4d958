// The command-line front end: banner, options, usage text.
#ifndef TANDEMCHECK_COMMAND_LINE_H
#define TANDEMCHECK_COMMAND_LINE_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/run_settings.h"

// The version shown in the banner.
constexpr const char* tandemcheck_version = "0.3";

// What parsing decided: go on with the settings, or stop with a status.
struct command_line {
    bool proceed = false;  // true: both names given, run with `settings`
    int status = 0;        // exit status when not proceeding
    run_settings settings;
};

// Writes the banner, parses argv ("a:b:dhko:p:s:", POSIX rules) and checks that
// both inputs were named. Messages go to `out` and `err`; the option parser's
// own diagnostics go to the process's standard error.
command_line parse_command_line(int argc, char* argv[], std::FILE* out, std::FILE* err);

// A private copy of `text`, or nothing when memory runs out.
std::optional<std::string> duplicate_name(const char* text);

// Reads the leading decimal number of `text` into `offset` (white space and a
// sign allowed, negative numbers wrap, trailing text ignored); leaves
// `offset` alone when `text` does not begin with a number.
void read_offset(const char* text, std::uint64_t& offset);

// Writes the usage text.
void write_usage(std::FILE* out);

#endif
