// Number formatting through std::to_chars, which is specified to give what
// printf gives in the C locale.
#include "compare/text.h"

#include <charconv>

namespace {

constexpr std::size_t room = 64;

}  // namespace

char* put_decimal(char* p, std::uint64_t value)
{
    return std::to_chars(p, p + room, value).ptr;
}

char* put_hex(char* p, std::uint64_t value, int width)
{
    static const char hex_digits[] = "0123456789abcdef";
    char digits[16];
    int n = 0;
    do {
        digits[n++] = hex_digits[value & 15];
        value >>= 4;
    } while (value != 0);
    for (int pad = width - n; pad > 0; --pad)
        *p++ = '0';
    while (n > 0)
        *p++ = digits[--n];
    return p;
}

char* put_fixed(char* p, double value, int decimals)
{
    return std::to_chars(p, p + room, value, std::chars_format::fixed, decimals).ptr;
}
