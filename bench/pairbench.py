"""Runs benchmark cases in pairs, ours against a peer, each side in a fresh
interpreter so that its peak memory is its own. Used by bench_stream.py and
bench_transfers.py; not a benchmark itself.

A case is a function taking a Context; it wraps exactly the timed work in
`with ctx.timer():` and branches on `ctx.ours`. CASES maps a case's name to
(function, minimum ratio, peak memory allowance in bytes, holds_data): the
ratio is the peer's best time over ours, and our peak memory above the
baseline must stay within the allowance, plus the data size when the case
holds the whole file in memory.
"""
import argparse
import contextlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROUNDS = 5
MIB = 1 << 20


class Context:
    def __init__(self, ours, work, size):
        self.ours = ours
        self.work = work
        self.size = size
        self.seconds = None
        self.cpu_seconds = None
        self.fs = None
        if ours:
            import pyorvik
            self.fs = pyorvik.connect("file://" + work, "bench")

    def local(self, name):
        return os.path.join(self.work, name)

    @contextlib.contextmanager
    def timer(self):
        start = time.perf_counter()
        cpu_start = time.process_time()
        yield
        self.seconds = time.perf_counter() - start
        self.cpu_seconds = time.process_time() - cpu_start


def memory_kib(field):
    """A size from /proc/self/status: VmRSS now, VmHWM the peak so far.
    (getrusage's maxrss would not do: it keeps the parent's peak across
    fork and exec.)"""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no %s in /proc/self/status" % field)


def child(cases, name, side, work, size):
    ctx = Context(side == "ours", work, int(size))
    baseline = memory_kib("VmRSS")
    cases[name][0](ctx)
    peak = memory_kib("VmHWM")
    print(json.dumps({"seconds": ctx.seconds, "cpu": ctx.cpu_seconds,
                      "peak": max(0, peak - baseline)}))
    return 0


def make_source(path, size):
    """Writes size random bytes to path and reads them once, so that every
    case starts with the file in the page cache."""
    block = os.urandom(64 * MIB)
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, len(block))
            f.write(block[:n])
            left -= n
    with open(path, "rb") as f:
        while f.read(64 * MIB):
            pass


def run_side(script, name, side, work, size):
    out = subprocess.run(
        [sys.executable, script, "--child", name, side, work, str(size)],
        check=True, stdout=subprocess.PIPE, text=True).stdout
    return json.loads(out.strip().splitlines()[-1])


def run_all(script, cases, work, size):
    """Prints one line per case and returns 1 if any missed its target. The
    CPU columns (user + system time of all the side's threads, best round)
    tell a slow machine from a slow implementation: on a loaded machine the
    wall-clock ratio of a two-thread transfer suffers from scheduling while
    the CPU it uses does not."""
    print("%-28s %8s %8s %7s %6s %8s %8s %9s %9s  %s" % (
        "case", "peer s", "ours s", "ratio", "min", "peer cpu", "ours cpu",
        "peak MiB", "limit MiB", "verdict"))
    failed = 0
    for name, (_, min_ratio, allowance, holds_data) in cases.items():
        best = {"ours": None, "peer": None}
        cpu = {"ours": None, "peer": None}
        peak = 0
        for _ in range(ROUNDS):
            for side in ("peer", "ours"):
                result = run_side(script, name, side, work, size)
                if best[side] is None or result["seconds"] < best[side]:
                    best[side] = result["seconds"]
                if cpu[side] is None or result["cpu"] < cpu[side]:
                    cpu[side] = result["cpu"]
                if side == "ours":
                    peak = max(peak, result["peak"])
        ratio = best["peer"] / best["ours"]
        limit = allowance + (size if holds_data else 0)
        ok = ratio >= min_ratio and peak <= limit
        failed += not ok
        print("%-28s %8.3f %8.3f %6.2fx %5.2fx %8.3f %8.3f %9.1f %9.1f  %s" % (
            name, best["peer"], best["ours"], ratio, min_ratio, cpu["peer"],
            cpu["ours"], peak / MIB, limit / MIB, "PASS" if ok else "FAIL"))
    with open("/proc/loadavg") as f:
        print("load average during the run: " + " ".join(f.read().split()[:3]))
    return 1 if failed else 0


def main(script, cases, prefix):
    """The command line of a benchmark script: runs every case of `cases`
    in pairs on a fresh source file of --size-mib MiB in a temporary folder
    under --dir, or, with --child, one side of one case."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--dir", default=None)
    parser.add_argument("--child", nargs=4, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        return child(cases, *args.child)
    size = args.size_mib * MIB
    work = tempfile.mkdtemp(prefix=prefix, dir=args.dir)
    try:
        make_source(os.path.join(work, "src.bin"), size)
        return run_all(script, cases, work, size)
    finally:
        shutil.rmtree(work, ignore_errors=True)
