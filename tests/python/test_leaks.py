"""Reliability: long loops of connection and configuration calls keep the
process's resident memory flat. A leak of even a few dozen bytes per cycle
shows up as megabytes over these counts."""
import gc
import os

import psutil
import pytest

import pyorvik
from pyorvik import Config, FileInfo, FileSystem

LIMIT = 5 * 1024 * 1024

# AddressSanitizer holds freed memory in quarantine, so resident memory grows
# by design there; the normal build measures it.
pytestmark = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="resident memory is not meaningful under AddressSanitizer")


def rss_growth(body, warmup, cycles):
    process = psutil.Process()
    body(warmup)
    gc.collect()
    before = process.memory_info().rss
    body(cycles)
    gc.collect()
    return process.memory_info().rss - before


def test_connect_and_teardown_cycles(store_root):
    uri = "file://" + str(store_root)
    config = Config()
    config.set("fs.quoll.read.buffer.size", "4096")

    def cycles(n):
        for i in range(n):
            fs = pyorvik.connect(uri, "user", config if i % 2 else None)
            del fs
            # Failed connections build and tear down the SDK's handles too.
            if i % 4 == 0:
                try:
                    pyorvik.connect("file:///no/such/root")
                except ValueError:
                    pass

    growth = rss_growth(cycles, 500, 20000)
    assert growth < LIMIT, "RSS grew by %d bytes over 20,000 connections" % growth


def test_config_set_get_calls():
    config = Config()

    def cycles(n):
        # n calls of each kind: a leak of one small object per call of any
        # one of them exceeds the limit.
        for i in range(n):
            key = "key%d" % (i % 100)
            config.set(key, "value")
            config.get(key, "default")
            config.setInt64(key, i)
            config.getInt64(key, 0)
            config.contains(key)

    growth = rss_growth(cycles, 2000, 200000)
    assert growth < LIMIT, "RSS grew by %d bytes over 200,000 calls" % growth


def test_namespace_and_error_paths(fs, store_root):
    for i in range(20):
        (store_root / ("f%d" % i)).write_bytes(b"x")

    def cycles(n):
        for _ in range(n):
            fs.listdir("/")
            fs.get_file_info("/f1")
            try:
                fs.get_file_info("/missing")
            except FileNotFoundError:
                pass
            try:
                FileInfo(b"x", 9)
            except AssertionError:
                pass
            try:
                FileSystem().mkdir("/x")
            except OSError:
                pass

    growth = rss_growth(cycles, 200, 5000)
    assert growth < LIMIT, "RSS grew by %d bytes over 5,000 rounds" % growth
