// The texts of a comparison run.
#include "show/messages.h"

#include <cstring>

#include "show/text.h"

namespace {

char* put_byte(char* p, unsigned char byte)
{
    p = put_decimal(p, byte);
    p = put_literal(p, " (0x");
    p = put_hex(p, byte, 2);
    *p++ = ')';
    return p;
}

// "prefix: system text\n", as perror writes it.
std::string system_error_line(const char* prefix, int error_number)
{
    return std::string(prefix) + ": " + std::strerror(error_number) + "\n";
}

void write_text(output_stream& err, const std::string& text)
{
    output_write(err, text.data(), text.size());
}

template <std::size_t n>
void write_literal(output_stream& err, const char (&text)[n])
{
    output_write(err, text, n - 1);
}

}  // namespace

char* put_difference(char* p, const difference& d)
{
    p = put_literal(p, "DIFFERENCE count=");
    p = put_decimal(p, d.position);
    p = put_literal(p, "  file1=");
    p = put_byte(p, d.byte1);
    p = put_literal(p, "  file2=");
    p = put_byte(p, d.byte2);
    p = put_literal(p, "  errors=");
    p = put_decimal(p, d.errors);
    p = put_literal(p, " i=");
    p = put_decimal(p, static_cast<std::uint64_t>(d.i));
    p = put_literal(p, " block=");
    p = put_decimal(p, d.block);
    *p++ = '\n';
    return p;
}

void write_report_opening(output_stream& err)
{
    write_literal(err, "\n");
}

void write_report_closing(output_stream& err, int retries)
{
    write_text(err, "retries=" + std::to_string(retries) + " read block\n");
}

void write_unreadable_stretch(output_stream& err, int which, std::uint64_t from, std::uint64_t to,
                              int error_number)
{
    write_text(err, "tandemcheck(): file " + std::to_string(which) + " unreadable from " +
                        std::to_string(from) + " to " + std::to_string(to) + ": " +
                        std::strerror(error_number) + "\n");
}

void write_unreadable_total(output_stream& err, int which, std::uint64_t bytes,
                            std::uint64_t stretches)
{
    write_text(err, "tandemcheck(): file " + std::to_string(which) + ": " + std::to_string(bytes) +
                        " bytes in " + std::to_string(stretches) +
                        (stretches == 1 ? " stretch" : " stretches") + " could not be read\n");
}

void write_end_of_input(output_stream& err, int which, std::uint64_t at)
{
    write_text(err,
               "EOF found in file" + std::to_string(which) + " at " + std::to_string(at) + "\n");
}

void write_read_error(output_stream& err, int which, int error_number)
{
    write_text(err, system_error_line(which == 1 ? "tandemcheck(): fread file 1():"
                                                 : "tandemcheck(): fread file 2():",
                                      error_number));
}

namespace {

// "tandemcheck(): file 2 (name) may be read from memory, not its medium: "
std::string memory_caveat(int which, const std::string& name)
{
    return "tandemcheck(): file " + std::to_string(which) + " (" + name +
           ") may be read from memory, not its medium: ";
}

}  // namespace

void write_system_caveat(output_stream& err, int which, const std::string& name)
{
    write_text(err, memory_caveat(which, name) +
                        "this system may serve pages it cached before the run; unmount and "
                        "mount its file system again first\n");
}

void write_disk_caveat(output_stream& err, int which, const std::string& name,
                       const std::string& disk, int error_number)
{
    write_text(err, memory_caveat(which, name) + "cannot drop the cached pages of " + disk + ": " +
                        std::strerror(error_number) +
                        "; verify as root, or unmount and mount the file system again first\n");
}

void write_unnamed_disk_caveat(output_stream& err, int which, const std::string& name)
{
    write_text(err, memory_caveat(which, name) +
                        "its FUSE file system names no disk whose cache could be dropped; "
                        "unmount and mount the file system again first\n");
}

void write_raw_disk_caveat(output_stream& err, int which, const std::string& name,
                           const std::string& raw)
{
    write_text(err, memory_caveat(which, name) +
                        "this system reads this node through its cache; name the raw node, " + raw +
                        ", instead\n");
}

void write_incomplete_copy(output_stream& err, int which, std::uint64_t at)
{
    write_text(err, "tandemcheck(): file " + std::to_string(which) + " ended at " +
                        std::to_string(at) + ", before file " + std::to_string(3 - which) +
                        " did: the copy is incomplete\n");
}

void write_nothing_compared(output_stream& err, int which)
{
    write_text(err, "tandemcheck(): no byte compared: file " + std::to_string(which) +
                        " holds nothing from its start offset\n");
}

