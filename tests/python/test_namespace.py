"""FileSystem namespace methods against a local store in a temporary
directory."""
import grp
import os
import pwd
import sys
import threading
import time

import pytest

import pyorvik
from pyorvik import FileInfo, FileSystem


def name_of(info):
    return info.path.rstrip("/").rsplit("/", 1)[-1]


def test_mkdir_creates_parents_by_default(fs, store_root):
    assert fs.mkdir("/a/b/c") is True
    assert (store_root / "a" / "b" / "c").is_dir()
    assert fs.mkdir("/a/b/c") is True  # an existing directory is fine


@pytest.mark.parametrize("recursive", [False, [], 0, None])
def test_mkdir_not_recursive_needs_the_parent(fs, store_root, recursive):
    with pytest.raises(OSError) as info:
        fs.mkdir("/x/y", recursive)
    assert type(info.value) is OSError
    assert not (store_root / "x").exists()


@pytest.mark.parametrize("recursive", [True, "no", [0]])
def test_mkdir_truthy_recursive(fs, store_root, recursive):
    fs.mkdir("/x/y", recursive=recursive)
    assert (store_root / "x" / "y").is_dir()


def test_mkdir_over_a_file_fails(fs, store_root):
    (store_root / "f").write_bytes(b"")
    with pytest.raises(OSError) as info:
        fs.mkdir("/f")
    assert isinstance(info.value.args[0], bytes)
    assert info.value.args[0].startswith(b"mkdir failed: ")


def test_remove(fs, store_root):
    (store_root / "d" / "e").mkdir(parents=True)
    (store_root / "d" / "e" / "f").write_bytes(b"x")
    with pytest.raises(OSError):
        fs.remove("/d", recursive=False)
    assert (store_root / "d" / "e" / "f").exists()
    assert fs.remove("/d") is True
    assert not (store_root / "d").exists()


def test_remove_a_file_without_recursion(fs, store_root):
    (store_root / "f").write_bytes(b"x")
    assert fs.remove("/f", False) is True
    assert not (store_root / "f").exists()


def test_rename_moves_and_replaces(fs, store_root):
    (store_root / "a").write_bytes(b"new")
    (store_root / "b").write_bytes(b"old")
    assert fs.rename("/a", "/b") is True
    assert not (store_root / "a").exists()
    assert (store_root / "b").read_bytes() == b"new"
    assert fs.rename(src="/b", dst="/c") is True
    assert (store_root / "c").read_bytes() == b"new"


def test_rename_onto_itself_keeps_the_file(fs, store_root):
    (store_root / "same").write_bytes(b"keep me")
    fs.rename("/same", "/same")
    assert (store_root / "same").read_bytes() == b"keep me"


def test_rename_checks_src_first():
    fs = FileSystem()
    with pytest.raises(TypeError, match="^Path must be a string$"):
        fs.rename(1, 2)
    with pytest.raises(TypeError, match="^Path must be a string$"):
        fs.rename("/a", 2)


def test_exists(fs, store_root):
    (store_root / "here").write_bytes(b"")
    assert fs.exists("/here") is True
    assert fs.exists("/not-here") is False
    assert fs.exists(path="/here") is True


def test_listdir_contents_and_order(fs, store_root):
    for name in ["b.txt", "a.txt", "c"]:
        if name == "c":
            (store_root / name).mkdir()
        else:
            (store_root / name).write_bytes(name.encode())
    (store_root / "c" / "inner").write_bytes(b"")
    entries = fs.listdir("/")
    assert all(type(e) is FileInfo for e in entries)
    assert [name_of(e) for e in entries] == ["a.txt", "b.txt", "c"]
    assert [e.is_dir for e in entries] == [False, False, True]
    assert [e.size for e in entries[:2]] == [5, 5]
    assert entries[2].path.endswith("/c/")


def test_listdir_of_an_empty_directory(fs, store_root):
    (store_root / "empty").mkdir()
    assert fs.listdir("/empty") == []
    assert fs.listdir("/empty", recursive=True) == []


def test_listdir_paths_are_accepted_back(fs, store_root):
    (store_root / "d").mkdir()
    (store_root / "d" / "f").write_bytes(b"abc")
    (entry,) = fs.listdir("/d")
    assert fs.get_file_info(entry.path).size == 3
    assert fs.exists(entry.path)


def test_chmod_is_visible_in_get_file_info(fs, store_root):
    (store_root / "f").write_bytes(b"")
    for mode in (0o600, 0o755, 0o4750):
        assert fs.chmod("/f", mode) is True
        assert fs.get_file_info("/f").perm & 0o7777 == mode
        assert os.stat(store_root / "f").st_mode & 0o7777 == mode


def test_chown_to_the_current_user_and_group(fs, store_root):
    (store_root / "f").write_bytes(b"")
    user = pwd.getpwuid(os.getuid()).pw_name
    group = grp.getgrgid(os.getgid()).gr_name
    assert fs.chown("/f", user, group) is True
    assert fs.chown("/f") is True  # neither: nothing changes
    assert fs.chown("/f", owner=user.encode()) is True
    assert fs.chown("/f", group=bytearray(group.encode())) is True
    info = fs.get_file_info("/f")
    assert (info.user, info.group) == (user, group)


