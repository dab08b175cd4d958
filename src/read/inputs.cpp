// Opening, positioning and describing the inputs.
#include "read/inputs.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>

#include "exit_status.h"
#include "platform.h"
#include "read/block.h"
#include "show/messages.h"

namespace {

input_pair failed(std::FILE* open1, std::FILE* open2)
{
    if (open1)
        std::fclose(open1);
    if (open2)
        std::fclose(open2);
    input_pair result;
    result.status = exit_trouble;
    return result;
}

// Seeks input `which`'s `stream` to `offset` from the start; a failure is
// reported on `err`, and false is returned.
bool seek_to(int which, std::FILE* stream, std::uint64_t offset, const std::string& name,
             std::FILE* err)
{
    if (offset == 0)
        return true;
    errno = 0;
    // Offsets of 2^63 and above become negative positions, which the seek
    // refuses.
    if (fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0)
        return true;
    write_seek_failure(err, which, offset, name, errno);
    return false;
}

bool power_of_two(std::uint64_t n)
{
    return n != 0 && (n & (n - 1)) == 0;
}

// The medium's sector, which requests start and end on: what the file
// system asks of uncached reads, else the disk's own sector. One that is no
// power of two, or larger than a block, is not used; where the medium then
// refuses uncached requests, the reading thread falls back to the page
// cache (see read_ahead.cpp).
std::size_t sector_of(int fd, std::size_t disk_sector)
{
    std::uint64_t sector = uncached_read_alignment(fd);
    if (sector == 0)
        sector = disk_sector;
    if (!power_of_two(sector) || sector > block_size)
        return default_sector;
    return static_cast<std::size_t>(sector);
}

// Finds out what the open, positioned stream of `in` is.
void describe_input(input& in)
{
    in.fd = fileno(in.stream);
    in.kind = input_kind::pipe;
    in.length.reset();
    struct stat st;
    if (in.fd < 0 || fstat(in.fd, &st) != 0) {
        in.fd = -1;
        return;
    }
    std::optional<std::uint64_t> size;
    std::size_t sector = 0;
    if (S_ISREG(st.st_mode)) {
        in.kind = input_kind::file;
        // Files under /proc and the like say 0 whatever they hold.
        if (st.st_size > 0)
            size = static_cast<std::uint64_t>(st.st_size);
    } else if (std::optional<disk_facts> disk = disk_facts_of(in.fd, st)) {
        in.kind = input_kind::disk;
        size = disk->size;
        sector = disk->sector;
    } else if (!S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode)) {
        in.kind = input_kind::device;
    }
    if (in.kind == input_kind::file || in.kind == input_kind::disk)
        in.sector = sector_of(in.fd, sector);
    off_t position = ftello(in.stream);
    if (size && position >= 0)
        // An offset past the end leaves nothing to compare.
        in.length = *size - std::min(*size, static_cast<std::uint64_t>(position));
}

}  // namespace

input opened(const std::string& name, std::FILE* stream, std::uint64_t offset)
{
    input in;
    in.name = name;
    in.stream = stream;
    in.offset = offset;
    describe_input(in);
    return in;
}

const input* image_of(const input& input1, const input& input2)
{
    auto written_from = [](const input& copy, const input& image) {
        return copy.kind == input_kind::disk &&
               (image.kind == input_kind::file || image.kind == input_kind::pipe);
    };
    if (written_from(input2, input1))
        return &input1;
    if (written_from(input1, input2))
        return &input2;
    if (input1.kind == input_kind::file && input2.kind == input_kind::file && input1.offset == 0 &&
        input2.offset == 0)
        return &input1;
    return nullptr;
}

int checksum_image_of(const input& input1, const input& input2)
{
    auto is_device = [](const input& in) {
        return in.kind == input_kind::disk || in.kind == input_kind::device;
    };
    if (is_device(input1) && is_device(input2))
        return 0;
    if (is_device(input1))
        return 2;
    return 1;
}

std::optional<std::uint64_t> length_to_compare(const input& input1, const input& input2)
{
    // Two files or two disks: the shorter, as far as either is known; the
    // percent says how much of what both hold was compared.
    if (input1.kind == input2.kind &&
        (input1.kind == input_kind::file || input1.kind == input_kind::disk)) {
        if (input1.length && input2.length)
            return std::min(*input1.length, *input2.length);
        return input1.length ? input1.length : input2.length;
    }
    // Against a disk, the image's: a disk's length says only how much room
    // the copy had, and an incomplete copy ends below 100%.
    if (const input* image = image_of(input1, input2))
        return image->length;
    // A file against a pipe or a character device: the file's.
    if (input1.kind == input_kind::file)
        return input1.length;
    if (input2.kind == input_kind::file)
        return input2.length;
    return std::nullopt;
}

input_pair open_inputs(const run_settings& settings, std::FILE* err)
{
    const std::string& name1 = *settings.filename1;
    const std::string& name2 = *settings.filename2;
    std::FILE* stream1 = std::fopen(name1.c_str(), "r");
    if (!stream1) {
        write_open_failure(err, 1, name1);
        return failed(nullptr, nullptr);
    }
    std::FILE* stream2 = std::fopen(name2.c_str(), "r");
    if (!stream2) {
        write_open_failure(err, 2, name2);
        return failed(stream1, nullptr);
    }
    if (!seek_to(1, stream1, settings.offset1, name1, err) ||
        !seek_to(2, stream2, settings.offset2, name2, err))
        return failed(stream1, stream2);
    if (settings.debug_mode) {
        write_real_offset(err, 1, static_cast<long long>(ftello(stream1)));
        write_real_offset(err, 2, static_cast<long long>(ftello(stream2)));
    }
    input_pair result;
    result.input1 = opened(name1, stream1, settings.offset1);
    result.input2 = opened(name2, stream2, settings.offset2);
    result.input1.keep_going = result.input2.keep_going = settings.keep_going;
    if (settings.checksum) {
        const int which = checksum_image_of(result.input1, result.input2);
        const std::string& image = which == 2 ? name2 : name1;
        checksum_choice choice;
        choice.problem = checksum_problem::no_image;
        if (which != 0)
            choice = expected_checksum_of(*settings.checksum, image);
        if (choice.problem != checksum_problem::none) {
            write_checksum_problem(err, *settings.checksum, image, choice);
            return failed(stream1, stream2);
        }
        result.check = checksum_check{which, choice.expected};
    }
    result.ok = true;
    return result;
}
