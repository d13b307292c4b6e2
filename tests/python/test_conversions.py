"""Text and number conversions at the border between Python and the native
client: tobytes, frombytes, encode_file_path and the argument conversions
that every path, name and number goes through."""
import pytest

import pyorvik
from pyorvik import _fs

SAME = object()  # the expected result is the argument object itself


@pytest.mark.parametrize(
    "value, expected",
    [
        ("é", b"\xc3\xa9"),
        ("", b""),
        ("a\x00b", b"a\x00b"),
        (b"x", SAME),
        (bytearray(b"x"), SAME),
        (None, SAME),
        (5, SAME),
    ],
)
def test_tobytes(value, expected):
    result = _fs.tobytes(value)
    if expected is SAME:
        assert result is value
    else:
        assert result == expected and type(result) is bytes


def test_tobytes_encodes_str_subclasses_and_rejects_lone_surrogates():
    class Text(str):
        pass

    assert _fs.tobytes(Text("ü")) == "ü".encode()
    with pytest.raises(UnicodeEncodeError):
        _fs.tobytes("\ud800")


@pytest.mark.parametrize(
    "value, safe, expected",
    [
        (b"abc", False, "abc"),
        (b"\xc3\xa9", False, "é"),
        (bytearray(b"ok"), False, "ok"),
        (b"\xff", True, "\ufffd"),
        (b"a\xffb", 1, "a\ufffdb"),
    ],
)
def test_frombytes(value, safe, expected):
    assert _fs.frombytes(value, safe=safe) == expected


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: _fs.frombytes(b"\xff"), UnicodeDecodeError),
        (lambda: _fs.frombytes("text"), AttributeError),
        (lambda: _fs.frombytes(b"a", True), TypeError),  # safe is keyword-only
        (lambda: _fs.tobytes(), TypeError),
        (lambda: _fs.tobytes("a", "b"), TypeError),
        (lambda: _fs.encode_file_path(), TypeError),
    ],
)
def test_conversion_function_errors(call, error):
    with pytest.raises(error):
        call()


def test_frombytes_propagates_a_failing_truth_test():
    class Bad:
        def __bool__(self):
            raise ZeroDivisionError

    with pytest.raises(ZeroDivisionError):
        _fs.frombytes(b"x", safe=Bad())


def test_encode_file_path():
    assert _fs.encode_file_path("a/b") == b"a/b"
    data = b"a/b"
    assert _fs.encode_file_path(data) is data
    assert _fs.encode_file_path(path="é") == "é".encode("utf-8")


def test_keyword_names_of_helpers():
    assert _fs.tobytes(o="a") == b"a"
    assert _fs.frombytes(o=b"a") == "a"


def test_help_texts():
    assert "Encode a unicode or bytes string to bytes." in _fs.tobytes.__doc__
    assert "Decode the given bytestring to unicode." in _fs.frombytes.__doc__


@pytest.mark.parametrize("bad", [1, None, bytearray(b"/x"), 1.5, ["/x"]])
def test_paths_accept_only_str_and_bytes(fs, bad):
    with pytest.raises(TypeError, match="^Path must be a string$"):
        fs.exists(bad)


def test_path_that_utf8_cannot_encode(fs):
    with pytest.raises(UnicodeEncodeError):
        fs.exists("/\ud800")


@pytest.mark.parametrize("path", ["/keep\x00/x", b"/keep\x00"])
def test_path_with_nul_is_refused_before_it_can_be_cut_short(fs, path):
    # The SDK takes NUL-terminated texts: passed on, the path would reach
    # the store as "/keep" and remove the wrong directory.
    fs.mkdir("/keep")
    with pytest.raises(ValueError, match="embedded null byte"):
        fs.remove(path)
    assert fs.exists("/keep")


def test_names_with_nul_are_refused(fs, store_root):
    fs.mkdir("/d")
    with pytest.raises(ValueError, match="embedded null byte"):
        fs.chown("/d", "root\x00x")
    with pytest.raises(ValueError, match="embedded null byte"):
        pyorvik.connect("file://" + str(store_root), user="a\x00b")


@pytest.mark.parametrize(
    "mode, error, message",
    [
        (32768, OverflowError, "value too large to convert to int16_t"),
        (-32769, OverflowError, "value too large to convert to int16_t"),
        (2**70, OverflowError, "value too large to convert to int16_t"),
        ("644", TypeError, "an integer is required"),
        (None, TypeError, "an integer is required"),
    ],
)
def test_int16_conversion_errors(fs, mode, error, message):
    fs.mkdir("/d")
    with pytest.raises(error, match="^" + message + "$"):
        fs.chmod("/d", mode)


def test_int16_conversion_uses_int_and_truncates_floats(fs):
    class Mode:
        def __int__(self):
            return 0o700

    fs.mkdir("/d")
    for mode, expected in [(420.9, 420), (Mode(), 0o700), (True, 1)]:
        fs.chmod("/d", mode)
        assert fs.get_file_info("/d").perm & 0o777 == expected
    fs.chmod("/d", 0o755)


def test_int_returning_non_int_is_refused():
    class Bad:
        def __int__(self):
            return "x"

    with pytest.raises(TypeError):
        pyorvik.Config().setInt32("k", Bad())
