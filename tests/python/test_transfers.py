"""Whole-file transfers: FileStream.download/upload and FileSystem.download,
upload and copy_file, against the local backend, and through the fake SDK
for read failures."""
import hashlib
import io
import json
import os
import threading
import time

import pytest

import pyorvik
from pyorvik import _fs


class Store:
    def __init__(self, fs, root):
        self.fs = fs
        self.root = root

    def put(self, name, data):
        (self.root / name).write_bytes(data)
        return "/" + name

    def get(self, name):
        return (self.root / name).read_bytes()


def connect(root, **settings):
    config = _fs.Config()
    for key, value in settings.items():
        config.set(key, value)
    return pyorvik.connect("file://" + str(root), "tester", config)


@pytest.fixture
def store(fs, store_root):
    """The connected FileSystem and the directory under it."""
    return Store(fs, store_root)


@pytest.fixture(autouse=True)
def no_thread_left_behind():
    """Every transfer, failed or not, has ended its writer thread when the
    call returns: checked at once, without waiting for stragglers."""
    before = set(threading.enumerate())
    yield
    left = [t for t in threading.enumerate() if t not in before]
    assert left == [], "threads still running after the transfer: %r" % left


class Recorder(io.BytesIO):
    """A destination stream that remembers the size of every write."""

    def __init__(self):
        super().__init__()
        self.sizes = []

    def write(self, data):
        self.sizes.append(len(data))
        return super().write(data)


class Source:
    """An upload source that hands out the given chunks, recording the sizes
    asked for."""

    def __init__(self, chunks):
        self.chunks = list(chunks)
        self.asked = []

    def read(self, size):
        self.asked.append(size)
        return self.chunks.pop(0) if self.chunks else None


def sha(data):
    return hashlib.sha256(data).hexdigest()


@pytest.mark.parametrize("length, buffer_size, sizes", [
    (0, None, [0]),
    (4096, 4096, [4096, 0]),
    (10000, 4096, [4096, 4096, 1808]),
    (200000, None, [65536, 65536, 65536, 3392]),
    (200000, 0, [65536, 65536, 65536, 3392]),
])
def test_download_chunking(store, length, buffer_size, sizes):
    data = os.urandom(length)
    dest = Recorder()
    with store.fs.open(store.put("a", data)) as f:
        assert f.download(dest, buffer_size=buffer_size) is None
    assert dest.sizes == sizes
    assert dest.getvalue() == data
    assert not dest.closed


def test_download_many_chunks_to_a_path(store, tmp_path):
    data = os.urandom(3 << 20) + b"tail"
    target = tmp_path / "out.bin"
    with store.fs.open(store.put("a", data)) as f:
        f.download(str(target), 8192)
    assert sha(target.read_bytes()) == sha(data)


def test_download_of_an_empty_file_creates_the_path(store, tmp_path):
    target = tmp_path / "empty.bin"
    store.fs.download(store.put("a", b""), str(target))
    assert target.exists() and target.read_bytes() == b""


def test_download_starts_at_the_current_position(store):
    dest = io.BytesIO()
    with store.fs.open(store.put("a", b"0123456789")) as f:
        f.seek(4)
        f.download(dest)
    assert dest.getvalue() == b"456789"


class PathWithWrite(os.PathLike):
    """Has write but no read: a path, not a stream."""

    def __init__(self, path):
        self.path = path
        self.written = False

    def __fspath__(self):
        return self.path

    def write(self, data):
        self.written = True


def test_destination_without_read_is_a_path(store, tmp_path):
    target = PathWithWrite(str(tmp_path / "out.bin"))
    with store.fs.open(store.put("a", b"abc")) as f:
        f.download(target)
    assert not target.written
    assert (tmp_path / "out.bin").read_bytes() == b"abc"


def test_download_to_an_unopenable_path_starts_nothing(store, tmp_path):
    with store.fs.open(store.put("a", b"abc")) as f:
        with pytest.raises(FileNotFoundError):
            f.download(str(tmp_path / "no" / "such" / "dir"))
        assert f.read() == b"abc"


