// The unit of reading and comparing, and its record.
#ifndef TANDEMCHECK_BLOCK_H
#define TANDEMCHECK_BLOCK_H

#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes read and compared per pass, from each input.
constexpr std::size_t block_size = 32768;

// The index of the block that holds the byte at `position`, blocks counted
// from the input's start offset `origin`: the one numbering of blocks.
constexpr std::uint64_t block_index(std::uint64_t origin, std::uint64_t position)
{
    return (position - origin) / block_size;
}

// Whether a failed request that asked for bytes up to `asked_to` is to be
// asked again a block at a time, the block being handed out ending at
// `block_end`: a large request may fail anywhere, even past what the
// comparison needs, and reading a block at a time meets the failure at the
// block where it lies, or not at all.
constexpr bool narrow_to_blocks(std::uint64_t asked_to, std::uint64_t block_end)
{
    return asked_to > block_end;
}

// Bytes of a block that could not be read (-k).
struct unreadable_span {
    std::size_t at = 0;  // from the block's start
    std::size_t length = 0;
    int error_number = 0;  // the first failure of the stretch they belong to
};

// One block of an input, as its reader made it: what the comparison needs
// of it, whatever kind of input it came from.
struct input_block {
    const unsigned char* data = nullptr;  // its bytes; unreadable ones are zero
    std::size_t length = 0;               // block_size, or fewer at the input's end or limit
    std::uint64_t index = 0;              // block_index of its first byte
    std::vector<unreadable_span> holes;   // -k: what of it could not be read, in order
    int retries = 0;                      // -k: requests for its bytes after one failed
};

// What reading the next block came to.
enum class read_outcome {
    block,        // a whole block
    end,          // the input ended: fewer bytes than a block, maybe none
    error,        // a read failed
    interrupted,  // a signal ended the run while waiting for the input
    limit,        // the reading limit came first: the bytes up to it, fewer than a block
};

#endif
