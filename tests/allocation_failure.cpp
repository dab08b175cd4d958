// Replaces the global operator new so that a test can make one allocation
// fail. Kept in a file of its own: inlined into other code, the pairing of
// malloc with free here draws false mismatch warnings.
#include <atomic>
#include <cstdlib>
#include <new>

#include "test_support.h"

namespace {

std::atomic<std::size_t> failing_allocation_size{0};

}  // namespace

void fail_next_allocation_of(std::size_t bytes)
{
    failing_allocation_size = bytes;
}

void* operator new(std::size_t size)
{
    std::size_t failing = failing_allocation_size.load();
    if (failing != 0 && size >= failing &&
        failing_allocation_size.compare_exchange_strong(failing, 0))
        throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

// The nothrow forms too (std::stable_sort's buffer is one), so that every
// allocation pairs malloc with free.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size ? size : 1);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
