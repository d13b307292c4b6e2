"""FileStream and FileSystem.open: against the local backend, and through
the fake SDK for the failures real storage cannot produce on demand."""
import gc
import io
import json
import os
import pickle
import threading

import pytest

import pyorvik
from pyorvik import _fs


@pytest.fixture
def store(fs, store_root):
    """The connected FileSystem and the directory under it."""
    return Store(fs, store_root)


class Store:
    def __init__(self, fs, root):
        self.fs = fs
        self.root = root

    def put(self, name, data):
        (self.root / name).write_bytes(data)
        return "/" + name

    def get(self, name):
        return (self.root / name).read_bytes()


TEN = b"0123456789"


def test_read_without_count_returns_the_rest_then_nothing(store):
    with store.fs.open(store.put("a", TEN)) as f:
        assert f.read(3) == b"012"
        assert f.read() == b"3456789"
        assert f.read() == b""
        assert f.readall() == b""


@pytest.mark.parametrize("start, count, expected", [
    (0, 10, TEN),
    (8, 4, b"89"),      # short read at the end is not an error
    (10, 4, b""),
    (3, 0, b""),
    (0, 11, TEN),
])
def test_read_with_count(store, start, count, expected):
    with store.fs.open(store.put("a", TEN)) as f:
        f.seek(start)
        assert f.read(count) == expected
        assert f.tell() == start + len(expected)


@pytest.mark.parametrize("count, offset, expected", [
    (3, 2, b"234"),
    (5, 8, b"89"),
    (5, 100, b""),
    (0, 4, b""),
])
def test_pread_leaves_the_position_alone(store, count, offset, expected):
    with store.fs.open(store.put("a", TEN)) as f:
        f.read(1)
        assert f.pread(count, offset) == expected
        assert f.tell() == 1


@pytest.mark.parametrize("call", [lambda f: f.read(-1), lambda f: f.pread(-1, 0)])
def test_negative_count_fails_before_reading(store, call):
    with store.fs.open(store.put("a", TEN)) as f:
        with pytest.raises(SystemError):
            call(f)
        assert f.tell() == 0
        assert f.read() == TEN


@pytest.mark.parametrize("start, position, whence, expected", [
    (0, 7, 0, 7),
    (4, 3, 1, 7),
    (4, -2, 1, 2),
    (0, -5, 2, 5),
    (0, 0, 2, 10),
])
def test_seek_with_each_whence(store, start, position, whence, expected):
    with store.fs.open(store.put("a", TEN)) as f:
        f.seek(start)
        assert f.seek(position, whence) == expected
        assert f.tell() == expected
        assert f.read(1) == TEN[expected:expected + 1]


def test_seek_with_a_bad_whence_moves_nothing(store):
    with store.fs.open(store.put("a", TEN)) as f:
        f.seek(4)
        with pytest.raises(ValueError) as err:
            f.seek(0, 3)
        assert err.value.args == ("Invalid value of whence: 3",)
        assert f.tell() == 4


@pytest.mark.parametrize("position, whence, exc", [
    (-11, 2, OSError),          # before the start: the store refuses it
    (-1, 0, OSError),
    (2**63 - 1, 2, OverflowError),  # the target does not fit 64 bits
])
def test_seek_out_of_range_moves_nothing(store, position, whence, exc):
    with store.fs.open(store.put("a", TEN)) as f:
        f.seek(4)
        with pytest.raises(exc) as err:
            f.seek(position, whence)
        if exc is OSError:
            assert isinstance(err.value.args[0], bytes)
        assert f.tell() == 4


def test_size_tell_and_flush(store):
    with store.fs.open(store.put("a", TEN)) as f:
        assert f.size() == 10
        assert f.flush() is None
    with store.fs.open("/b", "wb") as w:
        assert w.tell() == 0
        w.write(b"abc")
        assert w.tell() == 3
        assert w.flush() is None


CLOSED = "I/O operation on closed file"
NOT_READABLE = "only valid on readable files"
NOT_WRITABLE = "only valid on writable files"
NOT_SEEKABLE = "only valid on seekable files"

