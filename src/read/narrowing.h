// Reading a failed stretch of a medium again in smaller requests (-k), so
// that every readable sector is read and every unreadable one located.
//
// A failed request is asked again a block at a time, and a failing block a
// sector at a time; no sector is asked for more than four times (the
// request, what is left of it after a short count, its block, itself).
// Once a block's worth of sectors in a row is unreadable, the reader skips
// ahead in growing steps of one sector each, up to narrowing_max_step, and
// finds the end of the stretch by bisection: a dead half of a disc costs
// a few hundred requests, not one per sector, and a readable island shorter
// than the step may be taken for unreadable.
#ifndef TANDEMCHECK_NARROWING_H
#define TANDEMCHECK_NARROWING_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>

#include "read/inputs.h"

// The longest step over an unreadable stretch.
constexpr std::uint64_t narrowing_max_step = std::uint64_t{1} << 20;

// What narrowing finds, told as it goes, in input order.
struct narrowing_report {
    virtual ~narrowing_report() = default;
    // A request for `length` bytes at `at` was made, and whether it failed.
    virtual void asked(std::uint64_t at, std::uint64_t length, bool failed) = 0;
    // `length` bytes at `at` were read into the buffer, at `at` - start.
    virtual void readable(std::uint64_t at, std::size_t length) = 0;
    // `length` bytes at `at` could not be read; `error_number` says why.
    virtual void unreadable(std::uint64_t at, std::uint64_t length, int error_number) = 0;
    // Whether to stop at once: the run is over.
    virtual bool stopping() = 0;
};

// Where narrowing ended.
struct narrowed {
    std::uint64_t next = 0;  // the first position not yet told of
    bool ended = false;      // the medium ends at `next`
    bool stopped = false;    // stopping() said so
};

// Reads the stretch from `start` to `end` again, which a request failed
// to read (or read short, twice): block by block into `buffer` (which
// holds `end` - `start` bytes), a failing block sector by sector (`sector`
// bytes, the medium's, which `start` is a multiple of). An unreadable stretch may be
// followed past `end`, with requests for one sector into `probe` (room for
// a sector), but never to `bound` or past it. `start` lies below `bound`.
narrowed narrow_down(const medium_read& read, unsigned char* buffer, unsigned char* probe,
                     std::uint64_t start, std::uint64_t end, std::uint64_t sector,
                     std::uint64_t bound, narrowing_report& report);

// How often the bytes of each block were asked for again after the first
// failed request that held them; blocks numbered by block_index from `origin`.
struct retry_tally {
    std::uint64_t origin = 0;
    // By index, the blocks a request failed for: the requests for their
    // bytes since.
    std::map<std::uint64_t, int> blocks;
};

// A request for `length` bytes at `at` was made, and whether it failed.
void note_request(retry_tally& tally, std::uint64_t at, std::uint64_t length, bool failed);

// The retries of block `index`, which is handed on: it and the blocks
// before it are forgotten.
int take_retries(retry_tally& tally, std::uint64_t index);

// The retries of block `index` so far.
int retries_so_far(const retry_tally& tally, std::uint64_t index);

#endif
