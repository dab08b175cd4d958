// The thread that reads a medium ahead of the comparison.
#include "read/read_ahead.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "interrupts.h"
#include "platform.h"
#include "read/access.h"
#include "read/block.h"
#include "read/buffers.h"
#include "read/cutter.h"
#include "read/hashing.h"
#include "read/narrowing.h"

namespace {

// The slots of a medium lie in one region aligned to this, the size of a
// huge page on x86-64 (see start_read_ahead).
constexpr std::size_t huge_page = std::size_t{2} << 20;

// While it waits for the medium, the comparison looks for interrupts this often.
constexpr std::chrono::milliseconds interrupt_check{50};

// Blocks the thread may have waiting: those of all its slots, and a
// narrowing's blocks that lie past its slot (unreadable ones need no memory).
constexpr std::size_t most_queued = 256;

// A block read and not yet handed out, or the end of a slot's blocks.
struct queued {
    input_block block;
    bool frees_slot = false;  // no block: the slot is given back when this is reached
};

// How the thread ended, after every block.
struct reading_end {
    read_outcome outcome = read_outcome::end;  // end or error
    input_block partial;                       // with end: what there was of the last block
    int error_number = 0;                      // with error
};

// What the comparison and the thread share. Fields above the mutex are set
// before the thread starts; after that the thread alone uses them.
struct shared_reading {
    medium_access access;  // the medium, open as its stack allows
    std::uint64_t offset = 0;
    std::uint64_t sector = 1;  // requests start and end on it
    std::size_t request = 0;
    bool keep_going = false;               // narrow failed requests down
    std::uint64_t input_end = UINT64_MAX;  // the end of the input, where known
    bool disk = false;                     // the input is a disk: nothing lies past its end
    buffer_ptr region;                     // the slots, one after the other
    std::size_t slot_stride = 0;           // a slot and the rooms around it
    std::array<unsigned char*, requests_ahead> slots{};  // where each request is read to
    block_cutter cutter;                                 // makes blocks of what is read
    std::shared_ptr<image_hash> hash;                    // -s: hashes what is handed on, or null
    // -s: the newest span of each slot queued for hashing; the slot is read
    // into again only once it is hashed.
    std::array<std::uint64_t, requests_ahead> hash_tickets{};
    buffer_ptr probe;     // a sector, for narrowing's probes
    retry_tally retries;  // of the blocks asked for again

    std::mutex lock;
    std::condition_variable changed;
    std::optional<std::uint64_t> limit;  // file position no request passes
    bool stop = false;                   // the comparison is over
    bool in_read = false;                // the thread is inside a request
    bool at_limit = false;               // the thread waits for the limit to be lifted
    bool finished = false;               // the thread has ended with `last`
    reading_end last;
    input_block held_back;     // at the limit: what there is of the block it cuts
    std::deque<queued> queue;  // read and not yet handed out
    std::size_t in_use = 0;    // slots read and not yet given back
    std::size_t fill_at = 0;   // the slot the next request is read into
};

// Queues the block's bytes for hashing, in order, its holes as gaps; the
// slot that holds them is read into again only once they are hashed.
void hash_block(shared_reading& state, const input_block& block)
{
    std::size_t at = 0;
    std::uint64_t ticket = 0;
    auto hash_to = [&](std::size_t to) {
        if (to > at)
            ticket = hash_later(*state.hash, block.data + at, to - at);
    };
    for (const unreadable_span& hole : block.holes) {
        hash_to(hole.at);
        hash_gap(*state.hash, hole.length);
        at = hole.at + hole.length;
    }
    hash_to(block.length);
    if (ticket != 0)
        state.hash_tickets[static_cast<std::size_t>(block.data - state.region.get()) /
                           state.slot_stride] = ticket;
}

void finish(shared_reading& state, read_outcome outcome, int error_number)
{
    state.finished = true;
    state.last.outcome = outcome;
    state.last.error_number = error_number;
    state.last.partial = cut_partial(state.cutter);
    if (outcome == read_outcome::end) {
        state.last.partial.retries = take_retries(state.retries, state.last.partial.index);
        if (state.hash)
            hash_block(state, state.last.partial);
    }
    state.changed.notify_all();
}

// Queues a whole block for the comparison, with its retries. False where
// the run is over.
bool queue_block(shared_reading& state, input_block& block)
{
    std::unique_lock<std::mutex> hold(state.lock);
    while (state.queue.size() >= most_queued && !state.stop)
        state.changed.wait(hold);
    if (state.stop)
        return false;
    block.retries = take_retries(state.retries, block.index);
    if (state.hash)
        hash_block(state, block);
    state.queue.push_back(queued{std::move(block), false});
    state.changed.notify_all();
    return true;
}

// Gives the slot back once the comparison is done with the blocks queued before.
void queue_slot_end(shared_reading& state)
{
    std::lock_guard<std::mutex> hold(state.lock);
    state.queue.push_back(queued{input_block{}, true});
    state.changed.notify_all();
}

// What narrowing a failed request finds, cut into blocks as it comes.
struct narrowing_to_queue : narrowing_report {
    shared_reading& state;
    const block_sink& sink;
    bool stopped = false;  // the sink took no more

