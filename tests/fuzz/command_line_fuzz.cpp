// Fuzzes the command-line parser with argument vectors cut from the input
// at NUL bytes. Every word is its own allocation, so a read past an
// argument is caught by AddressSanitizer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "exit_status.h"

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "command_line_fuzz: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The parser's own diagnostics would drown the fuzzer's output; turning
    // them off changes nothing else in what getopt returns.
    opterr = 0;
    std::vector<std::string> words{"tandemcheck"};
    std::string word;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    if (!word.empty())
        words.push_back(word);

    std::vector<char*> argv;
    for (const std::string& w : words) {
        char* copy = static_cast<char*>(std::malloc(w.size() + 1));
        std::memcpy(copy, w.c_str(), w.size() + 1);
        argv.push_back(copy);
    }
    argv.push_back(nullptr);

    char* out_text = nullptr;
    char* err_text = nullptr;
    std::size_t out_size = 0, err_size = 0;
    std::FILE* out = open_memstream(&out_text, &out_size);
    std::FILE* err = open_memstream(&err_text, &err_size);
    command_line parsed = parse_command_line(static_cast<int>(words.size()), argv.data(), out, err);
    std::fclose(out);
    std::fclose(err);

    const std::string banner = "\ntandemcheck-0.3\n\n";
    check(out_size >= banner.size() && std::memcmp(out_text, banner.data(), banner.size()) == 0,
          "no banner");
    if (parsed.proceed) {
        check(parsed.settings.filename1 && parsed.settings.filename2, "a run without both names");
        check(out_size == banner.size(), "a run that also printed on standard output");
    } else {
        check(parsed.status == exit_trouble, "a refused command line with status 0");
        check(out_size > banner.size() || err_size > 0, "a refused command line with no message");
    }
    std::free(out_text);
    std::free(err_text);
    for (char* arg : argv)
        std::free(arg);
    return 0;
}