MISUSE = [
    # (mode the stream is opened with, call, exception type, message)
    ("rb", lambda f: f.write(b"x"), OSError, NOT_WRITABLE),
    ("rb", lambda f: f.writelines([b"x"]), OSError, NOT_WRITABLE),
    ("wb", lambda f: f.read(), OSError, NOT_READABLE),
    ("wb", lambda f: f.read(1), OSError, NOT_READABLE),
    ("wb", lambda f: f.pread(1, 0), OSError, NOT_READABLE),
    ("wb", lambda f: f.size(), OSError, NOT_READABLE),
    ("wb", lambda f: f.readall(), OSError, NOT_READABLE),
    ("wb", lambda f: iter(f), OSError, NOT_READABLE),
    ("wb", lambda f: f.seek(0), OSError, NOT_SEEKABLE),
    ("wb", lambda f: f.download(io.BytesIO()), OSError, NOT_READABLE),
    ("rb", lambda f: f.upload(io.BytesIO(b"x")), OSError, NOT_WRITABLE),
]


@pytest.mark.parametrize("mode, call, exc, message", MISUSE)
def test_misuse_of_an_open_stream(store, mode, call, exc, message):
    store.put("a", TEN)
    with store.fs.open("/a", mode) as f:
        with pytest.raises(exc) as err:
            call(f)
        assert type(err.value) is exc
        assert err.value.args == (message,)


AFTER_CLOSE = [
    ("rb", lambda f: f.read()),
    ("rb", lambda f: f.read(1)),
    ("rb", lambda f: f.pread(1, 0)),
    ("rb", lambda f: f.tell()),
    ("rb", lambda f: f.size()),
    ("rb", lambda f: f.seek(0)),
    ("rb", lambda f: f.flush()),
    ("rb", lambda f: f.readable()),
    ("rb", lambda f: f.writable()),
    ("rb", lambda f: f.download(io.BytesIO())),
    ("wb", lambda f: f.write(b"x")),
    ("wb", lambda f: f.tell()),
    ("wb", lambda f: f.flush()),
    ("wb", lambda f: f.writable()),
    ("wb", lambda f: f.upload(io.BytesIO(b"x"))),
]


@pytest.mark.parametrize("mode, call", AFTER_CLOSE)
def test_use_after_close(store, mode, call):
    store.put("a", TEN)
    f = store.fs.open("/a", mode)
    f.close()
    assert f.closed
    with pytest.raises(ValueError) as err:
        call(f)
    assert err.value.args == (CLOSED,)
    assert f.close() is None


@pytest.mark.parametrize("call", [
    lambda f: f.readline(),
    lambda f: f.readlines(),
    lambda f: f.truncate(),
    lambda f: next(iter(f)),
])
def test_line_operations_are_unsupported(store, call):
    with store.fs.open(store.put("a", b"line\n")) as f:
        with pytest.raises(io.UnsupportedOperation):
            call(f)


def test_properties_per_mode(store):
    store.put("a", TEN)
    with store.fs.open("/a") as r, store.fs.open("/b", "wb") as w, \
            store.fs.open("/c", "ab") as a:
        assert (r.mode, r.seekable, r.readable(), r.writable()) == ("rb", True, True, False)
        assert (w.mode, w.seekable, w.readable(), w.writable()) == ("wb", False, False, True)
        assert (a.mode, a.seekable, a.readable(), a.writable()) == ("wb", False, False, True)
        assert not (r.closed or w.closed or a.closed)
    assert r.closed and w.closed and a.closed
    assert r.mode == "rb"


def test_unopened_stream():
    f = _fs.FileStream(1, key=2)
    assert f.closed
    assert repr(f) == ("<pyorvik.FileStream closed=True seekable=False "
                       "is_writable=False is_readable=False>")
    with pytest.raises(ValueError) as err:
        f.mode
    assert err.value.args == ("File object is malformed, has no mode",)
    with pytest.raises(ValueError):
        f.readable()
    assert f.close() is None
    assert f.buffer_size == 0


def test_stream_type(store):
    with store.fs.open(store.put("a", TEN)) as f:
        assert isinstance(f, io.BufferedIOBase)
        assert type(f) is _fs.FileStream
        assert _fs.FileStream._default_chunk_size == 1048576
        assert repr(f) == ("<pyorvik.FileStream closed=False seekable=True "
                           "is_writable=False is_readable=True>")
        with pytest.raises(TypeError) as err:
            pickle.dumps(f)
        assert "no default __reduce__ due to non-trivial __cinit__" in str(err.value)
        with pytest.raises(AttributeError):
            f.anything = 1


