#include "memory_input.h"

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

struct memory_bytes {
    std::string bytes;
    std::size_t position;
    std::size_t fail_at;
};

ssize_t read_memory(void* cookie, char* buffer, std::size_t size)
{
    auto* input = static_cast<memory_bytes*>(cookie);
    std::size_t end = std::min(input->bytes.size(), input->position + size);
    if (input->fail_at != std::string::npos && end > input->fail_at) {
        // Deliver what lies before the fault, then fail the next request.
        if (input->position >= input->fail_at) {
            errno = EIO;
            return -1;
        }
        end = input->fail_at;
    }
    std::size_t n = end - input->position;
    std::memcpy(buffer, input->bytes.data() + input->position, n);
    input->position += n;
    return static_cast<ssize_t>(n);
}

int close_memory(void* cookie)
{
    delete static_cast<memory_bytes*>(cookie);
    return 0;
}

}  // namespace

std::FILE* open_memory_input(const std::string& bytes, std::size_t start, std::size_t fail_at)
{
    auto* input = new memory_bytes{bytes, std::min(start, bytes.size()), fail_at};
    cookie_io_functions_t functions{read_memory, nullptr, nullptr, close_memory};
    return fopencookie(input, "r", functions);
}

input memory_input(const std::string& bytes, std::size_t start, std::size_t fail_at,
                   std::size_t request)
{
    input in = opened("memory", open_memory_input(bytes, start, fail_at), 0);
    in.request = request;
    return in;
}
