// The checksum an image is expected to have (-s): from a list as
// publishers ship it and as sha256sum and its kin write it, or one digest
// in hexadecimal given on the command line.
#ifndef TANDEMCHECK_CHECKSUM_H
#define TANDEMCHECK_CHECKSUM_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

// The algorithm's name as the run writes it: "SHA-256".
const char* algorithm_name(digest_algorithm algorithm);

// The algorithm whose digests have `digits` hexadecimal digits, if any.
std::optional<digest_algorithm> algorithm_of_digits(std::size_t digits);

// `bytes` in hexadecimal, lower case.
std::string hex_of(const std::string& bytes);

// One line of a checksum list.
struct checksum_entry {
    digest_algorithm algorithm = digest_algorithm::sha256;
    std::string hex;   // lower case
    std::string name;  // as the list gives it, folders included
};

// The entry of one line: "HEX  name" or "HEX *name" (GNU, a leading
// backslash marking an escaped name) or "TAG (name) = HEX" (BSD). Nothing
// for any other line: comments, blank lines, the armour of a signed list.
// A CR before the line's end is no part of it.
std::optional<checksum_entry> parse_checksum_line(std::string_view line);

// Every entry of a list's text, in order.
std::vector<checksum_entry> parse_checksum_list(std::string_view text);

// Why -s cannot be used.
enum class checksum_problem {
    none,
    list_unreadable,  // the list cannot be opened or read (error_number)
    list_empty,       // the list holds no checksum line
    no_entry,         // more than one entry, none for the image's name
    conflicting,      // entries for the image's name disagree
    not_hex,          // a digest given that is not hexadecimal
    no_such_length,   // a digest given whose length no algorithm has
    no_image,         // neither input is the image (two disks, two devices)
};

// What the image is expected to hash to, and where that was said.
struct expected_checksum {
    digest_algorithm algorithm = digest_algorithm::sha256;
    std::string hex;   // lower case
    std::string name;  // the list's name for the image; empty for a digest given
    std::string list;  // the list as named with -s; empty for a digest given
};

// What -s comes to: the checksum expected, or why there is none.
struct checksum_choice {
    expected_checksum expected;
    checksum_problem problem = checksum_problem::none;
    int error_number = 0;  // with list_unreadable
};

// -s: the image whose checksum is checked, and the checksum it should have.
struct checksum_check {
    int which = 1;  // the image: input 1 or 2
    expected_checksum expected;
};

// What the image's checksum came to.
struct checksum_verdict {
    int which = 0;  // the image: input 1 or 2
    expected_checksum expected;
    std::string hex;               // as computed, lower case; empty where it could not be
    std::uint64_t unreadable = 0;  // why not: bytes of the image that could not be read (-k)
    int error_number = 0;          // why not: the read error that ended the image
};

// Whether the image's checksum was computed and is the one expected.
bool as_given(const checksum_verdict& verdict);

// The checksum a digest given as `text` (white space around it allowed) stands for.
checksum_choice digest_given(std::string_view text);

// The entry of `entries` (the list named `list`) for the image called
// `image_name`: the one whose name's last component is the image's file
// name, or the only one. Where several name the image, the strongest
// algorithm's is used, and they must agree.
checksum_choice entry_for(const std::vector<checksum_entry>& entries, const std::string& list,
                          const std::string& image_name);

// What `-s argument` asks of the image named `image_name`: a digest where
// the argument is one (or plainly meant as one, but malformed) and names no
// file; else the list of that name, read here.
checksum_choice expected_checksum_of(const std::string& argument, const std::string& image_name);

// The last component of `path`: the name a list gives an image by.
std::string file_name_of(const std::string& path);

#endif
