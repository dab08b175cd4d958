// Everything that differs between the systems tandemcheck runs on, one
// question per function. The rest of the program asks these and has no
// system-specific code of its own.
#ifndef TANDEMCHECK_PLATFORM_H
#define TANDEMCHECK_PLATFORM_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// What a disk says of itself.
struct disk_facts {
    std::uint64_t size = 0;  // bytes
    std::size_t sector = 0;  // bytes; 0 where the system does not say
};

// The size and sector size of the disk behind `fd` (described by `st`), or
// nothing when it is no disk or the system cannot say.
std::optional<disk_facts> disk_facts_of(int fd, const struct stat& st);

// The alignment the file system asks of uncached reads of `fd`, or 0 where
// the system does not say.
std::size_t uncached_read_alignment(int fd);

// Turns reading `fd` past the page cache on, or off again (for a medium
// that took it but refuses its reads). False where that cannot be done.
bool read_uncached(int fd, bool on);

// Whether drop_cached_pages can ever work on this system.
bool can_drop_cached_pages();

// Drops the clean cached pages of `length` bytes of `fd` from `offset` (0:
// to the end), so that the next read of them comes from the medium.
void drop_cached_pages(int fd, std::uint64_t offset, std::uint64_t length);

// Asks for no readahead on `fd`: pages it brought in would be dropped unread.
void no_readahead(int fd);

// Asks for `region` to lie in huge pages, where the system has them.
void prefer_huge_pages(void* region, std::size_t length);

// How far uncached reads of an input keep to its medium.
enum class cache_bypass {
    whole,            // they come from the medium: ext4, xfs, tmpfs, FUSE, a disk
    partial,          // a file system that may serve them from the page cache all the same
    through_disk,     // a FUSE file system that reads a disk through that disk's page cache
    through_unnamed,  // a FUSE file system that names no disk: what it reads is not known
    unsure,           // the system's documentation does not say that cached pages are passed by
};

// How far uncached reads of `fd` (described by `st`) keep to the medium.
cache_bypass cache_bypass_of(int fd, const struct stat& st);

// Whether most of the first stretch of `fd`'s data is kept compressed on its
// medium, where the system can say.
bool mostly_compressed(int fd);

// The file a loop device reads, as the system names it.
struct loop_backing {
    std::string file;     // empty: `st` is no loop device, or the system cannot say
    bool direct = false;  // the device reads the file with direct I/O
};

// The file the loop device `st` reads, where it is one.
loop_backing loop_backing_of(const struct stat& st);

// macOS's raw node for the name of a buffered disk node, "/dev/disk2s1"
// giving "/dev/rdisk2s1"; empty for any other name. (Pure, so that every
// system's tests can check it.)
std::string raw_disk_name(const std::string& name);

// The raw node to name in place of the disk `name` (described by `st`),
// where the system reads this node through its cache whatever the run asks
// (macOS's /dev/diskN); else empty.
std::string raw_disk_of(const std::string& name, const struct stat& st);

// The disk that the FUSE file system holding `st` reads, where it reads one
// (through_disk), else empty.
std::string disk_behind(const struct stat& st);

// The checksums a publisher's list may give.
enum class digest_algorithm { md5, sha1, sha224, sha256, sha384, sha512 };

// A digest being computed, in the system's library (defined in platform.cpp).
struct running_digest;

// Gives a running digest's memory back to its library.
struct end_digest {
    void operator()(running_digest* digest) const;
};

// A running digest, owned.
using digest_handle = std::unique_ptr<running_digest, end_digest>;

// A fresh digest of `algorithm`, or nothing where the library cannot make one.
digest_handle start_digest(digest_algorithm algorithm);

// Adds `length` bytes at `data` to `digest`.
void add_to_digest(running_digest& digest, const unsigned char* data, std::size_t length);

// The digest of every byte added, as raw bytes; `digest` is spent.
std::string finish_digest(running_digest& digest);

// `options` for getopt, made to stop at the first operand as POSIX says.
std::string posix_option_string(const char* options);

// Makes the next getopt call start a fresh scan of a new argument vector.
void restart_option_parsing();

#endif
