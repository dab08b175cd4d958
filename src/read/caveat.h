// What may keep an input's bytes from coming from its medium alone, as
// reading it finds and the run says before its first status line.
#ifndef TANDEMCHECK_CAVEAT_H
#define TANDEMCHECK_CAVEAT_H

#include <string>

// What may keep a medium's bytes from coming from the medium alone.
enum class caveat_kind {
    none,
    system,        // the system may serve pages cached before the run
    disk_closed,   // the disk a FUSE file system reads could not be opened to drop its cache
    disk_unnamed,  // a FUSE file system names no disk: its driver's reads may be cached
    raw_disk,      // the system reads this disk node through its cache: name `disk` instead
};

// What may keep a medium's bytes from coming from the medium alone, and why.
struct medium_caveat {
    caveat_kind kind = caveat_kind::none;
    std::string disk;      // with disk_closed: the disk; with raw_disk: the node to name
    int error_number = 0;  // with disk_closed: why it could not be opened
};

#endif
