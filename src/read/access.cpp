// Reading a medium past the caches that stand for it.
#include "read/access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Loop devices followed down under an input, at most.
constexpr int most_loop_layers = 8;

// Gathers what the system says of `in`'s medium (open as `access.fd`) and
// of the layers under it, opening the disk or file below where there is
// one. Asking for uncached reads is part of the asking: the system may
// refuse them.
stack_facts gather_facts(medium_access& access, const input& in)
{
    stack_facts facts;
    struct stat st {};
    const bool described = fstat(access.fd, &st) == 0;
    facts.bypass = described ? cache_bypass_of(access.fd, st) : cache_bypass::partial;
    if (described)
        facts.raw_disk = raw_disk_of(in.name, st);
    // btrfs turns a direct read of a compressed extent into a buffered one,
    // made at once and whole: with no readahead behind it, that takes twice
    // as long as reading through the cache (3338 ms against 1607 ms for a
    // cold 1 GiB pair), while uncompressed data reads twice as fast direct.
    // Either way the stretch's cached pages are dropped around its read.
    facts.compressed = facts.bypass == cache_bypass::partial && mostly_compressed(access.fd);
    facts.direct_taken = !facts.compressed && read_uncached(access.fd, true);
    facts.can_drop = can_drop_cached_pages();
    if (facts.bypass == cache_bypass::through_disk) {
        facts.fuse_disk = disk_behind(st);
        access.disk_fd = open(facts.fuse_disk.c_str(), O_RDONLY | O_CLOEXEC);
        facts.fuse_disk_error = access.disk_fd < 0 ? errno : 0;
    }
    // Down the loop devices: each one's file may lie on another.
    struct stat device {};
    if (described && S_ISBLK(st.st_mode))
        device = st;
    for (int depth = 0; depth < most_loop_layers && S_ISBLK(device.st_mode); ++depth) {
        const loop_backing loop = loop_backing_of(device);
        if (loop.file.empty())
            break;
        loop_layer layer;
        layer.file = loop.file;
        layer.direct = loop.direct;
        const int fd = open(loop.file.c_str(), O_RDONLY | O_CLOEXEC);
        access.loop_file_fds.push_back(fd);
        struct stat file_st {};
        device = {};
        if (fd < 0) {
            layer.error = errno;
        } else if (fstat(fd, &file_st) == 0) {
            layer.file_bypass = cache_bypass_of(fd, file_st);
            // The disk the file lies on, as a node of its own.
            device.st_mode = S_IFBLK;
            device.st_rdev = file_st.st_dev;
        }
        facts.loops.push_back(layer);
    }
    return facts;
}

void close_fd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

}  // namespace

access_plan plan_access(const stack_facts& facts)
{
    access_plan plan;
    auto say = [&plan](const medium_caveat& caveat) {
        if (plan.caveat.kind == caveat_kind::none)
            plan.caveat = caveat;
    };
    plan.direct = facts.direct_taken && !facts.compressed;
    // Only what is written out can be dropped, or read back from the medium.
    plan.write_out = facts.bypass != cache_bypass::whole || !plan.direct;
    const bool distrusted =
        facts.bypass == cache_bypass::partial || facts.bypass == cache_bypass::unsure;
    plan.drop_around = (distrusted || !plan.direct) && facts.can_drop;
    plan.no_readahead = !plan.direct;
    if (!facts.raw_disk.empty())
        say(medium_caveat{caveat_kind::raw_disk, facts.raw_disk, 0});
    if (facts.bypass == cache_bypass::through_unnamed)
        say(medium_caveat{caveat_kind::disk_unnamed, "", 0});
    if (facts.bypass == cache_bypass::through_disk) {
        if (facts.fuse_disk_error == 0)
            plan.drop_disk = true;
        else
            say(medium_caveat{caveat_kind::disk_closed, facts.fuse_disk, facts.fuse_disk_error});
    }
    // Where the system cannot drop what it cached, pages cached before the
    // run may be served.
    bool unreached =
        facts.bypass == cache_bypass::unsure || ((distrusted || !plan.direct) && !plan.drop_around);
    // A loop device reads its file as any program does: through that file's
    // page cache, unless it reads it with direct I/O where the file's own
    // file system is trusted with that. So does each loop device below.
    for (const loop_layer& loop : facts.loops) {
        bool drop = false;
        if (loop.error != 0) {
            say(medium_caveat{caveat_kind::disk_closed, loop.file, loop.error});
        } else if (!loop.direct || loop.file_bypass != cache_bypass::whole) {
            drop = facts.can_drop;
            unreached = unreached || !facts.can_drop;
        }
        plan.drop_loop_files.push_back(drop);
    }
    if (unreached)
        say(medium_caveat{caveat_kind::system, "", 0});
    return plan;
}

