// What the system-specific unit works out without asking the system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform.h"

namespace {

TEST(Platform, TheRawNodeOfABufferedDiskNode)
{
    struct row {
        const char* name;
        const char* raw;
    };
    const std::vector<row> rows = {
        {"/dev/disk2", "/dev/rdisk2"},
        {"/dev/disk2s1", "/dev/rdisk2s1"},
        {"disk3", "rdisk3"},
        {"./disk10", "./rdisk10"},
        // Raw already, or no disk node's name.
        {"/dev/rdisk2", ""},
        {"/dev/disk", ""},
        {"/dev/diskette", ""},
        {"/dev/sda", ""},
        {"/tmp/disk2/copy.img", ""},
        {"", ""},
    };
    for (const row& r : rows)
        EXPECT_EQ(r.raw, raw_disk_name(r.name)) << r.name;
}

}  // namespace
