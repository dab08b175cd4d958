// The unit of reading and comparing.
#ifndef TANDEMCHECK_BLOCK_H
#define TANDEMCHECK_BLOCK_H

#include <cstddef>

// Bytes read and compared per pass, from each input.
constexpr std::size_t block_size = 32768;

#endif
