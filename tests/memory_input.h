// In-memory read streams for the tests and the fuzz targets (glibc's fopencookie).
#ifndef TANDEMCHECK_MEMORY_INPUT_H
#define TANDEMCHECK_MEMORY_INPUT_H

#include <cstdio>
#include <string>

#include "read/inputs.h"

// A read stream over `bytes`, entered at `start`, that fails with EIO once a
// read reaches `fail_at` (never when fail_at is npos). The stream owns a
// copy of the bytes.
std::FILE* open_memory_input(const std::string& bytes, std::size_t start = 0,
                             std::size_t fail_at = std::string::npos);

// An input over such a stream, read `request` bytes at a time
// (0: a block).
input memory_input(const std::string& bytes, std::size_t start = 0,
                   std::size_t fail_at = std::string::npos, std::size_t request = 0);

#endif
