"""Config: a shared map of string settings with typed accessors."""
import pickle
import weakref

import pytest

import pyorvik
from pyorvik import Config


@pytest.fixture
def config():
    return Config()


@pytest.mark.parametrize(
    "setter, value, getter, default, expected",
    [
        ("set", "1", "get", "", "1"),
        ("set", "1", "getInt32", 0, 1),
        ("set", "0x10", "getInt64", 0, 16),
        ("set", " 42", "getInt64", 0, 42),
        ("set", "-2.5", "getDouble", 0.0, -2.5),
        ("set", "TRUE", "getBool", False, True),
        ("setInt32", -2147483648, "getInt32", 0, -2147483648),
        ("setInt32", 7, "get", "", "7"),
        ("setInt64", 2**31, "getInt64", 0, 2**31),
        ("setInt64", -(2**63), "get", "", str(-(2**63))),
        ("setDouble", 0.25, "get", "", "0.250000"),
        ("setDouble", 3, "getDouble", 0.0, 3.0),
        ("setBool", True, "get", "", "1"),
        ("setBool", [], "get", "", "0"),
        ("setBool", True, "getInt32", 0, 1),
        ("setInt32", 12.9, "getInt32", 0, 12),
    ],
)
def test_round_trips(config, setter, value, getter, default, expected):
    getattr(config, setter)("k", value)
    result = getattr(config, getter)("k", default)
    assert result == expected and type(result) is type(expected)


@pytest.mark.parametrize(
    "getter, default",
    [("get", "x"), ("getInt32", 5), ("getInt64", -7), ("getDouble", 1.5),
     ("getBool", True)],
)
def test_missing_key_gives_the_default_silently(config, capfd, getter, default):
    assert getattr(config, getter)("missing", default) == default
    assert capfd.readouterr().err == ""


def test_defaults_of_the_getters(config):
    assert config.get("missing") == ""
    assert config.getInt32("missing") == 0
    assert config.getInt64("missing") == 0
    assert config.getDouble("missing") == 0.0
    assert config.getBool("missing") is False


def test_str_and_bytes_keys_name_the_same_entry(config):
    config.set("ключ", b"v")
    assert config.get("ключ".encode()) == "v"
    assert config.contains(bytearray("ключ".encode()))
    assert not config.contains("other")


def test_keyword_arguments(config):
    config.set(key="a", value="b")
    assert config.get(key="a", default="z") == "b"
    config.setInt64(key="n", value=3)
    assert config.getInt64(key="n", default=0) == 3
    assert config.contains(key="n")


def test_unreadable_value_gives_default_and_one_diagnostic(config, capfd):
    config.set("n", "abc")
    assert config.getInt64("n", 7) == 7
    err = capfd.readouterr().err
    assert err == "Invalid int64_t type: abc\n"


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda c: c.set("k", None), TypeError, None),
        (lambda c: c.set(None, "v"), TypeError, None),
        (lambda c: c.set("k", 1), TypeError, None),
        (lambda c: c.get("k", None), TypeError, None),
        (lambda c: c.setInt32("k", 2**31), OverflowError,
         "value too large to convert to int32_t"),
        (lambda c: c.getInt32("k", -(2**31) - 1), OverflowError,
         "value too large to convert to int32_t"),
        (lambda c: c.setInt64("k", 2**63), OverflowError, None),
        (lambda c: c.setInt32("k", "1"), TypeError, "an integer is required"),
        (lambda c: c.setDouble("k", "x"), TypeError, None),
        (lambda c: c.set("k"), TypeError, None),
        (lambda c: c.get(), TypeError, None),
        (lambda c: c.get("k", "d", "extra"), TypeError, None),
        (lambda c: c.set("k", "v", value="w"), TypeError, None),
        (lambda c: c.contains(), TypeError, None),
    ],
)
def test_conversion_errors_store_nothing(config, call, error, message):
    with pytest.raises(error) as info:
        call(config)
    if message is not None:
        assert str(info.value) == message
    assert not config.contains("k")


def test_get_default_is_checked_even_when_the_key_is_present(config):
    config.set("k", "v")
    with pytest.raises(TypeError):
        config.get("k", None)


def test_failing_truth_test_propagates(config):
    class Bad:
        def __bool__(self):
            raise RuntimeError("no truth")

    with pytest.raises(RuntimeError, match="no truth"):
        config.setBool("k", Bad())


def test_construction_ignores_arguments():
    config = Config(1, 2, key=3)
    assert not config.contains("key")


def test_type_identity_and_help():
    assert Config.__name__ == "Config"
    assert Config.__module__ == "_fs"
    assert Config.__doc__ == "\n    FileSystem config.\n    "
    assert issubclass(Config, pyorvik._fs._Weakrefable)


def test_no_instance_dictionary(config):
    with pytest.raises(AttributeError):
        config.anything = 1


def test_weakref_and_pickling():
    config = Config()
    ref = weakref.ref(config)
    assert ref() is config
    with pytest.raises(TypeError, match="no default __reduce__ due to non-trivial __cinit__"):
        pickle.dumps(config)
    with pytest.raises(TypeError, match="no default __reduce__ due to non-trivial __cinit__"):
        config.__setstate__({})
    del config
    assert ref() is None


def test_subclass_overrides_and_keeps_the_map():
    class Tracking(Config):
        def set(self, key, value):
            super().set(key, value.upper())

    config = Tracking()
    config.set("k", "v")
    assert config.get("k") == "V"
    config.extra = 1  # a Python subclass has an instance dictionary


def test_map_is_shared_with_the_connection(store_root):
    # The connection keeps the Config's map, not a copy: a change made after
    # connecting is what the transfers read later. Dropping the Config must
    # not free the map the FileSystem still holds.
    config = Config()
    config.set("fs.quoll.read.buffer.size", "4096")
    fs = pyorvik.connect("file://" + str(store_root), config=config)
    ref = weakref.ref(config)
    del config
    assert ref() is None
    fs.mkdir("/still-usable")
    assert fs.exists("/still-usable")
