"""FileInfo and FileType: the Python view of one entry's status."""
import doctest
import os
import pickle
import sys
import weakref
from datetime import datetime

import pytest

from pyorvik import _fs
from pyorvik._fs import FileInfo, FileType


def test_filetype_members_and_globals():
    assert [(m.name, m.value) for m in map(FileType, range(5))] == [
        ("Unknown", 0), ("Directory", 1), ("File", 2), ("Symlink", 3),
        ("MountPoint", 4)]
    assert FileType.__name__ == "FileType" and FileType.__module__ == "_fs"
    for name in ("Unknown", "Directory", "File", "Symlink", "MountPoint"):
        assert getattr(_fs, name) is getattr(FileType, name)
    assert not FileType.Unknown
    assert FileType(5) == FileType.MountPoint | FileType.Directory


@pytest.mark.parametrize(
    "args, kwargs, expected_repr, checks",
    [
        (("x",), {}, "<FileInfo for 'x': type=Unknown>",
         dict(type=FileType.Unknown, size=None, perm=493, user="", group="",
              is_file=False)),
        (("x", FileType.File), {}, "<FileInfo for 'x': type=File, size=None>",
         dict(is_file=True, size=None)),
        (("x", 2), {"size": 10}, "<FileInfo for 'x': type=File, size=10>",
         dict(is_file=True, is_dir=False, size=10)),
        ((b"/a",), {}, "<FileInfo for '/a': type=Unknown>", dict(path="/a")),
        (("/d/", FileType.Directory), {},
         "<FileInfo for '/d/': type=Directory>", dict(is_dir=True)),
        (("l", 3), {}, "<FileInfo for 'l': type=Symlink>",
         dict(is_symlink=True)),
        (("x",), {"size": -1}, None, dict(size=None)),
        (("x",), {"mtime": -1}, None, dict(mtime=None)),
        (("x",), {"mtime": 1.9}, None,
         dict(mtime=datetime.fromtimestamp(0.001))),
        (("x",), {"mtime": 500}, None,
         dict(mtime=datetime.fromtimestamp(0.5))),
        ((), {"path": "é", "type": 1}, None, dict(path="é", is_dir=True)),
    ],
)
def test_construction(args, kwargs, expected_repr, checks):
    info = FileInfo(*args, **kwargs)
    if expected_repr is not None:
        assert repr(info) == expected_repr
    for name, value in checks.items():
        assert getattr(info, name) == value, name


def test_fresh_times_are_the_epoch_not_unknown():
    info = FileInfo("x")
    assert info.mtime == datetime.fromtimestamp(0.0)
    assert info.atime == datetime.fromtimestamp(0.0)
    assert info.mtime.tzinfo is None


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((1,), {}, TypeError, "Path must be a string"),
        ((bytearray(b"x"),), {}, TypeError, "Path must be a string"),
        (("x", 7), {}, AssertionError, ""),
        (("x", -1), {}, AssertionError, ""),
        ((1, "a"), {}, TypeError, None),  # the type is converted first
        (("x", 2**40), {}, OverflowError, None),
        (("x", 2, 10), {}, TypeError, None),  # size is keyword-only
        ((), {}, TypeError, None),
        (("x",), {"mtime": "now"}, TypeError, None),
        (("x",), {"size": 2**64}, OverflowError, None),
        (("x",), {"colour": 1}, TypeError, None),
    ],
)
def test_construction_errors(args, kwargs, error, message):
    with pytest.raises(error) as info:
        FileInfo(*args, **kwargs)
    if message is not None:
        assert str(info.value) == message
    if args == (1, "a"):
        assert str(info.value) != "Path must be a string"


def test_properties_are_read_only():
    info = FileInfo("x")
    with pytest.raises(AttributeError):
        info.size = 3
    with pytest.raises(AttributeError):
        info.anything = 3


def test_subclass_type_override_drives_the_predicates_and_repr():
    class AlwaysFile(FileInfo):
        @property
        def type(self):
            return FileType.File

    info = AlwaysFile("x", FileType.Directory, size=4)
    assert info.is_file and not info.is_dir
    assert repr(info) == "<FileInfo for 'x': type=File, size=4>"


def test_invalid_utf8_path():
    info = FileInfo(b"\xff")
    with pytest.raises(UnicodeDecodeError):
        info.path
    with pytest.raises(UnicodeDecodeError):
        repr(info)


def test_file_type_to_string():
    assert _fs._file_type_to_string(FileType.File) == "File"
    assert _fs._file_type_to_string(ty=FileType.Symlink) == "Symlink"
    with pytest.raises(AttributeError):
        _fs._file_type_to_string(2)


def test_weakref_and_pickling_refusal():
    info = FileInfo("x")
    assert weakref.ref(info)() is info
    message = "self.info cannot be converted to a Python object for pickling"
    with pytest.raises(TypeError, match=message):
        pickle.dumps(info)
    with pytest.raises(TypeError, match=message):
        info.__setstate__(None)


def test_doctests_of_the_properties():
    assert any(key.startswith("FileInfo.") for key in _fs.__test__)
    result = doctest.testmod(_fs, verbose=False)
    assert result.attempted > 0 and result.failed == 0


def test_from_a_real_file(fs, store_root):
    target = store_root / "data.bin"
    target.write_bytes(b"0123456789")
    os.chmod(target, 0o640)
    info = fs.get_file_info("/data.bin")
    st = os.stat(target)
    assert info.is_file and info.type is FileType.File
    assert info.size == 10
    assert info.perm & 0o777 == 0o640
    assert info.path.endswith("/data.bin")
    assert abs(info.mtime.timestamp() - st.st_mtime) < 1.0
    assert abs(info.atime.timestamp() - st.st_atime) < 1.0
    assert repr(info) == "<FileInfo for %r: type=File, size=10>" % info.path


def test_from_a_real_directory_and_symlink(fs, store_root):
    (store_root / "sub").mkdir()
    os.symlink("sub", store_root / "link")
    directory = fs.get_file_info("/sub")
    assert directory.is_dir and directory.path.endswith("/sub/")
    assert repr(directory) == "<FileInfo for %r: type=Directory>" % directory.path
    link = fs.get_file_info("/link")
    assert link.is_symlink and "type=Symlink" in repr(link)


def test_out_of_range_type_becomes_unknown_without_assertions(run_python):
    result = run_python("""
        from pyorvik._fs import FileInfo
        print(repr(FileInfo("x", 9)))
    """, env={"PYTHONOPTIMIZE": "1"})
    assert result.stdout.strip() == "<FileInfo for 'x': type=Unknown>", result.stderr


def test_sizeof_counts_the_texts():
    short = FileInfo("x")
    long = FileInfo("/" + "p" * 1000)
    assert sys.getsizeof(long) - sys.getsizeof(short) >= 1000
