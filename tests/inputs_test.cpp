// What the inputs are found to be when they are opened.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "read/inputs.h"
#include "test_support.h"

namespace {

constexpr std::uint64_t B = block_size;

class Inputs : public temp_folder_test {};

TEST_F(Inputs, KindAndLengthFromTheStartOffset)
{
    const std::string image = path("image");
    write_file(image, std::string(3 * B + 100, 'i'));
    const std::string empty = path("empty");
    write_file(empty, "");
    struct row {
        std::string name;
        off_t offset;
        input_kind kind;
        std::optional<std::uint64_t> length;
    };
    const std::vector<row> rows = {
        {image, 0, input_kind::file, 3 * B + 100},
        {image, 1000, input_kind::file, 3 * B + 100 - 1000},
        {image, static_cast<off_t>(10 * B), input_kind::file, 0},  // past the end
        {empty, 0, input_kind::file, std::nullopt},                // as files under /proc report it
        {"/dev/zero", 0, input_kind::device, std::nullopt},
    };
    for (const row& r : rows) {
        std::FILE* stream = std::fopen(r.name.c_str(), "r");
        ASSERT_NE(nullptr, stream) << r.name;
        ASSERT_EQ(0, fseeko(stream, r.offset, SEEK_SET));
        input in = opened(r.name, stream, static_cast<std::uint64_t>(r.offset));
        EXPECT_EQ(r.kind, in.kind) << r.name;
        EXPECT_EQ(r.length, in.length) << r.name << " at " << r.offset;
        EXPECT_EQ(fileno(stream), in.fd) << r.name;
        std::fclose(stream);
    }

    // Pipes and sockets deliver what arrives; their length is never known.
    int pipe_ends[2], socket_ends[2];
    ASSERT_EQ(0, pipe(pipe_ends));
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, socket_ends));
    for (int fd : {pipe_ends[0], socket_ends[0]}) {
        std::FILE* stream = fdopen(fd, "r");
        input in = opened("-", stream, 0);
        EXPECT_EQ(input_kind::pipe, in.kind);
        EXPECT_EQ(std::nullopt, in.length);
        std::fclose(stream);
    }
    close(pipe_ends[1]);
    close(socket_ends[1]);
}

input described(input_kind kind, std::optional<std::uint64_t> length)
{
    input in;
    in.kind = kind;
    in.length = length;
    return in;
}

TEST(InputLengths, TheLengthThePercentMeasuresAgainst)
{
    using k = input_kind;
    const std::optional<std::uint64_t> none;
    struct row {
        input input1, input2;
        std::optional<std::uint64_t> length;
    };
    const std::vector<row> rows = {
        {described(k::file, 300), described(k::file, 200), 200},
        {described(k::file, 300), described(k::file, none), 300},
        {described(k::disk, 300), described(k::disk, 200), 200},
        {described(k::file, 300), described(k::pipe, none), 300},
        {described(k::pipe, none), described(k::file, 300), 300},
        {described(k::device, none), described(k::file, 300), 300},
        // The image's length, not the copy's: an incomplete copy ends below 100%.
        {described(k::file, 300), described(k::disk, 200), 300},
        {described(k::disk, 200), described(k::file, 300), 300},
        {described(k::pipe, none), described(k::disk, 200), none},
        {described(k::disk, 200), described(k::device, none), none},
        {described(k::pipe, none), described(k::device, none), none},
    };
    for (const row& r : rows)
        EXPECT_EQ(r.length, length_to_compare(r.input1, r.input2))
            << static_cast<int>(r.input1.kind) << "/" << static_cast<int>(r.input2.kind);
}

TEST(InputLengths, WhichInputIsTheImage)
{
    using k = input_kind;
    struct row {
        input input1, input2;
        int image;     // 1, 2, or 0 for neither
        int checksum;  // the input -s hashes: 1, 2, or 0 for neither
    };
    input at_offset = described(k::file, 300);
    at_offset.offset = 512;
    const std::vector<row> rows = {
        {described(k::file, 300), described(k::disk, 200), 1, 1},
        {described(k::disk, 200), described(k::file, 300), 2, 2},
        {described(k::pipe, std::nullopt), described(k::disk, 200), 1, 1},
        {described(k::disk, 200), described(k::pipe, std::nullopt), 2, 2},
        // Two files read from their starts: the one given first.
        {described(k::file, 200), described(k::file, 300), 1, 1},
        {described(k::file, 300), described(k::file, 200), 1, 1},
        // A partition inside an image, entered at an offset.
        {described(k::file, 300), at_offset, 0, 1},
        {at_offset, described(k::file, 300), 0, 1},
        {described(k::disk, 300), described(k::disk, 200), 0, 0},
        {described(k::file, 300), described(k::pipe, std::nullopt), 0, 1},
        {described(k::pipe, std::nullopt), described(k::file, 300), 0, 1},
        {described(k::device, std::nullopt), described(k::disk, 200), 0, 0},
        {described(k::file, 300), described(k::device, std::nullopt), 0, 1},
        {described(k::device, std::nullopt), described(k::pipe, std::nullopt), 0, 2},
        {described(k::device, std::nullopt), described(k::device, std::nullopt), 0, 0},
    };
    for (const row& r : rows) {
        const input* image = image_of(r.input1, r.input2);
        const int found = image == &r.input1 ? 1 : image == &r.input2 ? 2 : 0;
        const std::string label = std::to_string(static_cast<int>(r.input1.kind)) + "/" +
                                  std::to_string(static_cast<int>(r.input2.kind));
        EXPECT_EQ(r.image, found) << label;
        EXPECT_EQ(r.checksum, checksum_image_of(r.input1, r.input2)) << label;
    }
}

}  // namespace
