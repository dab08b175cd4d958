// How an input is read, decided from what the system reports of its stack.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "read/access.h"

namespace {

// A plan in a few words: what is done, and what is said.
std::string shown(const access_plan& plan)
{
    std::string text;
    auto add = [&text](bool on, const char* word) {
        if (on)
            text += text.empty() ? word : std::string(" ") + word;
    };
    add(plan.direct, "direct");
    add(plan.write_out, "written-out");
    add(plan.drop_around, "dropped-around");
    add(plan.no_readahead, "no-readahead");
    add(plan.drop_disk, "disk-dropped");
    for (std::size_t k = 0; k < plan.drop_loop_files.size(); ++k)
        add(plan.drop_loop_files[k], k == 0 ? "loop-file-dropped" : "lower-loop-file-dropped");
    const char* kinds[] = {"", "system", "disk-closed", "disk-unnamed", "raw-disk"};
    if (plan.caveat.kind != caveat_kind::none)
        text += std::string(" | ") + kinds[static_cast<int>(plan.caveat.kind)] +
                (plan.caveat.disk.empty() ? "" : " " + plan.caveat.disk) +
                (plan.caveat.error_number ? " " + std::to_string(plan.caveat.error_number) : "");
    return text;
}

TEST(Access, EachStackIsReadAsFarFromMemoryAsItAllows)
{
    using b = cache_bypass;
    // Linux drops pages; a direct read is taken unless the facts say otherwise.
    auto linux_file = [](b bypass) {
        stack_facts facts;
        facts.bypass = bypass;
        facts.direct_taken = true;
        facts.can_drop = true;
        return facts;
    };
    auto with = [](stack_facts facts, auto change) {
        change(facts);
        return facts;
    };
    struct row {
        const char* what;
        stack_facts facts;
        const char* expected;
    };
    const std::vector<row> rows = {
        {"ext4 or xfs whose file statx gives a direct I/O alignment; tmpfs; a disk",
         linux_file(b::whole), "direct"},
        {"ext4 with data=journal, or an encrypted folder: no alignment", linux_file(b::partial),
         "direct written-out dropped-around"},
        {"btrfs, compressed",
         with(linux_file(b::partial),
              [](stack_facts& f) {
                  f.compressed = true;
                  f.direct_taken = false;
              }),
         "written-out dropped-around no-readahead"},
        {"tmpfs before Linux 6.6, which refuses direct reads",
         with(linux_file(b::whole), [](stack_facts& f) { f.direct_taken = false; }),
         "written-out dropped-around no-readahead"},
        {"squashfs, which refuses direct reads",
         with(linux_file(b::partial), [](stack_facts& f) { f.direct_taken = false; }),
         "written-out dropped-around no-readahead"},
        {"a loop device over a file, direct I/O off",
         with(linux_file(b::whole),
              [](stack_facts& f) {
                  f.loops = {{"/srv/stick.img", false, b::whole, 0}};
              }),
         "direct loop-file-dropped"},
        {"a loop device with direct I/O over a file on ext4",
         with(linux_file(b::whole),
              [](stack_facts& f) {
                  f.loops = {{"/srv/stick.img", true, b::whole, 0}};
              }),
         "direct"},
        {"a loop device with direct I/O over a compressed btrfs file",
         with(linux_file(b::whole),
              [](stack_facts& f) {
                  f.loops = {{"/srv/stick.img", true, b::partial, 0}};
              }),
         "direct loop-file-dropped"},
        {"a loop device whose file may not be opened",
         with(linux_file(b::whole),
              [](stack_facts& f) {
                  f.loops = {{"/srv/stick.img", false, b::whole, EACCES}};
              }),
         "direct | disk-closed /srv/stick.img 13"},
        {"a loop device with direct I/O over a file on ext4, itself on a loop device over a file",
         with(linux_file(b::whole),
              [](stack_facts& f) {
                  f.loops = {{"/mnt/disk/stick.img", true, b::whole, 0},
                             {"/srv/disk.img", false, b::whole, 0}};
              }),
         "direct lower-loop-file-dropped"},
        {"FUSE on a disk (fuseblk, or fuse2fs with the disk as its source)",
         with(linux_file(b::through_disk), [](stack_facts& f) { f.fuse_disk = "/dev/sdb1"; }),
         "direct written-out disk-dropped"},
        {"FUSE on a disk the user may not open",
         with(linux_file(b::through_disk),
              [](stack_facts& f) {
                  f.fuse_disk = "/dev/sdb1";
                  f.fuse_disk_error = EACCES;
              }),
         "direct written-out | disk-closed /dev/sdb1 13"},
        {"FUSE that names no disk (fusefat, sshfs)", linux_file(b::through_unnamed),
         "direct written-out | disk-unnamed"},
        {"a file on FreeBSD", linux_file(b::unsure), "direct written-out dropped-around | system"},
        {"a file on DragonFly, which drops nothing",
         with(linux_file(b::unsure), [](stack_facts& f) { f.can_drop = false; }),
         "direct written-out | system"},
        {"macOS /dev/disk2",
         with(linux_file(b::unsure),
              [](stack_facts& f) {
                  f.can_drop = false;
                  f.raw_disk = "/dev/rdisk2";
              }),
         "direct written-out | raw-disk /dev/rdisk2"},
        {"macOS /dev/rdisk2",
         with(linux_file(b::whole), [](stack_facts& f) { f.can_drop = false; }), "direct"},
        {"a system that neither reads uncached nor drops",
         with(linux_file(b::partial),
              [](stack_facts& f) {
                  f.direct_taken = false;
                  f.can_drop = false;
              }),
         "written-out no-readahead | system"},
    };
    for (const row& r : rows)
        EXPECT_EQ(r.expected, shown(plan_access(r.facts))) << r.what;
}

}  // namespace
