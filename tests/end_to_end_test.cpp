// The built binary on real files, pipes, devices and folders.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

constexpr std::uint64_t B = block_size;

// `hex` in capitals.
std::string upper(std::string hex)
{
    for (char& c : hex)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;
}

const std::string ready0 = "\n\nReady, 0 bytes read, 0 errors found, 0 defective blocks\n";

class EndToEnd : public temp_folder_test {
protected:
    // Writes `bytes` to a new file in the folder and returns its path.
    std::string file(const std::string& name, const std::string& bytes)
    {
        std::string p = path(name);
        write_file(p, bytes);
        return p;
    }

    // A FIFO fed with `bytes` by a writer thread, which stops quietly if the
    // reader goes away.
    std::string fifo(const std::string& name, const std::string& bytes)
    {
        std::string p = path(name);
        EXPECT_EQ(0, mkfifo(p.c_str(), 0600));
        signal(SIGPIPE, SIG_IGN);
        writers.emplace_back([p, bytes] {
            int fd = open(p.c_str(), O_WRONLY);
            for (std::size_t done = 0; fd >= 0 && done < bytes.size();) {
                ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
                if (n <= 0)
                    break;
                done += static_cast<std::size_t>(n);
            }
            close(fd);
        });
        return p;
    }

    void TearDown() override
    {
        for (std::thread& writer : writers)
            writer.join();
        temp_folder_test::TearDown();
    }

    std::vector<std::thread> writers;
};

TEST_F(EndToEnd, CommandLinesThatNeverStartARun)
{
    process_result none = run_tandemcheck({});
    EXPECT_EQ(1, none.status);
    EXPECT_EQ(banner + usage, none.out);
    EXPECT_EQ("No filename1 specified, use -a filename, aborting\n", none.err);

    // Help ends the run before the inputs are opened.
    process_result help = run_tandemcheck({"-a", path("missing1"), "-b", path("missing2"), "-h"});
    EXPECT_EQ(1, help.status);
    EXPECT_EQ(banner + usage, help.out);
    EXPECT_EQ("", help.err);

    process_result unknown = run_tandemcheck({"-z"});
    EXPECT_EQ(1, unknown.status);
    EXPECT_EQ(banner + "Unknown option `-z'.\n" + usage, unknown.out);
    EXPECT_NE(std::string::npos, unknown.err.find('z')) << "the parser's own diagnostic";
}

