"""Module entry and connection: initialisation, published names, connect,
the life of a FileSystem, weak references, pickling and subclassing."""
import ctypes
import importlib
import io
import pickle
import queue
import sys
import warnings
import weakref

import pytest

import pyorvik
from pyorvik import _fs
from pyorvik._fs import Config, FileInfo, FileSystem

PUBLISHED_IN_ORDER = [
    "_Weakrefable", "Config", "FileInfo", "FileStream", "FileSystem",
    "FileType", "Unknown", "Directory", "File", "Symlink", "MountPoint",
    "datetime", "timezone", "time", "warnings", "sys", "threading",
    "BufferedIOBase", "IOBase", "TextIOBase", "UnsupportedOperation",
    "Queue", "QueueEmpty", "encode_file_path", "ordered_dict", "pickle",
    "tobytes", "frombytes", "_file_type_to_string", "DEFAULT_BUFFER_SIZE",
    "connect",
]


def test_published_names_in_order():
    names = [n for n in vars(_fs) if n in PUBLISHED_IN_ORDER]
    assert names == PUBLISHED_IN_ORDER


def test_published_values():
    import datetime as datetime_module
    import threading
    import time

    assert _fs.DEFAULT_BUFFER_SIZE == 65536
    assert _fs.datetime is datetime_module.datetime
    assert _fs.timezone is datetime_module.timezone
    assert (_fs.time, _fs.warnings, _fs.sys, _fs.threading) == (
        time, warnings, sys, threading)
    assert (_fs.BufferedIOBase, _fs.IOBase, _fs.TextIOBase,
            _fs.UnsupportedOperation) == (io.BufferedIOBase, io.IOBase,
                                          io.TextIOBase,
                                          io.UnsupportedOperation)
    assert (_fs.Queue, _fs.QueueEmpty) == (queue.Queue, queue.Empty)
    assert _fs.ordered_dict is dict
    assert _fs.__doc__ is None


def test_pickle_prefers_cloudpickle(tmp_path, run_python):
    (tmp_path / "cloudpickle.py").write_text("MARK = 'cloud'\n")
    script = """
        import sys
        sys.path.insert(0, %r)
        from pyorvik import _fs
        print(getattr(_fs.pickle, "MARK", _fs.pickle.__name__))
    """ % str(tmp_path)
    result = run_python(script)
    assert result.stdout.strip() == "cloud", result.stderr
    try:
        import cloudpickle  # noqa: F401
    except ImportError:
        assert _fs.pickle is pickle


def test_package_reexports_public_names():
    for name in ["connect", "Config", "FileInfo", "FileStream", "FileSystem",
                 "FileType",
                 "File", "tobytes", "frombytes", "encode_file_path",
                 "DEFAULT_BUFFER_SIZE"]:
        assert getattr(pyorvik, name) is getattr(_fs, name)


@pytest.mark.parametrize("cls", ["_Weakrefable", "Config", "FileInfo",
                                 "FileStream", "FileSystem"])
def test_type_names_and_subclassing(cls):
    base = getattr(_fs, cls)
    assert base.__module__ == "_fs"
    assert repr(base) == "<class '_fs.%s'>" % cls
    sub = type("Sub" + cls, (base,), {})
    instance = sub("x") if base is FileInfo else sub()
    instance.extra = 1  # a Python subclass gets an instance dictionary
    assert isinstance(instance, base)


@pytest.mark.parametrize("make", [
    lambda: _fs._Weakrefable(), lambda: Config(), lambda: FileInfo("x"),
    lambda: FileSystem()])
def test_no_instance_dictionary(make):
    with pytest.raises(AttributeError):
        make().undeclared = 1


PICKLE_REFUSALS = [
    (lambda: Config(), "no default __reduce__ due to non-trivial __cinit__"),
    (lambda: FileSystem(), "no default __reduce__ due to non-trivial __cinit__"),
    (lambda: FileInfo("x"),
     "self.info cannot be converted to a Python object for pickling"),
]


@pytest.mark.parametrize("make, message", PICKLE_REFUSALS)
def test_pickling_refused(make, message):
    obj = make()
    for protocol in (0, 2, pickle.HIGHEST_PROTOCOL):
        with pytest.raises(TypeError) as info:
            pickle.dumps(obj, protocol)
        assert str(info.value) == message
    with pytest.raises(TypeError) as info:
        obj.__setstate__(None)
    assert str(info.value) == message


def test_weakrefable_pickles():
    obj = _fs._Weakrefable()
    restored = pickle.loads(pickle.dumps(obj))
    assert type(restored) is _fs._Weakrefable and restored is not obj


def test_weakrefable_subclass_carries_its_dictionary():
    class Holder(_fs._Weakrefable):
        pass

    obj = Holder()
    obj.payload = [1, 2]
    unpickle, args = obj.__reduce__()
    restored = unpickle(*args)
    assert type(restored) is Holder and restored.payload == [1, 2]


def test_unpickler_builds_only_weakrefable_types():
    with pytest.raises(TypeError):
        _fs._unpickle_weakrefable(dict, None)


