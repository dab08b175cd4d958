// Fast number formatting that matches the printf conversions byte for byte.
#ifndef TANDEMCHECK_TEXT_H
#define TANDEMCHECK_TEXT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// Each put_ function writes at `p` and returns the end of what it wrote; the
// caller provides the room (at most 20 digits for a number, 64 for a fixed).

// "%llu"
char* put_decimal(char* p, std::uint64_t value);
// "%0*llx" with `width` digits at least, lower case
char* put_hex(char* p, std::uint64_t value, int width);
// "%.*f" for the displayed figures (finite values below 1e40)
char* put_fixed(char* p, double value, int decimals);

// Copies a string literal without its terminator.
template <std::size_t n>
inline char* put_literal(char* p, const char (&text)[n])
{
    // A copy of known size: the compiler turns it into a few moves.
    std::memcpy(p, text, n - 1);
    return p + n - 1;
}

#endif
