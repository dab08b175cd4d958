// The texts of a comparison run, exactly as they stand.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "show/messages.h"
#include "test_support.h"

namespace {

// What -s expects, from a list and as a digest given.
const expected_checksum listed{digest_algorithm::sha256, "9f86d0", "./images/debian.iso",
                               "SHA256SUMS"};
const expected_checksum given{digest_algorithm::md5, "900150", "", ""};

TEST(Messages, EachTextAsItStands)
{
    compare_tally tally;
    tally.count = 4294967296;
    tally.errors = 3;
    tally.dblocks = 1;
    struct row {
        std::function<void(output_stream&)> write;
        std::string text;
    };
    const std::vector<row> rows = {
        {write_report_opening, "\n"},
        {[](output_stream& err) { write_report_closing(err); }, "retries=0 read block\n"},
        {[](output_stream& err) { write_report_closing(err, 9); }, "retries=9 read block\n"},
        {[](output_stream& err) { write_unreadable_stretch(err, 2, 1234944, 1239040, EIO); },
         "tandemcheck(): file 2 unreadable from 1234944 to 1239040: Input/output error\n"},
        {[](output_stream& err) { write_unreadable_total(err, 2, 65536, 3); },
         "tandemcheck(): file 2: 65536 bytes in 3 stretches could not be read\n"},
        {[](output_stream& err) { write_unreadable_total(err, 1, 2048, 1); },
         "tandemcheck(): file 1: 2048 bytes in 1 stretch could not be read\n"},
        {[](output_stream& err) { write_end_of_input(err, 1, 0); }, "EOF found in file1 at 0\n"},
        {[](output_stream& err) { write_end_of_input(err, 2, 4294967296); },
         "EOF found in file2 at 4294967296\n"},
        {[](output_stream& err) { write_read_error(err, 1, EIO); },
         "tandemcheck(): fread file 1():: Input/output error\n"},
        {[](output_stream& err) { write_read_error(err, 2, EISDIR); },
         "tandemcheck(): fread file 2():: Is a directory\n"},
        {[](output_stream& err) { write_incomplete_copy(err, 2, 134217728); },
         "tandemcheck(): file 2 ended at 134217728, before file 1 did: the copy is incomplete\n"},
        {[](output_stream& err) { write_incomplete_copy(err, 1, 0); },
         "tandemcheck(): file 1 ended at 0, before file 2 did: the copy is incomplete\n"},
        {[](output_stream& err) { write_nothing_compared(err, 1); },
         "tandemcheck(): no byte compared: file 1 holds nothing from its start offset\n"},
        {[](output_stream& err) { write_system_caveat(err, 2, "/mnt/usb/copy.img"); },
         "tandemcheck(): file 2 (/mnt/usb/copy.img) may be read from memory, not its medium: "
         "this system may serve pages it cached before the run; unmount and mount its file "
         "system again first\n"},
        {[](output_stream& err) { write_disk_caveat(err, 1, "stick/copy", "/dev/sdb1", EACCES); },
         "tandemcheck(): file 1 (stick/copy) may be read from memory, not its medium: cannot "
         "drop the cached pages of /dev/sdb1: Permission denied; verify as root, or unmount and "
         "mount the file system again first\n"},
        {[](output_stream& err) { write_raw_disk_caveat(err, 2, "/dev/disk2", "/dev/rdisk2"); },
         "tandemcheck(): file 2 (/dev/disk2) may be read from memory, not its medium: this "
         "system reads this node through its cache; name the raw node, /dev/rdisk2, instead\n"},
        {[](output_stream& err) { write_unnamed_disk_caveat(err, 2, "fat/copy"); },
         "tandemcheck(): file 2 (fat/copy) may be read from memory, not its medium: its FUSE "
         "file system names no disk whose cache could be dropped; unmount and mount the file "
         "system again first\n"},
        {[](output_stream& err) {
             write_checksum_verdict(err, checksum_verdict{1, listed, "9f86d0", 0, 0});
         },
         "tandemcheck(): file 1 SHA-256 9f86d0: as given for ./images/debian.iso in "
         "SHA256SUMS\n"},
        {[](output_stream& err) {
             write_checksum_verdict(err, checksum_verdict{2, listed, "00aa11", 0, 0});
         },
         "tandemcheck(): file 2 SHA-256 00aa11: NOT as given for ./images/debian.iso in "
         "SHA256SUMS (9f86d0)\n"},
        {[](output_stream& err) {
             expected_checksum odd = listed;
             odd.name = "line\nbreak\033]0;title\a";
             write_checksum_verdict(err, checksum_verdict{1, odd, "9f86d0", 0, 0});
         },
         "tandemcheck(): file 1 SHA-256 9f86d0: as given for line\\nbreak\\x1b]0;title\\x07 in "
         "SHA256SUMS\n"},
        {[](output_stream& err) {
             write_checksum_verdict(err, checksum_verdict{1, given, "900150", 0, 0});
         },
         "tandemcheck(): file 1 MD5 900150: as given\n"},
        {[](output_stream& err) {
             write_checksum_verdict(err, checksum_verdict{1, given, "a9993e", 0, 0});
         },
         "tandemcheck(): file 1 MD5 a9993e: NOT as given (900150)\n"},
        {[](output_stream& err) {
             write_checksum_verdict(err, checksum_verdict{2, listed, "", 4096, 0});
         },
         "tandemcheck(): file 2 SHA-256 not computed: 4096 bytes could not be read\n"},
        {[](output_stream& err) {
             write_checksum_verdict(err, checksum_verdict{1, given, "", 0, EIO});
         },
         "tandemcheck(): file 1 MD5 not computed: Input/output error\n"},
        {[&](output_stream& err) { write_summary(err, tally); },
         "\n\nReady, 4294967296 bytes read, 3 errors found, 1 defective blocks\n"},
        {[](output_stream& err) { write_output_failure(err, ENOSPC); },
         "tandemcheck(): standard output: No space left on device\n"},
        {[](output_stream& err) {
             write_difference(err, difference{70005, 0xc8, 0x00, 0, 4469, 2});
         },
         "DIFFERENCE count=70005  file1=200 (0xc8)  file2=0 (0x00)  errors=0 i=4469 block=2\n"},
    };
    for (const row& r : rows) {
        memory_output stream;
        output_stream err = make_output(stream.stream);
        r.write(err);
        output_flush(err);
        EXPECT_EQ(r.text, stream.text());
        EXPECT_EQ(0, err.error);
    }
}

TEST(Messages, DifferenceLineMatchesItsFormat)
{
    std::mt19937_64 generator(3);
    std::vector<difference> cases = {{0, 0, 0, 0, 0, 0},
                                     {UINT64_MAX, 255, 255, UINT64_MAX, 32767, UINT64_MAX},
                                     {70005, 0xc8, 0x00, 0, 4469, 2}};
    for (int i = 0; i < 3000; ++i)
        cases.push_back({generator() >> (generator() % 64), static_cast<unsigned char>(generator()),
                         static_cast<unsigned char>(generator()), generator() >> (generator() % 64),
                         static_cast<int>(generator() % 32768), generator() >> (generator() % 64)});
    for (const difference& d : cases) {
        std::string expected =
            printed("DIFFERENCE count=%llu  file1=%d (0x%02x)  file2=%d (0x%02x)  errors=%llu i=%d "
                    "block=%llu\n",
                    static_cast<unsigned long long>(d.position), d.byte1, d.byte1, d.byte2, d.byte2,
                    static_cast<unsigned long long>(d.errors), d.i,
                    static_cast<unsigned long long>(d.block));
        ASSERT_EQ(expected, difference_line(d));
    }
}

}  // namespace
