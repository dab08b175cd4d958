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

    python3 bench/benchmark.py [--rounds N] [--size-mib N] [--device-mib N]
                               [--media-mib N] [--only GROUP,...] [--keep]

Groups: cache (inputs in the page cache, terminal), cold, devices, media, memory.
"""
import argparse
import json
import os
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
    ], options.rounds, lambda: (drop_file_cache(a), drop_file_cache(b)))
    table(f"two cold {options.size_mib} MiB files on this machine's disk", medians, [ideal])
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
        ideal = "ideal: both read at once"
        medians = timed_rounds([
            (ideal, both_at_once(m1, m2)),
            ("tandemcheck", f"'{tandemcheck}' -a '{m1}' -b '{m2}' >/dev/null 2>&1"),
            ("one after the other", f"dd if='{m1}' of=/dev/null bs=4M iflag=direct status=none; "
                                    f"dd if='{m2}' of=/dev/null bs=4M iflag=direct status=none"),
        ], options.rounds, lambda: None)
        table(f"{options.media_mib} MiB on each of two slow media, as files", medians, [ideal])

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


def peak_sizes(p, tandemcheck, options):
    if not os.access("/usr/bin/time", os.X_OK):
        print("\npeak resident size: not measured (GNU time is not installed)")
        return
    print("\npeak resident size")
    for label, a, b in (("1 MiB pair", p["small_a"], p["small_b"]), (f"{options.size_mib} MiB pair", p["a"], p["b"])):
        kib = max(peak_kib([tandemcheck, "-a", a, "-b", b]) for _ in range(3))
        cmp_kib = max(peak_kib(["cmp", a, b]) for _ in range(3))
        print(f"  {label:<14} tandemcheck {kib} KiB ({kib / 1024:.2f} MiB), cmp {cmp_kib} KiB")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--device-mib", type=int, default=256)
    parser.add_argument("--media-mib", type=int, default=64)
    parser.add_argument("--only", default="cache,cold,devices,media,memory",
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
        if "media" in groups:
            slow_media(work, tandemcheck, options)
        if "memory" in groups:
            peak_sizes(p, tandemcheck, options)
    finally:
        if options.keep:
            print(f"\nkept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
