"""quoll:// against boto3 on the same RADOS Gateway, in the same run.

    PYTHONPATH=build/<dir>/python python bench/bench_quoll.py [--rounds N]

Restarts the gateway of tests/quoll/rgw.sh, so that its in-memory store
holds only this run's objects. Both
clients get 8 MiB parts, 4 concurrent transfers and, for boto3, checksums
only "when_required". Each side of each case runs in a fresh interpreter,
so that its peak memory and CPU time are its own; the best of the rounds
is kept.

1. 16 objects of 32 MiB of random bytes: fs.upload / fs.download /
   fs.copy_file against upload_file / download_file / copy. Targets: wall
   time <= 1.0x boto3's, client CPU (user + system, getrusage) <= 0.5x,
   peak memory <= boto3's.
2. 2,000 random 64 KiB pread calls on one 64 MiB object against get_object
   with a Range header. Targets: calls per second >= 1.0x; bytes sent by
   the server per byte requested <= 1.1 (counted at a loopback proxy).
3. Requests per get_file_info and exists (of a file, a directory with and
   without a marker object, and a missing path) and per 1,000 listed
   entries, counted at the proxy.
   Targets: <= 2, <= 2, <= 1.
"""
import argparse
import json
import os
import random
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "quoll"))
import quoll_fixtures  # noqa: E402
from fault_proxy import FaultProxy  # noqa: E402

MIB = 1 << 20
OBJECTS = 16
OBJECT_BYTES = 32 * MIB
PART = 8 * MIB
CONCURRENCY = 4
# pyorvik's Python-level transfers at their default chunk size (65536; the
# writer queue holds up to 50 chunks): larger chunks cost no less CPU and
# fill more memory. The SDK still uploads and reads ahead in 8 MiB parts.
CHUNK = None
PREAD_OBJECT = 64 * MIB
PREAD_BYTES = 64 << 10
PREAD_CALLS = 2000
BUCKET = "ovk-bench"
GATEWAY = quoll_fixtures.Gateway()