    narrowing_to_queue(shared_reading& state_, const block_sink& sink_) : state(state_), sink(sink_)
    {
    }
    void asked(std::uint64_t at, std::uint64_t length, bool failed) override
    {
        note_request(state.retries, at, length, failed);
    }
    void readable(std::uint64_t at, std::size_t length) override
    {
        // Bytes before the start offset, or handed on before a short
        // count, are not told again.
        const std::uint64_t to = at + length;
        if (to > state.cutter.next && !stopped)
            stopped = !cut_readable(state.cutter, to - state.cutter.next, sink);
    }
    void unreadable(std::uint64_t at, std::uint64_t length, int error_number) override
    {
        // A file's last sector may lie partly past its end: what cannot be
        // read of it ends with the file.
        const std::uint64_t to = std::min(at + length, state.input_end);
        if (to > state.cutter.next && !stopped)
            stopped = !cut_unreadable(state.cutter, to - state.cutter.next, error_number, sink);
    }
    bool stopping() override
    {
        std::lock_guard<std::mutex> hold(state.lock);
        return stopped || state.stop;
    }
};

// Narrows down the request from `start` to `end`, read into `slot`, that
// failed; returns where the reading stands.
narrowed narrow_failed(shared_reading& state, std::unique_lock<std::mutex>& hold,
                       unsigned char* slot, std::uint64_t start, std::uint64_t end,
                       const block_sink& sink)
{
    // Up to the medium's sector that holds the input's end, where known.
    std::uint64_t bound =
        state.input_end == UINT64_MAX ? UINT64_MAX : align_up(state.input_end, state.sector);
    if (state.limit)
        bound = std::min(bound, *state.limit);
    ++state.in_use;  // the slot is held until every block in it is handed out
    state.fill_at = (state.fill_at + 1) % requests_ahead;
    state.in_read = true;
    hold.unlock();
    narrowing_to_queue report(state, sink);
    auto read = [&state](unsigned char* buffer, std::size_t length, std::uint64_t position) {
        return read_at(state.access, buffer, length, position);
    };
    narrowed result =
        narrow_down(read, slot, state.probe.get(), start, end, state.sector, bound, report);
    queue_slot_end(state);
    hold.lock();
    state.in_read = false;
    if (report.stopped)
        result.stopped = true;
    return result;
}

// `shared` is the thread's own copy, made by std::thread: it keeps the
// record alive for as long as the thread runs.
void read_medium(const std::shared_ptr<shared_reading>& shared)
{
    shared_reading& state = *shared;
    const std::uint64_t sector = state.sector;
    block_cutter& cutter = state.cutter;
    const block_sink sink = [&state](input_block& block) { return queue_block(state, block); };
    bool block_requests = false;  // a large request failed (narrow_to_blocks)
    std::uint64_t rest_to = 0;    // -k: the end of a request that came back short
    bool short_again = false;     // -k: and what was left of it came back short too
    std::unique_lock<std::mutex> hold(state.lock);
    for (;;) {
        if (state.stop)
            return;
        bool limited = state.limit && cutter.next >= *state.limit;
        if (limited != state.at_limit) {
            state.at_limit = limited;
            if (limited) {
                state.held_back = cut_partial(cutter);
                state.held_back.retries = retries_so_far(state.retries, state.held_back.index);
            }
            state.changed.notify_all();
        }
        if (limited || state.in_use == requests_ahead) {
            state.changed.wait(hold);
            continue;
        }
        // The BSDs fail a request that starts past a disk's end, where
        // Linux and macOS answer that the disk ended.
        if (state.disk && cutter.next >= state.input_end) {
            finish(state, read_outcome::end, 0);
            return;
        }
        if (state.hash) {
            // The slot's bytes may still wait to be hashed.
            const std::uint64_t ticket = state.hash_tickets[state.fill_at];
            hold.unlock();
            const bool hashed = wait_hashed(*state.hash, ticket);
            hold.lock();
            if (!hashed || state.stop)
                return;
        }
        // A request starts at the sector at or below the next byte to
        // hand on (which an unaligned start offset or a short read leaves
        // inside a sector) and asks for `request` bytes; after a failure,
        // for the rest of the block being handed out, its end rounded up to
        // a sector; with -k after a short read, for what is left of
        // it. It never passes the limit, rounded up likewise.
        const std::uint64_t start = align_down(cutter.next, sector);
        const std::uint64_t block_end =
            state.offset + (block_index(state.offset, cutter.next) + 1) * block_size;
        const std::uint64_t one_block = align_up(block_end, sector);
        std::uint64_t end = block_requests ? one_block : start + state.request;
        if (rest_to > start)
            end = rest_to;
        if (state.limit)
            end = std::min(end, *state.limit);
        unsigned char* slot = state.slots[state.fill_at];
        cut_into(cutter, cut_window{slot, start, static_cast<std::size_t>(end - start)});
        ssize_t n = -1;
        int failure = 0;
        if (!short_again) {
            state.in_read = true;
            hold.unlock();
            n = read_at(state.access, slot, static_cast<std::size_t>(end - start), start);
            failure = errno;
            hold.lock();
            state.in_read = false;
            if (state.keep_going)
                note_request(state.retries, start, end - start, n < 0);
        }
        if (n < 0) {
            // The medium took uncached reads but refuses them (overlayfs
            // over squashfs does): read on through the cache, where the
            // cache can be kept out of the way; else this is the failure.
            if (failure == EINVAL && state.access.direct && can_drop_cached_pages() &&
                read_uncached(state.access.fd, false) && fall_back_to_cache(state.access))
                continue;
            if (state.keep_going) {
                rest_to = 0;
                short_again = false;
                narrowed r = narrow_failed(state, hold, slot, start, end, sink);
                if (r.stopped || state.stop)
                    return;
                // An unreadable sector that holds the input's end ends it
                // there: nothing past it is handed on.
                if (r.ended || cutter.next >= state.input_end) {
                    finish(state, read_outcome::end, 0);
                    return;
                }
                continue;
            }
            if (!block_requests && narrow_to_blocks(end, one_block)) {
                block_requests = true;
                continue;
            }
            finish(state, read_outcome::error, failure);
            return;
        }
        const std::uint64_t got = start + static_cast<std::uint64_t>(n);
        if (got <= cutter.next) {
            finish(state, read_outcome::end, 0);
            return;
        }
        if (state.keep_going) {
            // What is left of a short read is asked for once more, and then narrowed down.
            short_again = got < end && rest_to != 0;
            rest_to = got < end ? end : 0;
        }
        state.fill_at = (state.fill_at + 1) % requests_ahead;
        ++state.in_use;
        hold.unlock();
        const bool going = cut_readable(cutter, got - cutter.next, sink);
        queue_slot_end(state);
        hold.lock();
        if (!going)
            return;
    }
}

}  // namespace

