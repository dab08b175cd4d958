#!/usr/bin/env python3
"""Measures tandemcheck against GNU cmp and a floor reader, side by side.

Builds a Release tandemcheck and the floor reader, makes the inputs in a
temporary folder, runs every command of a group interleaved for several
rounds, and prints medians and ratios. Uses hyperfine for each round when it
is installed, and a plain timing loop otherwise.

Files are read from their medium, past the page cache: a pair of cold files
on this machine's disk is measured against both read at once by
dd iflag=direct bs=4M, and the page cache is checked after the run.

As root, with the cgroup-v1 blkio controller, it also simulates two slow
drives: two loop devices over one image, readahead 128 KiB, throttled to 200
requests a second each, then to 100 MB/s each, with their page cache dropped
before every run. The ideal there is both devices read at once by dd bs=4M.

As root, with FUSE (Debian's fuse3 and python3-fusepy), it models two slow
media with bench/slow_medium.py: each serves one request at a time, 1 ms plus
50 MB/s a request. They are read as files, and as disks (a loop device over
each); the ideal is both read at once by dd iflag=direct bs=4M. A medium that
fails from the first sector past an image shows that nothing past the image
is asked for.

With -k on damaged media (the same model, failing in chosen areas, each
failed request costing a set time): an image with three bad areas, checked
against cmp -l over the readable bytes and the model's request log; the same
without -k against a reference build (--reference, a tandemcheck built before
-k); a medium dead from its middle; a readable island in a dead stretch; a
loop device with 2048-byte sectors. Clean media are timed with -k and
without, in the cold and media groups.

With -s (the image's checksum in the same pass): two files in tmpfs, with
-s against the same run without it and against openssl dgst of the image
alone (the goal: at most 1.10 times the longer of the two); the slow media
with -s against without (the goal: at most 1.02); peak resident size with
-s.

    python3 bench/benchmark.py [--rounds N] [--size-mib N] [--device-mib N]
                               [--media-mib N] [--only GROUP,...] [--keep]
                               [--reference PATH]

As root, with files behind a cache of their own (layers): two files on ext4
mounted with data=journal (read with their pages dropped around each
request), and a file against a loop device over a file (whose file's pages
are dropped as it is read), each against both read at once by dd
iflag=direct bs=4M.

Groups: cache (inputs in the page cache, terminal), cold, devices, layers,
media, damaged, memory, checksum.
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def sh(command, **kwargs):
    return subprocess.run(command, shell=True, check=True, **kwargs)


def build(build_dir):
    sh(f"cmake -S '{ROOT}' -B '{build_dir}' -DCMAKE_BUILD_TYPE=Release -DTANDEMCHECK_TESTS=OFF >/dev/null")
    sh(f"cmake --build '{build_dir}' -j2 >/dev/null")
    floor = os.path.join(build_dir, "floor_reader")
    sh(f"c++ -O2 -o '{floor}' '{ROOT}/bench/floor_reader.cpp'")
    return os.path.join(build_dir, "tandemcheck"), floor


def make_inputs(folder, size_mib):
    chunk = os.urandom(16 << 20)
    paths = {name: os.path.join(folder, name) for name in ("a", "b", "small_a", "small_b", "zeros", "random")}
    with open(paths["a"], "wb") as out:
        for _ in range(max(1, size_mib // 16)):
            out.write(chunk)
    shutil.copyfile(paths["a"], paths["b"])
    for name in ("small_a", "small_b"):
        with open(paths[name], "wb") as out:
            out.write(chunk[: 1 << 20])
    with open(paths["zeros"], "wb") as out:
        out.write(bytes(4 << 20))
    with open(paths["random"], "wb") as out:
        out.write(os.urandom(4 << 20))
    for path in paths.values():  # into the page cache
        with open(path, "rb") as f:
            while f.read(1 << 20):
                pass
    return paths


def time_plain(command):
    start = time.perf_counter()
    subprocess.run(command, shell=True)
    return time.perf_counter() - start


def round_with_hyperfine(commands):
    with tempfile.NamedTemporaryFile(suffix=".json") as export:
        args = ["hyperfine", "--style", "none", "--warmup", "1", "--runs", "3", "-i",
                "--export-json", export.name] + [c for _, c in commands]
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        results = json.load(open(export.name))["results"]
    return [r["median"] for r in results]


def measure(commands, rounds, use_hyperfine):
    """Median seconds per command, over interleaved rounds."""
    times = {name: [] for name, _ in commands}
    for _ in range(rounds):
        if use_hyperfine:
            for (name, _), t in zip(commands, round_with_hyperfine(commands)):
                times[name].append(t)
        else:
            for name, command in commands:
                times[name].append(time_plain(command))
    return {name: statistics.median(values) for name, values in times.items()}


def peak_kib(argv):
    """Peak resident size of one run, in KiB, as GNU time reports it. (A child
    forked by Python would count Python's own pages before its exec.)"""
    with tempfile.NamedTemporaryFile(mode="r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(report.read().split()[-1])


def table(title, medians, baseline_names):
    print(f"\n{title}")
    print(f"  {'command':<34} {'median':>9}  " + "  ".join(f"{'vs ' + b:>12}" for b in baseline_names))
    for name, seconds in medians.items():
        ratios = "  ".join(f"{seconds / medians[b]:>12.3f}" for b in baseline_names)
        print(f"  {name:<34} {seconds * 1000:>7.1f}ms  {ratios}")


BLKIO = "/sys/fs/cgroup/blkio"


def drop_device_cache(device):
    sh(f"blockdev --flushbufs {device}")
    fd = os.open(device, os.O_RDONLY)
    try:
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    finally:
        os.close(fd)


def drop_file_cache(path):
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    finally:
        os.close(fd)


def timed_rounds(commands, rounds, before_each):
    """Median seconds per command, interleaved, with before_each() before every run."""
    times = {name: [] for name, _ in commands}
    for _ in range(rounds):
        for name, command in commands:
            before_each()
            times[name].append(time_plain(command))
    return {name: statistics.median(values) for name, values in times.items()}


def both_at_once(path1, path2):
    return (f"dd if='{path1}' of=/dev/null bs=4M iflag=direct status=none & "
            f"dd if='{path2}' of=/dev/null bs=4M iflag=direct status=none; wait")


def resident_kib(path):
    """KiB of `path` in the page cache, as fincore reports it, or None."""
    if not shutil.which("fincore"):
        return None
    out = subprocess.run(["fincore", "--bytes", "--noheadings", "--output", "RES", path],
                         capture_output=True, text=True).stdout.split()
    return int(out[0]) // 1024 if out else None


def cold_files(work, tandemcheck, options):
    """Two files read from this machine's disk, their cache dropped before each run."""
    a, b = os.path.join(work, "cold_a"), os.path.join(work, "cold_b")
    chunk = os.urandom(16 << 20)
    for path in (a, b):
        with open(path, "wb") as out:
            for _ in range(max(1, options.size_mib // 16)):
                out.write(chunk)
    ideal = "ideal: dd iflag=direct bs=4M, both at once"
    medians = timed_rounds([
        (ideal, both_at_once(a, b)),
        ("tandemcheck", f"'{tandemcheck}' -a '{a}' -b '{b}' >/dev/null 2>&1"),
        ("tandemcheck -k", f"'{tandemcheck}' -k -a '{a}' -b '{b}' >/dev/null 2>&1"),
    ], options.rounds, lambda: (drop_file_cache(a), drop_file_cache(b)))
    table(f"two cold {options.size_mib} MiB files on this machine's disk", medians,
          [ideal, "tandemcheck"])
    drop_file_cache(a)
    drop_file_cache(b)
    subprocess.run([tandemcheck, "-a", a, "-b", b], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    print(f"  in the page cache after a run: {resident_kib(a)} KiB of a, {resident_kib(b)} KiB of b")
    # What was cached before stays cached.
    with open(a, "rb") as f:
        while f.read(1 << 20):
            pass
    before = resident_kib(a)
    subprocess.run([tandemcheck, "-a", a, "-b", b], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    print(f"  a cached before the run: {before} KiB resident before, {resident_kib(a)} KiB after")
    for path in (a, b):
        os.unlink(path)


def layered_files(work, tandemcheck, options):
    """Files behind a cache of their own: ext4 with data=journal, and a loop device over a file."""
    if os.geteuid() != 0 or not shutil.which("mkfs.ext4") or not shutil.which("losetup"):
        print("\nlayers: not measured (needs root, mkfs.ext4 and losetup)")
        return
    size = options.device_mib
    chunk = os.urandom(16 << 20)

    def write(path):
        with open(path, "wb") as out:
            for _ in range(max(1, size // 16)):
                out.write(chunk)

    backing, top = os.path.join(work, "journalled"), os.path.join(work, "journalled-fs")
    with open(backing, "wb") as out:
        out.truncate((2 * size + 128) << 20)
    os.mkdir(top)
    device = sh(f"losetup -f --show '{backing}'", capture_output=True, text=True).stdout.strip()
    loop = ""
    try:
        sh(f"mkfs.ext4 -q -F {device} && mount -o data=journal {device} '{top}'")
        a, b = os.path.join(top, "a"), os.path.join(top, "b")
        write(a)
        write(b)
        os.sync()
        ideal = "ideal: dd iflag=direct bs=4M, both at once"
        medians = timed_rounds([
            (ideal, both_at_once(a, b)),
            ("tandemcheck", f"'{tandemcheck}' -a '{a}' -b '{b}' >/dev/null 2>&1"),
        ], options.rounds, lambda: (drop_file_cache(a), drop_file_cache(b)))
        table(f"two cold {size} MiB files on ext4 with data=journal (pages dropped around each "
              "request)", medians, [ideal, "tandemcheck"])
        image, stick = os.path.join(work, "image"), os.path.join(work, "stick")
        write(image)
        write(stick)
        loop = sh(f"losetup -f --show '{stick}'", capture_output=True, text=True).stdout.strip()
        medians = timed_rounds([
            (ideal, both_at_once(image, loop)),
            ("tandemcheck", f"'{tandemcheck}' -a '{image}' -b {loop} >/dev/null 2>&1"),
        ], options.rounds, lambda: (drop_file_cache(image), drop_file_cache(stick),
                                    drop_device_cache(loop)))
        table(f"a cold {size} MiB file against a loop device over a file (the file's pages "
              "dropped as it is read)", medians, [ideal, "tandemcheck"])
    finally:
        if loop:
            subprocess.run(["losetup", "-d", loop])
        subprocess.run(["umount", top], stderr=subprocess.DEVNULL)
        subprocess.run(["losetup", "-d", device])


MODEL = os.path.join(ROOT, "bench", "slow_medium.py")


def mount_medium(backing, mountpoint, *extra):
    os.mkdir(mountpoint)
    server = subprocess.Popen(["/usr/bin/python3", MODEL, backing, mountpoint, *extra],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    medium = os.path.join(mountpoint, "medium")
    for _ in range(1000):
        if os.path.isfile(medium):
            return server, medium
        time.sleep(0.01)
    raise RuntimeError(f"the slow medium at {mountpoint} did not appear")


def unmount_medium(server, mountpoint):
    subprocess.run(["fusermount3", "-u", "-z", mountpoint])
    server.kill()
    server.wait()


def slow_media(work, tandemcheck, options):
    """Two slow media modelled through FUSE, read as files and as disks."""
    print("\nslow media (FUSE model: one request at a time, 1 ms + 50 MB/s a request)")
    have_fusepy = os.access("/usr/bin/python3", os.X_OK) and subprocess.run(
        ["/usr/bin/python3", "-c", "import fusepy"], stderr=subprocess.DEVNULL).returncode == 0
    if os.geteuid() != 0 or not os.path.exists("/dev/fuse") or not shutil.which("fusermount3") \
            or not have_fusepy:
        print("  skipped: needs root, /dev/fuse, fusermount3 and python3-fusepy")
        return
    mounted = []
    devices = []
    try:
        data = os.urandom(options.media_mib << 20)
        media = []
        for i in (1, 2):
            backing = os.path.join(work, f"medium{i}.img")
            with open(backing, "wb") as out:
                out.write(data)
            mountpoint = os.path.join(work, f"medium{i}")
            server, medium = mount_medium(backing, mountpoint)
            mounted.append((server, mountpoint))
            media.append(medium)
        m1, m2 = media
        digest = hashlib.sha256(data).hexdigest()
        ideal = "ideal: both read at once"
        medians = timed_rounds([
            (ideal, both_at_once(m1, m2)),
            ("tandemcheck", f"'{tandemcheck}' -a '{m1}' -b '{m2}' >/dev/null 2>&1"),
            ("tandemcheck -k", f"'{tandemcheck}' -k -a '{m1}' -b '{m2}' >/dev/null 2>&1"),
            ("tandemcheck -s (SHA-256)",
             f"'{tandemcheck}' -s {digest} -a '{m1}' -b '{m2}' >/dev/null 2>&1"),
            ("one after the other", f"dd if='{m1}' of=/dev/null bs=4M iflag=direct status=none; "
                                    f"dd if='{m2}' of=/dev/null bs=4M iflag=direct status=none"),
        ], options.rounds, lambda: None)
        table(f"{options.media_mib} MiB on each of two slow media, as files", medians,
              [ideal, "tandemcheck"])

        if shutil.which("losetup"):
            for medium in media:
                devices.append(subprocess.run(["losetup", "-f", "--show", medium], check=True,
                                              capture_output=True, text=True).stdout.strip())
            d1, d2 = devices

            def drop():
                for path in media:
                    drop_file_cache(path)
                for device in devices:
                    drop_device_cache(device)
            medians = timed_rounds([
                (ideal, both_at_once(d1, d2)),
                ("tandemcheck", f"'{tandemcheck}' -a {d1} -b {d2} >/dev/null 2>&1"),
            ], options.rounds, drop)
            table("the same media as disks (a loop device over each)", medians, [ideal])

        # An image off the block grid on a medium that fails from the first
        # sector past it.
        image = os.path.join(work, "runout_image")
        length = 20 * 32768 + 5000
        with open(image, "wb") as out:
            out.write(data[:length])
        backing = os.path.join(work, "runout.img")
        with open(backing, "wb") as out:
            out.write(data[:length + (1 << 20)])
        run_out = (length + 4095) // 4096 * 4096
        log = os.path.join(work, "runout.log")
        mountpoint = os.path.join(work, "runout")
        server, medium = mount_medium(backing, mountpoint, "--fail-from", str(run_out), "--log", log)
        mounted.append((server, mountpoint))
        start = time.perf_counter()
        status = subprocess.run([tandemcheck, "-a", image, "-b", medium], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL).returncode
        elapsed = time.perf_counter() - start
        with open(log) as f:
            furthest = max((int(o) + int(n) for o, n in (line.split() for line in f)), default=0)
        print(f"\nan image of {length} bytes on a medium unreadable from byte {run_out} on:")
        print(f"  exit status {status}, {elapsed * 1000:.0f} ms, furthest request ends at byte {furthest}")
    finally:
        for device in devices:
            subprocess.run(["losetup", "-d", device])
        for server, mountpoint in mounted:
            unmount_medium(server, mountpoint)


def have_fuse():
    have_fusepy = os.access("/usr/bin/python3", os.X_OK) and subprocess.run(
        ["/usr/bin/python3", "-c", "import fusepy"], stderr=subprocess.DEVNULL).returncode == 0
    return os.geteuid() == 0 and os.path.exists("/dev/fuse") and shutil.which("fusermount3") \
        and have_fusepy


def stretches_in(err):
    """The unreadable stretches a run reports, as (file, from, to)."""
    return [(int(f), int(a), int(b)) for f, a, b in
            re.findall(r"^tandemcheck\(\): file (\d) unreadable from (\d+) to (\d+): ", err, re.M)]


def differences_in(err):
    """The DIFFERENCE lines of a run, as (position, byte 1, byte 2)."""
    return [(int(p), int(x), int(y)) for p, x, y in
            re.findall(r"^DIFFERENCE count=(\d+)  file1=(\d+) \S+  file2=(\d+) ", err, re.M)]


def readable_differences(image, copy, bad):
    """cmp -l over the bytes outside the bad areas, as (position, byte 1, byte 2)."""
    out = subprocess.run(["cmp", "-l", image, copy], capture_output=True, text=True).stdout
    found = []
    for line in out.splitlines():
        position, x, y = line.split()
        position = int(position) - 1
        if not any(a <= position < b for a, b in bad):
            found.append((position, int(x, 8), int(y, 8)))
    return found


def most_asks(log, sector=4096):
    """The most requests any one sector was asked for in, from the model's log."""
    asks = {}
    with open(log) as f:
        for line in f:
            offset, length = map(int, line.split())
            for s in range(offset // sector, (offset + length + sector - 1) // sector):
                asks[s] = asks.get(s, 0) + 1
    return max(asks.values(), default=0)


def damaged_media(work, tandemcheck, options):
    """-k on media that cannot be read in places."""
    print("\ndamaged media with -k (FUSE model)")
    if not have_fuse():
        print("  skipped: needs root, /dev/fuse, fusermount3 and python3-fusepy")
        return
    MiB, sector = 1 << 20, 4096
    mounted, devices = [], []

    def run(*args):
        start = time.perf_counter()
        p = subprocess.run([tandemcheck, *args], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        return p.returncode, p.stderr.decode(errors="replace"), time.perf_counter() - start

    def medium_of(name, data, *model):
        backing = os.path.join(work, name + ".img")
        with open(backing, "wb") as out:
            out.write(data)
        mountpoint = os.path.join(work, name)
        server, medium = mount_medium(backing, mountpoint, *model)
        mounted.append((server, mountpoint))
        return backing, medium

    def verdict(ok):
        return "holds" if ok else "FAILS"

    try:
        # Three bad areas of 1, 2 and 5 sectors in different blocks; the copy
        # also differs in readable bytes and inside one bad area.
        data = bytearray(os.urandom(64 * MiB))
        image = os.path.join(work, "damaged_image")
        with open(image, "wb") as out:
            out.write(data)
        bad = [(3 * MiB + 5 * sector, 3 * MiB + 6 * sector),
               (17 * MiB + 2 * sector, 17 * MiB + 4 * sector),
               (40 * MiB + 5 * sector, 40 * MiB + 10 * sector)]  # across a block border
        for position in (1000, 3 * MiB + 5 * sector + 7, 17 * MiB + 10, 40 * MiB + 12 * sector,
                         63 * MiB + 99):
            data[position] ^= 0x5a
        log = os.path.join(work, "damaged.log")
        copy, medium = medium_of("damaged", data, "--latency-ms", "0.2", "--mb-per-s", "400",
                                 "--log", log, *[a for b in bad for a in ("--bad", f"{b[0]}:{b[1]}")])
        status, err, seconds = run("-k", "-a", image, "-b", medium)
        expected = readable_differences(image, copy, bad)
        found = differences_in(err)
        stretches = stretches_in(err)
        asks = most_asks(log)
        print(f"  64 MiB image, bad areas of 1, 2 and 5 sectors: exit {status}, {seconds:.2f} s")
        print(f"    DIFFERENCE lines {len(found)}, cmp -l over the readable bytes {len(expected)}: "
              f"{verdict(found == expected)}")
        print(f"    stretches {stretches}: {verdict(stretches == [(2, a, b) for a, b in bad])}")
        print(f"    most requests for one sector: {asks}: {verdict(asks <= 4 and status == 1)}")
        if options.reference:
            status_new, err_new, _ = run("-a", image, "-b", medium)
            p = subprocess.run([options.reference, "-a", image, "-b", medium],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            status_old, err_old = p.returncode, p.stderr.decode(errors="replace")
            print(f"    without -k, against the reference build: exit {status_new} and {status_old}, "
                  f"standard error {'the same' if err_new == err_old else 'DIFFERENT'}: "
                  f"{verdict(status_new == status_old and err_new == err_old)}")

        # Dead from 64 MiB to the end of 128 MiB, 20 ms a failed request.
        data = bytearray(os.urandom(128 * MiB))
        image = os.path.join(work, "dead_image")
        with open(image, "wb") as out:
            out.write(data)
        copy_data = bytearray(data)
        for position in (5, 30 * MiB + 3, 64 * MiB - 1):
            copy_data[position] ^= 0xff
        log = os.path.join(work, "dead.log")
        copy, medium = medium_of("dead", copy_data, "--fail-from", str(64 * MiB), "--fail-ms", "20",
                                 "--log", log)
        status, err, seconds = run("-k", "-a", image, "-b", medium)
        with open(log) as f:
            requests = sum(1 for _ in f)
        stretches = stretches_in(err)
        found = differences_in(err)
        expected = readable_differences(image, copy, [(64 * MiB, 128 * MiB)])
        print(f"  128 MiB, unreadable from 64 MiB on, 20 ms a failed request: exit {status}, "
              f"{seconds:.2f} s, {requests} requests: {verdict(seconds <= 10 and status == 1)}")
        print(f"    stretches {stretches}: {verdict(stretches == [(2, 64 * MiB, 128 * MiB)])}; "
              f"DIFFERENCE lines {len(found)} = cmp -l before it {len(expected)}: "
              f"{verdict(found == expected)}")
        dead = peak_kib([tandemcheck, "-k", "-a", image, "-b", medium])
        clean = peak_kib([tandemcheck, "-k", "-a", image, "-b", image])
        print(f"    peak resident size {dead / 1024:.2f} MiB; "
              f"{clean / 1024:.2f} MiB over two clean files, the same image")

        # A readable island of 2 MiB in a dead stretch of 32 MiB.
        data = os.urandom(64 * MiB)
        image = os.path.join(work, "island_image")
        with open(image, "wb") as out:
            out.write(data)
        first = (8 * MiB + 3 * sector, 24 * MiB + 3 * sector)
        second = (26 * MiB + 3 * sector, 40 * MiB + 3 * sector)
        copy, medium = medium_of("island", data, "--latency-ms", "0.2", "--mb-per-s", "400",
                                 "--bad", f"{first[0]}:{first[1]}", "--bad", f"{second[0]}:{second[1]}")
        status, err, seconds = run("-k", "-a", image, "-b", medium)
        stretches = stretches_in(err)
        print(f"  a 2 MiB island in 32 MiB unreadable: exit {status}, {seconds:.2f} s, "
              f"stretches {stretches}: {verdict(stretches == [(2, *first), (2, *second)])}")

        # A loop device with 2048-byte sectors, bad in areas off the 4 KiB grid.
        if shutil.which("losetup"):
            data = os.urandom(32 * MiB)
            image = os.path.join(work, "dvd_image")
            with open(image, "wb") as out:
                out.write(data)
            areas = [(5 * MiB + 2048, 5 * MiB + 3 * 2048), (20 * MiB + 6144, 20 * MiB + 8192)]
            copy, medium = medium_of("dvd", data, "--latency-ms", "0.2", "--mb-per-s", "400",
                                     *[a for b in areas for a in ("--bad", f"{b[0]}:{b[1]}")])
            device = subprocess.run(["losetup", "--sector-size", "2048", "-f", "--show", medium],
                                    check=True, capture_output=True, text=True).stdout.strip()
            devices.append(device)
            status, err, seconds = run("-k", "-a", image, "-b", device)
            stretches = stretches_in(err)
            print(f"  a loop device with 2048-byte sectors: exit {status}, "
                  f"stretches {stretches}: {verdict(stretches == [(2, *a) for a in areas])}")
    finally:
        for device in devices:
            subprocess.run(["losetup", "-d", device])
        for server, mountpoint in mounted:
            unmount_medium(server, mountpoint)


def simulate_devices(work, tandemcheck, options):
    """Times reading two throttled loop devices; skips with a word why."""
    print("\nsimulated drives")
    if os.geteuid() != 0 or not os.path.isdir(BLKIO) or not shutil.which("losetup"):
        print("  skipped: needs root, losetup and the cgroup-v1 blkio controller")
        return
    image = os.path.join(work, "device.img")
    with open(image, "wb") as out:
        for _ in range(max(1, options.device_mib // 16)):
            out.write(os.urandom(16 << 20))
    group = os.path.join(BLKIO, f"tandemcheck-bench-{os.getpid()}")
    devices = []
    try:
        for _ in range(2):
            devices.append(subprocess.run(["losetup", "-f", "--show", image], check=True,
                                          capture_output=True, text=True).stdout.strip())
        numbers = []
        for device in devices:
            with open(f"/sys/block/{os.path.basename(device)}/queue/read_ahead_kb", "w") as f:
                f.write("128")
            st = os.stat(device)
            numbers.append(f"{os.major(st.st_rdev)}:{os.minor(st.st_rdev)}")
        os.mkdir(group)
        d1, d2 = devices
        commands = [
            ("ideal: dd bs=4M, both at once",
             f"dd if={d1} of=/dev/null bs=4M status=none & dd if={d2} of=/dev/null bs=4M status=none; wait"),
            ("tandemcheck", f"'{tandemcheck}' -a {d1} -b {d2} >/dev/null 2>&1"),
            ("cmp", f"cmp {d1} {d2} | cat >/dev/null"),
        ]
        for mode, limit_file, limit in (("200 requests/s each", "blkio.throttle.read_iops_device", "200"),
                                        ("100 MB/s each", "blkio.throttle.read_bps_device", "100000000")):
            for name in ("blkio.throttle.read_iops_device", "blkio.throttle.read_bps_device"):
                for number in numbers:
                    with open(os.path.join(group, name), "w") as f:
                        f.write(f"{number} {limit if name == limit_file else 0}")
            times = {name: [] for name, _ in commands}
            for _ in range(options.rounds):
                for name, command in commands:
                    for device in devices:
                        drop_device_cache(device)
                    # The shell joins the group, then runs the command in it.
                    times[name].append(time_plain(f"echo $$ > {group}/cgroup.procs; {command}"))
            medians = {name: statistics.median(values) for name, values in times.items()}
            table(f"{options.device_mib} MiB from two loop devices, {mode}, page cache dropped", medians,
                  ["ideal: dd bs=4M, both at once"])
        if os.access("/usr/bin/time", os.X_OK):
            kib = max(peak_kib([tandemcheck, "-a", d1, "-b", d2]) for _ in range(3))
            print(f"  peak resident size reading the devices: tandemcheck {kib} KiB ({kib / 1024:.2f} MiB)")
    finally:
        for device in devices:
            subprocess.run(["losetup", "-d", device])
        if os.path.isdir(group):
            os.rmdir(group)


def page_cache(p, tandemcheck, floor, options, use_hyperfine):
    """Inputs in the page cache: the floor reader and cmp read them from memory,
    tandemcheck from their medium."""
    print(f"\n{options.size_mib} MiB identical pair in the page cache")
    identical = measure([
        ("floor, 32 KiB requests", f"exec '{floor}' '{p['a']}' '{p['b']}' 32"),
        ("floor, 256 KiB requests", f"exec '{floor}' '{p['a']}' '{p['b']}' 256"),
        ("tandemcheck", f"exec '{tandemcheck}' -a '{p['a']}' -b '{p['b']}' >/dev/null 2>&1"),
        # As a user runs them: into a pipe (GNU cmp turns quiet into /dev/null).
        ("tandemcheck | cat", f"'{tandemcheck}' -a '{p['a']}' -b '{p['b']}' 2>&1 | cat >/dev/null"),
        ("cmp | cat", f"cmp '{p['a']}' '{p['b']}' 2>&1 | cat >/dev/null"),
    ], options.rounds, use_hyperfine)
    best = min(identical["floor, 32 KiB requests"], identical["floor, 256 KiB requests"])
    identical["best floor"] = best
    table("identical inputs", identical, ["best floor", "cmp | cat"])

    different = measure([
        ("tandemcheck 2>&1 >/dev/null | cat", f"'{tandemcheck}' -a '{p['zeros']}' -b '{p['random']}' 2>&1 >/dev/null | cat >/dev/null"),
        ("cmp -l | cat", f"cmp -l '{p['zeros']}' '{p['random']}' | cat >/dev/null"),
    ], options.rounds, use_hyperfine)
    table("4 MiB of zeros against 4 MiB of random bytes, report into a pipe", different, ["cmp -l | cat"])

    if shutil.which("script"):
        run = f"'{tandemcheck}' -a '{p['a']}' -b '{p['b']}'"
        terminal = measure([
            ("stdout on a terminal", f"script -qec \"{run} 2>/dev/null\" /dev/null >/dev/null"),
            ("stdout to /dev/null", f"script -qec \"{run} >/dev/null 2>&1\" /dev/null >/dev/null"),
        ], options.rounds, use_hyperfine)
        table("status line on a terminal (both under script(1))", terminal, ["stdout to /dev/null"])


def checksum_in_tmpfs(tandemcheck, options):
    """-s on two files in tmpfs, where reading costs least and hashing shows most."""
    folder = tempfile.mkdtemp(prefix="tandemcheck-bench-", dir="/dev/shm")
    try:
        a, b = os.path.join(folder, "a"), os.path.join(folder, "b")
        chunk = os.urandom(16 << 20)
        digest = hashlib.sha256()
        with open(a, "wb") as out:
            for _ in range(max(1, options.size_mib // 16)):
                out.write(chunk)
                digest.update(chunk)
        shutil.copyfile(a, b)
        hex_digest = digest.hexdigest()
        medians = timed_rounds([
            ("tandemcheck", f"'{tandemcheck}' -a '{a}' -b '{b}' >/dev/null 2>&1"),
            ("openssl dgst -sha256 a", f"openssl dgst -sha256 '{a}' >/dev/null"),
            ("tandemcheck -s (SHA-256)",
             f"'{tandemcheck}' -s {hex_digest} -a '{a}' -b '{b}' >/dev/null 2>&1"),
            ("tandemcheck -s (MD5)",
             f"'{tandemcheck}' -s {hashlib.md5(open(a, 'rb').read()).hexdigest()} "
             f"-a '{a}' -b '{b}' >/dev/null 2>&1"),
            ("openssl dgst -md5 a", f"openssl dgst -md5 '{a}' >/dev/null"),
        ], options.rounds, lambda: None)
        medians["longer of the two"] = max(medians["tandemcheck"], medians["openssl dgst -sha256 a"])
        table(f"two {options.size_mib} MiB files in tmpfs, with -s", medians,
              ["longer of the two", "tandemcheck"])
        if os.access("/usr/bin/time", os.X_OK):
            plain = max(peak_kib([tandemcheck, "-a", a, "-b", b]) for _ in range(3))
            hashed = max(peak_kib([tandemcheck, "-s", hex_digest, "-a", a, "-b", b]) for _ in range(3))
            print(f"  peak resident size: {plain} KiB without -s, {hashed} KiB with")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def peak_sizes(p, tandemcheck, options):
    if not os.access("/usr/bin/time", os.X_OK):
        print("\npeak resident size: not measured (GNU time is not installed)")
        return
    print("\npeak resident size")
    for label, a, b in (("1 MiB pair", p["small_a"], p["small_b"]), (f"{options.size_mib} MiB pair", p["a"], p["b"])):
        kib = max(peak_kib([tandemcheck, "-a", a, "-b", b]) for _ in range(3))
        digest = hashlib.sha256(open(a, "rb").read()).hexdigest()
        sum_kib = max(peak_kib([tandemcheck, "-s", digest, "-a", a, "-b", b]) for _ in range(3))
        cmp_kib = max(peak_kib(["cmp", a, b]) for _ in range(3))
        print(f"  {label:<14} tandemcheck {kib} KiB ({kib / 1024:.2f} MiB), with -s {sum_kib} KiB, "
              f"cmp {cmp_kib} KiB")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--device-mib", type=int, default=256)
    parser.add_argument("--media-mib", type=int, default=64)
    parser.add_argument("--reference", default=None,
                        help="a tandemcheck built before -k, to compare runs without -k with")
    parser.add_argument("--only", default="cache,cold,devices,layers,media,damaged,memory,checksum",
                        help="the groups to run, comma-separated")
    parser.add_argument("--keep", action="store_true", help="keep the build and input folder")
    options = parser.parse_args()

    groups = set(options.only.split(","))
    work = tempfile.mkdtemp(prefix="tandemcheck-bench-")
    try:
        tandemcheck, floor = build(os.path.join(work, "build"))
        use_hyperfine = shutil.which("hyperfine") is not None
        print(f"timing with {'hyperfine' if use_hyperfine else 'a plain loop'}, {options.rounds} rounds")
        if groups & {"cache", "memory"}:
            p = make_inputs(work, options.size_mib)
        if "cache" in groups:
            page_cache(p, tandemcheck, floor, options, use_hyperfine)
        if "cold" in groups:
            cold_files(work, tandemcheck, options)
        if "devices" in groups:
            simulate_devices(work, tandemcheck, options)
        if "layers" in groups:
            layered_files(work, tandemcheck, options)
        if "media" in groups:
            slow_media(work, tandemcheck, options)
        if "damaged" in groups:
            damaged_media(work, tandemcheck, options)
        if "memory" in groups:
            peak_sizes(p, tandemcheck, options)
        if "checksum" in groups:
            checksum_in_tmpfs(tandemcheck, options)
    finally:
        if options.keep:
            print(f"\nkept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
