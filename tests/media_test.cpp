// The built binary on real media: loop devices, an ext4 file system on one,
// tmpfs, ramfs, and slow or failing media served through FUSE. Needs root;
// each test says why it skips where something is missing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

constexpr std::uint64_t B = block_size;
constexpr std::size_t MiB = 1 << 20;

class Media : public temp_folder_test {
protected:
    void TearDown() override
    {
        for (auto undo = cleanups.rbegin(); undo != cleanups.rend(); ++undo)
            (*undo)();
        temp_folder_test::TearDown();
    }

    bool root() { return geteuid() == 0 || (skip_reason = "needs root", false); }

    // Runs a command; false, with the reason kept, when it fails.
    bool command(const std::vector<std::string>& argv, std::string* out = nullptr)
    {
        process_result p = run_program(argv);
        if (p.status != 0)
            skip_reason = argv[1] + " failed: " + p.err;
        if (out)
            *out = p.out;
        return p.status == 0;
    }

    // A loop device over `backing`, with sectors of `sector` bytes where
    // given, detached afterwards; empty where that fails.
    std::string loop_device(const std::string& backing, const std::string& sector = "")
    {
        std::string device;
        std::vector<std::string> argv = {"/usr/bin/env", "losetup", "-f", "--show", backing};
        if (!sector.empty())
            argv.insert(argv.end(), {"--sector-size", sector});
        if (!root() || !have_program("losetup") || !command(argv, &device))
            return "";
        device.erase(device.find_last_not_of('\n') + 1);
        cleanups.push_back([device] { run_program({"/usr/bin/env", "losetup", "-d", device}); });
        return device;
    }

    // `source` mounted as `type` on a new folder, unmounted afterwards.
    std::string mount(const std::string& type, const std::string& source, const std::string& name,
                      const std::string& options = "")
    {
        std::string target = path(name);
        mkdir(target.c_str(), 0755);
        std::vector<std::string> argv = {"/usr/bin/env", "mount", "-t", type, source, target};
        if (!options.empty())
            argv.insert(argv.end(), {"-o", options});
        if (!root() || !command(argv))
            return "";
        cleanups.push_back([target] { run_program({"/usr/bin/env", "umount", target}); });
        return target;
    }

    // ext4 made on a loop device over a new file `name` of `size` bytes and
    // mounted: its folder, or empty with the reason kept.
    std::string ext4_on_loop(const std::string& name, std::uint64_t size)
    {
        return file_system_on_loop(name, size, {"mkfs.ext4", "-q", "-F"}, "ext4");
    }

    // A file system made by `make` (the device named last) on a loop device
    // over a new file `name` of `size` bytes (in `within`, or the test's
    // folder), mounted as `type` with `options`: its folder, or empty with
    // the reason kept.
    std::string file_system_on_loop(const std::string& name, std::uint64_t size,
                                    const std::vector<std::string>& make, const std::string& type,
                                    const std::string& options = "", const std::string& within = "")
    {
        if (!have_program(make[0])) {
            skip_reason = make[0] + " is not installed";
            return "";
        }
        const std::string backing = within.empty() ? path(name) : within + "/" + name;
        write_file(backing, "");
        if (truncate(backing.c_str(), static_cast<off_t>(size)) != 0) {
            skip_reason = "cannot make " + backing;
            return "";
        }
        const std::string device = loop_device(backing);
        std::vector<std::string> making = {"/usr/bin/env"};
        making.insert(making.end(), make.begin(), make.end());
        making.push_back(device);
        if (device.empty() || !command(making))
            return "";
        return mount(type, device, name + "-fs", options);
    }

    // The line a run gives first for input `which` where that is a file on
    // the slow medium: a FUSE file system that names no disk (the model
    // reads its file through this machine's cache, as such a driver may).
    static std::string model_caveat(int which, const std::string& medium)
    {
        return "tandemcheck(): file " + std::to_string(which) + " (" + medium +
               ") may be read from memory, not its medium: its FUSE file system names no disk "
               "whose cache could be dropped; unmount and mount the file system again first\n";
    }

    // The slow medium of bench/slow_medium.py over `backing`, with `options`;
    // the path of its file, or empty where FUSE or the model is missing.
    std::string slow_medium(const std::string& backing, const std::vector<std::string>& options)
    {
        if (!root() || access("/dev/fuse", R_OK | W_OK) != 0 || !have_program("fusermount3") ||
            run_program({"/usr/bin/python3", "-c", "import fusepy"}).status != 0) {
            skip_reason = "needs root, /dev/fuse, fusermount3 and python3-fusepy";
            return "";
        }
        std::string mountpoint = path("medium" + std::to_string(cleanups.size()));
        mkdir(mountpoint.c_str(), 0755);
        std::vector<std::string> argv = {"/usr/bin/python3",
                                         TANDEMCHECK_SOURCE_DIR "/bench/slow_medium.py", backing,
                                         mountpoint};
        argv.insert(argv.end(), options.begin(), options.end());
        pid_t server = fork();
        if (server == 0) {
            std::vector<char*> args;
            for (std::string& arg : argv)
                args.push_back(arg.data());
            args.push_back(nullptr);
            int log = open((mountpoint + ".log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(log, 1);
            dup2(log, 2);
            execv(args[0], args.data());
            _exit(127);
        }
        last_server = server;
        cleanups.push_back([mountpoint, server] {
            run_program({"/usr/bin/env", "fusermount3", "-u", "-z", mountpoint});
            kill(server, SIGKILL);
            waitpid(server, nullptr, 0);
        });
        std::string medium = mountpoint + "/medium";
        for (int i = 0; i < 1000; ++i) {
            struct stat st;
            if (stat(medium.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                return medium;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        skip_reason = "the slow medium did not appear";
        return "";
    }

    std::vector<std::function<void()>> cleanups;
    std::string skip_reason;
    pid_t last_server = -1;  // the server of the newest slow medium
};

// Writes `bytes` over the file at `path` from `at` on, leaving the rest.
void overwrite(const std::string& path, std::uint64_t at, const std::string& bytes)
{
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()),
              pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)));
    ASSERT_EQ(0, fsync(fd));
    close(fd);
}

// `length` bytes of `path` at `at`.
std::string read_range(const std::string& path, std::uint64_t at, std::size_t length)
{
    std::string bytes(length, '\0');
    int fd = open(path.c_str(), O_RDONLY);
    if (fd >= 0) {
        bytes.resize(static_cast<std::size_t>(
            std::max<ssize_t>(0, pread(fd, &bytes[0], length, static_cast<off_t>(at)))));
        close(fd);
    }
    return bytes;
}

// Overwrites `length` bytes of `backing` at `at` with `damage` while `copy`'s
// pages are cached, so that `copy` still reads as `image` from the cache. A
// busy machine may take the pages back, and then the copy reads as damaged:
// the bytes are put back, the copy cached again and damaged again, a few
// times. Whether the cache held it in the end.
bool damage_behind_cache(const std::string& backing, std::uint64_t at, const std::string& damage,
                         const std::string& image, const std::string& copy)
{
    const std::string original = read_range(backing, at, damage.size());
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (attempt > 0) {
            overwrite(backing, at, original);
            read_file(copy);
        }
        overwrite(backing, at, damage);
        if (run_program({"/usr/bin/env", "cmp", image, copy}).status == 0)
            return true;
    }
    return false;
}

