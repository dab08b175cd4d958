// Narrowing a failed request down to the medium's sectors.
#include "read/narrowing.h"

#include <algorithm>
#include <cerrno>

#include "read/block.h"

namespace {

// One request, told to the report.
ssize_t ask(const medium_read& read, narrowing_report& report, unsigned char* buffer,
            std::uint64_t length, std::uint64_t at, int& failure)
{
    errno = 0;
    ssize_t n = read(buffer, static_cast<std::size_t>(length), at);
    failure = errno;
    report.asked(at, length, n < 0);
    return n;
}

// The stretch found unreadable from `from` on (which a block's worth of
// failed sectors ends at) goes on: steps over it, each longer than the one
// before, until a sector reads or `bound` is reached, then bisection of the
// last step for the first sector that reads. Tells the stretch up to there
// as unreadable, step by step, and returns its end.
narrowed skip_over(const medium_read& read, unsigned char* probe, std::uint64_t from,
                   std::uint64_t sector, std::uint64_t bound, int error_number,
                   narrowing_report& report)
{
    std::uint64_t known = from;  // unreadable up to here
    std::uint64_t readable_at = bound;
    int failure = 0;
    for (std::uint64_t step = block_size; known < bound;
         step = std::min(2 * step, narrowing_max_step)) {
        std::uint64_t at = known + step - sector;
        if (at >= bound)
            break;
        if (ask(read, report, probe, sector, at, failure) >= 0) {
            readable_at = at;
            break;
        }
        if (report.stopping())
            return narrowed{known, false, true};
        report.unreadable(known, at + sector - known, error_number);
        known = at + sector;
    }
    if (report.stopping())
        return narrowed{known, false, true};
    // Every sector from `known` up to `readable_at` is in doubt: the first that reads ends the
    // stretch.
    while (known < readable_at) {
        std::uint64_t at = known + (readable_at - known) / sector / 2 * sector;
        ssize_t n = ask(read, report, probe, sector, at, failure);
        if (report.stopping())
            return narrowed{known, false, true};
        if (n >= 0) {
            readable_at = at;
        } else {
            report.unreadable(known, at + sector - known, error_number);
            known = at + sector;
        }
    }
    return narrowed{known, false, false};
}

}  // namespace

narrowed narrow_down(const medium_read& read, unsigned char* buffer, unsigned char* probe,
                     std::uint64_t start, std::uint64_t end, std::uint64_t sector,
                     std::uint64_t bound, narrowing_report& report)
{
    std::uint64_t at = start;
    std::uint64_t run = 0;  // unreadable bytes in a row, up to `at`
    int first_failure = 0;  // of that run
    int failure = 0;
    auto done = [&](std::uint64_t next, bool ended) { return narrowed{next, ended, false}; };
    // A block's worth, or a sector where sectors are larger.
    const std::uint64_t piece = std::max<std::uint64_t>(block_size, sector);
    while (at < end) {
        // One piece, or what is left of the stretch.
        const std::uint64_t piece_end = std::min(at + piece, end);
        ssize_t n = ask(read, report, buffer + (at - start), piece_end - at, at, failure);
        if (report.stopping())
            return narrowed{at, false, true};
        if (n == 0)
            return done(at, true);
        if (n > 0) {
            const std::uint64_t got = at + static_cast<std::uint64_t>(n);
            report.readable(at, static_cast<std::size_t>(n));
            run = 0;
            // Bytes that end inside a sector end the medium.
            if (got < piece_end && got % sector != 0)
                return done(got, true);
            at = got;
            if (got == piece_end)
                continue;
        }
        // The block failed, or read short: what is left of it, a sector at a time.
        for (; at < piece_end; at += sector) {
            n = ask(read, report, buffer + (at - start), sector, at, failure);
            if (report.stopping())
                return narrowed{at, false, true};
            if (n == 0)
                return done(at, true);
            if (n > 0) {
                report.readable(at, static_cast<std::size_t>(n));
                run = 0;
                if (static_cast<std::uint64_t>(n) < sector)
                    return done(at + static_cast<std::uint64_t>(n), true);
                continue;
            }
            if (run == 0)
                first_failure = failure;
            report.unreadable(at, sector, first_failure);
            run += sector;
            if (run >= piece) {
                narrowed skipped =
                    skip_over(read, probe, at + sector, sector, bound, first_failure, report);
                if (skipped.stopped || skipped.next >= end)
                    return skipped;
                // The rest of the failed stretch, block by block again.
                at = skipped.next;
                run = 0;
                break;
            }
        }
    }
    return done(at, false);
}

void note_request(retry_tally& tally, std::uint64_t at, std::uint64_t length, bool failed)
{
    const std::uint64_t to = at + length;
    // Only blocks a request failed for are counted: most requests touch none.
    if ((!failed && tally.blocks.empty()) || to <= tally.origin || length == 0)
        return;
    at = std::max(at, tally.origin);
    const std::uint64_t last = block_index(tally.origin, to - 1);
    for (std::uint64_t k = block_index(tally.origin, at); k <= last; ++k) {
        auto found = tally.blocks.find(k);
        if (found != tally.blocks.end())
            ++found->second;
        else if (failed)
            tally.blocks.emplace(k, 0);
    }
}

int take_retries(retry_tally& tally, std::uint64_t index)
{
    if (tally.blocks.empty())
        return 0;
    const int retries = retries_so_far(tally, index);
    tally.blocks.erase(tally.blocks.begin(), tally.blocks.upper_bound(index));
    return retries;
}

int retries_so_far(const retry_tally& tally, std::uint64_t index)
{
    auto found = tally.blocks.find(index);
    return found != tally.blocks.end() ? found->second : 0;
}
