// Reading an input in requests larger than a block while handing it out
// block by block, exactly as reading a block at a time would.
#ifndef TANDEMCHECK_READER_H
#define TANDEMCHECK_READER_H

#include <cstddef>
#include <cstdio>
#include <memory>

#include "compare/tally.h"

// Request sizes. Disks and USB sticks (block devices, or on the BSDs the
// character devices that answer as disks) are often bound by the number of
// requests they serve, so they get requests as large as Linux sends to a
// device at once by default (1280 KiB); regular files mostly come from the
// page cache, where requests that still fit the processor's cache are
// fastest. Pipes and terminals get a block: a larger request would hold
// back blocks that have already arrived.
constexpr std::size_t device_request = 40 * block_size;
constexpr std::size_t file_request = 8 * block_size;

// The request size for `stream`, by the kind of file behind it. Also tells
// the system that the input will be read from start to end.
std::size_t request_size_for(std::FILE* stream);

// Frees a reader's buffer.
struct free_buffer {
    void operator()(unsigned char* buffer) const;
};

// One input, read `request` bytes at a time into `buffer`.
struct input_reader {
    std::FILE* stream = nullptr;
    std::size_t request = block_size;  // bytes one read asks for; a block after a failed read
    std::unique_ptr<unsigned char, free_buffer> buffer;  // `request` bytes, page-aligned
    std::size_t start = 0;                               // first byte not yet handed out
    std::size_t end = 0;                                 // end of the bytes read
};

// A reader of `stream` with requests of `request` bytes (a multiple of
// block_size); its buffer is allocated once, here.
input_reader make_reader(std::FILE* stream, std::size_t request);

// What reading a block came to.
enum class read_outcome {
    block,        // a whole block
    end,          // the input ended: fewer bytes than a block, maybe none
    error,        // a read failed
    interrupted,  // a signal ended the run while waiting for the input
};

// Hands out the next block: `length` bytes at `block`, valid until the next
// call. A read error is met at the same block as reading a block at a time
// meets it; on error `error_number` holds its errno.
read_outcome next_block(input_reader& reader, const unsigned char*& block, std::size_t& length,
                        int& error_number);

#endif
