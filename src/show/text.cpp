// Number formatting through std::to_chars, which is specified to give what
// printf gives in the C locale.
#include "show/text.h"

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
    int digits = 1;
    while (digits < 16 && value >> (4 * digits) != 0)
        ++digits;
    if (digits < width)
        digits = width;
    char* end = p + digits;
    for (char* q = end; q != p; value >>= 4)
        *--q = hex_digits[value & 15];
    return end;
}

char* put_fixed(char* p, double value, int decimals)
{
    return std::to_chars(p, p + room, value, std::chars_format::fixed, decimals).ptr;
}
