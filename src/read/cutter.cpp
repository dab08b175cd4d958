// Block records cut out of a medium's requests.
#include "read/cutter.h"

#include <algorithm>
#include <cstring>

namespace {

// The bytes of a block that could not be read at all.
const unsigned char unreadable_block[block_size] = {};

// The pending block is the next one, empty.
void start_block(block_cutter& cutter)
{
    input_block& b = cutter.pending;
    b.data = nullptr;
    b.length = 0;
    b.index = block_index(cutter.origin, cutter.next);
    b.holes.clear();  // its room is kept
    b.retries = 0;
    cutter.memory = nullptr;
}

// Where `length` more bytes of the pending block go, from `position`:
// after those gathered, which lie in the window, or in the window, or
// nowhere (null), the bytes being unreadable past it. `readable` bytes
// always lie in the window.
unsigned char* place_of(block_cutter& cutter, std::uint64_t position, std::size_t length,
                        bool readable)
{
    if (cutter.pending.length > 0)
        return cutter.memory ? cutter.memory + cutter.pending.length : nullptr;
    const cut_window& w = cutter.window;
    const bool in_window = w.memory && position >= w.at &&
                           position + length <= w.at + w.length + (readable ? 0 : block_size);
    cutter.memory = in_window ? w.memory + (position - w.at) : nullptr;
    return cutter.memory;
}

// Adds `length` bytes from `cutter.next`, read or (with `error_number`)
// not, to the pending block, none past its end; hands it on when whole.
bool add(block_cutter& cutter, std::size_t length, bool readable, int error_number,
         const block_sink& sink)
{
    input_block& b = cutter.pending;
    unsigned char* at = place_of(cutter, cutter.next, length, readable);
    if (!readable) {
        if (at)
            std::memset(at, 0, length);
        if (!b.holes.empty() && b.holes.back().at + b.holes.back().length == b.length)
            b.holes.back().length += length;
        else
            b.holes.push_back(unreadable_span{b.length, length, error_number});
    }
    b.length += length;
    cutter.next += length;
    if (b.length < block_size)
        return true;
    b.data = cutter.memory ? cutter.memory : unreadable_block;
    const bool going = sink(b);
    start_block(cutter);
    return going;
}

// Tells `length` bytes, block by block.
bool tell(block_cutter& cutter, std::uint64_t length, bool readable, int error_number,
          const block_sink& sink)
{
    while (length > 0) {
        const std::size_t piece = static_cast<std::size_t>(
            std::min<std::uint64_t>(length, block_size - cutter.pending.length));
        if (!add(cutter, piece, readable, error_number, sink))
            return false;
        length -= piece;
    }
    return true;
}

}  // namespace

block_cutter make_cutter(std::uint64_t origin)
{
    block_cutter cutter;
    cutter.origin = origin;
    cutter.next = origin;
    start_block(cutter);
    return cutter;
}

void cut_into(block_cutter& cutter, const cut_window& window)
{
    cutter.window = window;
    input_block& b = cutter.pending;
    if (b.length == 0)
        return;
    // A block begun in an earlier request's memory, or in none, is made
    // whole in the room before this one: the earlier memory is read into
    // again while the block may still be compared.
    unsigned char* begin = window.memory + (cutter.next - window.at) - b.length;
    if (cutter.memory)
        std::memmove(begin, cutter.memory, b.length);
    else
        std::memset(begin, 0, b.length);
    cutter.memory = begin;
}

bool cut_readable(block_cutter& cutter, std::uint64_t length, const block_sink& sink)
{
    return tell(cutter, length, true, 0, sink);
}

bool cut_unreadable(block_cutter& cutter, std::uint64_t length, int error_number,
                    const block_sink& sink)
{
    return tell(cutter, length, false, error_number, sink);
}

input_block cut_partial(const block_cutter& cutter)
{
    input_block b = cutter.pending;
    b.data = b.length > 0 && cutter.memory ? cutter.memory : unreadable_block;
    return b;
}