struct read_ahead {
    std::shared_ptr<shared_reading> shared;
    std::thread thread;
};

void stop_read_ahead::operator()(read_ahead* reading) const
{
    bool in_read;
    {
        std::lock_guard<std::mutex> hold(reading->shared->lock);
        reading->shared->stop = true;
        in_read = reading->shared->in_read;
        reading->shared->changed.notify_all();
    }
    // The thread may wait for its slot to be hashed.
    if (reading->shared->hash)
        stop_hashing(*reading->shared->hash);
    // A request to a slow or failing medium may take seconds: the thread
    // finishes it on its own, and its shared record outlives us.
    if (in_read)
        reading->thread.detach();
    else
        reading->thread.join();
    delete reading;
}

read_ahead_handle start_read_ahead(const input& in, std::size_t request,
                                   std::optional<std::uint64_t> limit,
                                   std::shared_ptr<image_hash> hash, medium_caveat& caveat)
{
    auto shared = std::make_shared<shared_reading>();
    shared_reading& state = *shared;
    state.offset = in.offset;
    state.sector = in.sector;
    state.request = request;
    state.keep_going = in.keep_going;
    state.disk = in.kind == input_kind::disk;
    state.retries.origin = in.offset;
    state.cutter = make_cutter(in.offset);
    if (in.length)
        state.input_end = in.offset + *in.length;
    if (limit)
        state.limit = align_up(in.offset + *limit, state.sector);
    // Each slot has a block's room before it and after it (see cutter.h).
    const std::size_t slot_size = static_cast<std::size_t>(
        align_up(std::max<std::uint64_t>(request, block_size + 2 * state.sector), page_size));
    const std::size_t slot_stride = block_size + slot_size + block_size;
    const std::size_t region_size = static_cast<std::size_t>(
        align_up(static_cast<std::uint64_t>(slot_stride) * requests_ahead, huge_page));
    void* room = nullptr;
    if (posix_memalign(&room, huge_page, region_size) != 0)
        return nullptr;
    state.region.reset(static_cast<unsigned char*>(room));
    // An uncached read goes into the buffer itself, and a device takes only
    // so many pieces of memory in one request (128 on a loop device): in 4
    // KiB pages a 1280 KiB request goes out as three. Huge pages are
    // contiguous, so it goes out whole; a drive bound by requests a second
    // reads 2.5 times faster. Where there are none to be had, pages of 4 KiB
    // serve.
    prefer_huge_pages(room, region_size);
    state.slot_stride = slot_stride;
    for (std::size_t i = 0; i < requests_ahead; ++i)
        state.slots[i] = state.region.get() + i * slot_stride + block_size;
    state.hash = std::move(hash);
    if (state.keep_going) {
        state.probe = page_aligned(static_cast<std::size_t>(align_up(state.sector, page_size)));
        if (!state.probe)
            return nullptr;
    }
    if (!open_access(state.access, in, caveat))
        return nullptr;
    if (state.access.drop_around && state.access.direct)
        // btrfs serves a direct read through the page cache where the buffer
        // faults, as a fresh one does on its first use: touched now, it
        // does not.
        std::memset(room, 0, region_size);

    read_ahead_handle reading(new read_ahead{shared, std::thread()});
    try {
        reading->thread = start_signal_free_thread([shared] { read_medium(shared); });
    } catch (...) {
        delete reading.release();
        throw;
    }
    return reading;
}

read_outcome next_block(read_ahead& reading, input_block& block, int& error_number)
{
    shared_reading& state = *reading.shared;
    std::unique_lock<std::mutex> hold(state.lock);
    for (;;) {
        // A slot whose blocks were all handed out is free once this call
        // gives back the last of them.
        while (!state.queue.empty() && state.queue.front().frees_slot) {
            state.queue.pop_front();
            --state.in_use;
            state.changed.notify_all();
        }
        if (!state.queue.empty()) {
            block = std::move(state.queue.front().block);
            state.queue.pop_front();
            state.changed.notify_all();
            return read_outcome::block;
        }
        if (state.finished) {
            block = state.last.partial;
            error_number = state.last.error_number;
            return state.last.outcome;
        }
        if (state.at_limit) {
            block = state.held_back;
            return read_outcome::limit;
        }
        if (caught_interrupt() != 0) {
            block = input_block{};
            return read_outcome::interrupted;
        }
        state.changed.wait_for(hold, interrupt_check);
    }
}

void lift_limit(read_ahead& reading)
{
    std::lock_guard<std::mutex> hold(reading.shared->lock);
    reading.shared->limit.reset();
    reading.shared->at_limit = false;
    reading.shared->changed.notify_all();
}