medium_access::~medium_access()
{
    close_fd(fd);
    // What the FUSE driver read of its disk, and the loop device of its
    // file, during the run leaves with it.
    if (disk_fd >= 0)
        drop_cached_pages(disk_fd, 0, 0);
    for (int& loop_file_fd : loop_file_fds) {
        if (loop_file_fd >= 0)
            drop_cached_pages(loop_file_fd, 0, 0);
        close_fd(loop_file_fd);
    }
    close_fd(disk_fd);
}

bool open_access(medium_access& access, const input& in, medium_caveat& caveat)
{
    if (in.medium) {
        access.medium = in.medium;
        return true;
    }
    if ((access.fd = fcntl(in.fd, F_DUPFD_CLOEXEC, 0)) < 0)
        return false;
    const stack_facts facts = gather_facts(access, in);
    const access_plan plan = plan_access(facts);
    access.direct = plan.direct;
    access.drop_around = plan.drop_around;
    if (plan.write_out)
        fsync(access.fd);
    if (plan.no_readahead)
        no_readahead(access.fd);
    if (plan.drop_disk) {
        fsync(access.disk_fd);
        drop_cached_pages(access.disk_fd, 0, 0);
    } else {
        close_fd(access.disk_fd);
    }
    for (std::size_t k = 0; k < access.loop_file_fds.size(); ++k) {
        int& fd = access.loop_file_fds[k];
        if (k < plan.drop_loop_files.size() && plan.drop_loop_files[k]) {
            fsync(fd);
            drop_cached_pages(fd, 0, 0);
        } else {
            close_fd(fd);
        }
    }
    caveat = plan.caveat;
    return true;
}

// Where uncached reads may still be served from memory, or are not made,
// the file's cached pages are dropped before the read, so that it comes
// from the medium, and after it, so that a run that stops early leaves
// nothing of its own in the cache. The whole file's, not the stretch's: the
// cache holds a file in folios of up to 2 MiB (freshly written files on
// ext4, for one), and a drop takes only folios that lie wholly within its
// range, so a stretch's drop would leave the folios at its ends, and their
// bytes would come from memory. After the first request only the pages of
// the one before are cached, so this costs little.
//
// A loop device's file was dropped whole when it was opened: every page of
// it cached since was read from its medium during the run, by the loop
// device and its readahead. What lies up to the end of each request is
// dropped after it, and the pages read ahead are kept for the next one
// (dropped around each request, they cost the loop device its readahead).
// The files of loop devices further down hold the top one's bytes where
// their file systems put them: they are dropped whole after each request.
ssize_t read_at(medium_access& access, unsigned char* buffer, std::size_t length,
                std::uint64_t position)
{
    if (access.drop_around)
        drop_cached_pages(access.fd, 0, 0);
    ssize_t n;
    do
        n = access.medium ? access.medium(buffer, length, position)
                          : pread(access.fd, buffer, length, static_cast<off_t>(position));
    while (n < 0 && errno == EINTR);
    const int error_number = errno;
    if (access.drop_around)
        drop_cached_pages(access.fd, 0, 0);
    for (std::size_t k = 0; k < access.loop_file_fds.size(); ++k)
        if (access.loop_file_fds[k] >= 0)
            drop_cached_pages(access.loop_file_fds[k], 0, k == 0 ? position + length : 0);
    errno = error_number;
    return n;
}

bool fall_back_to_cache(medium_access& access)
{
    access.direct = false;
    fsync(access.fd);
    no_readahead(access.fd);
    access.drop_around = can_drop_cached_pages();
    return access.drop_around;
}
