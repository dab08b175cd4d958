// Blocks handed out of large requests, from streams and from media.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "compare/comparison.h"
#include "read/hashing.h"
#include "read/reader.h"
#include "show/console.h"
#include "test_support.h"

namespace {

constexpr std::size_t B = block_size;

class Reader : public temp_folder_test {
protected:
    // An input over a new file of `bytes`, entered at `offset`.
    input file_input(const std::string& bytes, std::uint64_t offset, std::size_t request)
    {
        std::string name = path("input" + std::to_string(++files));
        write_file(name, bytes);
        std::FILE* stream = std::fopen(name.c_str(), "r");
        EXPECT_NE(nullptr, stream);
        EXPECT_EQ(0, fseeko(stream, static_cast<off_t>(offset), SEEK_SET));
        input in = opened(name, stream, offset);
        in.request = request;
        return in;
    }

    int files = 0;  // made so far
};

// Every outcome up to the end, with the bytes of each, and whether the
// blocks came numbered one after the other.
struct reading {
    std::vector<read_outcome> outcomes;
    std::string bytes;
    bool numbered = true;
};

reading read_all(input_reader& reader)
{
    reading r;
    std::uint64_t first = 0;
    for (;;) {
        input_block block;
        int error_number = 0;
        read_outcome outcome = next_block(reader, block, error_number);
        if (r.outcomes.empty())
            first = block.index;
        r.numbered = r.numbered && block.index == first + r.outcomes.size();
        r.outcomes.push_back(outcome);
        r.bytes.append(reinterpret_cast<const char*>(block.data), block.length);
        if (outcome != read_outcome::block || r.outcomes.size() > 1000)
            return r;
    }
}

TEST_F(Reader, AMediumIsHandedOutAsReadingABlockAtATimeWould)
{
    // Whole blocks, then the end with what is left (nothing after a whole
    // number of blocks), whatever the request size and the start offset.
    for (std::size_t request : {B, 4 * B, 40 * B})
        for (std::uint64_t offset : {0, 1000, 4096})
            for (std::size_t blocks : {0, 1, 4, 9, 17, 40, 41})
                for (std::size_t tail : {std::size_t{0}, std::size_t{5000}}) {
                    const std::size_t length = blocks * B + tail;
                    const std::string data = random_bytes(offset + length, 11);
                    input in = file_input(data, offset, request);
                    ASSERT_EQ(input_kind::file, in.kind);
                    input_reader reader = make_reader(in);
                    ASSERT_TRUE(reader.medium) << "not read from the medium";
                    reading r = read_all(reader);
                    std::vector<read_outcome> expected(blocks, read_outcome::block);
                    expected.push_back(read_outcome::end);
                    const std::string label = "request " + std::to_string(request) + ", offset " +
                                              std::to_string(offset) + ", " +
                                              std::to_string(length) + " bytes";
                    EXPECT_EQ(expected, r.outcomes) << label;
                    EXPECT_TRUE(data.substr(offset) == r.bytes) << label;
                    EXPECT_TRUE(r.numbered) << label;
                    std::fclose(in.stream);
                }
}

TEST_F(Reader, AMediumIsReadNoFurtherThanItsLimitUntilTheLimitIsLifted)
{
    const std::uint64_t offset = 1000;
    const std::string data = random_bytes(offset + 10 * B, 12);
    input in = file_input(data, offset, 40 * B);
    input_reader reader = make_reader(in, 2 * B + 100);
    reading r = read_all(reader);
    // The bytes up to the limit, rounded up to the medium's sector.
    const std::size_t held =
        (offset + 2 * B + 100 + in.sector - 1) / in.sector * in.sector - offset;
    EXPECT_EQ(
        (std::vector<read_outcome>{read_outcome::block, read_outcome::block, read_outcome::limit}),
        r.outcomes);
    EXPECT_TRUE(data.substr(offset, held) == r.bytes) << r.bytes.size() << " bytes";
    // Lifted, the held bytes come again as part of a whole block.
    lift_limit(reader);
    reading rest = read_all(reader);
    EXPECT_EQ(9u, rest.outcomes.size());
    EXPECT_EQ(read_outcome::end, rest.outcomes.back());
    EXPECT_TRUE(data.substr(offset + 2 * B) == rest.bytes);
    EXPECT_TRUE(rest.numbered);
    std::fclose(in.stream);
}

TEST_F(Reader, AnImageIsHashedWholeAndInOrderHoweverFarTheHashLags)
{
    // The hash is kept busy with a long span first, so that the medium's
    // thread has read every slot well before it is hashed: a slot read
    // into again too soon changes the digest. Held at a limit, the rest is
    // read and hashed by read_rest.
    const std::string lag(std::size_t{64} << 20, 'l');
    for (bool stream : {false, true}) {
        const std::uint64_t offset = 1000;
        const std::string data = random_bytes(offset + 10 * 40 * B + 777, 13);
        input in = file_input(data, offset, 40 * B);
        if (stream)
            in.kind = input_kind::pipe;
        std::shared_ptr<image_hash> hash = start_image_hash(digest_algorithm::sha256);
        ASSERT_TRUE(hash);
        hash_later(*hash, reinterpret_cast<const unsigned char*>(lag.data()), lag.size());
        input_reader reader = make_reader(in, 3 * B, hash);
        EXPECT_EQ(!stream, static_cast<bool>(reader.medium));
        reading first = read_all(reader);
        EXPECT_EQ(stream ? read_outcome::end : read_outcome::limit, first.outcomes.back());
        int error_number = 0;
        EXPECT_EQ(read_outcome::end, read_rest(reader, error_number));
        EXPECT_EQ(0, error_number);
        hash_result result = finish_hashing(*hash);
        EXPECT_EQ(lag.size() + data.size() - offset, result.bytes) << "stream " << stream;
        EXPECT_EQ(sha256_of(lag + data.substr(offset)), hex_of(result.digest))
            << "stream " << stream;
        std::fclose(in.stream);
    }
}

TEST_F(Reader, RunsOverFilesShowWhatReadingABlockAtATimeShows)
{
    // Lengths around the block grid and the alignment: each pair is run over
    // files read from their medium, and over streams read a block at a time.
    struct row {
        std::size_t length1, length2;
    };
    const std::vector<row> rows = {
        {102401, 100000},
        {100000, 102401},
        {100000, 100010},
        {3 * B, 3 * B + 1},
        {2 * B + 4096, 2 * B + 4097},
        {5 * B - 1, 5 * B},
        {0, 3 * B},
        {40 * B + 1, 41 * B},
    };
    const std::string data = random_bytes(42 * B + 5000, 14);
    for (std::size_t request : {B, 4 * B, 40 * B})
        for (std::uint64_t offset : {0, 1000})
            for (const row& r : rows) {
                std::string bytes1 = data.substr(0, offset + r.length1);
                std::string bytes2 = data.substr(0, offset + r.length2);
                bytes2[offset + r.length2 / 2] ^= 1;
                memory_output out, err, streamed_out, streamed_err;
                input input1 = file_input(bytes1, offset, request);
                input input2 = file_input(bytes2, offset, request);
                console display = make_console(out.stream, err.stream);
                run_result result = run_comparison(input1, input2, display, still_clock);
                input stream1 = memory_input(bytes1, offset);
                input stream2 = memory_input(bytes2, offset);
                // Read as streams, judged as the files they stand for.
                for (auto [stream, file] : {std::pair{&stream1, &input1}, {&stream2, &input2}}) {
                    stream->kind = file->kind;
                    stream->length = file->length;
                    stream->offset = file->offset;
                }
                console streamed = make_console(streamed_out.stream, streamed_err.stream);
                run_result expected = run_comparison(stream1, stream2, streamed, still_clock);
                const std::string label =
                    std::to_string(r.length1) + "/" + std::to_string(r.length2) + ", offset " +
                    std::to_string(offset) + ", request " + std::to_string(request);
                EXPECT_EQ(expected.status, result.status) << label;
                EXPECT_EQ(streamed_err.text(), err.text()) << label;
                EXPECT_TRUE(streamed_out.text() == out.text()) << label;
            }
}

TEST_F(Reader, AnInputThatOutgrowsItsLengthIsReadOn)
{
    // The first input was shorter when it was opened: the second one's
    // limit, its old length, must not end the run early, whether the first
    // goes on past the block or ends within it.
    struct row {
        std::size_t length, recorded;
    };
    for (const row& r : {row{5 * B + 10, 2 * B}, row{2 * B + 5000, 2 * B + 100}}) {
        const std::string data = random_bytes(r.length, 13);
        input input1 = file_input(data, 0, 0);
        input input2 = file_input(data, 0, 0);
        input1.length = r.recorded;
        memory_output out, err;
        console display = make_console(out.stream, err.stream);
        run_result result = run_comparison(input1, input2, display, still_clock);
        EXPECT_EQ(0, result.status) << r.length;
        EXPECT_EQ(r.length, result.tally.count);
        const std::string end = std::to_string(r.length);
        EXPECT_EQ("EOF found in file1 at " + end + "\nEOF found in file2 at " + end +
                      "\n\n\nReady, " + end + " bytes read, 0 errors found, 0 defective blocks\n",
                  err.text());
    }
}

}  // namespace