// `size` bytes of words, which a file system that compresses shrinks.
std::string compressible_words(std::size_t size)
{
    std::string words;
    for (std::uint64_t n = 0; words.size() < size; n = n * 6364136223846793005ull + 1)
        words += "sector " + std::to_string(n >> 54) + (n >> 63 ? " image\n" : " copy ");
    words.resize(size);
    return words;
}

// The differing bytes of `data` against zeros in [from, from + length).
std::uint64_t nonzero(const std::string& data, std::size_t from, std::size_t length)
{
    return static_cast<std::uint64_t>(std::count_if(
        data.begin() + static_cast<std::ptrdiff_t>(from),
        data.begin() + static_cast<std::ptrdiff_t>(from + length), [](char c) { return c != 0; }));
}

TEST_F(Media, ACopyWhoseMediumLostDataIsReportedOneOnlyInMemoryIsNot)
{
    const std::string stick = ext4_on_loop("filesystem", 64 * MiB);
    if (stick.empty())
        GTEST_SKIP() << skip_reason;
    const std::string backing = path("filesystem");

    const std::string data = random_bytes(4 * MiB, 21);
    const std::string image = path("image");
    write_file(image, data);
    const std::string copy = stick + "/copy";
    write_file(copy, data);
    sync();
    // Find the copy's second MiB on the medium and zero 64 KiB of it there.
    const std::size_t at = read_file(backing).find(data.substr(MiB, 64 * 1024));
    ASSERT_NE(std::string::npos, at);
    // The page cache still holds the copy as it was written.
    if (!damage_behind_cache(backing, at, std::string(64 * 1024, '\0'), image, copy))
        GTEST_SKIP() << "the cache did not keep the copy as written";

    process_result p = run_tandemcheck({"-a", image, "-b", copy});
    EXPECT_EQ(1, p.status);
    const std::uint64_t errors = nonzero(data, MiB, 64 * 1024);
    EXPECT_NE(std::string::npos,
              p.err.find("EOF found in file1 at 4194304\nEOF found in file2 at 4194304\n"
                         "\n\nReady, 4194304 bytes read, " +
                         std::to_string(errors) + " errors found, 2 defective blocks\n"))
        << p.err.substr(p.err.size() - 200);

    // Written but not yet on the medium: written out, then read back.
    const std::string fresh = stick + "/fresh";
    write_file(fresh, data);
    process_result q = run_tandemcheck({"-a", image, "-b", fresh});
    EXPECT_EQ(0, q.status);
    EXPECT_EQ("EOF found in file1 at 4194304\nEOF found in file2 at 4194304\n"
              "\n\nReady, 4194304 bytes read, 0 errors found, 0 defective blocks\n",
              q.err);
}

std::size_t resident_pages(const std::string& path);

// Where `needle` first stands in the file at `path`, or npos.
std::uint64_t find_in_file(const std::string& path, const std::string& needle)
{
    int fd = open(path.c_str(), O_RDONLY);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_size == 0)
        return std::string::npos;
    const std::size_t size = static_cast<std::size_t>(st.st_size);
    void* map = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED)
        return std::string::npos;
    const void* found = memmem(map, size, needle.data(), needle.size());
    std::uint64_t at = found ? static_cast<std::uint64_t>(static_cast<const char*>(found) -
                                                          static_cast<const char*>(map))
                             : std::string::npos;
    munmap(map, size);
    return at;
}

// Where byte `at` of the file at `path` lies on its disk, as filefrag reads
// it from the file system (in 4 KiB blocks), or npos.
std::uint64_t physical_offset(const std::string& path, std::uint64_t at)
{
    process_result p = run_program({"/usr/bin/env", "filefrag", "-v", "-b4096", path});
    std::istringstream lines(p.out);
    for (std::string line; std::getline(lines, line);) {
        unsigned long long logical = 0, logical_end = 0, physical = 0;
        if (std::sscanf(line.c_str(), " %*u: %llu.. %llu: %llu..", &logical, &logical_end,
                        &physical) == 3 &&
            logical * 4096 <= at && at < (logical_end + 1) * 4096)
            return physical * 4096;
    }
    return std::string::npos;
}