def memory(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(field)


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def pyorvik_fs(prefix, endpoint=None):
    import pyorvik
    config = quoll_fixtures.quoll_config(endpoint or GATEWAY.endpoint, **{
        "fs.quoll.part.bytes": PART, "fs.quoll.upload.concurrency": CONCURRENCY})
    return pyorvik.connect("quoll://%s/%s" % (BUCKET, prefix), "bench", config)


def boto3_parts():
    from boto3.s3.transfer import TransferConfig
    client = GATEWAY.boto3_client()
    config = TransferConfig(multipart_threshold=PART, multipart_chunksize=PART,
                            max_concurrency=CONCURRENCY, use_threads=True)
    return client, config


# Each case: (ours, peer), functions of the work directory that do the
# timed work and nothing else.

def upload_ours(work):
    fs = pyorvik_fs("up-ours")
    for i in range(OBJECTS):
        with open(os.path.join(work, "src-%d" % i), "rb") as source:
            fs.upload("/obj-%d" % i, source, CHUNK)


def upload_peer(work):
    client, config = boto3_parts()
    for i in range(OBJECTS):
        client.upload_file(os.path.join(work, "src-%d" % i), BUCKET,
                           "up-peer/obj-%d" % i, Config=config)


def download_ours(work):
    fs = pyorvik_fs("data")
    for i in range(OBJECTS):
        fs.download("/obj-%d" % i, os.path.join(work, "down-%d" % i), CHUNK)


def download_peer(work):
    client, config = boto3_parts()
    for i in range(OBJECTS):
        client.download_file(BUCKET, "data/obj-%d" % i, os.path.join(work, "down-%d" % i),
                             Config=config)


def copy_ours(work):
    fs = pyorvik_fs("data")
    for i in range(OBJECTS):
        fs.copy_file("/obj-%d" % i, "/copy-ours-%d" % i, CHUNK)


def copy_peer(work):
    client, config = boto3_parts()
    for i in range(OBJECTS):
        client.copy({"Bucket": BUCKET, "Key": "data/obj-%d" % i}, BUCKET,
                    "data/copy-peer-%d" % i, Config=config)


def offsets():
    rng = random.Random(7)
    return [rng.randrange(0, PREAD_OBJECT - PREAD_BYTES) for _ in range(PREAD_CALLS)]


def pread_ours(work):
    fs = pyorvik_fs("data")
    with fs.open("/pread.bin", "rb") as f:
        for offset in offsets():
            assert len(f.pread(PREAD_BYTES, offset)) == PREAD_BYTES


def pread_peer(work):
    client = GATEWAY.boto3_client()
    for offset in offsets():
        body = client.get_object(Bucket=BUCKET, Key="data/pread.bin",
                                 Range="bytes=%d-%d" % (offset, offset + PREAD_BYTES - 1))
        assert len(body["Body"].read()) == PREAD_BYTES


CASES = {
    "upload 16 x 32 MiB": (upload_ours, upload_peer),
    "download 16 x 32 MiB": (download_ours, download_peer),
    "copy 16 x 32 MiB": (copy_ours, copy_peer),
    "2,000 random 64 KiB preads": (pread_ours, pread_peer),
}


def child(name, side, work):
    fn = CASES[name][0 if side == "ours" else 1]
    baseline = memory("VmRSS")
    cpu = cpu_seconds()
    start = time.perf_counter()
    fn(work)
    wall = time.perf_counter() - start
    print(json.dumps({"wall": wall, "cpu": cpu_seconds() - cpu,
                      "peak": max(0, memory("VmHWM") - baseline)}))


def delete_prefix(client, prefix):
    """The gateway keeps objects in memory; what a round wrote goes away."""
    paginator = client.get_paginator("list_objects_v2")
    for page in paginator.paginate(Bucket=BUCKET, Prefix=prefix):
        keys = [{"Key": o["Key"]} for o in page.get("Contents", [])]
        if keys:
            client.delete_objects(Bucket=BUCKET, Delete={"Objects": keys, "Quiet": True})


def run_side(name, side, work):
    out = subprocess.run([sys.executable, __file__, "--child", name, side, work],
                         check=True, stdout=subprocess.PIPE, text=True).stdout
    client = GATEWAY.boto3_client()
    for prefix in ("up-ours/", "up-peer/", "data/copy-"):
        delete_prefix(client, prefix)
    return json.loads(out.strip().splitlines()[-1])


def prepare(work):
    client = GATEWAY.boto3_client()
    try:
        client.create_bucket(Bucket=BUCKET)
    except client.exceptions.BucketAlreadyOwnedByYou:
        pass
    for i in range(OBJECTS):
        data = os.urandom(OBJECT_BYTES)
        with open(os.path.join(work, "src-%d" % i), "wb") as f:
            f.write(data)
        client.put_object(Bucket=BUCKET, Key="data/obj-%d" % i, Body=data)
    client.put_object(Bucket=BUCKET, Key="data/pread.bin", Body=os.urandom(PREAD_OBJECT))
    client.put_object(Bucket=BUCKET, Key="meta/dir/", Body=b"")
    client.put_object(Bucket=BUCKET, Key="meta/file", Body=b"x")
    client.put_object(Bucket=BUCKET, Key="meta/implicit/child", Body=b"x")
    for i in range(3000):
        client.put_object(Bucket=BUCKET, Key="list/entry-%05d" % i, Body=b"")


def transfer_ratios(rounds, work):
    print("%-28s %9s %9s %7s %9s %9s %7s %9s %9s %7s" % (
        "case", "peer s", "ours s", "wall", "peer cpu", "ours cpu", "cpu",
        "peer MiB", "ours MiB", "peak"))
    for name in CASES:
        best = {}
        for _ in range(rounds):
            for side in ("peer", "ours"):
                result = run_side(name, side, work)
                for key, value in result.items():
                    best.setdefault(side, {}).setdefault(key, value)
                    best[side][key] = min(best[side][key], value)
        peer, ours = best["peer"], best["ours"]
        if name.startswith("2,000"):
            # calls per second, ours over the peer's
            wall = peer["wall"] / ours["wall"]
        else:
            wall = ours["wall"] / peer["wall"]
        print("%-28s %9.2f %9.2f %6.2fx %9.2f %9.2f %6.2fx %9.1f %9.1f %6.2fx" % (
            name, peer["wall"], ours["wall"], wall, peer["cpu"], ours["cpu"],
            ours["cpu"] / peer["cpu"], peer["peak"] / MIB, ours["peak"] / MIB,
            ours["peak"] / max(peer["peak"], 1)))
    print("wall: ours/peer time (for preads: ours/peer calls per second); "
          "cpu and peak: ours/peer")


def info_or_none(fs, path):
    try:
        return fs.get_file_info(path)
    except FileNotFoundError:
        return None


def request_counts():
    proxy = FaultProxy(GATEWAY.endpoint)
    try:
        fs = pyorvik_fs("meta", proxy.endpoint)
        rows = []

        def count(label, fn, per=1):
            proxy.reset()
            fn()
            rows.append((label, len(proxy.requests()) / per))

        count("get_file_info(file)", lambda: fs.get_file_info("/file"))
        count("get_file_info(dir)", lambda: fs.get_file_info("/dir"))
        count("get_file_info(dir, no marker)", lambda: fs.get_file_info("/implicit"))
        count("get_file_info(missing)", lambda: info_or_none(fs, "/missing"))
        count("exists(file)", lambda: fs.exists("/file"))
        count("exists(dir)", lambda: fs.exists("/dir"))
        count("exists(missing)", lambda: fs.exists("/missing"))
        listing = pyorvik_fs("list", proxy.endpoint)
        count("listdir per 1,000 entries", lambda: listing.listdir("/"), per=3.0)

        data = pyorvik_fs("data", proxy.endpoint)
        with data.open("/pread.bin", "rb") as f:
            proxy.reset()
            for offset in offsets()[:200]:
                f.pread(PREAD_BYTES, offset)
            fetched = proxy.bytes_out()
        rows.append(("pread bytes fetched/requested", fetched / (200.0 * PREAD_BYTES)))
    finally:
        proxy.stop()
    for label, value in rows:
        print("%-34s %6.2f" % (label, value))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--child", nargs=3)
    args = parser.parse_args()
    if args.child:
        return child(*args.child)
    # A fresh gateway: its memory store holds only this run's objects.
    script = os.path.join(HERE, "..", "tests", "quoll", "rgw.sh")
    subprocess.run([script, "stop"], check=True)
    subprocess.run([script, "start"], check=True, stdout=subprocess.DEVNULL)
    with tempfile.TemporaryDirectory() as work:
        prepare(work)
        request_counts()
        transfer_ratios(args.rounds, work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
