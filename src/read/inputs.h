// Opens the two inputs, positions each at its start offset, and says what
// each one is.
#ifndef TANDEMCHECK_INPUTS_H
#define TANDEMCHECK_INPUTS_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "cli/run_settings.h"
#include "read/checksum.h"

// What kind of thing an input is, as far as reading and lengths go.
enum class input_kind {
    file,    // a regular file
    disk,    // a block device, or on the BSDs a character device that answers as a disk
    pipe,    // a pipe, FIFO or socket, or a stream without a descriptor
    device,  // any other device, such as /dev/zero or a terminal
};

// A medium read by position, as pread reads it: the bytes read, 0 at its
// end, or -1 with errno set.
using medium_read =
    std::function<ssize_t(unsigned char* buffer, std::size_t length, std::uint64_t position)>;

// A medium's sector (files and disks), which requests start and end on,
// when the system says nothing else.
constexpr std::size_t default_sector = 4096;

// One input: everything the run needs to know of it, gathered when it is opened.
struct input {
    std::string name;                     // as given on the command line
    std::FILE* stream = nullptr;          // open and positioned at `offset`
    int fd = -1;                          // the stream's descriptor, or -1 where it has none
    std::uint64_t offset = 0;             // start offset
    input_kind kind = input_kind::pipe;   // what the input is
    std::optional<std::uint64_t> length;  // bytes from `offset` to the end, where known
    std::size_t sector = default_sector;  // of the medium: requests start and end on it
    std::size_t request = 0;  // bytes one read asks for; 0: what suits the kind (see the reader)
    bool keep_going = false;  // -k: a medium's bytes that cannot be read are passed over
    medium_read medium;       // tests: a medium in memory, read in place of the descriptor
};

// The two positioned inputs, or the status to end with.
struct input_pair {
    input input1;                         // the input given with -a
    input input2;                         // the input given with -b
    std::optional<checksum_check> check;  // -s: the image's checksum, to be checked
    bool ok = false;                      // false: nothing is open, end with `status`
    int status = 0;
};

// Opens both inputs read-only, seeks to the start offsets and describes
// both; with -s, finds the image and the checksum it should have, before
// anything is read. Failures are reported on `err`; on failure no stream
// is left open.
input_pair open_inputs(const run_settings& settings, std::FILE* err);

// The record of the input named `name`, open as `stream` and positioned at
// `offset`: descriptor, kind, length and sector are found out here. A
// stream without a descriptor counts as a pipe.
input opened(const std::string& name, std::FILE* stream, std::uint64_t offset);

// Which input holds the image the other is a copy of, where that can be
// told: a regular file or a pipe checked against a disk; or, of two regular
// files read from their starts, the first (given with -a, as the copy is
// given with -b). Elsewhere neither: two disks, a character device, a file
// entered at a start offset (a partition inside an image), a file against
// a pipe.
const input* image_of(const input& input1, const input& input2);

// Which input is the image whose checksum -s checks (1 or 2), or 0 where
// neither is: the file or pipe against a disk or a character device; of
// two disks or devices, neither; of any other pair, input 1. Looser than
// image_of: a partition inside an image, entered at a start offset, is
// still checked.
int checksum_image_of(const input& input1, const input& input2);

// The length the percent done measures against: the image's. That is a
// regular file's length against a disk, a pipe or a device; the smaller of
// two files' or two disks' lengths; nothing where only a disk's is known.
std::optional<std::uint64_t> length_to_compare(const input& input1, const input& input2);

#endif
