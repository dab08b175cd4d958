// Writing to the standard streams so that no failure goes unnoticed.
#ifndef TANDEMCHECK_OUTPUT_H
#define TANDEMCHECK_OUTPUT_H

#include <cstddef>
#include <cstdio>

// Writes `length` bytes to `stream`, going on where a signal cut a write
// short. Returns 0, or the errno of the write that failed.
int write_whole(std::FILE* stream, const char* text, std::size_t length);

// Flushes `stream` the same way. Returns 0, or the errno of the failure.
int flush_whole(std::FILE* stream);

// Keeps the first failure of a stream: `error` is set once, to `result`.
inline void keep_first_error(int& error, int result)
{
    if (error == 0)
        error = result;
}

#endif
