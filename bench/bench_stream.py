"""FileStream against Python's built-in file objects on the same files.

Each case runs in a fresh interpreter (so peak memory is its own), five
times, keeping the best time. The store is the local backend over a
temporary directory, and the peer reads and writes the very same files, so
both sides see a warm page cache. Prints one line per case with both
timings, the ratio (peer time / our time, so above 1 means faster than the
peer) and our peak memory above the process's baseline, then PASS or FAIL
against the targets.

    python bench/bench_stream.py [--size-mib 1024] [--dir DIR]
"""
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pairbench  # noqa: E402

MIB = 1 << 20


def case_read_all(ctx):
    if ctx.ours:
        with ctx.fs.open("/src.bin") as f:
            with ctx.timer():
                data = f.read()
    else:
        with open(ctx.local("src.bin"), "rb") as f:
            with ctx.timer():
                data = f.read()
    assert len(data) == ctx.size


def case_read_chunks(ctx):
    total = 0
    if ctx.ours:
        f = ctx.fs.open("/src.bin")
    else:
        f = open(ctx.local("src.bin"), "rb")
    with f, ctx.timer():
        while True:
            chunk = f.read(MIB)
            if not chunk:
                break
            total += len(chunk)
    assert total == ctx.size


PREADS = 100_000


def case_pread(ctx):
    rng = random.Random(7)
    offsets = [rng.randrange(0, ctx.size - 4096) for _ in range(PREADS)]
    if ctx.ours:
        with ctx.fs.open("/src.bin") as f:
            pread = f.pread
            with ctx.timer():
                for off in offsets:
                    pread(4096, off)
    else:
        fd = os.open(ctx.local("src.bin"), os.O_RDONLY)
        try:
            pread = os.pread
            with ctx.timer():
                for off in offsets:
                    pread(fd, 4096, off)
        finally:
            os.close(fd)


def case_write(ctx):
    block = os.urandom(MIB)
    count = ctx.size // MIB
    if ctx.ours:
        with ctx.timer():
            f = ctx.fs.open("/out.bin", "wb")
            for _ in range(count):
                f.write(block)
            f.close()
    else:
        with ctx.timer():
            f = open(ctx.local("out.bin"), "wb")
            for _ in range(count):
                f.write(block)
            f.close()


CASES = {
    # name: (function, minimum ratio, peak allowance, holds the whole file)
    "read() whole file": (case_read_all, 0.9, 64 * MIB, True),
    "read(1 MiB) to the end": (case_read_chunks, 0.9, 64 * MIB, False),
    "100k random 4 KiB pread": (case_pread, 0.6, 64 * MIB, False),
    "write 1 MiB blocks + close": (case_write, 0.85, 64 * MIB, False),
}


if __name__ == "__main__":
    sys.exit(pairbench.main(__file__, CASES, "bench-stream-"))
