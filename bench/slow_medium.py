#!/usr/bin/python3
"""A slow medium: one read-only file served through FUSE, one request at a time.

Every read request takes a set time plus its size at a set rate, as a USB
stick or a drive behind a USB bridge does; from a chosen byte on, every
request fails with EIO, as a burned disc's run-out area or a failing stick's
end does; from another, every request stalls for an hour, as a drive that
retries a bad sector does. Each request can be logged as "offset length"
lines.

    slow_medium.py BACKING MOUNTPOINT [--latency-ms 1] [--mb-per-s 50]
                   [--fail-from BYTES] [--stall-from BYTES] [--log PATH]

The file appears as MOUNTPOINT/medium with BACKING's size and bytes. The
server runs in the foreground until the mount point is unmounted
(fusermount3 -u MOUNTPOINT). Needs Debian's fuse3 and python3-fusepy, run
with /usr/bin/python3 (the module is fusepy there).
"""
import argparse
import errno
import os
import stat
import sys
import threading
import time

import fusepy


class SlowMedium(fusepy.Operations):
    use_ns = True

    def __init__(self, backing, latency, rate, fail_from, stall_from, log, bad=(), fail_cost=0.0):
        self.fd = os.open(backing, os.O_RDONLY)
        self.size = os.fstat(self.fd).st_size
        self.latency = latency
        self.rate = rate
        self.fail_from = fail_from
        self.stall_from = stall_from
        self.bad = list(bad)
        self.fail_cost = fail_cost
        self.log = open(log, "a", buffering=1) if log else None
        # Requests are served on threads of their own, so that a flush or a
        # stat is answered while a read is being served; reads go one at a time.
        self.one_read = threading.Lock()

    def getattr(self, path, fh=None):
        now = int(time.time() * 1e9)
        if path == "/":
            return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2, "st_atime": now, "st_mtime": now,
                    "st_ctime": now}
        if path == "/medium":
            return {"st_mode": stat.S_IFREG | 0o444, "st_nlink": 1, "st_size": self.size, "st_atime": now,
                    "st_mtime": now, "st_ctime": now}
        raise fusepy.FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return [".", "..", "medium"]

    def open(self, path, fi):
        if path != "/medium":
            raise fusepy.FuseOSError(errno.ENOENT)
        if fi.flags & (os.O_WRONLY | os.O_RDWR):
            raise fusepy.FuseOSError(errno.EROFS)
        fi.direct_io = 1
        return 0

    def fails(self, offset, length):
        if length == 0:
            return False
        if self.fail_from is not None and offset + length > self.fail_from:
            return True
        return any(offset < to and start < offset + length for start, to in self.bad)

    def read(self, path, size, offset, fh):
        with self.one_read:
            if self.log:
                self.log.write(f"{offset} {size}\n")
            length = max(0, min(size, self.size - offset))
            time.sleep(self.latency + length / self.rate)
            if self.stall_from is not None and offset + length > self.stall_from:
                time.sleep(3600)
            if self.fails(offset, length):
                time.sleep(self.fail_cost)
                raise fusepy.FuseOSError(errno.EIO)
            return os.pread(self.fd, length, offset)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("backing")
    parser.add_argument("mountpoint")
    parser.add_argument("--latency-ms", type=float, default=1.0)
    parser.add_argument("--mb-per-s", type=float, default=50.0)
    parser.add_argument("--fail-from", type=int, default=None)
    parser.add_argument("--bad", action="append", default=[], metavar="FROM:TO")
    parser.add_argument("--fail-ms", type=float, default=0.0)
    parser.add_argument("--stall-from", type=int, default=None)
    parser.add_argument("--log", default=None)
    options = parser.parse_args()
    medium = SlowMedium(options.backing, options.latency_ms / 1000, options.mb_per_s * 1e6,
                        options.fail_from, options.stall_from, options.log,
                        [tuple(int(x) for x in area.split(":")) for area in options.bad],
                        options.fail_ms / 1000)
    fusepy.FUSE(medium, options.mountpoint, raw_fi=True, foreground=True, ro=True, allow_other=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
