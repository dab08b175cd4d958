// Cutting what is read into block records: sequences of requests, read or
// not, against the blocks they must come to.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "read/cutter.h"

namespace {

constexpr std::size_t B = block_size;

// One thing told to the cutter: a request's memory from `at` for `length`
// bytes (readable and unreadable both 0), or `length` bytes read, or
// `length` bytes unreadable with `error`.
struct step {
    enum { window, readable, unreadable } kind;
    std::uint64_t at_or_length;
    std::uint64_t length = 0;
    int error = 0;
};

step window(std::uint64_t at, std::uint64_t length)
{
    return step{step::window, at, length};
}
step readable(std::uint64_t length)
{
    return step{step::readable, length};
}
step unreadable(std::uint64_t length, int error = 5)
{
    return step{step::unreadable, length, 0, error};
}

// The byte at input position p.
unsigned char byte_at(std::uint64_t p)
{
    return static_cast<unsigned char>(p % 251 + 1);
}

// Tells `steps` to a cutter from `origin`, reading each request's bytes into
// fresh memory and spoiling the memory of the one before, as the reading
// thread reuses it. Shows each block handed on, then the partial one, as
// "index:length" with holes as "[at+length eERROR]", and "BAD" where a
// block's bytes are not those at its positions (zeros in its holes).
std::string cut(std::uint64_t origin, const std::vector<step>& steps)
{
    std::vector<std::unique_ptr<unsigned char[]>> memories;
    std::string shown;
    block_cutter cutter = make_cutter(origin);
    auto show = [&](const input_block& b) {
        shown += std::to_string(b.index) + ":" + std::to_string(b.length);
        std::string expected;
        for (std::uint64_t i = 0; i < b.length; ++i)
            expected += static_cast<char>(byte_at(origin + b.index * B + i));
        for (const unreadable_span& hole : b.holes) {
            shown += "[" + std::to_string(hole.at) + "+" + std::to_string(hole.length) + " e" +
                     std::to_string(hole.error_number) + "]";
            expected.replace(hole.at, hole.length, hole.length, '\0');
        }
        if (std::string(reinterpret_cast<const char*>(b.data), b.length) != expected)
            shown += " BAD";
        shown += " ";
    };
    const block_sink sink = [&](input_block& b) {
        show(b);
        return true;
    };
    for (const step& s : steps) {
        if (s.kind == step::window) {
            const std::size_t old_room = B + cutter.window.length + B;
            const std::size_t room = B + s.length + B;
            memories.emplace_back(new unsigned char[room]);
            std::memset(memories.back().get(), 0xdd, room);
            unsigned char* memory = memories.back().get() + B;
            for (std::uint64_t i = 0; i < s.length; ++i)
                memory[i] = byte_at(s.at_or_length + i);
            cut_into(cutter,
                     cut_window{memory, s.at_or_length, static_cast<std::size_t>(s.length)});
            if (memories.size() > 1)
                std::memset(memories[memories.size() - 2].get(), 0xee, old_room);
        } else if (s.kind == step::readable) {
            cut_readable(cutter, s.at_or_length, sink);
        } else {
            cut_unreadable(cutter, s.at_or_length, s.error, sink);
        }
    }
    shown += "| ";
    show(cut_partial(cutter));
    return shown;
}

TEST(Cutter, WhatIsReadComesOutInBlocksWithTheirHoles)
{
    struct row {
        const char* what;
        std::uint64_t origin;
        std::vector<step> steps;
        const char* expected;
    };
    const std::vector<row> rows = {
        {"nothing read", 0, {}, "| 0:0 "},
        {"two blocks and a bit",
         0,
         {window(0, 2 * B + 100), readable(2 * B + 100)},
         "0:32768 1:32768 | 2:100 "},
        {"a block across two requests",
         0,
         {window(0, B + 4096), readable(B + 4096), window(B + 4096, 2 * B), readable(2 * B)},
         "0:32768 1:32768 2:32768 | 3:4096 "},
        {"an unaligned start, the request from the sector below",
         1000,
         {window(0, 2 * B), readable(2 * B - 1000), window(2 * B, 2 * B), readable(2 * B)},
         "0:32768 1:32768 2:32768 | 3:31768 "},
        {"a short read ending inside a sector, read on from its start",
         0,
         {window(0, B + 4096), readable(B + 100), window(B, 4096), readable(4096 - 100)},
         "0:32768 | 1:4096 "},
        {"holes within a request, joined where they meet",
         0,
         {window(0, 2 * B), readable(4096), unreadable(4096, 5), unreadable(4096, 61),
          readable(B - 3 * 4096), unreadable(4096), readable(B - 4096)},
         "0:32768[4096+8192 e5] 1:32768[0+4096 e5] | 2:0 "},
        {"a stretch past the request, blocks with no memory",
         0,
         {window(0, B), readable(4096), unreadable(4 * B - 4096)},
         "0:32768[4096+28672 e5] 1:32768[0+32768 e5] 2:32768[0+32768 e5] "
         "3:32768[0+32768 e5] | 4:0 "},
        {"a stretch that ends inside a block past the request",
         0,
         {window(0, B), readable(4096), unreadable(2 * B), window(2 * B + 4096, B), readable(B)},
         "0:32768[4096+28672 e5] 1:32768[0+32768 e5] 2:32768[0+4096 e5] | 3:4096 "},
        {"a block begun in a request whose stretch runs past it",
         0,
         {window(0, B + 4096), readable(B + 2048), unreadable(2 * B), window(3 * B + 2048, B),
          readable(B)},
         "0:32768 1:32768[2048+30720 e5] 2:32768[0+32768 e5] 3:32768[0+2048 e5] | 4:2048 "},
        {"the limit inside a block gathered from a hole and a request",
         0,
         {window(0, B), unreadable(B + 4096), window(B + 4096, 4096), readable(4096)},
         "0:32768[0+32768 e5] | 1:8192[0+4096 e5] "},
    };
    for (const row& r : rows)
        EXPECT_EQ(r.expected, cut(r.origin, r.steps)) << r.what;
}

TEST(Cutter, ABlockInOneRequestIsHandedOnWhereItLies)
{
    // Copying every block would cost the reading half its speed.
    std::vector<unsigned char> memory(B + 4 * B + B);
    block_cutter cutter = make_cutter(0);
    cut_into(cutter, cut_window{memory.data() + B, 0, 4 * B});
    std::vector<const unsigned char*> places;
    cut_readable(cutter, 4 * B, [&](input_block& b) {
        places.push_back(b.data);
        return true;
    });
    ASSERT_EQ(4u, places.size());
    for (std::size_t k = 0; k < places.size(); ++k)
        EXPECT_EQ(memory.data() + B + k * B, places[k]) << k;
}

}  // namespace
