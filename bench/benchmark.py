#!/usr/bin/env python3
"""Measures tandemcheck against GNU cmp and a floor reader, side by side.

Builds a Release tandemcheck and the floor reader, makes the inputs in a
temporary folder, runs every command of a group interleaved for several
rounds, and prints medians and ratios. Uses hyperfine for each round when it
is installed, and a plain timing loop otherwise.

As root, with the cgroup-v1 blkio controller, it also simulates two slow
drives: two loop devices over one image, readahead 128 KiB, throttled to 200
requests a second each, then to 100 MB/s each, with their page cache dropped
before every run. The ideal there is both devices read at once by dd bs=4M.

    python3 bench/benchmark.py [--rounds N] [--size-mib N] [--device-mib N] [--keep]
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


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--device-mib", type=int, default=256)
    parser.add_argument("--keep", action="store_true", help="keep the build and input folder")
    options = parser.parse_args()

    work = tempfile.mkdtemp(prefix="tandemcheck-bench-")
    try:
        tandemcheck, floor = build(os.path.join(work, "build"))
        p = make_inputs(work, options.size_mib)
        use_hyperfine = shutil.which("hyperfine") is not None
        print(f"timing with {'hyperfine' if use_hyperfine else 'a plain loop'}, {options.rounds} rounds, "
              f"{options.size_mib} MiB identical pair, inputs in the page cache")

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

        simulate_devices(work, tandemcheck, options)

        if not os.access("/usr/bin/time", os.X_OK):
            print("\npeak resident size: not measured (GNU time is not installed)")
            return 0
        print("\npeak resident size")
        for label, a, b in (("1 MiB pair", p["small_a"], p["small_b"]), (f"{options.size_mib} MiB pair", p["a"], p["b"])):
            kib = max(peak_kib([tandemcheck, "-a", a, "-b", b]) for _ in range(3))
            cmp_kib = max(peak_kib(["cmp", a, b]) for _ in range(3))
            print(f"  {label:<14} tandemcheck {kib} KiB ({kib / 1024:.2f} MiB), cmp {cmp_kib} KiB")
    finally:
        if options.keep:
            print(f"\nkept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
