// tandemcheck: verifies two inputs against each other byte for byte.
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "cli/command_line.h"
#include "compare/comparison.h"
#include "interrupts.h"
#include "read/inputs.h"
#include "show/console.h"

int main(int argc, char* argv[])
{
    bool terminal = isatty(STDOUT_FILENO) == 1;
    command_line parsed = parse_command_line(argc, argv, stdout, stderr);
    if (!parsed.proceed)
        return parsed.status;
    input_pair inputs = open_inputs(parsed.settings, stderr);
    if (!inputs.ok)
        return inputs.status;
    console con = make_console(stdout, stderr, terminal, isatty(STDERR_FILENO) == 1, STDOUT_FILENO,
                               length_to_compare(inputs.input1, inputs.input2));
    // What the C library holds for standard output (the banner) goes out
    // before a caught signal can cut a write short: the library drops a
    // buffer whose write failed, and the report could not tell.
    std::fflush(stdout);
    catch_interrupts();
    run_result result = run_comparison(inputs.input1, inputs.input2, con, read_system_clock,
                                       inputs.check ? &*inputs.check : nullptr);
    if (result.signal != 0) {
        // End by the signal itself, so that the shell sees it.
        std::signal(result.signal, SIG_DFL);
        std::raise(result.signal);
    }
    return result.status;
}