class Permissive(_fs.FileStream):
    """Checks overridden to pass: the operations of the stream go through
    them, and then meet a stream without a native object."""

    def _assert_readable(self):
        pass

    def _assert_writable(self):
        pass

    def _assert_seekable(self):
        pass


@pytest.mark.parametrize("call", [
    lambda f: f.read(4),
    lambda f: f.read(),
    lambda f: f.pread(4, 0),
    lambda f: f.size(),
    lambda f: f.tell(),
    lambda f: f.write(b"x"),
    lambda f: f.download(io.BytesIO()),
])
def test_overridden_checks_reach_no_missing_native_object(call):
    with pytest.raises(ValueError) as err:
        call(Permissive())
    assert err.value.args == (CLOSED,)


def test_overrides_change_the_other_operations(store):
    class AlwaysClosed(_fs.FileStream):
        closed = True

    f = AlwaysClosed()
    with pytest.raises(ValueError):
        f.readable()
    assert f.close() is None
    assert repr(f).startswith("<pyorvik.AlwaysClosed closed=True ")


def test_iteration_starts_on_a_read_stream(store):
    with store.fs.open(store.put("a", TEN)) as f:
        assert iter(f) is f


def test_with_block_closes_on_error_and_lets_it_through(store):
    with pytest.raises(KeyError):
        with store.fs.open("/a", "wb") as f:
            f.write(b"abc")
            raise KeyError("body")
    assert f.closed
    assert store.get("a") == b"abc"


@pytest.mark.parametrize("given, expected", [
    (None, 65536), (0, 65536), (4096, 4096), (2**31 - 1, 2**31 - 1),
])
def test_buffer_size(store, given, expected):
    store.put("a", TEN)
    for mode in ("rb", "wb"):
        with store.fs.open("/a", mode, buffer_size=given) as f:
            assert f.buffer_size == expected


@pytest.mark.parametrize("given, exc", [(2**31, OverflowError), ("big", TypeError)])
def test_bad_buffer_size(store, given, exc):
    with pytest.raises(exc):
        store.fs.open(store.put("a", TEN), "rb", given)


def test_open_errors(store):
    with pytest.raises(Exception) as err:
        store.fs.open(123, "r")
    assert type(err.value) is Exception
    assert err.value.args == (
        "Mode must be 'rb' (read), 'wb' (write, new file), or 'ab' (append)",)
    with pytest.raises(TypeError) as err:
        store.fs.open(bytearray(b"/a"))
    assert err.value.args == ("Path must be a string",)
    with pytest.raises(FileNotFoundError) as err:
        store.fs.open("/missing")
    assert len(err.value.args) == 1 and isinstance(err.value.args[0], bytes)
    assert b"/missing" in err.value.args[0]
    store.root.joinpath("dir").mkdir()
    with pytest.raises(OSError) as err:
        store.fs.open("/dir/sub/x", "rb")
    assert isinstance(err.value.args[0], bytes)


def test_open_by_keyword_with_bytes_path(store):
    store.put("a", TEN)
    with store.fs.open(path=b"/a", mode="rb", buffer_size=8) as f:
        assert f.read() == TEN


def test_append_keeps_and_write_replaces(store):
    with store.fs.open("/a", "wb") as f:
        f.write(b"abc")
    with store.fs.open("/a", "ab") as f:
        f.write(b"def")
    assert store.get("a") == b"abcdef"
    with store.fs.open("/new", "ab") as f:
        f.write(b"x")
    assert store.get("new") == b"x"
    with store.fs.open("/a", "wb") as f:
        f.write(b"z")
    assert store.get("a") == b"z"


def test_write_takes_any_contiguous_buffer(store):
    with store.fs.open("/a", "wb") as f:
        f.write(b"ab")
        f.write(bytearray(b"cd"))
        f.write(memoryview(b"xefx")[1:3])
        f.writelines([b"g", bytearray(b"h")])
        f.write(b"")
        with pytest.raises(TypeError):
            f.write("text")
        with pytest.raises((TypeError, BufferError)):
            f.write(memoryview(b"abcdef")[::2])
    assert store.get("a") == b"abcdefgh"


def test_file_is_published_at_close(store):
    f = store.fs.open("/a", "wb")
    f.write(b"abc")
    assert not store.fs.exists("/a")
    f.close()
    assert store.get("a") == b"abc"


def test_dealloc_closes_an_open_stream(store):
    f = store.fs.open("/a", "wb")
    f.write(b"abc")
    del f
    gc.collect()
    assert store.get("a") == b"abc"


