"""Whole-file transfers against shutil.copyfileobj between two built-in file
objects with the same 1 MiB chunks, on the same files.

FileSystem.download (store -> local path), FileSystem.upload (local file
object -> store) and FileSystem.copy_file (store -> store) each copy the
whole source file; the peer copies the same bytes from and to the same
directory. Each case runs in a fresh interpreter, five times, best time
kept; ratio = peer time / our time. Peak memory above the process's
baseline must stay within 64 MiB: the transfers bound their queue, so a
1 GiB file must never be held whole.

    python bench/bench_transfers.py [--size-mib 1024] [--dir DIR]
"""
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pairbench  # noqa: E402

MIB = 1 << 20
CHUNK = MIB


def peer_copy(ctx, src, dst):
    with ctx.timer():
        with open(ctx.local(src), "rb") as fin, open(ctx.local(dst), "wb") as fout:
            shutil.copyfileobj(fin, fout, CHUNK)


def case_download(ctx):
    if ctx.ours:
        with ctx.timer():
            ctx.fs.download("/src.bin", ctx.local("out.bin"), CHUNK)
    else:
        peer_copy(ctx, "src.bin", "out.bin")
    assert os.path.getsize(ctx.local("out.bin")) == ctx.size


def case_upload(ctx):
    if ctx.ours:
        with ctx.timer():
            with open(ctx.local("src.bin"), "rb") as fin:
                ctx.fs.upload("/up.bin", fin, CHUNK)
    else:
        peer_copy(ctx, "src.bin", "up.bin")
    assert os.path.getsize(ctx.local("up.bin")) == ctx.size


def case_copy_file(ctx):
    if ctx.ours:
        with ctx.timer():
            ctx.fs.copy_file("/src.bin", "/copy.bin", CHUNK)
    else:
        peer_copy(ctx, "src.bin", "copy.bin")
    assert os.path.getsize(ctx.local("copy.bin")) == ctx.size


CASES = {
    # name: (function, minimum ratio, peak allowance, holds the whole file)
    "download to a local path": (case_download, 0.8, 64 * MIB, False),
    "upload from a file object": (case_upload, 0.8, 64 * MIB, False),
    "copy_file inside the store": (case_copy_file, 0.8, 64 * MIB, False),
}


if __name__ == "__main__":
    sys.exit(pairbench.main(__file__, CASES, "bench-transfers-"))
