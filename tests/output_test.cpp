// Buffered writing that notices every failure and survives signals.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "show/output.h"
#include "test_support.h"

namespace {

// A stream whose writes fail from write number `fail_from` (from 0) on
// with `error`, as a full disk or a broken pipe keeps failing; or only that
// once where `once` is set. What the other writes carry is kept.
struct scripted_sink {
    std::size_t fail_from = SIZE_MAX;
    int error = 0;
    bool once = false;
    std::size_t writes = 0;
    std::string kept;
};

ssize_t scripted_write(void* cookie, const char* data, std::size_t size)
{
    auto* sink = static_cast<scripted_sink*>(cookie);
    std::size_t k = sink->writes++;
    if (k == sink->fail_from || (k > sink->fail_from && !sink->once)) {
        errno = sink->error;
        return -1;
    }
    sink->kept.append(data, size);
    return static_cast<ssize_t>(size);
}

// A buffered stream over `sink`.
std::FILE* open_scripted(scripted_sink& sink)
{
    cookie_io_functions_t functions{nullptr, scripted_write, nullptr, nullptr};
    std::FILE* stream = fopencookie(&sink, "w", functions);
    std::setvbuf(stream, nullptr, _IOFBF, 4096);
    return stream;
}

TEST(Output, WhatWaitsIsHandedOnOnlyWhenMoreWouldNotFit)
{
    memory_output stream;
    output_stream out = make_output(stream.stream);
    const std::size_t line = 192;
    std::memset(out.buffer.get(), 'r', output_room);
    // One byte of room too few: what waits goes out first.
    out.used = output_room - line + 1;
    char* at = output_reserve(out, line);
    EXPECT_EQ(out.buffer.get(), at);
    EXPECT_EQ(std::string(output_room - line + 1, 'r'), stream.text());
    // Exactly enough room: nothing is written yet.
    out.used = output_room - line;
    at = output_reserve(out, line);
    EXPECT_EQ(out.buffer.get() + output_room - line, at);
    EXPECT_EQ(output_room - line + 1, stream.text().size());
}

TEST(Output, TheFirstFailureIsKeptAndNothingIsWrittenAfterIt)
{
    const std::string report(3 * output_room / 2, 'x');
    struct row {
        scripted_sink sink;
        int error;          // what the output stream keeps
        std::size_t kept;   // bytes that arrive
        bool failed_first;  // a line written straight to the stream failed before
    };
    const std::vector<row> rows = {
        {{}, 0, report.size(), false},
        {{0, ENOSPC, false, 0, ""}, ENOSPC, 0, false},
        {{1, EPIPE, false, 0, ""}, EPIPE, report.size() / 2, false},
        // A line written to the stream directly (a trace) failed: the
        // stream's error indicator tells, though every later write succeeds.
        {{0, EIO, true, 0, ""}, EIO, report.size(), true},
    };
    for (const row& r : rows) {
        scripted_sink sink = r.sink;
        std::FILE* stream = open_scripted(sink);
        if (r.failed_first) {
            std::fputs("trace\n", stream);
            std::fflush(stream);
            sink.kept.clear();
        }
        output_stream out = make_output(stream);
        output_write(out, report.data(), report.size() / 2);
        output_write(out, report.data(), report.size() - report.size() / 2);
        output_flush(out);
        EXPECT_EQ(r.error, out.error) << r.sink.fail_from << " " << r.failed_first;
        EXPECT_EQ(r.kept, sink.kept.size()) << r.sink.fail_from << " " << r.failed_first;
        std::fclose(stream);
    }
}

extern "C" void ignore_alarm(int) {}

TEST(Output, AWriteThatASignalCutsShortIsFinished)
{
    // A pipe holds 64 KiB and its reader comes late: the write blocks with
    // part of the text in the pipe, and a timer's signal (no SA_RESTART)
    // cuts it short there. The rest must follow, in order.
    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    std::string text(4 * output_room, '\0');
    for (std::size_t k = 0; k < text.size(); ++k)
        text[k] = static_cast<char>(k * 7 / 5);
    struct sigaction alarm_action {
    }, old_action{};
    alarm_action.sa_handler = ignore_alarm;
    sigemptyset(&alarm_action.sa_mask);
    ASSERT_EQ(0, sigaction(SIGALRM, &alarm_action, &old_action));
    // The reader thread leaves the signal to this one.
    sigset_t alarm_only, old_mask;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm_only, &old_mask);
    std::string arrived;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        char chunk[4096];
        for (ssize_t n; (n = read(ends[0], chunk, sizeof chunk)) > 0;)
            arrived.append(chunk, static_cast<std::size_t>(n));
    });
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    struct itimerval timer {};
    timer.it_value.tv_usec = 100000;
    ASSERT_EQ(0, setitimer(ITIMER_REAL, &timer, nullptr));

    std::FILE* stream = fdopen(ends[1], "w");
    output_stream out = make_output(stream);
    output_write(out, text.data(), text.size());
    output_flush(out);
    EXPECT_EQ(0, out.error);
    std::fclose(stream);
    reader.join();
    close(ends[0]);
    sigaction(SIGALRM, &old_action, nullptr);
    EXPECT_EQ(text.size(), arrived.size());
    EXPECT_TRUE(text == arrived);
}

}  // namespace
