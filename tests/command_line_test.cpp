// The command-line front end, driven in-process.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "test_support.h"

namespace {

struct parsed_run {
    command_line result;
    std::string out;         // standard output after the banner
    std::string err;         // what the front end wrote to its error stream
    std::string parser_err;  // what the option parser wrote to standard error
};

// Parses `args`; with `failing_allocation` set, the first allocation of at
// least that many bytes during the parse fails.
parsed_run parse(std::vector<std::string> args, std::size_t failing_allocation = 0)
{
    args.insert(args.begin(), "tandemcheck");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    memory_output out, err;
    parsed_run run;
    testing::internal::CaptureStderr();
    fail_next_allocation_of(failing_allocation);
    run.result =
        parse_command_line(static_cast<int>(args.size()), argv.data(), out.stream, err.stream);
    fail_next_allocation_of(0);
    run.parser_err = testing::internal::GetCapturedStderr();
    std::string all_out = out.text();
    EXPECT_EQ(banner, all_out.substr(0, banner.size()));
    run.out = all_out.substr(std::min(banner.size(), all_out.size()));
    run.err = err.text();
    return run;
}

const std::string no_name1 = "No filename1 specified, use -a filename, aborting\n";
const std::string no_name2 = "No filename2 specified, use -b filename, aborting\n";

TEST(CommandLine, RefusedCommandLinesGiveTheirMessagesAndStatus1)
{
    struct row {
        std::vector<std::string> args;
        std::string out;
        std::string err;
        bool parser_speaks;
    };
    const std::vector<row> rows = {
        {{}, usage, no_name1, false},
        {{"-h"}, usage, "", false},
        {{"-a", "x", "-b", "y", "-h"}, usage, "", false},
        {{"-d", "-a", "x"},
         usage,
         "filename1=x filename2=(null) offset1=0 offset2=0\n" + no_name2,
         false},
        {{"-b", "y"}, usage, no_name1, false},
        {{"-z"}, "Unknown option `-z'.\n" + usage, "", true},
        {{"-?"}, "Unknown option `-?'.\n" + usage, "", true},
        {{"-\x01"}, "Unknown option character `\\x1'.\n" + usage, "", true},
        {{"-\x7f"}, "Unknown option character `\\x7f'.\n" + usage, "", true},
        {{"-\xe9"}, "Unknown option character `\\xe9'.\n" + usage, "", true},
        {{"-a"}, "Unknown option `-a'.\n" + usage, "", true},
        {{"-a", "x", "-b", "y", "-o"}, "Unknown option `-o'.\n" + usage, "", true},
        // An option that ends the run does so before later faults are seen.
        {{"-h", "-z"}, usage, "", false},
        {{"-z", "-h"}, "Unknown option `-z'.\n" + usage, "", true},
        // Parsing stops at the first operand and after "--".
        {{"extra", "-a", "x", "-b", "y"}, usage, no_name1, false},
        {{"-a", "x", "--", "-b", "y"}, usage, no_name2, false},
        {{"-a", "x", "-", "-b", "y"}, usage, no_name2, false},
    };
    for (const row& r : rows) {
        parsed_run run = parse(r.args);
        std::string label = r.args.empty() ? "(no arguments)" : r.args[0] + " ...";
        EXPECT_FALSE(run.result.proceed) << label;
        EXPECT_EQ(1, run.result.status) << label;
        EXPECT_EQ(r.out, run.out) << label;
        EXPECT_EQ(r.err, run.err) << label;
        EXPECT_EQ(r.parser_speaks, !run.parser_err.empty()) << label << ": " << run.parser_err;
    }
}

TEST(CommandLine, AcceptedCommandLinesFillTheSettings)
{
    struct row {
        std::vector<std::string> args;
        std::string name1, name2;
        std::uint64_t offset1, offset2;
        int debug;
        bool keep = false;
        std::optional<std::string> checksum = std::nullopt;
    };
    const std::string long_name(64 * 1024, 'n');
    const std::vector<row> rows = {
        {{"-a", "x", "-b", "y"}, "x", "y", 0, 0, 0},
        {{"-a", "one", "-a", "two", "-b", "y"}, "two", "y", 0, 0, 0},
        {{"-a", "x", "-b", "y", "extra", "-z", "words"}, "x", "y", 0, 0, 0},
        {{"-dax", "-by", "-o512", "-p", "7"}, "x", "y", 512, 7, 1},
        {{"-dkax", "-by", "-o512", "-p", "7"}, "x", "y", 512, 7, 1, true},
        {{"-a", "x", "-k", "-b", "y"}, "x", "y", 0, 0, 0, true},
        {{"-dax", "-sSHA256SUMS", "-by", "-o512", "-p", "7"},
         "x",
         "y",
         512,
         7,
         1,
         false,
         "SHA256SUMS"},
        {{"-a", "x", "-b", "y", "-s", "a", "-s", " 9F "}, "x", "y", 0, 0, 0, false, " 9F "},
        {{"-a", "x", "-b", "y", "-o", "100", "-o", "200"}, "x", "y", 200, 0, 0},
        {{"-a", "x", "-b", "y", "-o", "abc", "-p", "0x800"}, "x", "y", 0, 0, 0},
        {{"-a", "", "-b", " spaced name "}, "", " spaced name ", 0, 0, 0},
        {{"-a", "-leading-dash", "-b", "caf\xc3\xa9\xff"},
         "-leading-dash",
         "caf\xc3\xa9\xff",
         0,
         0,
         0},
        {{"-a", long_name, "-b", "y"}, long_name, "y", 0, 0, 0},
        {{"-a", "x", "-b", "y", "-o", "18446744073709551615", "-p", "-1"},
         "x",
         "y",
         UINT64_MAX,
         UINT64_MAX,
         0},
    };
    for (const row& r : rows) {
        parsed_run run = parse(r.args);
        std::string label = r.args[0] + " " + r.args[1].substr(0, 20);
        ASSERT_TRUE(run.result.proceed) << label << ": " << run.err;
        const run_settings& s = run.result.settings;
        EXPECT_EQ(r.name1, *s.filename1) << label;
        EXPECT_EQ(r.name2, *s.filename2) << label;
        EXPECT_EQ(r.offset1, s.offset1) << label;
        EXPECT_EQ(r.offset2, s.offset2) << label;
        EXPECT_EQ(r.debug, s.debug_mode) << label;
        EXPECT_EQ(r.keep, s.keep_going) << label;
        EXPECT_EQ(r.checksum, s.checksum) << label;
        EXPECT_EQ("", run.out) << label;
        EXPECT_EQ(r.debug ? "filename1=x filename2=y offset1=512 offset2=7\n" : "", run.err)
            << label;
    }
}

TEST(CommandLine, TenThousandOptionsInOneCall)
{
    std::vector<std::string> args;
    for (int i = 0; i < 5000; ++i) {
        args.push_back("-o");
        args.push_back(std::to_string(i));
    }
    args.insert(args.end(), {"-a", "x", "-b", "y"});
    parsed_run run = parse(args);
    ASSERT_TRUE(run.result.proceed);
    EXPECT_EQ(4999u, run.result.settings.offset1);
}

TEST(CommandLine, OffsetsFollowTheDecimalNumberRules)
{
    const std::uint64_t untouched = 77;
    const std::vector<std::pair<std::string, std::uint64_t>> rows = {
        {"0", 0},
        {"512", 512},
        {"512x", 512},
        {"  \t\n42", 42},
        {"+7", 7},
        {"-1", UINT64_MAX},
        {"-2", UINT64_MAX - 1},
        {"0x800", 0},
        {"007", 7},
        {"9223372036854775807", 9223372036854775807ull},
        {"9223372036854775808", 9223372036854775808ull},
        {"18446744073709551615", UINT64_MAX},
        {"18446744073709551616", UINT64_MAX},
        {"99999999999999999999999", UINT64_MAX},
        {"abc", untouched},
        {"", untouched},
        {"-", untouched},
        {"+", untouched},
        {" ", untouched},
        {"- 5", untouched},
    };
    for (const auto& [text, expected] : rows) {
        std::uint64_t offset = untouched;
        read_offset(text.c_str(), offset);
        EXPECT_EQ(expected, offset) << '"' << text << '"';
    }
}

TEST(CommandLine, NameCopiesThatCannotBeAllocated)
{
    const std::string big_name(200000, 'n');
    for (const char* option : {"-a", "-b"}) {
        parsed_run run = parse({"-a", "x", option, big_name, "-b", "y"}, big_name.size());
        EXPECT_FALSE(run.result.proceed);
        EXPECT_EQ(1, run.result.status);
        EXPECT_EQ("", run.out);
        EXPECT_EQ(std::string("Could not allocate space for filename") +
                      (option[1] == 'a' ? "1" : "2") + ", aborting.\n",
                  run.err);
    }
}

}  // namespace
