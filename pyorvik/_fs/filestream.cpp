#include "filestream_internal.h"

#include <cstring>
#include <string>
#include <string_view>

#include "OvkFileSystem.h"
#include "transfers.h"

using stream::AsStream;
using stream::Assert;
using stream::CallMethod;
using stream::Closed;
using stream::IsClosed;
using stream::kClosedMessage;
using stream::kOpen;
using stream::kReadable;
using stream::Seekable;

namespace {

// The truth value of self.<name>, a property. -1 with an exception set.
int AttrTruth(PyObject* self, const char* name) {
  PyRef value(PyObject_GetAttrString(self, name));
  if (!value) return -1;
  return PyObject_IsTrue(value.get());
}

constexpr int32_t kDefaultBufferSize = 65536;
constexpr long kDefaultChunkSize = 1048576;

const char kModeMessage[] =
    "Mode must be 'rb' (read), 'wb' (write, new file), or 'ab' (append)";

// --- methods ---------------------------------------------------------------

PyObject* FileStream_enter(PyObject* self, PyObject*) {
  Py_INCREF(self);
  return self;
}

PyObject* FileStream_exit(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"exc_type", "exc_value", "tb", nullptr};
  PyObject *exc_type, *exc_value, *tb;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:__exit__",
                                   const_cast<char**>(kwlist), &exc_type,
                                   &exc_value, &tb)) {
    return nullptr;
  }
  int closed = Closed(self);
  if (closed < 0) return nullptr;
  if (!closed) {
    PyRef result(CallMethod(self, "close", FileStream_close));
    if (!result) return nullptr;
  }
  Py_RETURN_NONE;
}

PyObject* FileStream_readable(PyObject* self, PyObject*) {
  if (Assert(self, kOpen) < 0) return nullptr;
  return PyBool_FromLong(AsStream(self)->is_readable);
}

PyObject* FileStream_writable(PyObject* self, PyObject*) {
  if (Assert(self, kOpen) < 0) return nullptr;
  return PyBool_FromLong(AsStream(self)->is_writable);
}

PyObject* RaiseUnsupported() {
  PyRef unsupported(FsGlobal("UnsupportedOperation"));
  if (unsupported) PyErr_SetNone(unsupported.get());
  return nullptr;
}

PyObject* FileStream_readline(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"size", nullptr};
  PyObject* size = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:readline",
                                   const_cast<char**>(kwlist), &size)) {
    return nullptr;
  }
  return RaiseUnsupported();
}

PyObject* FileStream_readlines(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"hint", nullptr};
  PyObject* hint = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:readlines",
                                   const_cast<char**>(kwlist), &hint)) {
    return nullptr;
  }
  return RaiseUnsupported();
}

PyObject* FileStream_truncate(PyObject*, PyObject*) {
  return RaiseUnsupported();
}

PyObject* FileStream_assert_open(PyObject* self, PyObject*) {
  int closed = Closed(self);
  if (closed < 0) return nullptr;
  if (closed) {
    PyErr_SetString(PyExc_ValueError, kClosedMessage);
    return nullptr;
  }
  Py_RETURN_NONE;
}

PyObject* FileStream_assert_readable(PyObject* self, PyObject*) {
  if (Assert(self, kOpen) < 0) return nullptr;
  if (!AsStream(self)->is_readable) {
    PyErr_SetString(PyExc_IOError, stream::kNotReadable);
    return nullptr;
  }
  Py_RETURN_NONE;
}

PyObject* FileStream_assert_writable(PyObject* self, PyObject*) {
  if (Assert(self, kOpen) < 0) return nullptr;
  if (!AsStream(self)->is_writable) {
    PyErr_SetString(PyExc_IOError, stream::kNotWritable);
    return nullptr;
  }
  Py_RETURN_NONE;
}

PyObject* FileStream_assert_seekable(PyObject* self, PyObject*) {
  if (Assert(self, kOpen) < 0) return nullptr;
  int seekable = Seekable(self);
  if (seekable < 0) return nullptr;
  if (!seekable) {
    PyErr_SetString(PyExc_IOError, stream::kNotSeekable);
    return nullptr;
  }
  Py_RETURN_NONE;
}

#define KW_METHOD(name, fn) \
  { name, OVK_METH(fn), METH_VARARGS | METH_KEYWORDS, nullptr }