@pytest.mark.parametrize("buffer_size, exc", [
    (2**31, OverflowError),
    (2**40, OverflowError),
    (-1, OverflowError),
    ("many", TypeError),
])
def test_bad_download_buffer_size_fails_before_any_work(store, tmp_path,
                                                        buffer_size, exc):
    target = tmp_path / "out.bin"
    with store.fs.open(store.put("a", b"abc")) as f:
        with pytest.raises(exc):
            f.download(str(target), buffer_size)
        assert f.tell() == 0
    assert not target.exists()


class FailingWriter:
    """A destination stream whose write fails after `good` chunks, optionally
    after a delay so that the reading side can fill the queue first."""

    def __init__(self, good=0, delay=0.0):
        self.good = good
        self.delay = delay
        self.calls = 0

    def read(self):
        raise AssertionError("never read from a destination")

    def write(self, data):
        self.calls += 1
        if self.calls > self.good:
            time.sleep(self.delay)
            raise ConnectionResetError("destination went away")


def run_with_deadline(fn, seconds=30):
    """Runs fn in a daemon thread, so that a hang fails the test instead of
    blocking the whole run; returns the exception fn raised, if any."""
    outcome = {}

    def target():
        try:
            fn()
        except BaseException as exc:
            outcome["exc"] = exc

    t = threading.Thread(target=target, daemon=True)
    t.start()
    t.join(seconds)
    assert not t.is_alive(), "the transfer did not end"
    return outcome.get("exc")


@pytest.mark.parametrize("good, delay", [(0, 0.0), (2, 0.0), (0, 0.3)])
def test_download_reports_a_failing_destination(store, good, delay):
    data = os.urandom(4 << 20)
    dest = FailingWriter(good, delay)
    with store.fs.open(store.put("a", data)) as f:
        exc = run_with_deadline(lambda: f.download(dest, 4096))
    assert isinstance(exc, ConnectionResetError)
    assert exc.args == ("destination went away",)
    assert dest.calls == good + 1


class FailingStream(_fs.FileStream):
    """A store stream whose write fails after `good` chunks: upload reaches
    write and the assertion through attribute lookup, so overriding them
    stands in for a store that refuses data."""

    good = 0
    delay = 0.0
    calls = 0

    def _assert_writable(self):
        pass

    def write(self, data):
        type(self).calls += 1
        if type(self).calls > self.good:
            time.sleep(self.delay)
            raise OSError(b"write file failed: disk quota exceeded")


@pytest.mark.parametrize("good, delay", [(0, 0.0), (3, 0.0), (0, 0.3)])
def test_upload_reports_a_failing_store_write(good, delay):
    stream_type = type("Failing", (FailingStream,), {"good": good, "delay": delay})
    source = Source([b"x" * 1024] * 500)
    exc = run_with_deadline(lambda: stream_type().upload(source, 1024))
    assert isinstance(exc, OSError)
    assert exc.args == (b"write file failed: disk quota exceeded",)
    assert stream_type.calls == good + 1


@pytest.mark.parametrize("length, buffer_size", [
    (1 << 20, 65536),  # fails in write
    (50, 100),         # buffered by the file object: fails only in close
])
def test_download_to_a_full_disk_raises(store, length, buffer_size):
    if not os.path.exists("/dev/full"):
        pytest.fail("/dev/full is needed to stand in for a full disk")
    with store.fs.open(store.put("a", os.urandom(length))) as f:
        with pytest.raises(OSError) as err:
            f.download("/dev/full", buffer_size)
    assert err.value.errno == 28


def test_upload_chunking(store):
    source = Source([b"abc", b"de", b""])
    with store.fs.open("/a", "wb") as f:
        assert f.upload(source, buffer_size=-1) is None
    assert source.asked == [-1, -1, -1]
    assert store.get("a") == b"abcde"


def test_upload_of_a_source_that_is_empty_at_once(store):
    source = Source([])
    store.fs.upload("/a", source)
    assert source.asked == [65536]
    assert store.get("a") == b""


def test_upload_many_chunks(store):
    data = os.urandom(3 << 20) + b"tail"
    store.fs.upload("/a", io.BytesIO(data), 10000)
    assert sha(store.get("a")) == sha(data)


