// How a file or a disk is read: from its medium, as far past every cache
// as the system and the layers under the input allow.
//
// A verifier must compare what the medium holds, not what memory holds. The
// input is read past the page cache (O_DIRECT, which on Linux writes out
// what is only in memory first) where the kernel confirms that this reaches
// the medium; where a file system may serve such reads from the cache all
// the same (btrfs; ext4 with its data journalled), or refuses them, the
// file is written out and its cached pages are dropped before and after
// each request. Layers under the input hold caches of their own: the disk a
// FUSE driver reads has its cache dropped around the run, and the file a
// loop device reads has its pages dropped around each request. What cannot
// be kept from memory is said (medium_caveat).
#ifndef TANDEMCHECK_ACCESS_H
#define TANDEMCHECK_ACCESS_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"
#include "read/caveat.h"
#include "read/inputs.h"

// A loop device under an input, and the file it reads.
struct loop_layer {
    std::string file;                                  // the file the device reads
    bool direct = false;                               // it reads the file with direct I/O
    cache_bypass file_bypass = cache_bypass::partial;  // of the file's own file system
    int error = 0;                                     // why the file could not be opened, or 0
};

// What the system reports about an input and the layers under it.
struct stack_facts {
    cache_bypass bypass = cache_bypass::partial;  // of the input's own file system or node
    bool compressed = false;                      // most of its first extents are kept compressed
    bool direct_taken = false;                    // the system took the request for uncached reads
    bool can_drop = false;                        // the system can drop cached pages
    std::string raw_disk;     // the raw node to name instead, where the system says so
    std::string fuse_disk;    // through_disk: the disk the FUSE driver reads
    int fuse_disk_error = 0;  // why that disk could not be opened, or 0
    // A loop device: the file it reads, then, where that file lies on
    // another loop device, that device's file, and so on down.
    std::vector<loop_layer> loops;
};

// How to read an input, and what to say of it.
struct access_plan {
    bool direct = false;        // reads pass the page cache
    bool write_out = false;     // what is only in memory is written out first
    bool drop_around = false;   // the input's cached pages are dropped around each request
    bool no_readahead = false;  // read through the cache: no pages beyond each request
    bool drop_disk = false;     // the FUSE driver's disk: written out, dropped around the run
    std::vector<bool> drop_loop_files;  // of each loop layer: written out, dropped as it is read
    medium_caveat caveat;               // what may keep the bytes from coming from the medium alone
};

// The policy: how to read an input with these facts.
access_plan plan_access(const stack_facts& facts);

// An input's medium, open for reading as its plan says.
struct medium_access {
    int fd = -1;         // a duplicate of the input's descriptor
    medium_read medium;  // tests: a medium in memory, read in place of `fd`
    int disk_fd = -1;    // the disk a FUSE file system reads, or -1
    // The files loop devices under the input read through their caches,
    // from the top down; -1 for a layer that needs no dropping.
    std::vector<int> loop_file_fds;
    bool direct = false;       // reads pass the page cache
    bool drop_around = false;  // cached pages of each request are dropped before and after it

    medium_access() = default;
    medium_access(const medium_access&) = delete;
    medium_access& operator=(const medium_access&) = delete;
    ~medium_access();
};

// Opens `in`'s medium (a duplicate of its descriptor, or its test medium),
// gathers the facts of its stack, and sets it up by plan_access; says in
// `caveat` what keeps it from the medium alone. False where it cannot be
// opened.
bool open_access(medium_access& access, const input& in, medium_caveat& caveat);

// Reads `length` bytes at `position` as pread does, with the cached pages
// the plan drops dropped before and after; retried after a signal.
ssize_t read_at(medium_access& access, unsigned char* buffer, std::size_t length,
                std::uint64_t position);

// Goes on through the page cache, with what is only in memory written out
// first, where a medium refuses uncached reads after all (overlayfs over
// squashfs). False where the system cannot keep cached pages out of it.
bool fall_back_to_cache(medium_access& access);

#endif
