#include "test_support.h"

#include "platform.h"
#include "read/checksum.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

namespace {

void remove_tree(const std::string& path)
{
    std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0)
        ADD_FAILURE() << "could not remove " << path;
}

}  // namespace

memory_output::memory_output() : stream(open_memstream(&data, &size)) {}

memory_output::~memory_output()
{
    std::fclose(stream);
    std::free(data);
}

std::string memory_output::text()
{
    std::fflush(stream);
    return std::string(data, size);
}

clock_reading still_clock()
{
    return clock_reading{1000, 0};
}

std::string random_bytes(std::size_t length, std::uint32_t seed)
{
    std::mt19937 generator(seed);
    std::string bytes(length, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xff);
    return bytes;
}

std::string status_line(const compare_tally& tally, const progress_meter& meter)
{
    char line[status_line_room];
    speed_text speeds;
    return std::string(line, format_status_line(line, tally, meter, speeds));
}

std::string difference_line(const difference& d)
{
    char line[difference_line_room];
    return std::string(line, put_difference(line, d));
}

std::string printed(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return std::string(text, static_cast<std::size_t>(n));
}

std::string sha256_of(const std::string& bytes)
{
    digest_handle digest = start_digest(digest_algorithm::sha256);
    add_to_digest(*digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return hex_of(finish_digest(*digest));
}

std::string pattern_bytes(std::size_t length)
{
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

namespace {

// Points descriptor `fd` of the child at `target`, or at `capture` when
// `target` is empty; false when that fails.
bool redirect(int fd, const std::string& target, int capture, int broken_pipe_end)
{
    if (target.empty())
        return dup2(capture, fd) >= 0;
    if (target == closed_stream)
        return close(fd) == 0;
    if (target == broken_pipe)
        return dup2(broken_pipe_end, fd) >= 0;
    int opened = open(target.c_str(), O_WRONLY);
    return opened >= 0 && dup2(opened, fd) >= 0;
}

}  // namespace

const std::string closed_stream = "(closed)";
const std::string broken_pipe = "(broken pipe)";

process_result run_program(const std::vector<std::string>& argv, const run_options& options)
{
    char out_template[] = "/tmp/tandemcheck-out-XXXXXX";
    char err_template[] = "/tmp/tandemcheck-err-XXXXXX";
    int out_fd = mkstemp(out_template);
    int err_fd = mkstemp(err_template);
    int pipe_ends[2];
    process_result result;
    if (out_fd < 0 || err_fd < 0 || pipe(pipe_ends) != 0) {
        ADD_FAILURE() << "mkstemp or pipe failed";
        return result;
    }
    close(pipe_ends[0]);  // the reader is gone before the run starts
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::string in_path = options.stdin_path.empty() ? "/dev/null" : options.stdin_path;

    pid_t pid = fork();
    if (pid == 0) {
        int in_fd = open(in_path.c_str(), O_RDONLY);
        if (in_fd < 0 || dup2(in_fd, 0) < 0 ||
            !redirect(1, options.stdout_path, out_fd, pipe_ends[1]) ||
            !redirect(2, options.stderr_path, options.merge_streams ? out_fd : err_fd,
                      pipe_ends[1]))
            _exit(125);
        if (options.drop_privileges && (setgid(options.uid) != 0 || setuid(options.uid) != 0))
            _exit(126);
        signal(SIGPIPE, options.ignore_sigpipe ? SIG_IGN : SIG_DFL);
        for (int s : {SIGINT, SIGTERM, SIGHUP})
            signal(s, SIG_DFL);
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = options.output_limit;
        setrlimit(RLIMIT_FSIZE, &limit);
        alarm(options.seconds);  // survives execv
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    if (options.while_running)
        options.while_running(pid, err_template);
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    if (WIFEXITED(wait_status))
        result.status = WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status))
        result.signal = WTERMSIG(wait_status);
    result.out = read_file(out_template);
    result.err = read_file(err_template);
    close(out_fd);
    close(err_fd);
    unlink(out_template);
    unlink(err_template);
    return result;
}

process_result run_tandemcheck(const std::vector<std::string>& args, const run_options& options)
{
    std::vector<std::string> argv{TANDEMCHECK_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, options);
}

bool have_program(const std::string& program)
{
    std::string command = "command -v " + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string without_speeds(const std::string& text)
{
    static const std::regex speed("speed=[0-9]+kbps \\([0-9]+\\.[0-9][0-9]x\\)");
    return std::regex_replace(text, speed, "speed=S");
}

void temp_folder_test::SetUp()
{
    char name[] = "/tmp/tandemcheck-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(name));
    folder = name;
}

void temp_folder_test::TearDown()
{
    remove_tree(folder);
}

std::string temp_folder_test::path(const std::string& name) const
{
    return folder + "/" + name;
}

const std::string line_at_0 =
    "count=0 (0.00MB), speed=0kbps (0.00x) errors=0 dblocks=0 00000000\033[K\r";
const std::string line_at_32768 =
    "count=32768 (0.03MB), speed=0kbps (0.00x) errors=0 dblocks=0 00008000\033[K\r";
const std::string line_at_65536 =
    "count=65536 (0.07MB), speed=0kbps (0.00x) errors=0 dblocks=0 00010000\033[K\r";
const std::string line_at_98304 =
    "count=98304 (0.10MB), speed=0kbps (0.00x) errors=0 dblocks=0 00018000\033[K\r";
const std::string retries = "retries=0 read block\n";

const std::string banner = "\ntandemcheck-0.3\n\n";

const std::string usage =
    "Usage:  tandemcheck -a file1 -b file [-d] [-h] [-o offset in file 1] [-p offset in file 2]\n"
    "\n"
    "-d      debug mode, print functuons and arguments.\n"
    "-h      help (this help)\n"
    "-a      filename of first input file.\n"
    "-b      filename of second input file.\n"
    "-o      offset from start in bytes in first input file (default 0).\n"
    "-p      offset from start in bytes in second input file (default 0).\n";

fault_table make_fault_table()
{
    const std::size_t B = block_size;
    fault_table table;
    table.data = pattern_bytes(5 * B + B / 2);
    table.other = table.data;
    table.other[B + 7] = static_cast<char>(~table.other[B + 7]);
    const std::string block1_report =
        "\nDIFFERENCE count=32775  file1=145 (0x91)  file2=110 (0x6e)  errors=0 i=7 block=1\n"
        "retries=0 read block\n";
    const std::string failed1 = "tandemcheck(): fread file 1():: Input/output error\n";
    const std::string failed2 = "tandemcheck(): fread file 2():: Input/output error\n";
    const std::string nothing = "\n\nReady, 0 bytes read, 0 errors found, 0 defective blocks\n";
    const std::string three = "\n\nReady, 98304 bytes read, 1 errors found, 1 defective blocks\n";
    const std::string five = "\n\nReady, 163840 bytes read, 1 errors found, 1 defective blocks\n";
    const std::string lines3 =
        "count=0 (0.00MB), speed=0kbps (0.00x) errors=0 dblocks=0 00000000\033[K\r"
        "count=32768 (0.03MB), speed=0kbps (0.00x) errors=0 dblocks=0 00008000\033[K\r"
        "count=65536 (0.07MB), speed=0kbps (0.00x) errors=1 dblocks=1 00010000\033[K\r";
    const std::string lines5 =
        lines3 + "count=98304 (0.10MB), speed=0kbps (0.00x) errors=1 dblocks=1 00018000\033[K\r"
                 "count=131072 (0.13MB), speed=0kbps (0.00x) errors=1 dblocks=1 00020000\033[K\r";
    // The last status line shows the summary's figures.
    const std::string end3 =
        "count=98304 (0.10MB), speed=0kbps (0.00x) errors=1 dblocks=1 00018000\033[K\r";
    const std::string end5 =
        "count=163840 (0.16MB), speed=0kbps (0.00x) errors=1 dblocks=1 00028000\033[K\r";
    table.cases = {
        {1, 100, 1, 0, failed1 + nothing, line_at_0},
        {2, 100, 1, 0, failed2 + nothing, line_at_0},
        {1, 3 * B + 5, 4, 3 * B, block1_report + failed1 + three, lines3 + end3},
        {2, 3 * B + 5, 4, 3 * B, block1_report + failed2 + three, lines3 + end3},
        {1, 5 * B + 10, 6, 5 * B, block1_report + failed1 + five, lines5 + end5},
        {2, 5 * B + 10, 6, 5 * B, block1_report + "EOF found in file1 at 180224\n" + failed2 + five,
         lines5 + end5},
    };
    return table;
}