TEST_F(Media, ALoopDeviceOverAFileIsReadFromThatFilesMedium)
{
    // The stick is a loop device over a file on a file system (itself on a
    // loop device over `outer`). 4 KiB of the file are overwritten on its
    // medium while the file's pages are cached: a loop device without
    // direct I/O reads the file through that cache, and btrfs serves a
    // direct read of a compressed extent from it.
    struct row {
        const char* name;
        std::vector<std::string> make;  // makes the file system on the device, named last
        const char* type;
        const char* options;
        const char* direct_io;
        bool compressed;      // compressible data, found on the disk with filefrag; btrfs's
                              // checksum makes the damage a read error
        bool nested = false;  // the file system lies on a loop device over a file on ext4
    };
    const std::vector<row> rows = {
        {"ext4, direct I/O off", {"mkfs.ext4", "-q", "-F"}, "ext4", "", "off", false},
        {"ext4, direct I/O on", {"mkfs.ext4", "-q", "-F"}, "ext4", "", "on", false},
        {"btrfs compress-force=zstd, direct I/O on",
         {"mkfs.btrfs", "-q", "-f", "-m", "single", "-d", "single"},
         "btrfs",
         "compress-force=zstd",
         "on",
         true},
        // Two loop devices down: the lower one reads its file through that
        // file's cache, which still holds the copy as written.
        {"ext4 on a loop device over a file on ext4, direct I/O on",
         {"mkfs.ext4", "-q", "-F"},
         "ext4",
         "",
         "on",
         false,
         true},
    };
    if (!root())
        GTEST_SKIP() << skip_reason;
    const std::string words = compressible_words(8 * MiB);
    const std::string random = random_bytes(8 * MiB, 23);
    std::vector<std::string> skipped;
    for (const row& r : rows) {
        const std::string tag = std::to_string(cleanups.size());
        const std::string host = r.nested ? file_system_on_loop("host" + tag, 224 * MiB,
                                                                {"mkfs.ext4", "-q", "-F"}, "ext4")
                                          : "";
        const std::string folder =
            r.nested && host.empty()
                ? ""
                : file_system_on_loop("outer" + tag, 160 * MiB, r.make, r.type, r.options, host);
        if (folder.empty() || (r.compressed && !have_program("filefrag"))) {
            skipped.push_back(std::string(r.name) + " (" + skip_reason + ")");
            continue;
        }
        // The outermost file, which the damage is written to.
        const std::string outer = r.nested ? path("host" + tag) : path("outer" + tag);
        const std::string& data = r.compressed ? words : random;
        const std::string image = path("image" + tag);
        write_file(image, data);
        const std::string file = folder + "/stick";
        write_file(file, data);
        sync();
        std::string stick;
        ASSERT_TRUE(command({"/usr/bin/env", "losetup", "-f", "--show",
                             std::string("--direct-io=") + r.direct_io, file},
                            &stick));
        stick.erase(stick.find_last_not_of('\n') + 1);
        cleanups.push_back([stick] { run_program({"/usr/bin/env", "losetup", "-d", stick}); });
        const std::uint64_t at =
            r.compressed ? physical_offset(file, MiB) : find_in_file(outer, data.substr(MiB, 4096));
        ASSERT_NE(std::string::npos, at) << r.name;
        read_file(file);
        if (!damage_behind_cache(outer, at, std::string(4096, r.compressed ? '\xff' : '\0'), image,
                                 file)) {
            skipped.push_back(std::string(r.name) + " (the cache did not keep the file)");
            continue;
        }
        process_result p = run_tandemcheck({"-a", image, "-b", stick});
        EXPECT_EQ(1, p.status) << r.name << "\n" << p.err;
        if (r.compressed)
            EXPECT_NE(std::string::npos,
                      p.err.find("tandemcheck(): fread file 2():: Input/output error\n"))
                << r.name << "\n"
                << p.err;
        else
            EXPECT_NE(std::string::npos,
                      p.err.find("\n\nReady, 8388608 bytes read, " +
                                 std::to_string(nonzero(data, MiB, 4096)) + " errors found, 1 "))
                << r.name << "\n"
                << p.err;
    }
    for (const std::string& name : skipped)
        std::cout << "[  SKIPPED ROW ] " << name << "\n";
}

// What a run leaves of a copy's cached pages.
enum class cache_left {
    all,     // direct I/O passes the cache by (but for what the kernel reclaims)
    none,    // the run drops it, and leaves nothing of its own
    driver,  // a FUSE driver's to keep or let go, as it likes: not checked
};

void expect_cache_left(cache_left expected, std::size_t pages, std::size_t left,
                       const std::string& name)
{
    // The kernel may reclaim a few pages by itself under load.
    if (expected == cache_left::all) {
        EXPECT_GE(left, pages - pages / 64) << name;
    } else if (expected == cache_left::none) {
        EXPECT_EQ(0u, left) << name;
    }
}