PyMethodDef kFileStreamMethods[] = {
    {"__enter__", FileStream_enter, METH_NOARGS, nullptr},
    KW_METHOD("__exit__", FileStream_exit),
    {"readable", FileStream_readable, METH_NOARGS, nullptr},
    {"writable", FileStream_writable, METH_NOARGS, nullptr},
    {"close", FileStream_close, METH_NOARGS, nullptr},
    {"size", FileStream_size, METH_NOARGS, nullptr},
    {"tell", FileStream_tell, METH_NOARGS, nullptr},
    {"flush", FileStream_flush, METH_NOARGS, nullptr},
    KW_METHOD("write", FileStream_write),
    KW_METHOD("read", FileStream_read),
    {"readall", FileStream_readall, METH_NOARGS, nullptr},
    KW_METHOD("pread", FileStream_pread),
    KW_METHOD("seek", FileStream_seek),
    KW_METHOD("readline", FileStream_readline),
    KW_METHOD("readlines", FileStream_readlines),
    {"truncate", FileStream_truncate, METH_NOARGS, nullptr},
    KW_METHOD("writelines", FileStream_writelines),
    KW_METHOD("download", FileStream_download),
    KW_METHOD("upload", FileStream_upload),
    {"_assert_open", FileStream_assert_open, METH_NOARGS, nullptr},
    {"_assert_readable", FileStream_assert_readable, METH_NOARGS, nullptr},
    {"_assert_writable", FileStream_assert_writable, METH_NOARGS, nullptr},
    {"_assert_seekable", FileStream_assert_seekable, METH_NOARGS, nullptr},
    OVK_REFUSE_PICKLING_METHODS(RefuseReduce),
    {nullptr, nullptr, 0, nullptr}};

#undef KW_METHOD

// --- properties ------------------------------------------------------------

PyObject* FileStream_get_mode(PyObject* self, void*) {
  FileStreamObject* stream = AsStream(self);
  if (stream->is_readable && stream->is_writable) {
    return PyUnicode_FromString("rb+");
  }
  if (stream->is_readable) return PyUnicode_FromString("rb");
  if (stream->is_writable) return PyUnicode_FromString("wb");
  PyErr_SetString(PyExc_ValueError, "File object is malformed, has no mode");
  return nullptr;
}

PyObject* FileStream_get_seekable(PyObject* self, void*) {
  FileStreamObject* stream = AsStream(self);
  return PyBool_FromLong(stream->is_readable && !stream->is_writable);
}

PyObject* FileStream_get_closed(PyObject* self, void*) {
  return PyBool_FromLong(IsClosed(AsStream(self)));
}

PyObject* FileStream_get_buffer_size(PyObject* self, void*) {
  return PyLong_FromLong(AsStream(self)->buffer_size);
}

PyGetSetDef kFileStreamGetSet[] = {
    {"mode", FileStream_get_mode, nullptr,
     "\"rb\" for a read stream, \"wb\" for a write or append stream.", nullptr},
    {"seekable", FileStream_get_seekable, nullptr,
     "True for read streams: only they can seek.", nullptr},
    {"closed", FileStream_get_closed, nullptr,
     "True once closed, and for a stream that was never opened.", nullptr},
    {"buffer_size", FileStream_get_buffer_size, nullptr,
     "The buffer size given to open (65536 when none was given).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

// --- type slots ------------------------------------------------------------

PyObject* FileStream_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  FileStreamObject* stream = AsStream(self);
  new (&stream->reader) std::unique_ptr<OvkReader>();
  new (&stream->writer) std::unique_ptr<OvkWriter>();
  stream->is_readable = false;
  stream->is_writable = false;
  stream->buffer_size = 0;
  stream->filesystem = nullptr;
  return self;
}

// Closes a stream that is still open when it goes away. Runs before
// deallocation (and before a reference cycle holding the stream is broken),
// while the object is still whole; a failure goes to the unraisable hook.
void FileStream_finalize(PyObject* self) {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  int closed = Closed(self);
  if (closed == 0) {
    PyRef result(CallMethod(self, "close", FileStream_close));
    if (!result) closed = -1;
  }
  if (closed < 0) {
    PyRef context(PyUnicode_FromString("_fs.FileStream.__dealloc__"));
    PyErr_WriteUnraisable(context ? context.get() : self);
  }
  PyErr_Restore(type, value, traceback);
}

void FileStream_dealloc(PyObject* self) {
  if (PyObject_CallFinalizerFromDealloc(self) < 0) return;  // resurrected
  PyObject_GC_UnTrack(self);
  FileStreamObject* stream = AsStream(self);
  if (stream->base.weakreflist != nullptr) PyObject_ClearWeakRefs(self);
  // The native objects go first, while the FileSystem still keeps their
  // store alive; their destructors close a stream that is still open.
  {
    std::unique_ptr<OvkReader> reader = std::move(stream->reader);
    std::unique_ptr<OvkWriter> writer = std::move(stream->writer);
    Py_BEGIN_ALLOW_THREADS
    reader.reset();
    writer.reset();
    Py_END_ALLOW_THREADS
  }
  stream->reader.~unique_ptr<OvkReader>();
  stream->writer.~unique_ptr<OvkWriter>();
  Py_CLEAR(stream->filesystem);
  Py_TYPE(self)->tp_free(self);
}

// The reference to the FileSystem can close a cycle through a Python
// subclass's __dict__; it is visited but never cleared early, so a store is
// not destroyed under a stream that a collector is about to finalize.
int FileStream_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(AsStream(self)->filesystem);
  return 0;
}