def test_upload_source_failure_waits_for_the_writer(store):
    class Broken(Source):
        def read(self, size):
            if len(self.asked) == 20:
                raise KeyError("source broke")
            return super().read(size)

    source = Broken([b"y" * 65536] * 100)
    with pytest.raises(KeyError):
        store.fs.upload("/a", source)
    # The autouse fixture checks that the writer thread ended before the
    # exception left the call; the store file was closed after it, whole.
    assert store.get("a") == b"y" * 65536 * 20


class SizeSpy(_fs.FileSystem):
    """Records every open and the chunk sizes that reach a store writer."""

    def __init__(self, *args):
        self.opens = []
        self.sizes = []

    def open(self, path, mode="rb", buffer_size=None):
        self.opens.append((path, mode))
        stream = super().open(path, mode, buffer_size)
        if mode == "rb":
            return stream
        return SpyWriter(stream, self.sizes)


class SpyWriter:
    def __init__(self, stream, sizes):
        self.stream = stream
        self.sizes = sizes

    def read(self, *args):
        return self.stream.read(*args)

    def write(self, data):
        self.sizes.append(len(data))
        self.stream.write(data)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stream.close()


def spy(root, **settings):
    config = _fs.Config()
    for key, value in settings.items():
        config.set(key, value)
    fs = SizeSpy()
    fs._connect("file://" + str(root), "tester", config)
    return fs


READ_KEY = "fs.quoll.read.buffer.size"
WRITE_KEY = "fs.quoll.write.buffer.size"


@pytest.mark.parametrize("settings, buffer_size, printed, chunk", [
    ({}, None, "", 65536),
    ({READ_KEY: "40000"}, None, "download_buffer_size 40000\n", 40000),
    ({READ_KEY: "40000"}, 50000, "", 50000),
    ({READ_KEY: "40000"}, 0, "", 65536),
    ({READ_KEY: "lots"}, None, "download_buffer_size 1048576\n", 1048576),
    ({WRITE_KEY: "40000"}, None, "", 65536),
])
def test_download_chunk_size_from_the_configuration(tmp_path, capsys, settings,
                                                    buffer_size, printed, chunk):
    root = tmp_path / "store"
    root.mkdir()
    data = os.urandom(130000)
    (root / "a").write_bytes(data)
    fs = connect(root, **settings)
    dest = Recorder()
    fs.download("/a", dest, buffer_size)
    assert capsys.readouterr().out == printed
    assert dest.getvalue() == data
    full, rest = divmod(len(data), chunk)
    assert dest.sizes == [chunk] * full + [rest]


@pytest.mark.parametrize("settings, buffer_size, chunk", [
    ({}, None, 65536),
    ({READ_KEY: "40000"}, None, 40000),
    ({READ_KEY: "40000"}, 50000, 50000),
    ({READ_KEY: "40000"}, 0, 65536),
    ({READ_KEY: "lots", WRITE_KEY: "10"}, None, 1048576),
])
def test_copy_file_chunk_size_and_override(tmp_path, capsys, settings,
                                           buffer_size, chunk):
    root = tmp_path / "store"
    root.mkdir()
    data = os.urandom(130000)
    (root / "a").write_bytes(data)
    fs = spy(root, **settings)
    fs.copy_file("/a", "/b", buffer_size)
    assert capsys.readouterr().out == ""
    assert fs.opens == [("/a", "rb"), ("/b", "wb")]
    assert (root / "b").read_bytes() == data
    full, rest = divmod(len(data), chunk)
    assert fs.sizes == [chunk] * full + [rest]


@pytest.mark.parametrize("settings, buffer_size, asked", [
    ({}, None, 65536),
    ({WRITE_KEY: "1000"}, None, 1000),
    ({WRITE_KEY: "1000"}, 7, 7),
    ({WRITE_KEY: "bad"}, None, 1048576),
    ({READ_KEY: "1000"}, None, 65536),
])
def test_upload_chunk_size_from_the_configuration(tmp_path, capsys, settings,
                                                  buffer_size, asked):
    root = tmp_path / "store"
    root.mkdir()
    fs = connect(root, **settings)
    source = Source([b"abc"])
    fs.upload("/a", source, buffer_size)
    assert capsys.readouterr().out == ""
    assert source.asked == [asked, asked]
    assert (root / "a").read_bytes() == b"abc"