TEST_F(Media, OnEveryFileSystemACopyWhoseMediumLostDataFailsOneOnlyInMemoryVerifies)
{
    // A 64 MiB image copied onto a file system on a loop device and written
    // out; then 4 KiB of the copy are overwritten on the medium, behind the
    // file system's back, while its pages are still cached. Each file
    // system serves cached pages in its own way; none may make a damaged
    // copy verify. Where the file system checksums its data, the damage is a
    // read error.
    struct row {
        std::string name;
        std::vector<std::string> make;   // makes the file system on the device, named last
        std::vector<std::string> mount;  // mounts it: device and folder follow
        bool compressed;                 // compressible data, found on the disk with filefrag
        bool checksums;                  // the damage shows as a read error
        cache_left cached;               // what a run leaves of a copy cached before it
        bool names_disk = true;          // FUSE: the mount names the disk its driver reads
        bool encrypted = false;          // the copy lies in a folder encrypted with e4crypt
    };
    const std::vector<row> rows = {
        {"ext4", {"mkfs.ext4", "-q", "-F"}, {"mount", "-t", "ext4"}, false, false, cache_left::all},
        // ext4 does no direct I/O with its data journalled: O_DIRECT is
        // served from the page cache.
        {"ext4, data=journal",
         {"mkfs.ext4", "-q", "-F"},
         {"mount", "-t", "ext4", "-o", "data=journal"},
         false,
         false,
         cache_left::none},
        // Nor on an encrypted file, without inline encryption.
        {"ext4, encrypted folder",
         {"mkfs.ext4", "-q", "-F", "-O", "encrypt"},
         {"mount", "-t", "ext4"},
         false,
         false,
         cache_left::none,
         true,
         true},
        {"xfs", {"mkfs.xfs", "-q", "-f"}, {"mount", "-t", "xfs"}, false, false, cache_left::all},
        // -m single -d single: the file's addresses are the disk's.
        {"btrfs",
         {"mkfs.btrfs", "-q", "-f", "-m", "single", "-d", "single"},
         {"mount", "-t", "btrfs"},
         false,
         true,
         cache_left::none},
        {"btrfs, compressed",
         {"mkfs.btrfs", "-q", "-f", "-m", "single", "-d", "single"},
         {"mount", "-t", "btrfs", "-o", "compress-force=zstd"},
         true,
         true,
         cache_left::none},
        {"ntfs-3g", {"mkfs.ntfs", "-Q", "-F", "-q"}, {"ntfs-3g"}, false, false, cache_left::driver},
        {"exfat-fuse", {"mkfs.exfat"}, {"mount.exfat-fuse"}, false, false, cache_left::driver},
        // Mounted as fuse.ext4, not fuseblk: the source names the disk.
        {"fuse2fs",
         {"mkfs.ext4", "-q", "-F"},
         {"fuse2fs", "-o", "allow_other"},
         false,
         false,
         cache_left::driver},
        // fusefat reads its disk through the disk's cache, and its mount
        // names no disk ("fusefat"): the run cannot reach that cache, and
        // says so.
        {"fusefat",
         {"mkfs.vfat"},
         {"fusefat", "-o", "rw+"},
         false,
         false,
         cache_left::driver,
         false},
        {"squashfs", {}, {"mount", "-t", "squashfs", "-o", "ro"}, false, false, cache_left::none},
        {"overlayfs over squashfs",
         {},
         {"mount", "-t", "squashfs", "-o", "ro"},
         false,
         false,
         cache_left::none},
    };
    if (!root())
        GTEST_SKIP() << skip_reason;
    const std::string random = random_bytes(64 * MiB, 30);
    const std::string words = compressible_words(64 * MiB);
    std::vector<std::string> skipped;
    for (const row& r : rows) {
        const std::string tool = r.make.empty() ? "mksquashfs" : r.make[0];
        if (!have_program(tool) || !have_program(r.mount[0]) || !have_program("filefrag")) {
            skipped.push_back(r.name + " (no " + tool + ", " + r.mount[0] + " or filefrag)");
            continue;
        }
        const std::string& data = r.compressed ? words : random;
        const std::string tag = std::to_string(cleanups.size());
        const std::string image = path("image" + tag);
        write_file(image, data);
        const std::string top = path("top" + tag);
        mkdir(top.c_str(), 0755);
        std::string backing = path("disk" + tag);
        const bool squashfs = r.make.empty();
        if (squashfs) {
            const std::string source = path("source" + tag);
            mkdir(source.c_str(), 0755);
            write_file(source + "/copy", data);
            ASSERT_TRUE(
                command({"/usr/bin/env", "mksquashfs", source, backing, "-quiet", "-noappend"}))
                << skip_reason;
        } else {
            write_file(backing, "");
            ASSERT_EQ(0, truncate(backing.c_str(), 512 * MiB));
        }
        const std::string device = loop_device(backing);
        ASSERT_FALSE(device.empty()) << skip_reason;
        std::vector<std::string> make = {"/usr/bin/env"};
        make.insert(make.end(), r.make.begin(), r.make.end());
        make.push_back(device);
        if (!squashfs && !command(make)) {
            skipped.push_back(r.name + " (" + skip_reason + ")");
            continue;
        }
        std::vector<std::string> mounting = {"/usr/bin/env"};
        mounting.insert(mounting.end(), r.mount.begin(), r.mount.end());
        mounting.insert(mounting.end(), {device, top});
        if (!command(mounting)) {
            skipped.push_back(r.name + " (" + skip_reason + ")");
            continue;
        }
        cleanups.push_back([top] { run_program({"/usr/bin/env", "umount", top}); });
        std::string stick = top;
        if (r.encrypted) {
            stick = top + "/encrypted";
            mkdir(stick.c_str(), 0755);
            const std::string passphrase = path("passphrase" + tag);
            write_file(passphrase, "a passphrase\n");
            run_options typed;
            typed.stdin_path = passphrase;
            if (!have_program("e4crypt") || run_program({"/usr/bin/env", "e4crypt", "add_key", "-S",
                                                         "0x0102030405060708", stick},
                                                        typed)
                                                    .status != 0) {
                skipped.push_back(r.name + " (no e4crypt, or it could not add a key)");
                continue;
            }
        }
        if (r.name.rfind("overlayfs", 0) == 0) {
            stick = path("overlay" + tag);
            const std::string upper = path("upper" + tag), work = path("work" + tag);
            for (const std::string& folder : {stick, upper, work})
                mkdir(folder.c_str(), 0755);
            ASSERT_TRUE(
                command({"/usr/bin/env", "mount", "-t", "overlay", "overlay", "-o",
                         "lowerdir=" + top + ",upperdir=" + upper + ",workdir=" + work, stick}))
                << skip_reason;
            cleanups.push_back([stick] { run_program({"/usr/bin/env", "umount", stick}); });
        }
        const std::string copy = stick + "/copy";
        if (!squashfs)
            write_file(copy, data);
        sync();
        read_file(copy);  // every page of the copy in the cache

        // 4 KiB of the copy's second MiB, found on the medium, are overwritten.
        const std::uint64_t at = r.compressed || r.encrypted
                                     ? physical_offset(copy, MiB)
                                     : find_in_file(backing, data.substr(MiB, 4096));
        ASSERT_NE(std::string::npos, at) << r.name;
        if (!damage_behind_cache(backing, at, std::string(4096, r.compressed ? '\xff' : '\0'),
                                 image, copy)) {
            skipped.push_back(r.name + " (the cache did not keep the copy as written)");
            continue;
        }

        const std::size_t pages = resident_pages(copy);
        // All of it, but for what the kernel reclaims by itself under load
        // (up to 1.6% beside another test's heavy reading); the damaged page
        // is cached, as cmp has just shown.
        // (A driver that names no disk may keep the copy's pages out of the
        // cache: the disk's cache holds it.)
        if (r.names_disk) {
            ASSERT_GE(pages, data.size() / 4096 * 15 / 16) << r.name << ": the copy is not cached";
        }
        process_result damaged = run_tandemcheck({"-a", image, "-b", copy});
        const std::string unreached =
            r.names_disk ? ""
                         : "tandemcheck(): file 2 (" + copy +
                               ") may be read from memory, not its medium: its FUSE file system "
                               "names no disk whose cache could be dropped; unmount and mount the "
                               "file system again first\n";
        EXPECT_EQ(0, damaged.err.rfind(unreached, 0)) << r.name << "\n" << damaged.err;
        if (!r.names_disk && damaged.status == 0)
            continue;  // read from the cache it could not reach, as it said
        // Where a cached page costs no certainty it stays; elsewhere the run
        // drops what was cached, and leaves nothing of its own. (A checksum's
        // read error ends the run before most of the copy is read.)
        if (!r.checksums) {
            expect_cache_left(r.cached, pages, resident_pages(copy), r.name);
        }
        EXPECT_EQ(1, damaged.status) << r.name << "\n" << damaged.err;
        if (r.checksums)
            EXPECT_NE(std::string::npos,
                      damaged.err.find("tandemcheck(): fread file 2():: Input/output error\n"))
                << r.name << "\n"
                << damaged.err;
        else if (r.encrypted)  // the damage decrypts to bytes of its own
            EXPECT_NE(std::string::npos, damaged.err.find(" errors found, 1 defective blocks\n"))
                << r.name << "\n"
                << damaged.err;
        else
            EXPECT_NE(std::string::npos, damaged.err.find("\n\nReady, 67108864 bytes read, " +
                                                          std::to_string(nonzero(data, MiB, 4096)) +
                                                          " errors found, "))
                << r.name << "\n"
                << damaged.err;

        // A user who may not open the disk behind a FUSE file system is told
        // that its cache stays, before anything else.
        if (r.mount[0] != "mount" && r.names_disk) {
            const std::string binary = path("tandemcheck");
            write_file(binary, read_file(TANDEMCHECK_BINARY));
            ASSERT_EQ(0, chmod(binary.c_str(), 0755));
            ASSERT_EQ(0, chmod(folder.c_str(), 0755));
            run_options nobody;
            nobody.drop_privileges = true;
            nobody.uid = 65534;
            process_result p = run_program({binary, "-a", image, "-b", copy}, nobody);
            EXPECT_EQ(0, p.err.rfind("tandemcheck(): file 2 (" + copy +
                                         ") may be read from memory, not its medium: cannot drop "
                                         "the cached pages of " +
                                         device +
                                         ": Permission denied; verify as root, or unmount and "
                                         "mount the file system again first\n",
                                     0))
                << r.name << ", as nobody:\n"
                << p.err;
        }

        // Written, not yet on the medium: written out, then read back.
        if (!squashfs || stick != top) {
            const std::string fresh = stick + "/fresh";
            write_file(fresh, data);
            process_result p = run_tandemcheck({"-a", image, "-b", fresh});
            EXPECT_EQ(0, p.status) << r.name << "\n" << p.err;
            // Verified from the medium: the copy was written out first.
            process_result extents = run_program({"/usr/bin/env", "filefrag", "-v", fresh});
            if (extents.status == 0) {
                EXPECT_EQ(std::string::npos, extents.out.find("delalloc"))
                    << r.name << ": the fresh copy was not written out\n"
                    << extents.out;
            }
            expect_cache_left(r.cached, data.size() / 4096, resident_pages(fresh), r.name);
            EXPECT_EQ(unreached + "EOF found in file1 at 67108864\nEOF found in file2 at 67108864\n"
                                  "\n\nReady, 67108864 bytes read, 0 errors found, 0 defective "
                                  "blocks\n",
                      p.err)
                << r.name;
        }
    }
    for (const std::string& name : skipped)
        std::cout << "[  SKIPPED ROW ] " << name << "\n";
    if (skipped.size() == rows.size())
        GTEST_SKIP() << "no file system could be made";
}