def test_weak_references():
    for make in (_fs._Weakrefable, Config, lambda: FileInfo("x")):
        obj = make()
        ref = weakref.ref(obj)
        assert ref() is obj
        del obj
        assert ref() is None
    with pytest.raises(TypeError):
        weakref.ref(FileSystem())


def test_reimport_returns_the_same_module():
    saved = sys.modules.pop("pyorvik._fs")
    try:
        again = importlib.import_module("pyorvik._fs")
        assert again is saved
    finally:
        sys.modules["pyorvik._fs"] = saved


def test_one_interpreter_per_process(run_python):
    result = run_python("""
        import _xxsubinterpreters as subinterpreters
        import pyorvik._fs
        interp = subinterpreters.create()
        try:
            subinterpreters.run_string(interp, "import pyorvik._fs")
        except subinterpreters.RunFailedError as exc:
            print(exc)
    """)
    assert "ImportError" in result.stdout, result.stdout + result.stderr
    assert ("Interpreter change detected - this module can only be loaded "
            "into one interpreter per process.") in result.stdout


def test_module_spec_attributes():
    assert _fs.__name__ == "pyorvik._fs"
    assert _fs.__package__ == "pyorvik"
    assert _fs.__file__.endswith(".so")
    assert type(_fs.__loader__).__name__ == "ExtensionFileLoader"
    assert not hasattr(_fs, "__path__")


# --- connect ---------------------------------------------------------------


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((), {}, Exception, "uri shouldn't empty"),
        ((b"",), {}, Exception, "uri shouldn't empty"),
        ((123,), {}, TypeError, "Path must be a string"),
        ((bytearray(b"file:///"),), {}, TypeError, "Path must be a string"),
        (("file:///tmp",), {"config": "x"}, TypeError,
         "Cannot convert str to _fs.Config"),
        (("file:///tmp",), {"user": 5}, TypeError, None),
        (("file:///tmp", None, None, None), {}, TypeError, None),
        (("file:///tmp",), {"usr": "a"}, TypeError, None),
    ],
)
def test_connect_argument_failures(args, kwargs, error, message):
    with pytest.raises(error) as info:
        _fs.connect(*args, **kwargs)
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message


@pytest.mark.parametrize("uri", ["file:///no/such/root", "nosuch://bucket"])
def test_connect_native_failure_is_value_error_with_bytes(uri):
    with pytest.raises(ValueError) as info:
        _fs.connect(uri, "alice")
    (message,) = info.value.args
    assert isinstance(message, bytes)
    assert message.startswith(
        b"init failed create ovk filesystem failed, uri: " + uri.encode()
        + b", user: alice, error:  ")


def test_connect_accepts_every_argument_form(store_root):
    uri = "file://" + str(store_root)
    for fs in (
        _fs.connect(uri),
        _fs.connect(uri.encode(), b"me", Config()),
        _fs.connect(uri=uri, user=bytearray(b"me"), config=None),
        _fs.connect(uri, "é"),
    ):
        assert type(fs) is FileSystem
        assert fs.mkdir("/ok") and fs.exists("/ok")


def test_connect_with_plain_path(store_root):
    fs = _fs.connect(str(store_root))
    assert fs.exists("/") is True


def test_failed_connection_then_a_good_one(store_root):
    fs = FileSystem()
    with pytest.raises(ValueError):
        fs._connect("file:///no/such/root")
    assert fs._connect("file://" + str(store_root)) is True
    assert fs.mkdir("/after") and (store_root / "after").is_dir()


def test_second_connect_fails_and_keeps_the_first(store_root, tmp_path):
    other = tmp_path / "other"
    other.mkdir()
    fs = _fs.connect("file://" + str(store_root))
    with pytest.raises(ValueError) as info:
        fs._connect("file://" + str(other))
    assert info.value.args == (b"init failed already inited",)
    fs.mkdir("/first")
    assert (store_root / "first").is_dir() and not (other / "first").exists()


def test__connect_rejects_a_non_config_before_any_work():
    fs = FileSystem()
    with pytest.raises(TypeError) as info:
        fs._connect(123, None, 5)  # the config is checked before the uri
    assert str(info.value) == ("Argument 'config' has incorrect type "
                               "(expected _fs.Config, got int)")


def test__connect_with_empty_uri():
    with pytest.raises(Exception) as info:
        FileSystem()._connect()
    assert type(info.value) is Exception
    assert info.value.args == ("uri shouldn't empty",)


def test_filesystem_construction_ignores_arguments():
    fs = FileSystem(1, 2, key=3)
    assert type(fs) is FileSystem
    assert repr(fs).startswith("<_fs.FileSystem object at ")
    assert not hasattr(fs, "close")
    assert not hasattr(fs, "__enter__")


class _WarningsProxy:
    """Stands in for the module global `warnings` of _fs: forwards to the
    real module and raises a warning right after connect installed its
    filter, the way a warning raised during the connection would."""

    def __init__(self, log):
        self.log = log

    def catch_warnings(self):
        self.log.append("catch_warnings")
        return warnings.catch_warnings()

    def simplefilter(self, action):
        self.log.append(("simplefilter", action))
        warnings.simplefilter(action)
        warnings.warn("raised while connecting", UserWarning)


