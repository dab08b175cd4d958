// Helpers shared by the tests: in-memory streams, temporary folders and
// running the built binary.
#ifndef TANDEMCHECK_TEST_SUPPORT_H
#define TANDEMCHECK_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "compare/comparison.h"
#include "memory_input.h"
#include "read/block.h"
#include "show/console.h"
#include "show/messages.h"
#include "show/status_printer.h"

// A write stream whose bytes can be read back.
struct memory_output {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* stream = nullptr;

    memory_output();
    ~memory_output();
    memory_output(const memory_output&) = delete;
    memory_output& operator=(const memory_output&) = delete;
    std::string text();  // flushes and returns everything written so far
};

// A clock that stands still at second 1000.
clock_reading still_clock();

// The status line off a terminal, as a string.
std::string status_line(const compare_tally& tally, const progress_meter& meter);

// The DIFFERENCE line as a string.
std::string difference_line(const difference& d);

// Random bytes from a seeded generator.
std::string random_bytes(std::size_t length, std::uint32_t seed);

// What snprintf gives for `format`: the fast formatting must match it.
std::string printed(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The SHA-256 of `bytes`, in lower-case hexadecimal.
std::string sha256_of(const std::string& bytes);

// Bytes whose value at position i is i % 251, so that expected reports can
// be written out by hand.
std::string pattern_bytes(std::size_t length);

// The run's exit status and both streams, captured in files.
struct process_result {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    int signal = 0;   // the signal that ended it, or 0
    std::string out;
    std::string err;
};

// Where standard output or standard error goes instead of its capture file:
// a path, or one of these two.
extern const std::string closed_stream;  // the descriptor is closed
extern const std::string broken_pipe;    // a pipe whose reader has gone

// Options for run_program.
struct run_options {
    std::string stdin_path;      // file for standard input; /dev/null when empty
    bool merge_streams = false;  // standard error into the same file as standard output
    uid_t uid = 0;               // with drop_privileges, the user to run as
    bool drop_privileges = false;
    std::string stdout_path;  // empty: captured
    std::string stderr_path;  // empty: captured
    bool ignore_sigpipe = false;
    // Called while the process runs, with its pid and the file capturing its
    // standard error.
    std::function<void(pid_t, const std::string&)> while_running;
    // A faulty build can read /dev/zero forever: every run is bounded.
    unsigned seconds = 120;                     // killed by SIGALRM after this
    std::uint64_t output_limit = 256ull << 20;  // largest file it may write, in bytes
};

// Runs `argv` (argv[0] is the program path) and waits for it.
process_result run_program(const std::vector<std::string>& argv, const run_options& options = {});

// Runs the built tandemcheck with `args`.
process_result run_tandemcheck(const std::vector<std::string>& args,
                               const run_options& options = {});

// Whether `program` is found on PATH.
bool have_program(const std::string& program);

// Replaces the speed figures of status lines with "speed=S", since they
// depend on when the clock ticks.
std::string without_speeds(const std::string& text);

// Reads or writes a whole file.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

// A fixture with a fresh temporary folder, removed afterwards.
class temp_folder_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string path(const std::string& name) const;  // a path inside the folder
    std::string folder;
};

// Status lines of a clock that stands still, at the counts they name.
extern const std::string line_at_0, line_at_32768, line_at_65536, line_at_98304;
// The line that ends a defective block's report.
extern const std::string retries;

// The banner every run starts with.
extern const std::string banner;
// The usage text.
extern const std::string usage;

// One read error of the fault table: where it strikes and what follows.
struct fault_case {
    int input;            // the input that fails, 1 or 2
    std::size_t fail_at;  // the byte whose read fails
    int read;             // the same as a count of that input's 32 KiB reads
    std::uint64_t count;  // bytes compared before the fault
    std::string err;      // standard error of the run, summary included
    std::string out;      // its status lines
};

// Two inputs of five and a half blocks with one difference in block 1, and
// read errors in the first, a middle and the last, partial block of each.
struct fault_table {
    std::string data, other;
    std::vector<fault_case> cases;
};
fault_table make_fault_table();

// The next operator new of at least `bytes` throws std::bad_alloc.
void fail_next_allocation_of(std::size_t bytes);

#endif
