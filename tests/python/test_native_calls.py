"""What the Python layer hands to the native client and how it maps the
answers, observed through the fake SDK (a recording, scripted stand-in for
liborviksdk_python) in a child interpreter. These are the cases real storage
cannot produce on demand: exact arguments, SDK error codes, unknown fields,
and the store's teardown."""
import json

import pytest

PRELUDE = """
import json
import sys
from ctypes import c_bool, c_char_p, c_int, c_int32, c_int64

import pyorvik

fake = ctypes.CDLL(FAKE_SDK)
fake.ovkfake_calls.restype = c_char_p
fake.ovkfake_calls.argtypes = [c_int]
fake.ovkfake_faults.restype = c_char_p
fake.ovkfake_live_report.restype = c_char_p
fake.ovkfake_call_count.restype = c_int64
fake.ovkfake_call_count.argtypes = [c_char_p]
fake.ovkfake_push.argtypes = [c_char_p, c_int32, c_char_p, c_int64]
fake.ovkfake_push_file_status.argtypes = [
    c_char_p, c_char_p, c_char_p, c_char_p, c_int32, c_int32, c_int64,
    c_int64, c_int64]
fake.ovkfake_push_listing.argtypes = [c_char_p, c_bool, c_char_p]
fake.ovkfake_listing_add.argtypes = [
    c_char_p, c_char_p, c_char_p, c_int32, c_int32, c_int64, c_int64, c_int64]

QUIET = 1 | 2 | 4 | 8


def calls(name=None):
    lines = fake.ovkfake_calls(QUIET).decode().splitlines()
    return [l for l in lines if name is None or l.startswith(name + "(")]


def outcome(fn):
    try:
        return ["ok", repr(fn())]
    except BaseException as exc:
        return [type(exc).__name__, repr(exc.args)]


results = {}
"""

EPILOGUE = """
results["faults"] = fake.ovkfake_faults().decode()
print(json.dumps(results))
"""


@pytest.fixture
def fake(run_with_fake_sdk):
    def run(body):
        result = run_with_fake_sdk(PRELUDE + body + EPILOGUE)
        assert result.returncode == 0, result.stderr
        data = json.loads(result.stdout.strip().splitlines()[-1])
        assert data.pop("faults") == ""
        return data
    return run


def test_connect_hands_config_user_and_uri_to_the_sdk(fake):
    data = fake("""
import os
for name in ("QUOLL_ENDPOINT", "QUOLL_ACCESS_ID", "QUOLL_ACCESS_KEY"):
    os.environ.pop(name, None)
config = pyorvik.Config()
config.set("b", "2")
config.set("a", "1")
fs = pyorvik.connect("quoll://bucket/p", "alice", config)
results["with"] = calls()
fake.ovkfake_clear_calls()
fs2 = pyorvik.connect(b"quoll://bucket/q")
results["without"] = calls()
""")
    assert data["with"] == [
        "ovk_setOption(a,1)", "ovk_setOption(b,2)",
        "ovk_setOption(logger.appender,file)",
        "ovk_createStore(quoll://bucket/p)", "ovk_init(alice)"]
    # Without user and Config: the empty user and only the fixed option.
    assert data["without"] == [
        "ovk_setOption(logger.appender,file)",
        "ovk_createStore(quoll://bucket/q)", "ovk_init()"]


def test_failed_init_is_value_error_and_leaves_nothing_behind(fake):
    data = fake("""
fake.ovkfake_push(b"ovk_init", 4003, b"access denied for bucket", 0)
results["error"] = outcome(lambda: pyorvik.connect("quoll://bucket", "bob"))
results["live"] = fake.ovkfake_live_report().decode()
""")
    assert data["error"] == ["ValueError", repr((
        b"init failed create ovk filesystem failed, uri: quoll://bucket, "
        b"user: bob, error:  access denied for bucket",))]
    assert data["live"] == ""


def test_teardown_destroys_the_store_once(fake):
    data = fake("""
reports = []
sys.unraisablehook = reports.append
fs = pyorvik.connect("quoll://bucket")
fake.ovkfake_clear_calls()
del fs
results["calls"] = calls()
# An SDK error while destroying never reaches Python: destroy() reports
# success, so there is nothing for the unraisable hook.
fs = pyorvik.connect("quoll://bucket")
fake.ovkfake_push(b"ovk_destroyStore", 4010, b"flush failed", 0)
del fs
results["reports"] = len(reports)
results["live"] = fake.ovkfake_live_report().decode()
unconnected = pyorvik.FileSystem()
fake.ovkfake_clear_calls()
del unconnected
results["unconnected"] = calls()
""")
    assert data["calls"] == ["ovk_destroyStore(store#1)", "ovk_freeStore(store#1)"]
    assert data["reports"] == 0
    assert data["live"] == ""
    assert data["unconnected"] == []


