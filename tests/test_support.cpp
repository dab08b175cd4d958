#include "test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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
    using namespace expected;
    const std::size_t B = block_size;
    fault_table table;
    table.data = random_bytes(5 * B + B / 2, 5);
    table.other = table.data;
    table.other[B + 7] = static_cast<char>(~table.other[B + 7]);
    const std::string block1_report =
        "\n" +
        difference_at(B + 7, static_cast<unsigned char>(table.data[B + 7]),
                      static_cast<unsigned char>(table.other[B + 7]), 0) +
        retries;
    const std::string failed1 = "tandemcheck(): fread file 1():: Input/output error\n";
    const std::string failed2 = "tandemcheck(): fread file 2():: Input/output error\n";
    table.cases = {
        {1, 100, 1, 0, failed1 + summary(0, 0, 0)},
        {2, 100, 1, 0, failed2 + summary(0, 0, 0)},
        {1, 3 * B + 5, 4, 3 * B, block1_report + failed1 + summary(3 * B, 1, 1)},
        {2, 3 * B + 5, 4, 3 * B, block1_report + failed2 + summary(3 * B, 1, 1)},
        {1, 5 * B + 10, 6, 5 * B, block1_report + failed1 + summary(5 * B, 1, 1)},
        {2, 5 * B + 10, 6, 5 * B,
         block1_report + "EOF found in file1 at 180224\n" + failed2 + summary(5 * B, 1, 1)},
    };
    return table;
}

namespace expected {

std::string status_lines(std::initializer_list<std::uint64_t> counts, std::uint64_t errors,
                         std::uint64_t dblocks)
{
    std::string text;
    for (std::uint64_t count : counts) {
        char line[256];
        std::snprintf(
            line, sizeof line,
            "count=%llu (%.2fMB), speed=0kbps (0.00x) errors=%llu dblocks=%llu %08llx\033[K\r",
            static_cast<unsigned long long>(count), static_cast<double>(count) / 1e6,
            static_cast<unsigned long long>(errors), static_cast<unsigned long long>(dblocks),
            static_cast<unsigned long long>(count));
        text += line;
    }
    return text;
}

std::string difference_at(std::uint64_t position, int byte1, int byte2, std::uint64_t errors)
{
    char line[256];
    std::snprintf(line, sizeof line,
                  "DIFFERENCE count=%llu  file1=%d (0x%02x)  file2=%d (0x%02x)  errors=%llu i=%d "
                  "block=%llu\n",
                  static_cast<unsigned long long>(position), byte1, byte1, byte2, byte2,
                  static_cast<unsigned long long>(errors), static_cast<int>(position % block_size),
                  static_cast<unsigned long long>(position / block_size));
    return line;
}

std::string summary(std::uint64_t count, std::uint64_t errors, std::uint64_t dblocks)
{
    return "\n\nReady, " + std::to_string(count) + " bytes read, " + std::to_string(errors) +
           " errors found, " + std::to_string(dblocks) + " defective blocks\n";
}

const std::string retries = "retries=0 read block\n";

}  // namespace expected