def test_copy_file_onto_an_existing_path_replaces_it(store):
    store.put("a", b"new content")
    store.put("b", b"old content that is longer")
    store.fs.copy_file("/a", "/b")
    assert store.get("b") == b"new content"
    assert store.get("a") == b"new content"


def test_copy_file_many_chunks(store):
    data = os.urandom(5 << 20)
    store.fs.copy_file(store.put("a", data), "/b", 100000)
    assert sha(store.get("b")) == sha(data)


@pytest.mark.parametrize("skip, head, tail", [
    (0, b"", b""),
    (100, b"", b""),
    (0, b"head-", b"-tail"),
    (100, b"head-", b"-tail"),
    (300000, b"head-", b""),
])
def test_download_into_a_stream_of_the_store(store, skip, head, tail):
    # A FileStream destination takes the rest of the source in one native
    # copy: it must start where the source stands and keep what the
    # destination holds around it.
    data = os.urandom(300000)
    store.put("a", data)
    with store.fs.open("/a", "rb") as source, store.fs.open("/b", "wb") as target:
        source.read(skip)
        target.write(head)
        source.download(target)
        assert source.read() == b""
        assert target.tell() == len(head) + len(data) - skip
        target.write(tail)
    assert sha(store.get("b")) == sha(head + data[skip:] + tail)


def test_transfers_of_missing_paths(store, tmp_path):
    target = tmp_path / "out.bin"
    with pytest.raises(FileNotFoundError):
        store.fs.download("/missing", str(target))
    assert not target.exists()
    with pytest.raises(FileNotFoundError):
        store.fs.copy_file("/missing", "/b")
    assert not store.fs.exists("/b")


def test_copy_file_to_a_bad_destination_closes_the_source(store_root):
    class Recording(_fs.FileSystem):
        def open(self, path, mode="rb", buffer_size=None):
            stream = super().open(path, mode, buffer_size)
            self.opened.append(stream)
            return stream

    fs = Recording()
    fs.opened = []
    fs._connect("file://" + str(store_root))
    (store_root / "a").write_bytes(b"abc")
    (store_root / "f").write_bytes(b"")
    with pytest.raises(OSError):
        fs.copy_file("/a", "/f/under/a/file")
    assert [s.mode for s in fs.opened] == ["rb"]
    assert fs.opened[0].closed


def test_download_and_upload_keyword_arguments(store, tmp_path):
    store.put("a", b"abc")
    target = tmp_path / "out"
    store.fs.download(path="/a", stream=str(target), buffer_size=2)
    assert target.read_bytes() == b"abc"
    store.fs.upload(path="/b", stream=io.BytesIO(b"xyz"), buffer_size=2)
    assert store.get("b") == b"xyz"
    store.fs.copy_file(src="/b", dest="/c", buffer_size=2)
    assert store.get("c") == b"xyz"
    with pytest.raises(TypeError):
        store.fs.download("/a")
    with pytest.raises(TypeError):
        store.fs.upload("/a", io.BytesIO(), 1, 2)
    with pytest.raises(TypeError):
        store.fs.copy_file("/a", "/b", bogus=1)


def test_download_refuses_a_zero_default(store, monkeypatch, tmp_path):
    """Reads of zero bytes never reach the end of the file."""
    monkeypatch.setattr(_fs, "DEFAULT_BUFFER_SIZE", 0)
    with store.fs.open(store.put("a", b"abc")) as f:
        with pytest.raises(ValueError):
            f.download(str(tmp_path / "out"))
    assert not (tmp_path / "out").exists()


def test_transfer_names_are_looked_up_at_call_time(store, monkeypatch):
    monkeypatch.setattr(_fs, "DEFAULT_BUFFER_SIZE", 1000)
    dest = Recorder()
    store.fs.download(store.put("a", b"q" * 2500), dest)
    assert dest.sizes == [1000, 1000, 500]
    source = Source([b"abc"])
    store.fs.upload("/b", source)
    assert source.asked == [1000, 1000]


# --- read failures, which real storage cannot produce on demand, through the
# fake SDK in a child interpreter ---------------------------------------------

