"""Shared fixtures of the Python tests.

scripts/test.sh sets PYORVIK_BUILD_DIR to the CMake build tree; its staged
package (python/pyorvik, with the compiled module) must win over the source
folder pyorvik/ at the repository root, which `python -m pytest` puts on
sys.path and which holds no compiled module.
"""
import os
import subprocess
import sys
import textwrap

import pytest

BUILD_DIR = os.environ.get("PYORVIK_BUILD_DIR")
if BUILD_DIR:
    sys.path.insert(0, os.path.join(BUILD_DIR, "python"))
    stale = sys.modules.get("pyorvik")
    if stale is not None and not hasattr(stale, "_fs"):
        del sys.modules["pyorvik"]

import pyorvik  # noqa: E402


@pytest.fixture(params=["file", "quoll"])
def store_root(request, tmp_path):
    """An empty directory that serves as the root of a local store; for the
    "quoll" run, an empty prefix on the RADOS Gateway with the same path-like
    methods (tests/quoll/quoll_fixtures.py)."""
    if request.param == "quoll":
        if (request.module.__name__.endswith("test_leaks")
                or request.node.name.startswith("test_listing_lets_other_threads_run")):
            # Thousands of gateway requests (a listing takes ~45 ms, a PUT
            # ~20 ms) for Python-layer behaviour the file run checks already.
            pytest.skip("thousands of rounds: run against the local store only")
        return request.getfixturevalue("quoll_root")
    root = tmp_path / "store"
    root.mkdir()
    return root


@pytest.fixture
def fs(store_root):
    """A FileSystem connected to the store at store_root."""
    if isinstance(store_root, ObjectRoot):
        return store_root.connect()
    return pyorvik.connect("file://" + str(store_root))


def subprocess_env(extra=None):
    """The environment for a child interpreter that imports the same build."""
    env = dict(os.environ)
    paths = [p for p in sys.path if p]
    env["PYTHONPATH"] = os.pathsep.join(paths)
    if extra:
        env.update(extra)
    return env


def _run_python(snippet, env=None, timeout=120):
    """Runs a Python snippet in a child interpreter; returns the completed
    process (stdout and stderr as text)."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(snippet)],
        env=subprocess_env(env),
        # Not the repository root, whose source pyorvik/ would shadow the
        # staged package.
        cwd=os.path.join(BUILD_DIR, "python") if BUILD_DIR else None,
        capture_output=True,
        text=True,
        timeout=timeout,
    )


def fake_sdk_library():
    """The scripted fake SDK built beside the real one."""
    if not BUILD_DIR:
        pytest.fail("PYORVIK_BUILD_DIR must point at a build tree with the fake SDK")
    path = os.path.join(BUILD_DIR, "fake_sdk", "liborviksdk_python.so")
    if not os.path.exists(path):
        pytest.fail("fake SDK not built: " + path)
    return path


def _run_with_fake_sdk(snippet, timeout=120):
    """Runs a snippet with the fake SDK preloaded in place of the real one,
    for failures that real storage cannot produce on demand. The snippet can
    drive the fake through ctypes: `FAKE = ctypes.CDLL(FAKE_SDK)` with the
    control API of tests/native/fake_sdk/fake_sdk_control.h."""
    library = fake_sdk_library()
    preload = os.environ.get("LD_PRELOAD", "")
    preload = (preload + " " + library).strip()
    prologue = "import ctypes\nFAKE_SDK = %r\n" % library
    return _run_python(prologue + textwrap.dedent(snippet),
                       env={"LD_PRELOAD": preload}, timeout=timeout)


@pytest.fixture
def run_python():
    """run_python(snippet, env=None): a snippet in a child interpreter that
    imports the same build."""
    return _run_python


@pytest.fixture
def run_with_fake_sdk():
    """run_with_fake_sdk(snippet): a snippet in a child interpreter with the
    fake SDK in place of the real one."""
    return _run_with_fake_sdk


# The quoll:// fixtures: the RADOS Gateway, boto3, the fault proxy.
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "quoll"))
from quoll_fixtures import (  # noqa: E402,F401
    ObjectRoot, fault_proxy, prefix, quoll_connect, quoll_root, rgw, s3)

