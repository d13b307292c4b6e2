"""Namespace benchmark: pyorvik against the os module on a local store.

    PYTHONPATH=build/pycore/python python bench/bench_namespace.py [--files N]

1. fs.listdir of a directory of N files (default 100,000) against
   [os.stat(e) for e in os.scandir(d)], which gathers the same facts.
   Target: listdir takes at most 2.5x the time of the peer.
2. Peak memory of listdir beyond what its result keeps, per entry, measured
   as resident memory in a fresh child process. Target: under 400 bytes.
3. fs.get_file_info in a loop against os.stat. Target: at least 0.5x the
   peer's calls per second.
"""
import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

import pyorvik


def populate(directory, count):
    for i in range(count):
        fd = os.open(os.path.join(directory, "file-%07d.bin" % i),
                     os.O_CREAT | os.O_WRONLY, 0o644)
        os.write(fd, b"x" * (i % 97))
        os.close(fd)


def best_of(repeats, fn):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def rss_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory_probe(root):
    """Runs in a child: the peak and retained resident memory of one
    listdir, relative to the memory before it."""
    fs = pyorvik.connect("file://" + root)
    fs.get_file_info("/")
    before = rss_bytes()
    peak_before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    entries = fs.listdir("/d")
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    retained = rss_bytes() - before
    print(json.dumps({"entries": len(entries), "before": before,
                      "peak_before": peak_before, "peak": peak,
                      "retained": retained}))


def measure_memory(root):
    out = subprocess.run(
        [sys.executable, __file__, "--memory-probe", root],
        check=True, capture_output=True, text=True).stdout
    sample = json.loads(out)
    n = sample["entries"]
    transient = max(sample["peak"], sample["before"]) - sample["before"]
    beyond = transient - sample["retained"]
    return n, sample["retained"] / n, transient / n, beyond / n


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=100_000)
    parser.add_argument("--stat-calls", type=int, default=200_000)
    parser.add_argument("--memory-probe")
    args = parser.parse_args()
    if args.memory_probe:
        memory_probe(args.memory_probe)
        return

    with tempfile.TemporaryDirectory(prefix="bench_namespace_") as root:
        directory = os.path.join(root, "d")
        os.mkdir(directory)
        print("creating %d files ..." % args.files, flush=True)
        populate(directory, args.files)
        fs = pyorvik.connect("file://" + root)

        assert len(fs.listdir("/d")) == args.files
        ours = best_of(3, lambda: fs.listdir("/d"))
        peer = best_of(3, lambda: [os.stat(e) for e in os.scandir(directory)])
        print("listdir of %d files: pyorvik %.3f s, os.scandir+os.stat %.3f s, "
              "ratio %.2fx (target <= 2.5x)" % (args.files, ours, peer,
                                                ours / peer))

        n, retained, transient, beyond = measure_memory(root)
        print("listdir memory per entry: result keeps %.0f B, peak %.0f B, "
              "peak beyond the result %.0f B (target < 400 B)"
              % (retained, transient, beyond))

        target = os.path.join(directory, "file-0000001.bin")
        calls = args.stat_calls

        def ours_loop():
            for _ in range(calls):
                fs.get_file_info("/d/file-0000001.bin")

        def peer_loop():
            for _ in range(calls):
                os.stat(target)

        ours = calls / best_of(3, ours_loop)
        peer = calls / best_of(3, peer_loop)
        print("get_file_info: pyorvik %.0f calls/s, os.stat %.0f calls/s, "
              "ratio %.2fx (target >= 0.5x)" % (ours, peer, ours / peer))


if __name__ == "__main__":
    main()
