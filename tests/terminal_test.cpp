// The status line on a real terminal, read off a tmux pane.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

class Terminal : public temp_folder_test {
protected:
    void SetUp() override
    {
        if (!have_program("tmux"))
            GTEST_SKIP() << "tmux is not installed";
        temp_folder_test::SetUp();
        socket = "tandemcheck-" + std::to_string(getpid());
    }

    void TearDown() override
    {
        if (socket.empty())
            return;
        tmux("kill-server");
        temp_folder_test::TearDown();
    }

    std::string tmux(const std::string& arguments)
    {
        std::string command = "tmux -f /dev/null -L " + socket + " " + arguments + " 2>/dev/null";
        std::string output;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char chunk[4096];
            for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
                output.append(chunk, n);
            pclose(pipe);
        }
        return output;
    }

    std::vector<std::string> screen()
    {
        std::vector<std::string> rows;
        std::istringstream lines(tmux("capture-pane -p -t run"));
        for (std::string line; std::getline(lines, line);)
            rows.push_back(line);
        return rows;
    }

    std::string socket;
};

struct status_row {
    int row = -1;
    unsigned long long count = 0;
    std::string megabytes;  // empty where a narrow terminal left it out
    int percent = -1;
    bool time_left = false;
};

std::vector<status_row> status_rows(const std::vector<std::string>& rows)
{
    static const std::regex status("^count=([0-9]+)( \\(([0-9]+\\.[0-9][0-9])MB\\))?");
    static const std::regex outlook("  ([0-9]+)%( [0-9]+:[0-9][0-9] left)?$");
    std::vector<status_row> found;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::smatch m, o;
        if (!std::regex_search(rows[r], m, status))
            continue;
        status_row row{static_cast<int>(r), std::stoull(m[1]), m[3]};
        if (std::regex_search(rows[r], o, outlook)) {
            row.percent = std::stoi(o[1]);
            row.time_left = o[2].matched;
        }
        found.push_back(row);
    }
    return found;
}

std::string megabytes_of(unsigned long long count)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(count) / 1e6);
    return text;
}

TEST_F(Terminal, OneWholeStatusRowThatStaysPut)
{
    const std::size_t blocks = 80;
    const std::string data = random_bytes(blocks * block_size, 9);
    const std::string file = path("image");
    write_file(file, data);
    const std::string fifo = path("drive");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));

    tmux("new-session -d -s run -x 60 -y 20 'stty cols 60 rows 20; " +
         std::string(TANDEMCHECK_BINARY) + " -a " + file + " -b " + fifo +
         "; echo EXIT=$?; sleep 60'");
    signal(SIGPIPE, SIG_IGN);
    std::thread writer([&] {
        int fd = open(fifo.c_str(), O_WRONLY);
        for (std::size_t b = 0; fd >= 0 && b < blocks; ++b) {
            if (write(fd, data.data() + b * block_size, block_size) !=
                static_cast<ssize_t>(block_size))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        close(fd);
    });

    int captures = 0;
    int row = -1;
    int percent = 0;
    bool time_left = false;
    std::vector<std::string> rows;
    for (auto start = std::chrono::steady_clock::now();
         std::chrono::steady_clock::now() - start < std::chrono::seconds(20);) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        rows = screen();
        std::string all;
        for (const std::string& r : rows)
            all += r + "\n";
        if (all.find("EXIT=") != std::string::npos)
            break;
        if (all.find("EOF found") != std::string::npos)
            continue;  // the run is finishing
        std::vector<status_row> found = status_rows(rows);
        if (found.empty() && row < 0)
            continue;  // the first block has not arrived yet
        ++captures;
        ASSERT_EQ(1u, found.size()) << all;
        if (row < 0)
            row = found[0].row;
        EXPECT_EQ(row, found[0].row) << all;
        EXPECT_EQ(0u, found[0].count % block_size) << all;
        if (!found[0].megabytes.empty()) {
            EXPECT_EQ(megabytes_of(found[0].count), found[0].megabytes) << all;
        }
        EXPECT_LE(rows[static_cast<std::size_t>(found[0].row)].size(), 59u) << "the row wraps";
        // The image's length is known, the drive's is not: percent of the image.
        EXPECT_EQ(static_cast<int>(found[0].count * 100 / data.size()), found[0].percent) << all;
        EXPECT_GE(found[0].percent, percent) << all;
        percent = found[0].percent;
        time_left = time_left || found[0].time_left;
    }
    writer.join();
    EXPECT_GE(captures, 5) << "too few captures while the run went on";
    EXPECT_TRUE(time_left) << "no time left was shown";

    // After the run: one status row with the last pass's count, above the summary.
    std::vector<status_row> found = status_rows(rows);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(blocks * block_size, found[0].count);
    EXPECT_EQ(100, found[0].percent);
    std::string all;
    int summary_row = -1;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        all += rows[r] + "\n";
        // The summary itself may wrap on a narrow terminal.
        if (rows[r].rfind("Ready, 2621440 bytes read, 0 errors found", 0) == 0)
            summary_row = static_cast<int>(r);
    }
    EXPECT_GT(summary_row, found[0].row) << all;
    EXPECT_NE(std::string::npos, all.find("EXIT=0")) << all;
}