def test_stream_keeps_its_file_system_alive(tmp_path):
    root = tmp_path / "store"
    root.mkdir()
    (root / "a").write_bytes(TEN)
    fs = pyorvik.connect("file://" + str(root), "tester")
    r = fs.open("/a")
    w = fs.open("/b", "wb")
    del fs
    gc.collect()
    assert r.read() == TEN
    w.write(b"xyz")
    w.close()
    r.close()
    assert (root / "b").read_bytes() == b"xyz"


def test_reading_while_another_thread_writes(store):
    data = os.urandom(1 << 20) * 8
    store.put("src", data)
    failures = []

    def writer():
        try:
            with store.fs.open("/dst", "wb") as w:
                for i in range(64):
                    w.write(bytes([i]) * 65536)
        except Exception as exc:  # reported below, in the main thread
            failures.append(exc)

    t = threading.Thread(target=writer)
    t.start()
    with store.fs.open("/src") as f:
        pieces = []
        while True:
            piece = f.read(100000)
            if not piece:
                break
            pieces.append(piece)
    t.join()
    assert failures == []
    assert b"".join(pieces) == data
    assert store.get("dst") == b"".join(bytes([i]) * 65536 for i in range(64))


BIG = 2**31 + 1


@pytest.fixture
def big_file(store):
    """A sparse file of 2 GiB + 1 byte whose first and last bytes are marked."""
    path = store.root / "big"
    with open(path, "wb") as f:
        f.truncate(BIG)
        f.write(b"A")
        f.seek(BIG - 1)
        f.write(b"Z")
    return "/big"


def test_file_past_two_gib_in_one_read(store, big_file):
    with store.fs.open(big_file) as f:
        assert f.size() == BIG
        data = f.read()
        assert len(data) == BIG
        assert data[0:1] == b"A" and data[-1:] == b"Z" and data[1:2] == b"\0"
        del data
        assert f.tell() == BIG
        assert f.read() == b""


def test_file_past_two_gib_in_chunks(store, big_file):
    with store.fs.open(big_file) as f:
        f.seek(2**31 - 3)
        assert f.read(10) == b"\0\0\0Z"
        assert f.pread(2, BIG - 1) == b"Z"
        assert f.seek(-1, 2) == BIG - 1
        f.seek(0)
        total = 0
        last = b""
        while True:
            chunk = f.read(1 << 28)
            if not chunk:
                break
            total += len(chunk)
            last = chunk[-1:]
        assert (total, last) == (BIG, b"Z")


# --- failures that real storage cannot produce on demand, through the fake
# SDK in a child interpreter ---------------------------------------------------

FAKE_PRELUDE = """
import gc
import json
from ctypes import c_char_p, c_int32, c_int64

import pyorvik

fake = ctypes.CDLL(FAKE_SDK)
fake.ovkfake_push.argtypes = [c_char_p, c_int32, c_char_p, c_int64]
fake.ovkfake_set_file.argtypes = [c_char_p, c_char_p, c_int64]
fake.ovkfake_get_file.argtypes = [c_char_p, ctypes.c_void_p, c_int64]
fake.ovkfake_get_file.restype = c_int64
fake.ovkfake_call_count.argtypes = [c_char_p]
fake.ovkfake_call_count.restype = c_int64
fake.ovkfake_faults.restype = c_char_p

def outcome(fn):
    try:
        return ["ok", repr(fn())]
    except BaseException as exc:
        return [type(exc).__name__, repr(exc.args)]

fs = pyorvik.connect("file:///store")
results = {}
"""

FAKE_EPILOGUE = """
results["faults"] = fake.ovkfake_faults().decode()
print(json.dumps(results))
"""


@pytest.fixture
def fake(run_with_fake_sdk):
    def run(body):
        result = run_with_fake_sdk(FAKE_PRELUDE + body + FAKE_EPILOGUE)
        assert result.returncode == 0, result.stderr
        data = json.loads(result.stdout.strip().splitlines()[-1])
        assert data.pop("faults") == ""
        return data
    return run


