// The unit of reading and comparing.
#ifndef TANDEMCHECK_BLOCK_H
#define TANDEMCHECK_BLOCK_H

#include <cstddef>
#include <cstdint>

// Bytes read and compared per pass, from each input.
constexpr std::size_t block_size = 32768;

// Whether a failed request that asked for bytes up to `asked_to` is to be
// asked again a block at a time, the block being handed out ending at
// `block_end`: a large request may fail anywhere, even past what the
// comparison needs, and reading a block at a time meets the failure at the
// block where it lies, or not at all.
constexpr bool narrow_to_blocks(std::uint64_t asked_to, std::uint64_t block_end)
{
    return asked_to > block_end;
}

#endif