TEST_F(EndToEnd, InputsThatCannotBeOpenedOrPositioned)
{
    std::string a = file("a", random_bytes(B, 1));
    const std::string long_name = path(std::string(64 * 1024, 'n'));
    struct row {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<row> rows = {
        {{"-a", path("missing1"), "-b", path("missing2")},
         "tandemcheck(): could not open first input file " + path("missing1") + ", aborting.\n"},
        {{"-a", a, "-b", path("missing2")},
         "tandemcheck(): could not open second input file " + path("missing2") + ", aborting.\n"},
        {{"-a", "", "-b", a}, "tandemcheck(): could not open first input file , aborting.\n"},
        {{"-a", long_name, "-b", a},
         "tandemcheck(): could not open first input file " + long_name + ", aborting.\n"},
        {{"-a", a, "-b", a, "-o", "-1"},
         "seek in file1 : Invalid argument\nfseek to offset 18446744073709551615 failed in " + a +
             ", aborting.\n"},
        {{"-a", a, "-b", a, "-p", "9223372036854775808"},
         "seek in file 2 : Invalid argument\nfseek to offset 9223372036854775808 failed in " + a +
             ", aborting.\n"},
    };
    for (const row& r : rows) {
        process_result p = run_tandemcheck(r.args);
        EXPECT_EQ(1, p.status) << r.err;
        EXPECT_EQ(banner, p.out) << r.err;
        EXPECT_EQ(r.err, p.err);
    }

    // The largest positive offset either seeks (and meets the end at once,
    // so nothing is compared) or is refused by the file system; either way
    // the run fails and says why.
    process_result edge = run_tandemcheck({"-a", a, "-b", a, "-o", "9223372036854775807"});
    EXPECT_EQ(1, edge.status);
    EXPECT_TRUE(
        edge.err ==
            "EOF found in file1 at 0\n"
            "tandemcheck(): no byte compared: file 1 holds nothing from its start offset\n" +
                ready0 ||
        edge.err ==
            "seek in file1 : Invalid argument\nfseek to offset 9223372036854775807 failed in " + a +
                ", aborting.\n")
        << edge.err;
}

TEST_F(EndToEnd, APipeReadsFromItsStartButCannotSeek)
{
    std::string data = random_bytes(3 * B + 100, 2);
    std::string a = file("a", data);
    process_result piped = run_tandemcheck({"-a", fifo("pipe1", data), "-b", a});
    EXPECT_EQ(0, piped.status);
    EXPECT_EQ("EOF found in file1 at 98404\nEOF found in file2 at 98404\n"
              "\n\nReady, 98404 bytes read, 0 errors found, 0 defective blocks\n",
              piped.err);

    // An offset of 0 makes no seek, so a pipe takes it too.
    process_result zero = run_tandemcheck({"-a", fifo("pipe0", data), "-o", "0", "-b", a});
    EXPECT_EQ(0, zero.status);
    EXPECT_EQ(piped.err, zero.err);

    std::string pipe2 = fifo("pipe2", data);
    process_result seeking = run_tandemcheck({"-a", a, "-b", pipe2, "-p", "1"});
    EXPECT_EQ(1, seeking.status);
    EXPECT_EQ("seek in file 2 : Illegal seek\nfseek to offset 1 failed in " + pipe2 +
                  ", aborting.\n",
              seeking.err);
}

TEST_F(EndToEnd, DevicesDirectoriesAndOddNames)
{
    std::string zeros = file("zeros", std::string(3 * B + B / 2, '\0'));
    process_result device = run_tandemcheck({"-a", "/dev/zero", "-b", zeros});
    EXPECT_EQ(0, device.status);
    EXPECT_EQ("EOF found in file2 at 114688\n"
              "\n\nReady, 114688 bytes read, 0 errors found, 0 defective blocks\n",
              device.err);

    process_result folder1 = run_tandemcheck({"-a", folder, "-b", zeros});
    EXPECT_EQ(1, folder1.status);
    // The last status line shows the summary's figures on every way a run ends.
    EXPECT_EQ(banner + line_at_0, folder1.out);
    EXPECT_EQ("tandemcheck(): fread file 1():: Is a directory\n" + ready0, folder1.err);

    process_result folder2 = run_tandemcheck({"-a", zeros, "-b", folder});
    EXPECT_EQ(1, folder2.status);
    EXPECT_EQ("tandemcheck(): fread file 2():: Is a directory\n" + ready0, folder2.err);

    for (const std::string name : {" spaced name ", "-dash", "caf\xc3\xa9\xff"}) {
        std::string odd = file(name, std::string(B, '\0'));
        process_result p = run_tandemcheck({"-a", odd, "-b", "/dev/zero"});
        EXPECT_EQ(0, p.status) << name;
        EXPECT_EQ("EOF found in file1 at 32768\n"
                  "\n\nReady, 32768 bytes read, 0 errors found, 0 defective blocks\n",
                  p.err)
            << name;
    }
}

TEST_F(EndToEnd, ReportsCountFromTheStartOffsets)
{
    // Byte 5 of the third block differs once both inputs are entered at their offsets.
    std::string data = pattern_bytes(4 * B);
    std::string first = file("first", std::string(512, 'x') + data);
    std::string changed = data;
    changed[2 * B + 5] = static_cast<char>(~changed[2 * B + 5]);
    std::string second = file("second", std::string(100, 'y') + changed);
    process_result p = run_tandemcheck({"-d", "-a", first, "-b", second, "-o", "512", "-p", "100"});
    EXPECT_EQ(1, p.status);
    EXPECT_EQ(without_speeds(
                  banner + line_at_0 + line_at_32768 + line_at_65536 +
                  "count=98304 (0.10MB), speed=0kbps (0.00x) errors=1 dblocks=1 00018000\033[K\r"
                  "count=131072 (0.13MB), speed=0kbps (0.00x) errors=1 dblocks=1 00020000\033[K\r"),
              without_speeds(p.out));
    EXPECT_EQ(
        "filename1=" + first + " filename2=" + second + " offset1=512 offset2=100\n" +
            "real file1 offset = 512\nreal file2 offset = 100\n\n"
            "DIFFERENCE count=65541  file1=30 (0x1e)  file2=225 (0xe1)  errors=0 i=5 block=2\n"
            "retries=0 read block\n"
            "EOF found in file1 at 131072\nEOF found in file2 at 131072\n"
            "\n\nReady, 131072 bytes read, 1 errors found, 1 defective blocks\n",
        p.err);
}

TEST_F(EndToEnd, ACopyFileShorterThanItsImageFailsOnlyWhenBothAreReadFromTheirStarts)
{
    const std::string data = random_bytes(3 * B + 100, 31);
    const std::string image = file("image", data);
    const std::string cut = file("cut", data.substr(0, 2 * B + 7));
    const std::string part = file("part", "head" + data.substr(0, 2 * B + 7));
    const std::string headed = file("headed", "head" + data);
    const std::string ready = "\n\nReady, 65543 bytes read, 0 errors found, 0 defective blocks\n";
    const std::string incomplete =
        "tandemcheck(): file 2 ended at 65543, before file 1 did: the copy is incomplete\n";
    struct row {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const std::vector<row> rows = {
        {{"-a", image, "-b", cut, "-o", "0", "-p", "0"},
         1,
         "EOF found in file2 at 65543\n" + incomplete + ready},
        // A partition inside an image, entered at a start offset.
        {{"-a", image, "-b", part, "-p", "4"}, 0, "EOF found in file2 at 65543\n" + ready},
        {{"-a", headed, "-o", "4", "-b", cut}, 0, "EOF found in file2 at 65543\n" + ready},
    };
    for (const row& r : rows) {
        process_result p = run_tandemcheck(r.args);
        EXPECT_EQ(r.status, p.status) << r.args[1] << " " << r.args[3];
        EXPECT_EQ(r.err, p.err) << r.args[1] << " " << r.args[3];
    }
}

TEST_F(EndToEnd, TheImagesChecksumFromListsAsPublishersShipThem)
{
    if (!have_program("sha256sum") || !have_program("sha512sum"))
        GTEST_SKIP() << "sha256sum and sha512sum are not installed";
    const std::string data = random_bytes(3 * B + 100, 41);
    mkdir(path("images").c_str(), 0755);
    const std::string image = file("images/debian.iso", data);
    const std::string copy = file("copy.img", data);
    file("images/netinst.iso", "another image");
    // A list with `*` markers, names in a folder and CRLF endings, and a
    // BSD-style one, each written by the tools for both images.
    const std::string folder_sh = "cd '" + folder + "' && ";
    process_result sha256 = run_program(
        {"/bin/sh", "-c", folder_sh + "sha256sum -b ./images/debian.iso images/netinst.iso"});
    process_result sha512 = run_program(
        {"/bin/sh", "-c", folder_sh + "sha512sum --tag images/netinst.iso images/debian.iso"});
    std::string crlf;
    for (char c : sha256.out)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const std::string list256 = file("SHA256SUMS", "# the images\r\n" + crlf);
    const std::string list512 = file("CHECKSUM.SHA512", sha512.out);
    const std::string hex256 = sha256_of(data);
    const std::string hex512 = sha512.out.substr(sha512.out.rfind(" = ") + 3, 128);
    const std::string ended = "EOF found in file1 at 98404\nEOF found in file2 at 98404\n";
    const std::string ready = "\n\nReady, 98404 bytes read, 0 errors found, 0 defective blocks\n";
    struct row {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    std::vector<row> rows = {
        {{"-a", image, "-b", copy, "-s", list256},
         0,
         ended + "tandemcheck(): file 1 SHA-256 " + hex256 +
             ": as given for ./images/debian.iso in " + list256 + "\n" + ready},
        {{"-a", image, "-b", copy, "-s", list512},
         0,
         ended + "tandemcheck(): file 1 SHA-512 " + hex512 +
             ": as given for images/debian.iso in " + list512 + "\n" + ready},
        // A digest copied from a web page, in capitals.
        {{"-a", copy, "-b", image, "-s", upper(hex256)},
         0,
         ended + "tandemcheck(): file 1 SHA-256 " + hex256 + ": as given\n" + ready},
    };
    for (const row& r : rows) {
        process_result p = run_tandemcheck(r.args);
        EXPECT_EQ(r.status, p.status) << r.args.back();
        EXPECT_EQ(r.err, p.err) << r.args.back();
    }

    // The image damaged after its list was written, and copied as it is:
    // the copy verifies, the image does not.
    std::string damaged = data;
    damaged[3 * B + 99] = static_cast<char>(~damaged[3 * B + 99]);
    write_file(image, damaged);
    write_file(copy, damaged);
    process_result p = run_tandemcheck({"-a", image, "-b", copy, "-s", list256});
    EXPECT_EQ(1, p.status);
    EXPECT_EQ(ended + "tandemcheck(): file 1 SHA-256 " + sha256_of(damaged) +
                  ": NOT as given for ./images/debian.iso in " + list256 + " (" + hex256 + ")\n" +
                  ready,
              p.err);
}

TEST_F(EndToEnd, APipeIsHashedAsItIsRead)
{
    const std::string data = random_bytes(45 * B + 3, 42);
    const std::string copy = file("copy", data);
    const std::string hex = sha256_of(data);
    const std::string tail = "EOF found in file1 at 1474563\nEOF found in file2 at 1474563\n"
                             "tandemcheck(): file 1 SHA-256 " +
                             hex + ": as given\n";
    // A pipe and a file, either way round: the image is file 1.
    process_result piped = run_tandemcheck({"-a", fifo("pipe1", data), "-b", copy, "-s", hex});
    EXPECT_EQ(0, piped.status);
    EXPECT_EQ(tail, piped.err.substr(0, tail.size()));
    process_result second = run_tandemcheck({"-a", copy, "-b", fifo("pipe2", data), "-s", hex});
    EXPECT_EQ(0, second.status);
    EXPECT_EQ(tail, second.err.substr(0, tail.size()));
    // A pipe whose writer stops short of the copy: its checksum is its own.
    const std::string cut = data.substr(0, 2 * B + 1);
    process_result short_pipe = run_tandemcheck({"-a", fifo("pipe3", cut), "-b", copy, "-s", hex});
    EXPECT_EQ(1, short_pipe.status);
    EXPECT_NE(std::string::npos,
              short_pipe.err.find("tandemcheck(): file 1 SHA-256 " + sha256_of(cut) +
                                  ": NOT as given (" + hex + ")\n"))
        << short_pipe.err;
    // A read of the pipe that fails, once: what was read is no checksum of the image.
    if (!have_program("strace"))
        GTEST_SKIP() << "strace is not installed";
    const std::string failing = fifo("pipe4", data);
    process_result failed =
        run_program({"/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-o",
                     "/dev/null", "-P", failing, "-e", "inject=read:error=EIO:when=3",
                     TANDEMCHECK_BINARY, "-a", failing, "-b", copy, "-s", hex});
    EXPECT_EQ(1, failed.status);
    EXPECT_NE(std::string::npos,
              failed.err.find("tandemcheck(): fread file 1():: Input/output error\n"
                              "tandemcheck(): file 1 SHA-256 not computed: Input/output error\n"
                              "\n\nReady, "))
        << failed.err;
}

TEST_F(EndToEnd, AChecksumThatCannotBeCheckedFailsBeforeAnythingIsRead)
{
    const std::string data = random_bytes(B, 43);
    const std::string image = file("image.iso", data);
    const std::string copy = file("copy", data);
    const std::string h1(64, '1'), h2(64, '2');
    const std::string two = file("TWO", h1 + "  a.iso\n" + h2 + "  b.iso\n");
    const std::string conflicting =
        file("CONFLICTING", h1 + "  image.iso\n" + h2 + "  ./image.iso\n");
    const std::string empty = file("EMPTY", "# no checksums\n");
    struct row {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<row> rows = {
        {{"-a", image, "-b", copy, "-s", path("missing")},
         "tandemcheck(): could not read checksum list " + path("missing") +
             ": No such file or directory, aborting.\n"},
        {{"-a", image, "-b", copy, "-s", folder},
         "tandemcheck(): could not read checksum list " + folder + ": Is a directory, aborting.\n"},
        {{"-a", image, "-b", copy, "-s", two},
         "tandemcheck(): checksum list " + two + " has no line for image.iso, aborting.\n"},
        {{"-a", image, "-b", copy, "-s", conflicting},
         "tandemcheck(): checksum list " + conflicting +
             " gives different checksums for image.iso, aborting.\n"},
        {{"-a", image, "-b", copy, "-s", empty},
         "tandemcheck(): checksum list " + empty + " holds no checksum line, aborting.\n"},
        {{"-a", image, "-b", copy, "-s", h1.substr(1) + "x"},
         "tandemcheck(): digest " + h1.substr(1) + "x is not hexadecimal, aborting.\n"},
        {{"-a", image, "-b", copy, "-s", h1.substr(2)},
         "tandemcheck(): digest " + h1.substr(2) +
             " has a length no checksum has (MD5 32 digits, SHA-1 40, SHA-224 56, SHA-256 64, "
             "SHA-384 96, SHA-512 128), aborting.\n"},
        {{"-a", "/dev/zero", "-b", "/dev/null", "-s", h1},
         "tandemcheck(): -s checks an image, a file or a pipe, and both inputs are disks or "
         "devices, aborting.\n"},
    };
    for (const row& r : rows) {
        process_result p = run_tandemcheck(r.args);
        EXPECT_EQ(1, p.status) << r.args.back();
        EXPECT_EQ(banner, p.out) << r.args.back();
        EXPECT_EQ(r.err, p.err) << r.args.back();
    }
}

TEST_F(EndToEnd, ALogOfBothStreamsReadsInOrder)
{
    std::string data(2 * B, 'a');
    std::string other = data;
    other[B + 1] = 'b';
    run_options merged;
    merged.merge_streams = true;
    process_result p = run_tandemcheck({"-a", file("a", data), "-b", file("b", other)}, merged);
    EXPECT_EQ(1, p.status);
    EXPECT_EQ(
        without_speeds(
            banner + line_at_0 + line_at_32768 +
            "\nDIFFERENCE count=32769  file1=97 (0x61)  file2=98 (0x62)  errors=0 i=1 block=1\n"
            "retries=0 read block\n"
            "EOF found in file1 at 65536\nEOF found in file2 at 65536\n"
            "count=65536 (0.07MB), speed=0kbps (0.00x) errors=1 dblocks=1 00010000\033[K\r"
            "\n\nReady, 65536 bytes read, 1 errors found, 1 defective blocks\n"),
        without_speeds(p.out));

    // A set-up failure comes after the banner.
    process_result missing = run_tandemcheck({"-a", path("missing"), "-b", path("b")}, merged);
    EXPECT_EQ(1, missing.status);
    EXPECT_EQ(banner + "tandemcheck(): could not open first input file " + path("missing") +
                  ", aborting.\n",
              missing.out);
}

TEST_F(EndToEnd, SparseInputsPastFourGibibytes)
{
    const std::uint64_t offset = (9ull << 29) + 3;  // 4.5 GiB and 3 bytes
    std::string pattern = pattern_bytes(B + 1000);
    std::string big = path("big");
    {
        int fd = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, ftruncate(fd, static_cast<off_t>(5ull << 30)));
        ASSERT_EQ(static_cast<ssize_t>(pattern.size()),
                  pwrite(fd, pattern.data(), pattern.size(), static_cast<off_t>(offset)));
        close(fd);
    }
    std::string small = pattern;
    small[B + 10] = static_cast<char>(~small[B + 10]);
    std::string second = file("small", small);
    process_result p =
        run_tandemcheck({"-d", "-a", big, "-o", std::to_string(offset), "-b", second});
    EXPECT_EQ(1, p.status);
    EXPECT_EQ("filename1=" + big + " filename2=" + second + " offset1=4831838211 offset2=0\n" +
                  "real file1 offset = 4831838211\nreal file2 offset = 0\n" +
                  "EOF found in file2 at 33768\n\n"
                  "DIFFERENCE count=32778  file1=148 (0x94)  file2=107 (0x6b)  errors=0 i=10 "
                  "block=1\n"
                  "retries=0 read block\n"
                  "\n\nReady, 33768 bytes read, 1 errors found, 1 defective blocks\n",
              p.err);

    // Both entered past 4 GiB: positions still count from the offsets.
    process_result both = run_tandemcheck(
        {"-a", big, "-o", std::to_string(offset), "-b", big, "-p", std::to_string(offset), "-d"});
    EXPECT_EQ(0, both.status);
    EXPECT_NE(std::string::npos,
              both.err.find("EOF found in file1 at 536870909\nEOF found in file2 at 536870909\n"
                            "\n\nReady, 536870909 bytes read, 0 errors found, 0 defective "
                            "blocks\n"));
}

TEST_F(EndToEnd, UnreadableInputWithoutPrivileges)
{
    std::string secret = file("secret", "data");
    ASSERT_EQ(0, chmod(secret.c_str(), 0));
    ASSERT_EQ(0, chmod(folder.c_str(), 0755));
    run_options options;
    std::string binary = TANDEMCHECK_BINARY;
    if (geteuid() == 0) {
        options.drop_privileges = true;
        options.uid = 65534;  // nobody
        // The build tree may lie where nobody cannot reach it (a clone in
        // /root): nobody runs a copy in the test's own folder.
        binary = path("tandemcheck");
        write_file(binary, read_file(TANDEMCHECK_BINARY));
        ASSERT_EQ(0, chmod(binary.c_str(), 0755));
    }
    process_result p = run_program({binary, "-a", secret, "-b", "/dev/zero"}, options);
    if (p.status == 126)
        GTEST_SKIP() << "could not drop privileges";
    if (p.status == 127)
        GTEST_SKIP() << "user nobody cannot run " << binary;
    EXPECT_EQ(1, p.status);
    EXPECT_EQ("tandemcheck(): could not open first input file " + secret + ", aborting.\n", p.err);
}

TEST_F(EndToEnd, ReadErrorsInjectedIntoTheRealBinary)
{
    if (!have_program("strace"))
        GTEST_SKIP() << "strace is not installed";
    const fault_table table = make_fault_table();
    const std::string a = file("a", table.data);
    const std::string b = file("b", table.other);
    for (const fault_case& f : table.cases) {
        // strace counts requests, not bytes: only an input that fails from
        // its first read on is the same whatever the requests' size.
        if (f.read != 1)
            continue;
        // LeakSanitizer cannot work under a tracer; the sanitizer build would
        // otherwise fail here for that reason alone.
        process_result p = run_program({"/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0", "strace",
                                        "-f", "-o", "/dev/null", "-P", f.input == 1 ? a : b, "-e",
                                        "inject=read,pread64:error=EIO:when=1+", TANDEMCHECK_BINARY,
                                        "-a", a, "-b", b});
        std::string label = "input " + std::to_string(f.input) + ", read " + std::to_string(f.read);
        EXPECT_EQ(1, p.status) << label;
        EXPECT_EQ(f.err, p.err) << label;
    }

    // A read or a write that a signal cut short is done again, not taken
    // for a failure: a write of the report to a full pipe, say.
    process_result plain = run_tandemcheck({"-a", a, "-b", b});
    const std::string pipe = path("pipe");
    const std::vector<std::vector<std::string>> injections = {
        {"-P", a, "-e", "inject=read,pread64:error=EINTR:when=3"},
        {"-P", b, "-e", "inject=read,pread64:error=EINTR:when=3"},
        {"-e", "trace=write", "-e", "inject=write:error=EINTR:when=3..9+2"},
        // A pipe is read through its stream.
        {"-P", pipe, "-e", "inject=read:error=EINTR:when=2..4"},
    };
    for (const std::vector<std::string>& injection : injections) {
        std::vector<std::string> argv = {
            "/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-o", "/dev/null"};
        argv.insert(argv.end(), injection.begin(), injection.end());
        const bool piped = injection[1] == pipe;
        if (piped)
            fifo("pipe", table.data);
        argv.insert(argv.end(), {TANDEMCHECK_BINARY, "-a", piped ? pipe : a, "-b", b});
        process_result p = run_program(argv);
        const std::string label = injection.back();
        EXPECT_EQ(plain.status, p.status) << label;
        EXPECT_EQ(plain.err, p.err) << label;
        EXPECT_EQ(without_speeds(plain.out), without_speeds(p.out)) << label;
        if (piped) {
            writers.back().join();
            writers.pop_back();
            unlink(pipe.c_str());
        }
    }
}

TEST_F(EndToEnd, ADirectReadRefusedMidRunFallsBackWithThePagesDropped)
{
    if (!have_program("strace"))
        GTEST_SKIP() << "strace is not installed";
    const std::string data = random_bytes(5 * 40 * B + 777, 44);
    const std::string a = file("a", data), b = file("b", data);
    const std::string trace = path("trace");
    process_result plain = run_tandemcheck({"-a", a, "-b", b});
    // The third request for input 1 is refused, as overlayfs refuses a
    // direct read it took at first.
    process_result p =
        run_program({"/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-o", trace,
                     "-P", a, "-e", "trace=pread64,fadvise64,fcntl", "-e",
                     "inject=pread64:error=EINVAL:when=3", TANDEMCHECK_BINARY, "-a", a, "-b", b});
    const std::string log = read_file(trace);
    if (log.find("O_DIRECT") == std::string::npos)
        GTEST_SKIP() << "the temporary folder's file system is not read with direct I/O";
    EXPECT_EQ(plain.status, p.status);
    EXPECT_EQ(plain.err, p.err);
    // From the refusal on, every request is made with the file's cached
    // pages dropped before and after it.
    const std::size_t refused = log.find("(INJECTED)");
    ASSERT_NE(std::string::npos, refused) << log;
    int requests = 0, drops = 0;
    for (std::size_t at = log.find('\n', refused); at != std::string::npos;
         at = log.find('\n', at + 1)) {
        const std::string line = log.substr(at + 1, log.find('\n', at + 1) - at - 1);
        requests += line.find("pread64(") != std::string::npos;
        drops += line.find("fadvise64(") != std::string::npos &&
                 line.find("POSIX_FADV_DONTNEED") != std::string::npos;
    }
    EXPECT_GT(requests, 0);
    EXPECT_GE(drops, 2 * requests) << log.substr(refused);
}

TEST_F(EndToEnd, OutputThatCannotBeWrittenFailsTheRun)
{
    const std::string same = std::string(B + 10, 'x');
    const std::string a = file("a", same), b = file("b", same);
    const std::string differ1 = file("zeros", std::string(4 * B, '\0'));
    const std::string differ2 = file("ones", std::string(4 * B, '\xff'));
    const std::string finished =
        "EOF found in file1 at 32778\nEOF found in file2 at 32778\n"
        "\n\nReady, 32778 bytes read, 0 errors found, 0 defective blocks\n";
    const std::string last =
        "count=32778 (0.03MB), speed=0kbps (0.00x) errors=0 dblocks=0 0000800a\033[K\r";
    struct row {
        std::string stdout_path, stderr_path;
        bool differing;
        std::string out, err;  // what the captured streams hold
    };
    const std::vector<row> rows = {
        {"/dev/full", "", false, "",
         finished + "tandemcheck(): standard output: No space left on device\n"},
        {closed_stream, "", false, "",
         finished + "tandemcheck(): standard output: Bad file descriptor\n"},
        {"", "/dev/full", false, banner + line_at_0 + last, ""},
        {"", closed_stream, false, banner + line_at_0 + last, ""},
        // The report's reader has gone: the run stops in the pass that found
        // the first difference.
        {"", broken_pipe, true, banner + line_at_0, ""},
    };
    for (const row& r : rows) {
        run_options options;
        options.stdout_path = r.stdout_path;
        options.stderr_path = r.stderr_path;
        options.ignore_sigpipe = true;
        process_result p = r.differing ? run_tandemcheck({"-a", differ1, "-b", differ2}, options)
                                       : run_tandemcheck({"-a", a, "-b", b}, options);
        const std::string label = r.stdout_path + " / " + r.stderr_path;
        EXPECT_EQ(1, p.status) << label;
        EXPECT_EQ(without_speeds(r.out), without_speeds(p.out)) << label;
        EXPECT_EQ(r.err, p.err) << label;
    }
}

TEST_F(EndToEnd, AWriteThatFailsOnceFailsTheRunThoughLaterWritesGoThrough)
{
    if (!have_program("strace"))
        GTEST_SKIP() << "strace is not installed";
    // 64 MiB of equal holes: 2048 status lines, which leave in several
    // writes of 64 KiB. The first of them (after the banner's) fails.
    const std::string a = path("a"), b = path("b");
    for (const std::string& name : {a, b}) {
        write_file(name, "");
        ASSERT_EQ(0, truncate(name.c_str(), 2048 * B));
    }
    run_options options;
    options.stdout_path = path("out");
    write_file(options.stdout_path, "");
    process_result p =
        run_program({"/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-o",
                     "/dev/null", "-P", options.stdout_path, "-e",
                     "inject=write:error=ENOSPC:when=2", TANDEMCHECK_BINARY, "-a", a, "-b", b},
                    options);
    EXPECT_EQ(1, p.status);
    EXPECT_EQ("EOF found in file1 at 67108864\nEOF found in file2 at 67108864\n"
              "\n\nReady, 67108864 bytes read, 0 errors found, 0 defective blocks\n"
              "tandemcheck(): standard output: No space left on device\n",
              p.err);
    // Nothing is written after the failure: what did arrive is the banner.
    EXPECT_EQ(banner, read_file(options.stdout_path));
}

// Waits until the file at `path` holds `bytes` bytes or more, for 20 s at most.
bool wait_for_size(const std::string& path, off_t bytes)
{
    for (int i = 0; i < 2000; ++i) {
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && st.st_size >= bytes)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST_F(EndToEnd, InterruptsLeaveAWholeReportAndEndByTheirSignal)
{
    // Busy writing a report of 32768 lines a block when SIGTERM comes.
    const std::string all_ones(64 * B, '\xff');
    const std::string zeros = file("zeros", std::string(64 * B, '\0'));
    const std::string ones = file("ones", all_ones);
    run_options busy;
    busy.while_running = [](pid_t pid, const std::string& err) {
        EXPECT_TRUE(wait_for_size(err, 1 << 20));
        kill(pid, SIGTERM);
    };
    process_result p = run_tandemcheck({"-a", zeros, "-b", ones}, busy);
    EXPECT_EQ(SIGTERM, p.signal);
    const std::size_t blocks = occurrences(p.err, retries);
    EXPECT_GE(blocks, 1u);
    EXPECT_EQ(blocks * B, occurrences(p.err, "DIFFERENCE count="));
    EXPECT_EQ(retries, p.err.substr(p.err.size() - retries.size())) << "a torn line";
    EXPECT_EQ(std::string::npos, p.err.find("Ready")) << "a summary for an unfinished run";

    // Waiting for a drive that delivered two blocks: the read that SIGINT
    // cuts short is no read error, and both reports are whole.
    const std::string drive = path("drive");
    ASSERT_EQ(0, mkfifo(drive.c_str(), 0600));
    // The drive stays open until the run is over: its end must not race the signal.
    std::atomic<bool> over{false};
    std::thread writer([&] {
        int fd = open(drive.c_str(), O_WRONLY);
        EXPECT_EQ(static_cast<ssize_t>(2 * B), write(fd, all_ones.data(), 2 * B));
        while (!over)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        close(fd);
    });
    std::string expected;
    for (std::uint64_t at = 0; at < 2 * B; ++at) {
        if (at % B == 0)
            expected += "\n";
        const std::string n = std::to_string(at);
        expected += "DIFFERENCE count=" + n + "  file1=0 (0x00)  file2=255 (0xff)  errors=" + n +
                    " i=" + std::to_string(at % B) + " block=" + std::to_string(at / B) + "\n";
        if (at % B == B - 1)
            expected += retries;
    }
    run_options waiting;
    waiting.while_running = [&](pid_t pid, const std::string& err) {
        EXPECT_TRUE(wait_for_size(err, static_cast<off_t>(expected.size())));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(pid, SIGINT);
    };
    process_result q = run_tandemcheck({"-a", zeros, "-b", drive}, waiting);
    over = true;
    writer.join();
    EXPECT_EQ(SIGINT, q.signal);
    EXPECT_EQ(
        without_speeds(
            banner + line_at_0 +
            "count=32768 (0.03MB), speed=0kbps (0.00x) errors=32768 dblocks=1 00008000\033[K\r"),
        without_speeds(q.out));
    EXPECT_TRUE(expected == q.err) << q.err.substr(0, 300);

    // Both inputs stalled pipes: once SIGTERM has cut the wait for input 1
    // short, input 2 is not waited for (it would never come).
    const std::string stalled1 = path("stalled1"), stalled2 = path("stalled2");
    ASSERT_EQ(0, mkfifo(stalled1.c_str(), 0600));
    ASSERT_EQ(0, mkfifo(stalled2.c_str(), 0600));
    std::atomic<bool> ended{false};
    std::thread holder([&] {
        int fd1 = open(stalled1.c_str(), O_WRONLY);
        int fd2 = open(stalled2.c_str(), O_WRONLY);
        while (!ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        close(fd1);
        close(fd2);
    });
    run_options stalled;
    stalled.seconds = 10;  // SIGALRM instead, where the run waits for input 2
    stalled.while_running = [](pid_t pid, const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        kill(pid, SIGTERM);
    };
    process_result r = run_tandemcheck({"-a", stalled1, "-b", stalled2}, stalled);
    ended = true;
    holder.join();
    EXPECT_EQ(SIGTERM, r.signal);
    EXPECT_EQ("", r.err);
}

}  // namespace