TEST_F(Terminal, ANarrowTerminalWithTheReportElsewhereKeepsItsRowWhole)
{
    // The width is asked of the terminal the row is on, not of standard
    // error, which goes to a file here.
    const std::string image = path("image");
    write_file(image, random_bytes(3 * block_size, 11));
    tmux("new-session -d -s run -x 40 -y 10 'stty cols 40 rows 10; " +
         std::string(TANDEMCHECK_BINARY) + " -a " + image + " -b " + image + " 2>" +
         path("report") + "; echo NEXT; sleep 60'");
    std::vector<std::string> rows;
    for (int i = 0; i < 100; ++i) {
        rows = screen();
        if (std::find(rows.begin(), rows.end(), "NEXT") != rows.end())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const auto next = std::find(rows.begin(), rows.end(), "NEXT");
    ASSERT_TRUE(next != rows.end() && next != rows.begin()) << "the run never ended";
    const std::string& last = *(next - 1);
    EXPECT_EQ(0u, last.rfind("count=98304", 0)) << last;
    EXPECT_LE(last.size(), 39u) << last;
}

TEST_F(Terminal, ARunEndsWithTheCursorBelowItsLastRow)
{
    // What the shell writes next ("Terminated", its next command) must not
    // land on the last status row: neither when the report goes to a file,
    // nor when a signal ends the run while the report comes to the screen.
    const std::string image = path("image");
    write_file(image, random_bytes(3 * block_size, 10));
    const std::string fifo = path("drive");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const std::string binary = TANDEMCHECK_BINARY;
    const std::string pid_file = path("pid");
    tmux("new-session -d -s run -x 100 -y 20 'stty cols 100 rows 20; " + binary + " -a " + image +
         " -b " + image + " 2>" + path("report") + "; echo NEXT-1; sh -c \"echo \\$\\$ >" +
         pid_file + "; exec " + binary + " -a " + image + " -b " + fifo +
         "\"; echo NEXT-2; sleep 60'");
    signal(SIGPIPE, SIG_IGN);
    // The drive delivers two blocks, then stalls until SIGTERM ends the run.
    int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::string blocks = random_bytes(2 * block_size, 10);
    ASSERT_EQ(static_cast<ssize_t>(blocks.size()), write(fd, blocks.data(), blocks.size()));
    std::vector<std::string> rows;
    bool signalled = false;
    for (int i = 0; i < 100 && !signalled; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        rows = screen();
        if (std::find(rows.begin(), rows.end(), "NEXT-1") == rows.end())
            continue;
        // Both blocks compared by now: the run waits for the third.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const int pid = std::atoi(read_file(pid_file).c_str());
        signalled = pid > 0 && kill(pid, SIGTERM) == 0;
    }
    EXPECT_TRUE(signalled) << "the first run never ended";
    for (int i = 0; i < 100; ++i) {
        rows = screen();
        if (!rows.empty() && std::find(rows.begin(), rows.end(), "NEXT-2") != rows.end())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    close(fd);
    std::string all;
    for (const std::string& row : rows)
        all += row + "\n";
    EXPECT_NE(std::string::npos,
              all.find("\ncount=98304 (0.10MB), speed=0kbps (0.00x) errors=0 dblocks=0 00018000"
                       "  100%\nNEXT-1\n"))
        << all;
    EXPECT_NE(std::string::npos,
              all.find("\ncount=32768 (0.03MB), speed=0kbps (0.00x) errors=0 dblocks=0 00008000"
                       "  33%\n"))
        << all;
}

}  // namespace
