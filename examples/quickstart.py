"""A first tour of pyorvik on a store kept in a temporary directory.

Connects to the embedded local backend (no server), makes a directory,
uploads a generated file, lists it, reads it back, copies it inside the
store, downloads the copy and checks that every copy has the same checksum.
Exits with status 1 if any checksum differs.
"""
import hashlib
import io
import os
import sys
import tempfile

import pyorvik


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def main():
    with tempfile.TemporaryDirectory(prefix="pyorvik-quickstart-") as tmp:
        root = os.path.join(tmp, "store")
        os.mkdir(root)
        fs = pyorvik.connect("file://" + root, "quickstart")

        fs.mkdir("/data")
        payload = os.urandom(3 * 1024 * 1024 + 17)
        fs.upload("/data/sample.bin", io.BytesIO(payload))

        entries = fs.listdir("/data")
        for info in entries:
            print("listed  %s  %d bytes" % (info.path, info.size))

        with fs.open("/data/sample.bin") as stream:
            read_back = stream.read()

        fs.copy_file("/data/sample.bin", "/data/copy.bin")
        local_copy = os.path.join(tmp, "copy.bin")
        fs.download("/data/copy.bin", local_copy)
        with open(local_copy, "rb") as f:
            downloaded = f.read()

        checks = {
            "uploaded": sha256(payload),
            "read back": sha256(read_back),
            "downloaded copy": sha256(downloaded),
        }
        for name, digest in checks.items():
            print("sha256  %-16s %s" % (name, digest))
        ok = len(set(checks.values())) == 1 and len(entries) == 1
        print("quickstart: %s (%d bytes through upload, read, copy, download)"
              % ("OK" if ok else "FAILED", len(payload)))
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
