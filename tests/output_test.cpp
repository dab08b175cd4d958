// Buffered writing that notices every failure and survives signals.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "compare/output.h"
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

}  // namespace
