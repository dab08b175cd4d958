// Cutting what is read of a medium into block records, in input order.
//
// Requests start on the medium's sectors and come back long or short, so
// their bytes rarely begin or end on a block's border. A block that lies
// wholly in one request's memory is handed on where it lies; one that
// spans two requests is made whole in the room kept before the second
// (each request's memory has a block's room before it and after it);
// unreadable bytes (-k) are zeroed where they would lie and told as holes,
// and a block unreadable from end to end needs no memory at all.
#ifndef TANDEMCHECK_CUTTER_H
#define TANDEMCHECK_CUTTER_H

#include <cstddef>
#include <cstdint>
#include <functional>

#include "read/block.h"

// The memory a request is read into.
struct cut_window {
    unsigned char* memory = nullptr;  // holds the byte at input position `at`
    std::uint64_t at = 0;             // a position at or before the next byte to be told
    std::size_t length = 0;           // bytes from `at` that were asked for
};

// Takes a block the moment it is whole; false where the run is over.
using block_sink = std::function<bool(input_block& whole)>;

// Blocks being cut out of what is read.
struct block_cutter {
    std::uint64_t origin = 0;         // the start offset: block 0 begins there
    std::uint64_t next = 0;           // the input position of the next byte to be told
    cut_window window;                // where what is told now lies
    input_block pending;              // gathered so far; its data is set when it is handed on
    unsigned char* memory = nullptr;  // where the pending bytes lie; null: nowhere, all unreadable
};

// A cutter for an input read from `origin` on.
block_cutter make_cutter(std::uint64_t origin);

// The bytes told from here on lie in `window`, which has block_size bytes
// of room before `memory` and after its `length` bytes.
void cut_into(block_cutter& cutter, const cut_window& window);

// The next `length` bytes were read into the window. Every block made
// whole goes to `sink`. False where the sink said so.
bool cut_readable(block_cutter& cutter, std::uint64_t length, const block_sink& sink);

// The next `length` bytes could not be read (`error_number` says why);
// they may lie past the window. Every block made whole goes to `sink`.
// False where the sink said so.
bool cut_unreadable(block_cutter& cutter, std::uint64_t length, int error_number,
                    const block_sink& sink);

// The block gathered so far, fewer bytes than a block and maybe none: what
// there is where the input ends or the reading stops at a limit.
input_block cut_partial(const block_cutter& cutter);

#endif
