// Fuzzes the comparison run with two in-memory inputs built from the input:
// random lengths, start offsets and planted differences. The counts must
// equal a plain byte-by-byte reference count over every byte both inputs hold.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "compare/comparison.h"
#include "exit_status.h"
#include "memory_input.h"
#include "read/block.h"
#include "show/console.h"

namespace {

clock_reading still_clock()
{
    return clock_reading{0, 0};
}

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "comparison_fuzz: %s\n", what);
        std::abort();
    }
}

struct reader {
    const std::uint8_t* data;
    std::size_t size;
    std::uint32_t take(int bytes)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes && size > 0; ++i, ++data, --size)
            value = value << 8 | *data;
        return value;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    reader in{data, size};
    const std::size_t limit = 4 * block_size + 1000;
    std::size_t length1 = in.take(3) % limit;
    std::size_t length2 = in.take(1) & 1 ? length1 : in.take(3) % limit;
    std::size_t offset1 = in.take(2) % 3000;
    std::size_t offset2 = in.take(2) % 3000;
    std::uint32_t seed = in.take(4);
    // Requests of one to five blocks per input: the counts must not change.
    std::size_t request1 = block_size * (1 + in.take(1) % 5);
    std::size_t request2 = block_size * (1 + in.take(1) % 5);

    // Both inputs hold the same bytes from their offsets on, then the rest
    // of the fuzz input plants differences: a position and an xor mask each.
    std::string bytes1(offset1 + length1, '\0');
    for (std::size_t i = 0; i < bytes1.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes1[i] = static_cast<char>(seed >> 16);
    }
    std::string bytes2(offset2, 'p');
    bytes2 += bytes1.substr(offset1);
    bytes2.resize(offset2 + length2, 'q');
    while (in.size >= 4 && length2 > 0) {
        std::size_t at = in.take(3) % length2;
        std::uint8_t mask = static_cast<std::uint8_t>(in.take(1));
        std::size_t run = mask & 0x80 ? 1 + mask % 97 : 1;  // now and then a run
        for (std::size_t i = at; i < std::min(length2, at + run); ++i)
            bytes2[offset2 + i] = static_cast<char>(bytes2[offset2 + i] ^ (mask | 1));
    }

    std::size_t common = std::min(length1, length2);
    std::uint64_t errors = 0;
    std::set<std::size_t> blocks;
    for (std::size_t i = 0; i < common; ++i)
        if (bytes1[offset1 + i] != bytes2[offset2 + i]) {
            ++errors;
            blocks.insert(i / block_size);
        }

    static std::FILE* sink = std::fopen("/dev/null", "w");
    console display = make_console(sink, sink);
    input input1 = memory_input(bytes1, offset1, std::string::npos, request1);
    input input2 = memory_input(bytes2, offset2, std::string::npos, request2);
    run_result result = run_comparison(input1, input2, display, still_clock);
    check(result.tally.count == common, "count differs from the bytes both inputs hold");
    check(result.tally.errors == errors, "errors differ from the reference count");
    check(result.tally.dblocks == blocks.size(),
          "defective blocks differ from the reference count");
    check(result.end == run_end::finished, "a memory stream ended otherwise than by its end");
    // Nothing compared while an input held bytes verified nothing.
    bool nothing_compared = common == 0 && length1 + length2 > 0;
    check(result.status == (errors || nothing_compared ? exit_trouble : exit_identical),
          "wrong exit status");
    return 0;
}
