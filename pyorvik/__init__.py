"""A file-system view of object stores: connect, list, stat, mkdir, rename,
remove, chmod/chown, binary streams and whole-file transfers."""
import sys

from pyorvik import _fs
from pyorvik._fs import (  # noqa: F401
    DEFAULT_BUFFER_SIZE,
    Config,
    Directory,
    File,
    FileInfo,
    FileStream,
    FileSystem,
    FileType,
    MountPoint,
    Symlink,
    Unknown,
    connect,
    encode_file_path,
    frombytes,
    tobytes,
)

# The extension's types report the module name "_fs"; pickle finds a class
# through its module name, so that name must resolve to this module.
sys.modules.setdefault("_fs", _fs)