@pytest.mark.parametrize("path, call, message", [
    ("/a", "f.read(4)", "failed to read /a size 4 readed -1, errmsg: disk gone"),
    ("/a", "f.read()", "failed to read /a size 10 readed -1, errmsg: disk gone"),
    # The path names EOF, and so does the failure message: still a failure.
    ("/EOF.bin", "f.read(4)",
     "failed to read /EOF.bin size 4 readed -1, errmsg: disk gone"),
])
def test_read_failure_raises(fake, path, call, message):
    data = fake("""
fake.ovkfake_set_file(%(path)r.encode(), b"0123456789", 10)
f = fs.open(%(path)r)
fake.ovkfake_push(b"ovk_read", 4010, b"disk gone", -1)
results["read"] = outcome(lambda: %(call)s)
results["after"] = outcome(lambda: f.read(3))
""" % {"path": path, "call": call})
    assert data["read"] == ["OSError", repr((message.encode(),))]
    assert data["after"] == ["ok", repr(b"012")]


def test_pread_failure_on_a_path_naming_eof_raises(fake):
    data = fake("""
fake.ovkfake_set_file(b"/EOF", b"0123456789", 10)
f = fs.open("/EOF")
fake.ovkfake_push(b"ovk_pread", 4010, b"EOF of the device", -1)
results["pread"] = outcome(lambda: f.pread(4, 2))
results["again"] = outcome(lambda: f.pread(4, 2))
""")
    assert data["pread"] == ["OSError", repr((
        b"failed to read /EOF offset 2 size 4 readed -1, errmsg: EOF of the device",))]
    assert data["again"] == ["ok", repr(b"2345")]


@pytest.mark.parametrize("mode", ["rb", "wb"])
def test_failed_close_keeps_the_stream_open_and_can_be_retried(fake, mode):
    data = fake("""
fake.ovkfake_set_file(b"/a", b"old", 3)
f = fs.open("/a", %(mode)r)
if %(mode)r == "wb":
    f.write(b"new")
fake.ovkfake_push(b"ovk_close", 4010, b"flush refused", 0)
results["first"] = outcome(f.close)
results["closed"] = f.closed
results["second"] = outcome(f.close)
results["closed again"] = f.closed
results["third"] = outcome(f.close)
results["closes"] = fake.ovkfake_call_count(b"ovk_close")
buffer = ctypes.create_string_buffer(16)
length = fake.ovkfake_get_file(b"/a", buffer, 16)
results["content"] = buffer.raw[:length].decode()
""" % {"mode": mode})
    assert data["first"] == ["OSError", repr((b"close file failed: flush refused",))]
    assert data["closed"] is False
    assert data["second"] == ["ok", "None"]
    assert data["closed again"] is True
    assert data["third"] == ["ok", "None"]
    assert data["closes"] == 2
    assert data["content"] == ("old" if mode == "rb" else "new")


def test_failed_close_at_deallocation_is_reported_not_raised(fake):
    data = fake("""
import sys
reports = []
sys.unraisablehook = lambda report: reports.append(
    [type(report.exc_value).__name__, repr(report.exc_value.args), str(report.object)])
f = fs.open("/a", "wb")
fake.ovkfake_push(b"ovk_close", 4010, b"flush refused", 0)
del f
gc.collect()
results["reports"] = reports
""")
    assert data["reports"] == [[
        "OSError", repr((b"close file failed: flush refused",)),
        "_fs.FileStream.__dealloc__"]]


def test_open_stream_keeps_the_store(fake):
    data = fake("""
fake.ovkfake_set_file(b"/a", b"0123456789", 10)
f = fs.open("/a")
del fs
gc.collect()
results["destroyed while open"] = fake.ovkfake_call_count(b"ovk_destroyStore")
results["read"] = outcome(lambda: f.read(4))
f.close()
del f
gc.collect()
results["destroyed after"] = fake.ovkfake_call_count(b"ovk_destroyStore")
""")
    assert data["destroyed while open"] == 0
    assert data["read"] == ["ok", repr(b"0123")]
    assert data["destroyed after"] == 1


def test_open_errors_keep_the_sdk_message(fake):
    data = fake("""
fake.ovkfake_push(b"ovk_open", 4007, b"no access to /a", 0)
results["rb"] = outcome(lambda: fs.open("/a"))
fake.ovkfake_push(b"ovk_open", 3001, b"no /b", 0)
results["wb"] = outcome(lambda: fs.open("/b", "wb"))
results["streams"] = fake.ovkfake_call_count(b"ovk_freeIOContext")
""")
    assert data["rb"] == ["OSError", repr((b"open file reader failed: no access to /a",))]
    assert data["wb"] == ["FileNotFoundError", repr((b"open file writer failed: no /b",))]
    assert data["streams"] == 0