@pytest.mark.parametrize("good", [True, False])
def test_connect_drops_warnings_and_restores_filters(monkeypatch, store_root,
                                                     good):
    log = []
    monkeypatch.setattr(_fs, "warnings", _WarningsProxy(log))
    uri = "file://" + str(store_root) if good else "file:///no/such/root"
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        warnings.filterwarnings("error", category=DeprecationWarning)
        before = list(warnings.filters)
        if good:
            _fs.connect(uri)
        else:
            with pytest.raises(ValueError):
                _fs.connect(uri)
        assert list(warnings.filters) == before
    assert log == ["catch_warnings", ("simplefilter", "ignore")]
    assert [str(w.message) for w in caught] == []


# --- overridable methods, through the native-method table -------------------


class _Native:
    """The FileSystem native-method table, called as other native code does."""

    ENTRIES = ["wrap", "unwrap", "unwrap_safe", "connect", "mkdir", "remove",
               "rename", "get_file_info", "exists", "listdir", "open"]
    SIGNATURES = {
        "connect": (ctypes.py_object, [ctypes.py_object] * 4),
        "mkdir": (ctypes.c_int, [ctypes.py_object, ctypes.py_object, ctypes.c_bool]),
        "remove": (ctypes.c_int, [ctypes.py_object, ctypes.py_object, ctypes.c_bool]),
        "rename": (ctypes.c_int, [ctypes.py_object] * 3),
        "get_file_info": (ctypes.py_object, [ctypes.py_object] * 2),
        "exists": (ctypes.c_int, [ctypes.py_object] * 2),
        "listdir": (ctypes.py_object, [ctypes.py_object, ctypes.py_object, ctypes.c_bool]),
    }

    def __init__(self):
        get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
        get_pointer.restype = ctypes.c_void_p
        get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
        base = get_pointer(FileSystem._native_methods,
                           b"pyorvik._fs.FileSystem._native_methods")
        table = (ctypes.c_void_p * len(self.ENTRIES)).from_address(base)
        for index, name in enumerate(self.ENTRIES):
            if name in self.SIGNATURES:
                restype, argtypes = self.SIGNATURES[name]
                prototype = ctypes.PYFUNCTYPE(restype, *argtypes)
                setattr(self, name, prototype(table[index]))


@pytest.fixture(scope="module")
def native():
    return _Native()


def test_native_calls_reach_python_overrides(native, store_root):
    calls = []

    class Sub(FileSystem):
        def _connect(self, uri, user, config):
            calls.append(("_connect", uri, user, config))
            return "overridden"

        def mkdir(self, path, recursive=True):
            calls.append(("mkdir", path, recursive))
            return []

        def exists(self, path):
            return "yes"

        def get_file_info(self, path):
            return FileInfo(path, 2)

        def listdir(self, path, recursive=False):
            return ["listed", recursive]

    fs = Sub()
    assert native.connect(fs, "uri", None, None) == "overridden"
    assert native.mkdir(fs, "/p", True) == 0
    assert native.exists(fs, "/p") == 1
    assert native.get_file_info(fs, "/p").is_file
    assert native.listdir(fs, "/p", True) == ["listed", True]
    assert calls == [("_connect", "uri", None, None), ("mkdir", "/p", True)]
    assert not (store_root / "p").exists()


def test_native_calls_honour_instance_attributes(native, store_root):
    class Sub(FileSystem):
        pass

    fs = Sub()
    fs._connect("file://" + str(store_root))
    fs.rename = lambda src, dst: 0
    fs.get_file_info = lambda path: "not an info"
    assert native.rename(fs, "/a", "/b") == 0
    with pytest.raises(TypeError, match="Cannot convert str to _fs.FileInfo"):
        native.get_file_info(fs, "/a")
    # Methods that are not overridden run the module's own code.
    assert native.mkdir(fs, "/real", False) == 1
    assert (store_root / "real").is_dir()
    assert native.exists(fs, "/missing") == 0


def test_native_calls_on_the_exact_type(native, store_root):
    fs = FileSystem()
    assert native.connect(fs, "file://" + str(store_root), "me", Config()) is True
    assert native.mkdir(fs, "/n", True) == 1
    assert native.remove(fs, "/n", False) == 1
    assert native.exists(fs, "/n") == 0
    with pytest.raises(FileNotFoundError):
        native.get_file_info(fs, "/n")


# --- teardown ---------------------------------------------------------------


def test_teardown_keeps_the_exception_being_handled(store_root):
    fs = _fs.connect("file://" + str(store_root))
    try:
        raise KeyError("in flight")
    except KeyError:
        del fs
        assert sys.exc_info()[0] is KeyError


def test_teardown_reports_nothing_when_destroy_succeeds(store_root):
    reports = []
    old_hook = sys.unraisablehook
    sys.unraisablehook = reports.append
    try:
        fs = _fs.connect("file://" + str(store_root))
        del fs
        unconnected = FileSystem()
        del unconnected
    finally:
        sys.unraisablehook = old_hook
    assert reports == []