TEST_F(Media, ADiskThatAnotherProcessHoldsOpenIsReadFromItsMedium)
{
    const std::string backing = path("stick");
    write_file(backing, std::string(8 * MiB, '\x55'));
    const std::string device = loop_device(backing);
    if (device.empty())
        GTEST_SKIP() << skip_reason;
    // Held open, the disk keeps its cache when the writer closes it.
    int holder = open(device.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    const std::string data = random_bytes(4 * MiB + 5000, 22);
    const std::string image = path("image");
    write_file(image, data);
    overwrite(device, 0, data);
    overwrite(backing, 2 * MiB + 100, std::string(40000, '\0'));
    ASSERT_EQ(0,
              run_program({"/usr/bin/env", "cmp", "-n", std::to_string(data.size()), image, device})
                  .status);

    process_result p = run_tandemcheck({"-a", image, "-b", device});
    close(holder);
    EXPECT_EQ(1, p.status);
    const std::uint64_t errors = nonzero(data, 2 * MiB + 100, 40000);
    EXPECT_NE(std::string::npos,
              p.err.find("EOF found in file1 at 4199304\n\n\nReady, 4199304 bytes read, " +
                         std::to_string(errors) + " errors found, 2 defective blocks\n"))
        << p.err.substr(p.err.size() - 200);
}

TEST_F(Media, ADiskThatEndsBeforeItsImageFailsTheRun)
{
    const std::uint64_t K = 1024;
    const std::string data = random_bytes(256 * K, 29);
    const std::string image = path("image"), short_image = path("short_image");
    write_file(image, data);
    write_file(short_image, data.substr(0, 100 * K + 5000));
    const std::string empty = path("empty");
    write_file(empty, "");
    const std::string small_backing = path("small"), large_backing = path("large");
    const std::string zeros_backing = path("zeros");
    write_file(small_backing, data.substr(0, 128 * K));
    write_file(large_backing, data + std::string(256 * K, 'x'));
    write_file(zeros_backing, std::string(128 * K, '\0'));
    const std::string small = loop_device(small_backing);
    const std::string large = loop_device(large_backing);
    const std::string zeros = loop_device(zeros_backing);
    if (small.empty() || large.empty() || zeros.empty())
        GTEST_SKIP() << skip_reason;
    // A disk's length is its size in bytes, from the start offset.
    for (std::uint64_t offset : {0, 1000}) {
        std::FILE* stream = std::fopen(small.c_str(), "r");
        ASSERT_EQ(0, fseeko(stream, static_cast<off_t>(offset), SEEK_SET));
        input disk = opened(small, stream, offset);
        EXPECT_EQ(input_kind::disk, disk.kind);
        EXPECT_EQ(128 * K - offset, disk.length.value_or(0)) << offset;
        std::fclose(disk.stream);
    }
    const std::string incomplete1 =
        "tandemcheck(): file 1 ended at 131072, before file 2 did: the copy is incomplete\n";
    const std::string incomplete2 =
        "tandemcheck(): file 2 ended at 131072, before file 1 did: the copy is incomplete\n";
    struct row {
        std::string a, b;
        bool piped;  // -a is a pipe fed from the file a
        int status;
        std::string err;
        std::string checksum = "";  // -s: a digest given, where the row checks one
    };
    // -s: where the copy ends first, the rest of the image is read and hashed.
    const std::string image_sha = sha256_of(data);
    const std::string as_given = " SHA-256 " + image_sha + ": as given\n";
    const std::string ready_disk =
        "\n\nReady, 131072 bytes read, 0 errors found, 0 defective blocks\n";
    const std::string ready_short =
        "\n\nReady, 107400 bytes read, 0 errors found, 0 defective blocks\n";
    const std::vector<row> rows = {
        {image, small, false, 1, "EOF found in file2 at 131072\n" + incomplete2 + ready_disk},
        {small, image, false, 1, "EOF found in file1 at 131072\n" + incomplete1 + ready_disk},
        {image, small, true, 1, "EOF found in file2 at 131072\n" + incomplete2 + ready_disk},
        {image, small, false, 1,
         "EOF found in file2 at 131072\n" + incomplete2 + "tandemcheck(): file 1" + as_given +
             ready_disk,
         image_sha},
        {small, image, false, 1,
         "EOF found in file1 at 131072\n" + incomplete1 + "tandemcheck(): file 2" + as_given +
             ready_disk,
         image_sha},
        {image, small, true, 1,
         "EOF found in file2 at 131072\n" + incomplete2 + "tandemcheck(): file 1" + as_given +
             ready_disk,
         image_sha},
        // The image ends first: the normal case.
        {short_image, large, false, 0, "EOF found in file1 at 107400\n" + ready_short},
        {small_backing, small, false, 0,
         "EOF found in file1 at 131072\nEOF found in file2 at 131072\n" + ready_disk},
        {short_image, large, true, 0, "EOF found in file1 at 107400\n" + ready_short},
        {image, image, true, 0,
         "EOF found in file1 at 262144\nEOF found in file2 at 262144\n"
         "\n\nReady, 262144 bytes read, 0 errors found, 0 defective blocks\n"},
        // A copy file cut short, read from its start.
        {image, short_image, false, 1,
         "EOF found in file2 at 107400\n"
         "tandemcheck(): file 2 ended at 107400, before file 1 did: the copy is incomplete\n" +
             ready_short},
        // A file read back a few sectors longer than its image, two disks, or
        // a character device: lengths differ on purpose.
        {short_image, image, false, 0, "EOF found in file1 at 107400\n" + ready_short},
        {large, small, false, 0, "EOF found in file2 at 131072\n" + ready_disk},
        {"/dev/zero", zeros, false, 0, "EOF found in file2 at 131072\n" + ready_disk},
        // Nothing compared.
        {empty, small, true, 1,
         "EOF found in file1 at 0\n"
         "tandemcheck(): no byte compared: file 1 holds nothing from its start offset\n"
         "\n\nReady, 0 bytes read, 0 errors found, 0 defective blocks\n"},
    };
    for (const row& r : rows) {
        const std::string label =
            r.a + (r.piped ? " (piped)" : "") + " / " + r.b + (r.checksum.empty() ? "" : " -s");
        const std::string sum = r.checksum.empty() ? "" : " -s " + r.checksum;
        process_result p =
            r.piped              ? run_program({"/bin/sh", "-c",
                                                "cat '" + r.a +
                                                    "' | exec " TANDEMCHECK_BINARY " -a /dev/stdin -b '" + r.b +
                                                    "'" + sum})
            : r.checksum.empty() ? run_tandemcheck({"-a", r.a, "-b", r.b})
                                 : run_tandemcheck({"-a", r.a, "-b", r.b, "-s", r.checksum});
        EXPECT_EQ(r.status, p.status) << label;
        EXPECT_EQ(r.err, p.err) << label;
    }
}

TEST_F(Media, AMediumUnreadablePastTheImageIsNeverAskedForIt)
{
    // An image off the block grid, on a medium that fails from the first
    // sector past it.
    const std::string data = random_bytes(20 * B + 5000, 23);
    const std::string image = path("image");
    write_file(image, data);
    const std::string backing = path("disc");
    write_file(backing, data + random_bytes(MiB, 24));
    const std::uint64_t run_out = (data.size() + 4095) / 4096 * 4096;
    const std::string log = path("requests");
    const std::string disc =
        slow_medium(backing, {"--fail-from", std::to_string(run_out), "--log", log});
    if (disc.empty())
        GTEST_SKIP() << skip_reason;
    process_result p = run_tandemcheck({"-a", image, "-b", disc});
    EXPECT_EQ(0, p.status);
    EXPECT_EQ(model_caveat(2, disc) + "EOF found in file1 at 660360\n" +
                  "\n\nReady, 660360 bytes read, 0 errors found, 0 defective blocks\n",
              p.err);
    std::ifstream requests(log);
    std::uint64_t offset = 0, length = 0, furthest = 0;
    while (requests >> offset >> length)
        furthest = std::max(furthest, offset + length);
    EXPECT_EQ(run_out, furthest) << "the furthest request";
}

TEST_F(Media, AReadErrorOnAMediumIsMetAtItsBlock)
{
    const std::string data = random_bytes(10 * B, 25);
    const std::string image = path("image");
    write_file(image, data);
    struct row {
        std::uint64_t fail_from, offset;
        int status;
        std::string err;
        std::vector<std::string> bad = {};  // areas FROM:TO that fail besides
        bool keep_going = false;            // -k
        bool whole = true;                  // `err` is all of standard error, else its end
        bool dvd = false;      // read through a loop device with 2048-byte sectors, as a DVD drive
        bool checked = false;  // the medium is the image, given with -a and -s
    };
    const std::string failed = "tandemcheck(): fread file 2():: Input/output error\n";
    const std::string ready3 = "\n\nReady, 98304 bytes read, 0 errors found, 0 defective blocks\n";
    // With -k, on a copy that differs at 2B + 100 and in an unreadable sector:
    // one bad sector, two in a row, and five across a block border.
    const std::vector<std::string> bad = {"69632:73728", "172032:180224", "253952:274432"};
    const std::string io = ": Input/output error\n";
    const std::string damaged =
        "\n" +
        difference_line(difference{2 * B + 100, static_cast<unsigned char>(data[2 * B + 100]),
                                   static_cast<unsigned char>(~data[2 * B + 100]), 0, 100, 2}) +
        "tandemcheck(): file 2 unreadable from 69632 to 73728" + io + "retries=9 read block\n" +
        "\ntandemcheck(): file 2 unreadable from 172032 to 180224" + io + "retries=9 read block\n" +
        "\nretries=9 read block\n" + "\ntandemcheck(): file 2 unreadable from 253952 to 274432" +
        io + "retries=9 read block\n" + "EOF found in file1 at 327680\n" +
        "tandemcheck(): file 2: 32768 bytes in 3 stretches could not be read\n" +
        "\n\nReady, 327680 bytes read, 1 errors found, 4 defective blocks\n";
    // With -k, the copy's one unreadable sector of 2048 bytes, `where`.
    auto one_dvd_sector = [&](const std::string& where, int retries) {
        return "\n" +
               difference_line(
                   difference{2 * B + 100, static_cast<unsigned char>(data[2 * B + 100]),
                              static_cast<unsigned char>(~data[2 * B + 100]), 0, 100, 2}) +
               "tandemcheck(): file 2 unreadable from " + where + io +
               "retries=" + std::to_string(retries) +
               " read block\nEOF found in file1 at 327680\n" +
               "tandemcheck(): file 2: 2048 bytes in 1 stretch could not be read\n" +
               "\n\nReady, 327680 bytes read, 1 errors found, 1 defective blocks\n";
    };
    // An unaligned start offset puts a block's start inside a sector.
    const std::vector<row> rows = {
        {100 * 4096, 0, 0,
         "EOF found in file1 at 327680\n"
         "\n\nReady, 327680 bytes read, 0 errors found, 0 defective blocks\n"},
        {3 * B + 8192, 0, 1, failed + ready3},
        {3 * B + 8192, 1000, 1, failed + ready3},
        {0, 0, 1, failed + "\n\nReady, 0 bytes read, 0 errors found, 0 defective blocks\n"},
        {100 * 4096, 0, 1, damaged, bad, true},
        // Without -k the same copy fails as before, at the first bad sector.
        {100 * 4096, 0, 1,
         failed + "\n\nReady, 65536 bytes read, 0 errors found, 0 defective blocks\n", bad},
        // Dead from inside block 3 to past the image: one stretch, up to the image's end.
        {3 * B + 8192,
         0,
         1,
         "EOF found in file1 at 327680\n"
         "tandemcheck(): file 2 unreadable from 106496 to 327680" +
             io + "tandemcheck(): file 2: 221184 bytes in 1 stretch could not be read\n" +
             "\n\nReady, 327680 bytes read, 0 errors found, 7 defective blocks\n",
         {},
         true,
         false},
        // One sector of 2048 bytes, in the middle of a 4 KiB page; and the
        // same at an unaligned start offset, positions from the offset.
        {100 * 4096, 0, 1, one_dvd_sector("69632 to 71680", 17), {"69632:71680"}, true, true, true},
        {100 * 4096,
         1000,
         1,
         one_dvd_sector("68632 to 70680", 18),
         {"69632:71680"},
         true,
         true,
         true},
        // -s on the damaged medium as the image: read to its end, past the
        // copy and through the 1 MiB behind it, which is dead too.
        {3 * B + 8192,
         0,
         1,
         "tandemcheck(): fread file 1():: Input/output error\n"
         "tandemcheck(): file 1 SHA-256 not computed: Input/output error\n" +
             ready3,
         {},
         false,
         true,
         false,
         true},
        {3 * B + 8192,
         0,
         1,
         "EOF found in file2 at 327680\n"
         "tandemcheck(): file 2 ended at 327680, before file 1 did: the copy is incomplete\n"
         "tandemcheck(): file 1 unreadable from 106496 to 327680" +
             io + "tandemcheck(): file 1: 221184 bytes in 1 stretch could not be read\n" +
             "tandemcheck(): file 1 SHA-256 not computed: 1269760 bytes could not be read\n" +
             "\n\nReady, 327680 bytes read, 0 errors found, 7 defective blocks\n",
         {},
         true,
         false,
         false,
         true},
    };
    for (const row& r : rows) {
        const std::string name = std::to_string(r.fail_from + r.offset) +
                                 (r.bad.empty() ? "" : "bad") + (r.dvd ? "dvd" : "") +
                                 (r.checked ? "sum" : "") + (r.keep_going ? "k" : "");
        const std::string backing = path("backing" + name);
        std::string copy = data;
        if (!r.bad.empty()) {
            copy[2 * B + 100] = static_cast<char>(~copy[2 * B + 100]);
            copy[2 * B + 5000] = static_cast<char>(~copy[2 * B + 5000]);  // unreadable
        }
        write_file(backing, std::string(r.offset, 'o') + copy + std::string(MiB, 'x'));
        std::vector<std::string> options = {"--fail-from", std::to_string(r.offset + r.fail_from),
                                            "--latency-ms", "0"};
        for (const std::string& area : r.bad)
            options.insert(options.end(), {"--bad", area});
        std::string medium = slow_medium(backing, options);
        if (medium.empty())
            GTEST_SKIP() << skip_reason;
        if (r.dvd && (medium = loop_device(medium, "2048")).empty())
            GTEST_SKIP() << skip_reason;
        std::vector<std::string> args = {"-a", image, "-b", medium, "-p", std::to_string(r.offset)};
        if (r.checked)
            args = {"-a", medium, "-b", image, "-s", sha256_of(data)};
        if (r.keep_going)
            args.push_back("-k");
        process_result p = run_tandemcheck(args);
        const std::string label = "failing from " + std::to_string(r.fail_from) + ", offset " +
                                  std::to_string(r.offset) + (r.bad.empty() ? "" : ", bad areas") +
                                  (r.keep_going ? ", -k" : "") +
                                  (r.dvd ? ", 2048-byte sectors" : "") + (r.checked ? ", -s" : "");
        EXPECT_EQ(r.status, p.status) << label;
        if (r.whole)
            EXPECT_EQ((r.dvd ? "" : model_caveat(r.checked ? 1 : 2, medium)) + r.err, p.err)
                << label;
        else
            EXPECT_EQ(r.err, p.err.substr(p.err.size() - std::min(p.err.size(), r.err.size())))
                << label;
    }
}

// Whether the process `pid` ends its main thread within 20 s. Another
// thread may still be inside a request that the kernel cannot cut short.
bool main_thread_ends(pid_t pid)
{
    const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    for (int i = 0; i < 2000; ++i) {
        std::string fields = read_file(stat);
        std::size_t state = fields.rfind(')');
        if (state != std::string::npos && fields.compare(state, 3, ") Z") == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(Media, InterruptsAndEndsNeverWaitForAStalledMedium)
{
    const std::string data = random_bytes(4 * MiB, 26);
    const std::string backing = path("backing");
    write_file(backing, data);
    const std::string image = path("image");
    write_file(image, data);
    const std::string pipe = path("pipe");
    ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));
    const std::string short_copy = path("short_copy");
    write_file(short_copy, data.substr(0, B + 10));
    for (int way : {0, 1, 2, 3}) {
        // Every request past the first 1280 KiB stalls for an hour; or with
        // -k, fails after 300 ms, so that the run is narrowing it down; or
        // with -s, the medium is the image, read on past a short copy to be
        // hashed.
        const bool interrupt = way > 0, keep_going = way == 2, checked = way == 3;
        const std::string medium =
            slow_medium(backing, {keep_going ? "--fail-from" : "--stall-from",
                                  std::to_string(40 * B), "--fail-ms", "300"});
        if (medium.empty())
            GTEST_SKIP() << skip_reason;
        bool ended = false;
        run_options options;
        options.seconds = 60;
        options.while_running = [&, server = last_server](pid_t pid, const std::string&) {
            if (interrupt) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1000));
                kill(pid, SIGINT);
            }
            ended = main_thread_ends(pid);
            // The request in flight returns once its server has gone.
            kill(server, SIGKILL);
        };
        std::thread writer;
        if (!interrupt)
            writer = std::thread([&] {
                std::ofstream out(pipe, std::ios::binary);
                out.write(data.data(), static_cast<std::streamsize>(B + 10));
            });
        // Compared up to the end of a pipe while the medium's reader is in a
        // stalled request; or interrupted while waiting for the medium.
        // LeakSanitizer stops every thread at exit to look at its memory, and
        // a thread inside a request to a stalled FUSE medium cannot be
        // stopped: the sanitizer build would wait for it, which the tool
        // itself never does.
        std::vector<std::string> args = {
            "/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0", TANDEMCHECK_BINARY,
            "-a",           interrupt ? image : pipe,      "-b",
            medium};
        if (keep_going)
            args.push_back("-k");
        if (checked)
            args = {"/usr/bin/env",
                    "ASAN_OPTIONS=detect_leaks=0",
                    TANDEMCHECK_BINARY,
                    "-a",
                    medium,
                    "-b",
                    short_copy,
                    "-s",
                    sha256_of(data)};
        process_result p = run_program(args, options);
        if (writer.joinable())
            writer.join();
        EXPECT_TRUE(ended) << "the run waited for the medium";
        if (interrupt) {
            // No summary, and no checksum of what was not read to its end.
            EXPECT_EQ(SIGINT, p.signal);
            EXPECT_EQ(model_caveat(checked ? 1 : 2, medium) +
                          (checked ? "EOF found in file2 at 32778\n" : ""),
                      p.err);
        } else {
            EXPECT_EQ(0, p.status);
            EXPECT_EQ(model_caveat(2, medium) + "EOF found in file1 at 32778\n" +
                          "\n\nReady, 32778 bytes read, 0 errors found, 0 defective blocks\n",
                      p.err);
        }
    }
}

