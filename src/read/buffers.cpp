// Aligned buffers.
#include "read/buffers.h"

#include <cstdlib>
#include <new>

void free_memory::operator()(unsigned char* memory) const
{
    std::free(memory);
}

buffer_ptr page_aligned(std::size_t bytes)
{
    void* room = std::aligned_alloc(page_size, align_up(bytes, page_size));
    if (!room)
        throw std::bad_alloc();
    return buffer_ptr(static_cast<unsigned char*>(room));
}