PyObject* FileStream_repr(PyObject* self) {
  PyRef cls_name(PyObject_GetAttrString(
      reinterpret_cast<PyObject*>(Py_TYPE(self)), "__name__"));
  if (!cls_name) return nullptr;
  PyRef closed(PyObject_GetAttrString(self, "closed"));
  if (!closed) return nullptr;
  PyRef seekable(PyObject_GetAttrString(self, "seekable"));
  if (!seekable) return nullptr;
  FileStreamObject* stream = AsStream(self);
  return PyUnicode_FromFormat(
      "<pyorvik.%S closed=%S seekable=%S is_writable=%S is_readable=%S>",
      cls_name.get(), closed.get(), seekable.get(),
      stream->is_writable ? Py_True : Py_False,
      stream->is_readable ? Py_True : Py_False);
}

PyObject* FileStream_iter(PyObject* self) {
  if (Assert(self, kReadable) < 0) return nullptr;
  Py_INCREF(self);
  return self;
}

PyObject* FileStream_iternext(PyObject* self) {
  PyRef line(PyObject_CallMethod(self, "readline", nullptr));
  if (!line) return nullptr;
  int more = PyObject_IsTrue(line.get());
  if (more <= 0) return nullptr;
  return line.release();
}

// --- FileSystem.open -------------------------------------------------------

enum class OpenMode { kRead, kWrite, kAppend };

// -1 with the mode Exception set when mode is none of "rb", "wb", "ab".
int ParseMode(PyObject* mode, OpenMode* out) {
  static const struct {
    const char* text;
    OpenMode mode;
  } kModes[] = {{"rb", OpenMode::kRead},
                {"wb", OpenMode::kWrite},
                {"ab", OpenMode::kAppend}};
  for (const auto& candidate : kModes) {
    PyRef text(PyUnicode_FromString(candidate.text));
    if (!text) return -1;
    int equal = PyObject_RichCompareBool(mode, text.get(), Py_EQ);
    if (equal < 0) return -1;
    if (equal) {
      *out = candidate.mode;
      return 0;
    }
  }
  PyErr_SetString(PyExc_Exception, kModeMessage);
  return -1;
}

}  // namespace

namespace stream {

int Assert(PyObject* self, Check check) {
  static const char* const kNames[] = {"_assert_open", "_assert_readable",
                                       "_assert_writable", "_assert_seekable"};
  if (!IsExact(self)) {
    PyRef result(PyObject_CallMethod(self, kNames[check], nullptr));
    return result ? 0 : -1;
  }
  FileStreamObject* stream = AsStream(self);
  if (IsClosed(stream)) {
    PyErr_SetString(PyExc_ValueError, kClosedMessage);
    return -1;
  }
  const char* refusal = nullptr;
  if (check == kReadable && !stream->is_readable) {
    refusal = kNotReadable;
  } else if (check == kWritable && !stream->is_writable) {
    refusal = kNotWritable;
  } else if (check == kSeekable &&
             !(stream->is_readable && !stream->is_writable)) {
    refusal = kNotSeekable;
  }
  if (refusal != nullptr) {
    PyErr_SetString(PyExc_IOError, refusal);
    return -1;
  }
  return 0;
}

int Closed(PyObject* self) {
  return IsExact(self) ? IsClosed(AsStream(self)) : AttrTruth(self, "closed");
}

int Seekable(PyObject* self) {
  if (!IsExact(self)) return AttrTruth(self, "seekable");
  FileStreamObject* stream = AsStream(self);
  return stream->is_readable && !stream->is_writable;
}

PyObject* CallMethod(PyObject* self, const char* name,
                     PyObject* (*own)(PyObject*, PyObject*)) {
  if (IsExact(self)) return own(self, nullptr);
  return PyObject_CallMethod(self, name, nullptr);
}

}  // namespace stream