namespace {

// A name from a checksum list, which comes from elsewhere: its control
// characters are shown escaped, so that none of them reaches a terminal.
std::string shown_list_name(const std::string& name)
{
    static const char digits[] = "0123456789abcdef";
    std::string shown;
    for (unsigned char c : name) {
        if (c == '\n') {
            shown += "\\n";
        } else if (c < 0x20 || c == 0x7f) {
            shown += "\\x";
            shown += digits[c >> 4];
            shown += digits[c & 15];
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

}  // namespace

void write_checksum_verdict(output_stream& err, const checksum_verdict& verdict)
{
    const expected_checksum& expected = verdict.expected;
    std::string line = "tandemcheck(): file " + std::to_string(verdict.which) + " " +
                       algorithm_name(expected.algorithm) + " ";
    if (verdict.hex.empty()) {
        line += "not computed: ";
        if (verdict.unreadable > 0)
            line += std::to_string(verdict.unreadable) + " bytes could not be read";
        else if (verdict.error_number != 0)
            line += std::strerror(verdict.error_number);
        else
            line += "the system's digest library failed";
    } else {
        const bool same = as_given(verdict);
        line += verdict.hex + (same ? ": as given" : ": NOT as given");
        if (!expected.list.empty())
            line += " for " + shown_list_name(expected.name) + " in " + expected.list;
        if (!same)
            line += " (" + expected.hex + ")";
    }
    write_text(err, line + "\n");
}

void write_checksum_problem(std::FILE* err, const std::string& argument,
                            const std::string& image_name, const checksum_choice& choice)
{
    const char* list = argument.c_str();
    switch (choice.problem) {
    case checksum_problem::none:
        return;
    case checksum_problem::list_unreadable:
        std::fprintf(err, "tandemcheck(): could not read checksum list %s: %s, aborting.\n", list,
                     std::strerror(choice.error_number));
        return;
    case checksum_problem::list_empty:
        std::fprintf(err, "tandemcheck(): checksum list %s holds no checksum line, aborting.\n",
                     list);
        return;
    case checksum_problem::no_entry:
        std::fprintf(err, "tandemcheck(): checksum list %s has no line for %s, aborting.\n", list,
                     file_name_of(image_name).c_str());
        return;
    case checksum_problem::conflicting:
        std::fprintf(err,
                     "tandemcheck(): checksum list %s gives different checksums for %s, "
                     "aborting.\n",
                     list, file_name_of(image_name).c_str());
        return;
    case checksum_problem::not_hex:
        std::fprintf(err, "tandemcheck(): digest %s is not hexadecimal, aborting.\n", list);
        return;
    case checksum_problem::no_such_length:
        std::fprintf(err,
                     "tandemcheck(): digest %s has a length no checksum has (MD5 32 digits, "
                     "SHA-1 40, SHA-224 56, SHA-256 64, SHA-384 96, SHA-512 128), aborting.\n",
                     list);
        return;
    case checksum_problem::no_image:
        std::fprintf(err,
                     "tandemcheck(): -s checks an image, a file or a pipe, and both inputs are "
                     "disks or devices, aborting.\n");
        return;
    }
}

void write_summary(output_stream& err, const compare_tally& tally)
{
    write_text(err, "\n\nReady, " + std::to_string(tally.count) + " bytes read, " +
                        std::to_string(tally.errors) + " errors found, " +
                        std::to_string(tally.dblocks) + " defective blocks\n");
}

void write_output_failure(output_stream& err, int error_number)
{
    write_text(err, system_error_line("tandemcheck(): standard output", error_number));
}

void write_open_failure(std::FILE* err, int which, const std::string& name)
{
    std::fprintf(err, "tandemcheck(): could not open %s input file %s, aborting.\n",
                 which == 1 ? "first" : "second", name.c_str());
}

void write_seek_failure(std::FILE* err, int which, std::uint64_t offset, const std::string& name,
                        int error_number)
{
    // The two prefixes differ in form, "file1" and "file 2", as they always have.
    std::fputs(
        system_error_line(which == 1 ? "seek in file1 " : "seek in file 2 ", error_number).c_str(),
        err);
    std::fprintf(err, "fseek to offset %llu failed in %s, aborting.\n",
                 static_cast<unsigned long long>(offset), name.c_str());
}

void write_real_offset(std::FILE* err, int which, long long position)
{
    std::fprintf(err, "real file%d offset = %llu\n", which,
                 static_cast<unsigned long long>(position));
}
