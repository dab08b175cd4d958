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
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    for (int pad = width - static_cast<int>(end - digits); pad > 0; --pad)
        *p++ = '0';
    for (char* d = digits; d != end; ++d)
        *p++ = *d;
    return p;
}

char* put_fixed(char* p, double value, int decimals)
{
    return std::to_chars(p, p + room, value, std::chars_format::fixed, decimals).ptr;
}