PyObject* FileSystem_open(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"path", "mode", "buffer_size", nullptr};
  PyObject* path_obj;
  PyObject* mode_obj = nullptr;
  PyObject* buffer_size_obj = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:open",
                                   const_cast<char**>(kwlist), &path_obj,
                                   &mode_obj, &buffer_size_obj)) {
    return nullptr;
  }
  PyRef stream_obj(PyObject_CallNoArgs(
      reinterpret_cast<PyObject*>(&FileStream_Type)));
  if (!stream_obj) return nullptr;
  OpenMode mode = OpenMode::kRead;
  if (mode_obj != nullptr && ParseMode(mode_obj, &mode) < 0) return nullptr;
  std::string path;
  if (!PathAsBytes(path_obj, &path)) return nullptr;
  int32_t buffer_size = 0;
  int wanted = PyObject_IsTrue(buffer_size_obj);
  if (wanted < 0) return nullptr;
  if (wanted && !ObjectAsInt32(buffer_size_obj, &buffer_size)) return nullptr;

  std::shared_ptr<OvkFileSystem> client =
      reinterpret_cast<FileSystemObject*>(self)->client;
  FileStreamObject* stream = AsStream(stream_obj.get());
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  switch (mode) {
    case OpenMode::kRead:
      status = client->openReader(path, &stream->reader);
      break;
    case OpenMode::kWrite:
      status = client->openWriter(path, &stream->writer);
      break;
    case OpenMode::kAppend:
      status = client->openAppender(path, &stream->writer);
      break;
  }
  Py_END_ALLOW_THREADS
  if (!status.ok()) {
    return RaiseStatus(status, StatusMapping::kNotFoundIsMissing);
  }
  stream->is_readable = mode == OpenMode::kRead;
  stream->is_writable = mode != OpenMode::kRead;
  stream->buffer_size = buffer_size != 0 ? buffer_size : kDefaultBufferSize;
  Py_INCREF(self);
  stream->filesystem = self;
  return stream_obj.release();
}

PyObject* FileSystem_call_open(PyObject* self, PyObject* path, PyObject* mode,
                               PyObject* buffer_size) {
  PyRef args(buffer_size != nullptr ? PyTuple_Pack(3, path, mode, buffer_size)
             : mode != nullptr      ? PyTuple_Pack(2, path, mode)
                                    : PyTuple_Pack(1, path));
  if (!args) return nullptr;
  PyRef override_fn(FindOverride(self, &FileSystem_Type, "open",
                                 OVK_METH(FileSystem_open)));
  if (override_fn) return PyObject_Call(override_fn.get(), args.get(), nullptr);
  if (PyErr_Occurred()) return nullptr;
  return FileSystem_open(self, args.get(), nullptr);
}

PyTypeObject FileStream_Type = [] {
  PyTypeObject type =
      NewStaticType("_fs.FileStream", sizeof(FileStreamObject));
  type.tp_flags |= Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_FINALIZE;
  type.tp_doc = "The class for file streams.";
  type.tp_base = &Weakrefable_Type;
  type.tp_new = FileStream_new;
  type.tp_dealloc = FileStream_dealloc;
  type.tp_finalize = FileStream_finalize;
  type.tp_traverse = FileStream_traverse;
  type.tp_free = PyObject_GC_Del;
  type.tp_repr = FileStream_repr;
  type.tp_iter = FileStream_iter;
  type.tp_iternext = FileStream_iternext;
  type.tp_methods = kFileStreamMethods;
  type.tp_getset = kFileStreamGetSet;
  return type;
}();

int FileStream_ExecTypes(PyObject* module) {
  if (ReadyAndPublishType(module, "FileStream", &FileStream_Type) < 0) {
    return -1;
  }
  return Transfers_ExecTypes(module);
}

int FileStream_ExecMembers(PyObject* module) {
  PyObject* type = reinterpret_cast<PyObject*>(&FileStream_Type);
  // A static type refuses attribute assignment; its dictionary does not.
  PyRef chunk(PyLong_FromLong(kDefaultChunkSize));
  if (!chunk || PyDict_SetItemString(FileStream_Type.tp_dict,
                                     "_default_chunk_size", chunk.get()) < 0) {
    return -1;
  }
  PyType_Modified(&FileStream_Type);
  PyRef base(PyObject_GetAttrString(module, "BufferedIOBase"));
  if (!base) return -1;
  PyRef registered(PyObject_CallMethod(base.get(), "register", "O", type));
  return registered ? 0 : -1;
}
