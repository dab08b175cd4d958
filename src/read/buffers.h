// Memory for reading: page-aligned buffers, and rounding to an alignment.
#ifndef TANDEMCHECK_BUFFERS_H
#define TANDEMCHECK_BUFFERS_H

#include <cstddef>
#include <cstdint>
#include <memory>

// The page size the buffers are aligned to.
constexpr std::size_t page_size = 4096;

// `n` rounded down to a multiple of `alignment`.
constexpr std::uint64_t align_down(std::uint64_t n, std::uint64_t alignment)
{
    return n / alignment * alignment;
}

// `n` rounded up to a multiple of `alignment`.
constexpr std::uint64_t align_up(std::uint64_t n, std::uint64_t alignment)
{
    return align_down(n + alignment - 1, alignment);
}

// Frees memory from the C allocator's aligned allocations.
struct free_memory {
    void operator()(unsigned char* memory) const;
};

// Memory that free_memory gives back.
using buffer_ptr = std::unique_ptr<unsigned char, free_memory>;

// `bytes` of page-aligned memory, rounded up to whole pages: the kernel
// copies into such buffers markedly faster. Throws std::bad_alloc.
buffer_ptr page_aligned(std::size_t bytes);

#endif