FAKE_PRELUDE = """
import json
import threading
import time
from ctypes import c_char_p, c_int32, c_int64

import pyorvik
from pyorvik import _fs

fake = ctypes.CDLL(FAKE_SDK)
fake.ovkfake_push.argtypes = [c_char_p, c_int32, c_char_p, c_int64]
fake.ovkfake_push_read.argtypes = [c_char_p, c_char_p, c_int64]
fake.ovkfake_set_file.argtypes = [c_char_p, c_char_p, c_int64]
fake.ovkfake_call_count.argtypes = [c_char_p]
fake.ovkfake_call_count.restype = c_int64
fake.ovkfake_faults.restype = c_char_p


class SlowSink:
    # A destination stream whose writes take a while, so that a caller that
    # does not wait for the writer thread returns while chunks are pending.
    def __init__(self, target=None):
        self.target = target
        self.chunks = []

    def read(self):
        pass

    def write(self, data):
        time.sleep(0.05)
        self.chunks.append(bytes(data))
        if self.target is not None:
            self.target.write(data)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.target.close()


def script_reads(failure):
    for piece in (b"aaaa", b"bbbb", b"cccc"):
        fake.ovkfake_push_read(b"ovk_read", piece, 4)
    fake.ovkfake_push(b"ovk_read", 4010, failure, -1)


def outcome(fn):
    try:
        return ["ok", repr(fn())]
    except BaseException as exc:
        return [type(exc).__name__, repr(exc.args)]

fake.ovkfake_set_file(b"/src", b"x" * 64, 64)
fs = pyorvik.connect("file:///store")
results = {}
"""


@pytest.fixture
def fake(run_with_fake_sdk):
    def run(body):
        result = run_with_fake_sdk(FAKE_PRELUDE + body + """
results["faults"] = fake.ovkfake_faults().decode()
print(json.dumps(results))
""")
        assert result.returncode == 0, result.stderr
        data = json.loads(result.stdout.strip().splitlines()[-1])
        assert data.pop("faults") == ""
        return data
    return run


@pytest.mark.parametrize("failure", [b"connection reset", b"EOF from the peer"])
def test_download_read_failure_raises_after_the_writer_ended(fake, failure):
    data = fake("""
sink = SlowSink()
with fs.open("/src") as f:
    script_reads(%r)
    results["download"] = outcome(lambda: f.download(sink, 4))
results["written"] = [c.decode() for c in sink.chunks]
results["threads"] = threading.active_count()
""" % failure)
    assert data["download"] == ["OSError", repr((
        b"failed to read /src size 4 readed -1, errmsg: " + failure,))]
    assert data["written"] == ["aaaa", "bbbb", "cccc"]
    assert data["threads"] == 1


def test_copy_file_closes_the_destination_only_after_the_writer(fake):
    data = fake("""
class Spy(_fs.FileSystem):
    def open(self, path, mode="rb", buffer_size=None):
        stream = super().open(path, mode, buffer_size)
        return stream if mode == "rb" else SlowSink(stream)

spy = Spy()
spy._connect("file:///store")
script_reads(b"connection reset")
results["copy"] = outcome(lambda: spy.copy_file("/src", "/dst", 4))
results["writes"] = fake.ovkfake_call_count(b"ovk_write")
results["threads"] = threading.active_count()
""")
    assert data["copy"] == ["OSError", repr((
        b"failed to read /src size 4 readed -1, errmsg: connection reset",))]
    assert data["writes"] == 3
    assert data["threads"] == 1


def test_copy_file_hands_the_whole_copy_to_the_store(fake):
    data = fake("""
fs.copy_file("/src", "/dst", 4)
results["calls"] = [fake.ovkfake_call_count(name) for name in
                    (b"ovk_copyFrom", b"ovk_read", b"ovk_write")]
with fs.open("/dst") as f:
    results["dst"] = f.read().decode()
fake.ovkfake_push(b"ovk_copyFrom", 3005, b"the service refused the copy", -1)
results["failed"] = outcome(lambda: fs.copy_file("/src", "/dst2"))
results["threads"] = threading.active_count()
""")
    assert data["calls"] == [1, 0, 0]
    assert data["dst"] == "x" * 64
    assert data["failed"] == ["OSError", repr((
        b"copy file failed: the service refused the copy",))]
    assert data["threads"] == 1