def test_chown_rejects_non_text_names(fs, store_root):
    (store_root / "f").write_bytes(b"")
    with pytest.raises(TypeError):
        fs.chown("/f", 1000)
    with pytest.raises(TypeError):
        fs.chown("/f", None, 1000)


NAMESPACE_CALLS = {
    "mkdir": lambda fs, p: fs.mkdir(p + "/sub", False),
    "remove": lambda fs, p: fs.remove(p),
    "rename": lambda fs, p: fs.rename(p, "/elsewhere"),
    "chmod": lambda fs, p: fs.chmod(p, 0o644),
    "chown": lambda fs, p: fs.chown(p, pwd.getpwuid(os.getuid()).pw_name),
    "get_file_info": lambda fs, p: fs.get_file_info(p),
    "listdir": lambda fs, p: fs.listdir(p),
}
MISSING_IS_FILE_NOT_FOUND = {"get_file_info", "listdir"}


@pytest.mark.parametrize("method", sorted(NAMESPACE_CALLS))
def test_failure_type_on_a_missing_path(fs, method):
    with pytest.raises(OSError) as info:
        NAMESPACE_CALLS[method](fs, "/missing")
    expected = FileNotFoundError if method in MISSING_IS_FILE_NOT_FOUND else OSError
    assert type(info.value) is expected
    assert len(info.value.args) == 1 and isinstance(info.value.args[0], bytes)
    assert str(info.value).startswith("b")
    assert b"/missing" in info.value.args[0]


def test_get_file_info_missing_message(fs):
    with pytest.raises(FileNotFoundError) as info:
        fs.get_file_info("/nope")
    assert info.value.args == (b"cant not found /nope",)


@pytest.mark.parametrize("method", sorted(NAMESPACE_CALLS) + ["exists"])
def test_unconnected_filesystem_raises_ioerror(method):
    fs = FileSystem(1, 2, key=3)
    call = NAMESPACE_CALLS.get(method, lambda fs, p: fs.exists(p))
    with pytest.raises(OSError) as info:
        call(fs, "/x")
    assert type(info.value) is OSError
    expected = (b"code: 1000 msg: init failed " if method == "exists"
                else b"init failed ")
    assert info.value.args == (expected,)


@pytest.mark.parametrize(
    "path", ["/données/été.txt", "/日本/ファイル", b"/bytes/\xc3\xa9"])
def test_non_ascii_names_round_trip(fs, store_root, path):
    text = path.decode() if isinstance(path, bytes) else path
    parent, leaf = text.rsplit("/", 1)
    assert fs.mkdir(parent)
    (store_root / (parent.lstrip("/")) / leaf).write_bytes(b"x")
    assert fs.exists(path)
    info = fs.get_file_info(path)
    assert info.path.endswith(text) and info.size == 1
    assert [name_of(e) for e in fs.listdir(parent)] == [leaf]


def test_bytes_and_str_paths_name_the_same_entry(fs):
    fs.mkdir(b"/from-bytes")
    assert fs.exists("/from-bytes")
    assert fs.get_file_info(b"/from-bytes").is_dir


def test_recursive_truth_test_failure_propagates(fs):
    class Bad:
        def __bool__(self):
            raise ZeroDivisionError

    for call in (fs.mkdir, fs.remove, fs.listdir):
        with pytest.raises(ZeroDivisionError):
            call("/", Bad())


def test_argument_errors_use_the_interpreter_messages(fs):
    with pytest.raises(TypeError, match="missing required argument"):
        fs.mkdir()
    with pytest.raises(TypeError):
        fs.exists("/a", "/b")
    with pytest.raises(TypeError, match="invalid keyword argument"):
        fs.listdir("/", deep=True)


def test_help_texts():
    assert "Change file permissions" in FileSystem.chmod.__doc__
    assert "POSIX-like bitmask" in FileSystem.chmod.__doc__
    assert "New owner, None for no change" in FileSystem.chown.__doc__


def test_concurrent_calls_on_one_filesystem(fs, store_root):
    # The native calls of several threads run at once on one client (the
    # GIL is released around them); each must get its own answer.
    for i in range(8):
        (store_root / ("f%d" % i)).write_bytes(b"x" * i)
    errors = []

    def worker(i):
        try:
            for _ in range(200):
                assert fs.get_file_info("/f%d" % i).size == i
                assert fs.exists("/f%d" % i)
        except BaseException as exc:  # reported by the main thread
            errors.append(exc)

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


def test_listing_lets_other_threads_run(fs, store_root):
    # While the store is read natively the GIL is released. The busy thread
    # below sleeps (without the GIL) at every step, and the switch interval is so
    # long that the interpreter never takes it from the main thread: the
    # busy thread can count during listdir only if listdir releases it.
    big = store_root / "big"
    big.mkdir()
    for i in range(2000):
        (big / ("f%05d" % i)).touch()
    progress = [0]
    stop = threading.Event()

    def spin():
        while not stop.is_set():
            progress[0] += 1
            time.sleep(0.0001)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(100)
    spinner = threading.Thread(target=spin)
    spinner.start()
    counts = []
    try:
        # A few tries, in case the machine is too busy to schedule the
        # other thread within one call.
        while len(counts) < 10 and not any(counts):
            before = progress[0]
            assert len(fs.listdir("/big")) == 2000
            counts.append(progress[0] - before)
    finally:
        stop.set()
        spinner.join()
        sys.setswitchinterval(interval)
    assert any(counts), counts