bool cache_of_its_own(const std::string& folder)
{
    // tmpfs and ramfs keep their files in the page cache: it is their medium.
    struct statfs fs;
    return statfs(folder.c_str(), &fs) == 0 && fs.f_type != 0x01021994 && fs.f_type != 0x858458f6;
}

// Pages of the file at `path` in the page cache.
std::size_t resident_pages(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY);
    struct stat st;
    fstat(fd, &st);
    void* map = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    const std::size_t pages = (static_cast<std::size_t>(st.st_size) + 4095) / 4096;
    std::vector<unsigned char> residency(pages);
    mincore(map, static_cast<std::size_t>(st.st_size), residency.data());
    munmap(map, static_cast<std::size_t>(st.st_size));
    return static_cast<std::size_t>(
        std::count_if(residency.begin(), residency.end(), [](unsigned char r) { return r & 1; }));
}

TEST_F(Media, ThePageCacheIsLeftAsItWas)
{
    if (!cache_of_its_own(folder))
        GTEST_SKIP() << "the temporary folder lives in the page cache";
    const std::string data = random_bytes(16 * MiB, 27);
    const std::string cold1 = path("cold1"), cold2 = path("cold2"), warm = path("warm");
    for (const std::string& name : {cold1, cold2, warm}) {
        write_file(name, data);
        int fd = open(name.c_str(), O_RDONLY);
        fdatasync(fd);
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        close(fd);
    }
    const std::size_t pages = 16 * MiB / 4096;
    ASSERT_LT(resident_pages(cold1), pages / 16) << "the cache could not be dropped";

    EXPECT_EQ(0, run_tandemcheck({"-a", cold1, "-b", cold2}).status);
    // At most a few pages, where the tool reads with O_DIRECT none.
    EXPECT_LE(resident_pages(cold1), 256u);
    EXPECT_LE(resident_pages(cold2), 256u);
    // A busy machine may take some of the warm file's pages back by itself,
    // before the run or during it: the run is tried again with the file
    // cached again, and must leave it whole at least once.
    std::size_t left = 0;
    for (int attempt = 0; attempt < 5 && left != pages; ++attempt) {
        read_file(warm);
        if (resident_pages(warm) != pages)
            continue;
        EXPECT_EQ(0, run_tandemcheck({"-a", warm, "-b", cold2}).status);
        left = resident_pages(warm);
    }
    EXPECT_EQ(pages, left) << "the run dropped the pages of a file cached before it";
}

TEST_F(Media, TmpfsAndRamfsInputs)
{
    // tmpfs takes O_DIRECT; ramfs refuses it, and is read through its cache.
    const std::string data = pattern_bytes(3 * B + 700);
    std::string changed = data;
    changed[2 * B + 9] = static_cast<char>(~changed[2 * B + 9]);
    const std::string image = path("image");
    write_file(image, data);
    for (const char* type : {"tmpfs", "ramfs"}) {
        const std::string mounted = mount(type, "none", type);
        if (mounted.empty())
            GTEST_SKIP() << skip_reason;
        const std::string copy = mounted + "/copy";
        write_file(copy, changed);
        process_result p = run_tandemcheck({"-a", image, "-b", copy, "-o", "5", "-p", "5"});
        EXPECT_EQ(1, p.status) << type;
        EXPECT_EQ(
            "\nDIFFERENCE count=65540  file1=34 (0x22)  file2=221 (0xdd)  errors=0 i=4 block=2\n"
            "retries=0 read block\n"
            "EOF found in file1 at 98999\nEOF found in file2 at 98999\n"
            "\n\nReady, 98999 bytes read, 1 errors found, 1 defective blocks\n",
            p.err)
            << type;
    }
}

}  // namespace