@pytest.mark.parametrize(
    "python_call, sdk_call",
    [
        ('fs.mkdir("/p")', "ovk_mkdir(/p,1,511)"),
        ('fs.mkdir("/p", False)', "ovk_mkdir(/p,0,511)"),
        ('fs.mkdir("/p", recursive=[])', "ovk_mkdir(/p,0,511)"),
        ('fs.mkdir("/p", recursive="no")', "ovk_mkdir(/p,1,511)"),
        ('fs.remove("/p")', "ovk_remove(/p,1)"),
        ('fs.remove("/p", recursive=False)', "ovk_remove(/p,0)"),
        ('fs.listdir("/p")', "ovk_listDir(/p,0)"),
        ('fs.listdir("/p", True)', "ovk_listDir(/p,1)"),
        ('fs.chmod("/p", 0o755)', "ovk_setPermission(/p,493)"),
        ('fs.chmod("/p", -1)', "ovk_setPermission(/p,-1)"),
        ('fs.chmod("/p", 420.9)', "ovk_setPermission(/p,420)"),
        ('fs.chown("/p")', "ovk_setOwner(/p,,)"),
        ('fs.chown("/p", "", b"")', "ovk_setOwner(/p,,)"),
        ('fs.chown("/p", "ü", group=bytearray(b"g"))', "ovk_setOwner(/p,ü,g)"),
        ('fs.get_file_info("/é")', "ovk_getFileStatus(/é)"),
        ('fs.exists(b"/p")', "ovk_exists(/p)"),
    ],
)
def test_arguments_reach_the_sdk(fake, python_call, sdk_call):
    data = fake("""
fs = pyorvik.connect("quoll://bucket")
fake.ovkfake_clear_calls()
results["result"] = outcome(lambda: %s)
results["calls"] = calls()
""" % python_call)
    assert data["result"][0] == "ok"
    assert sdk_call in data["calls"]


@pytest.mark.parametrize(
    "python_call, function, code, expected",
    [
        ('fs.exists("/p")', "ovk_exists", 3001, ["ok", "False"]),
        ('fs.exists("/p")', "ovk_exists", 4007,
         ["OSError", repr((b"exists failed: denied",))]),
        ('fs.get_file_info("/p")', "ovk_getFileStatus", 4011,
         ["OSError", repr((b"get status failed: denied",))]),
        ('fs.listdir("/p")', "ovk_listDir", 3001,
         ["FileNotFoundError", repr((b"get children failed: denied",))]),
        ('fs.listdir("/p")', "ovk_listDir", 4010,
         ["OSError", repr((b"get children failed: denied",))]),
        ('fs.mkdir("/p")', "ovk_mkdir", 3001,
         ["OSError", repr((b"mkdir failed: denied",))]),
        ('fs.remove("/p")', "ovk_remove", 4006,
         ["OSError", repr((b"delete failed: denied",))]),
        ('fs.chmod("/p", 1)', "ovk_setPermission", 3001,
         ["OSError", repr((b"setPermission failed: denied",))]),
        ('fs.chown("/p", "u")', "ovk_setOwner", 4007,
         ["OSError", repr((b"setOwner failed: denied",))]),
    ],
)
def test_sdk_errors_become_exceptions(fake, python_call, function, code,
                                      expected):
    data = fake("""
fs = pyorvik.connect("quoll://bucket")
fake.ovkfake_push(%r, %d, b"denied", 0)
results["result"] = outcome(lambda: %s)
""" % (function.encode(), code, python_call))
    assert data["result"] == expected


def test_false_results_without_an_error_code(fake):
    data = fake("""
fs = pyorvik.connect("quoll://bucket")
fake.ovkfake_push(b"ovk_remove", 0, None, 0)
results["remove"] = outcome(lambda: fs.remove("/p", False))
fake.ovkfake_push(b"ovk_exists", 0, None, 0)
results["exists"] = outcome(lambda: fs.exists("/p"))
""")
    assert data["remove"] == ["OSError", repr((b"delete failed: /p recursive 0",))]
    assert data["exists"] == ["ok", "False"]


def test_records_from_the_store_with_unknown_fields(fake):
    data = fake("""
fs = pyorvik.connect("quoll://bucket")
fake.ovkfake_push_file_status(b"ovk_getFileStatus", b"quoll://bucket/l",
                              None, b"staff", 3, -1, -1, -1, -1)
info = fs.get_file_info("/l")
results["info"] = [info.is_symlink, repr(info), info.user, info.group,
                   info.perm, info.size, info.mtime, info.atime]
fake.ovkfake_push_file_status(b"ovk_getFileStatus", b"quoll://bucket/d",
                              b"u", b"g", 1, 0o750, 0, 1500, 2500)
info = fs.get_file_info("/d")
results["dir"] = [info.path, info.perm, info.size,
                  info.mtime.timestamp(), info.atime.timestamp()]
""")
    assert data["info"] == [True, "<FileInfo for 'quoll://bucket/l': type=Symlink>",
                            "", "staff", None, None, None, None]
    assert data["dir"] == ["quoll://bucket/d/", 0o750, 0, 1.5, 2.5]


def test_listing_keeps_the_stores_order_and_skips_null_entries(fake):
    data = fake("""
fs = pyorvik.connect("quoll://bucket")
fake.ovkfake_push_listing(b"ovk_listDir", True, b"marker")
fake.ovkfake_listing_add(b"quoll://bucket/z", b"u", b"g", 2, 420, 3, 0, 0)
fake.ovkfake_listing_add_null()
fake.ovkfake_listing_add(b"quoll://bucket/a", b"u", b"g", 1, 493, 0, 0, 0)
results["entries"] = [repr(e) for e in fs.listdir("/")]
results["empty"] = outcome(lambda: fs.listdir("/"))
""")
    assert data["entries"] == ["<FileInfo for 'quoll://bucket/z': type=File, size=3>",
                               "<FileInfo for 'quoll://bucket/a/': type=Directory>"]
    assert data["empty"] == ["ok", "[]"]
