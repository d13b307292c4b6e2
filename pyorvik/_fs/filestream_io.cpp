// The operations of FileStream that reach its native reader or writer. Each
// runs its checks and converts its arguments first, then makes one native
// call with the interpreter lock released, touching no Python object.
#include <string_view>
#include <utility>

#include "filestream_internal.h"

using stream::AsStream;
using stream::Assert;

namespace {

PyObject* RaiseIOError(const OvkStatus& status) {
  return RaiseStatus(status, StatusMapping::kIOError);
}

// A subclass may override the checks so that they pass on a stream that
// was never opened: that stream has no native object and counts as closed.
template <typename Native>
Native* Present(Native* native) {
  if (native == nullptr) {
    PyErr_SetString(PyExc_ValueError, stream::kClosedMessage);
  }
  return native;
}

OvkWriter* GetWriter(PyObject* self) {
  if (Assert(self, stream::kWritable) < 0) return nullptr;
  return Present(AsStream(self)->writer.get());
}

// Completes a read into `result`, a bytes object of `count` bytes that the
// native call filled up to view.size(). End of file is not an error: the
// result is shrunk to what was read. Steals `result`.
PyObject* FinishRead(PyRef result, int64_t count, const OvkStatus& status,
                     std::string_view view) {
  if (!status.ok() && !isEndOfFile(status)) return RaiseIOError(status);
  if (static_cast<int64_t>(view.size()) < count) {
    PyObject* raw = result.release();
    if (_PyBytes_Resize(&raw, static_cast<Py_ssize_t>(view.size())) < 0) {
      return nullptr;
    }
    result.reset(raw);
  }
  return result.release();
}

// Reads count bytes at the sequential position into a new bytes object.
PyObject* ReadCount(PyObject* self, int64_t count) {
  OvkReader* reader = FileStream_GetReader(self);
  if (reader == nullptr) return nullptr;
  // A negative count fails here, in the allocation, before any native call.
  PyRef result(
      PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count)));
  if (!result) return nullptr;
  char* buffer = PyBytes_AS_STRING(result.get());
  std::string_view view;
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  status = reader->read(static_cast<uint64_t>(count), &view, buffer);
  Py_END_ALLOW_THREADS
  return FinishRead(std::move(result), count, status, view);
}

// read() on a stream that is not seekable: chunks of _default_chunk_size
// until an empty one, joined.
PyObject* ReadChunksToEnd(PyObject* self) {
  PyRef chunk_size(PyObject_GetAttrString(self, "_default_chunk_size"));
  if (!chunk_size) return nullptr;
  PyRef pieces(PyList_New(0));
  if (!pieces) return nullptr;
  for (;;) {
    PyRef piece(PyObject_CallMethod(self, "read", "O", chunk_size.get()));
    if (!piece) return nullptr;
    int more = PyObject_IsTrue(piece.get());
    if (more < 0) return nullptr;
    if (!more) break;
    if (PyList_Append(pieces.get(), piece.get()) < 0) return nullptr;
  }
  PyRef empty(PyBytes_FromStringAndSize(nullptr, 0));
  if (!empty) return nullptr;
  return PyObject_CallMethod(empty.get(), "join", "O", pieces.get());
}

// Takes any object with a contiguous buffer; the buffer stays exported (so
// a bytearray cannot be resized) while the native write runs without the
// interpreter lock.
PyObject* WriteData(PyObject* self, PyObject* data) {
  OvkWriter* writer = GetWriter(self);
  if (writer == nullptr) return nullptr;
  Py_buffer view;
  if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) return nullptr;
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  status = writer->write(std::string_view(static_cast<const char*>(view.buf),
                                          static_cast<size_t>(view.len)));
  Py_END_ALLOW_THREADS
  PyBuffer_Release(&view);
  if (!status.ok()) return RaiseIOError(status);
  Py_RETURN_NONE;
}

}  // namespace

PyObject* FileStream_close(PyObject* self, PyObject*) {
  int closed = stream::Closed(self);
  if (closed < 0) return nullptr;
  if (closed) Py_RETURN_NONE;
  FileStreamObject* stream = AsStream(self);
  OvkStatus status;
  if (stream->is_readable) {
    OvkReader* reader = stream->reader.get();
    Py_BEGIN_ALLOW_THREADS
    status = reader->close();
    Py_END_ALLOW_THREADS
  } else if (stream->is_writable) {
    OvkWriter* writer = stream->writer.get();
    Py_BEGIN_ALLOW_THREADS
    status = writer->close();
    Py_END_ALLOW_THREADS
  }
  // A failed close leaves the native stream open, so close() may be retried.
  if (!status.ok()) return RaiseIOError(status);
  Py_RETURN_NONE;
}

PyObject* FileStream_size(PyObject* self, PyObject*) {
  OvkReader* reader = FileStream_GetReader(self);
  if (reader == nullptr) return nullptr;
  int64_t length = 0;
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  status = reader->getFileLength(length);
  Py_END_ALLOW_THREADS
  if (!status.ok()) return RaiseIOError(status);
  return PyLong_FromLongLong(length);
}

PyObject* FileStream_tell(PyObject* self, PyObject*) {
  FileStreamObject* stream = AsStream(self);
  int64_t position = 0;
  OvkStatus status;
  if (stream->is_readable) {
    OvkReader* reader = FileStream_GetReader(self);
    if (reader == nullptr) return nullptr;
    Py_BEGIN_ALLOW_THREADS
    status = reader->tell(position);
    Py_END_ALLOW_THREADS
  } else {
    OvkWriter* writer = GetWriter(self);
    if (writer == nullptr) return nullptr;
    Py_BEGIN_ALLOW_THREADS
    status = writer->tell(position);
    Py_END_ALLOW_THREADS
  }
  if (!status.ok()) return RaiseIOError(status);
  return PyLong_FromLongLong(position);
}

PyObject* FileStream_flush(PyObject* self, PyObject*) {
  if (Assert(self, stream::kOpen) < 0) return nullptr;
  if (!AsStream(self)->is_writable) Py_RETURN_NONE;
  OvkWriter* writer = GetWriter(self);
  if (writer == nullptr) return nullptr;
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  status = writer->flush();
  Py_END_ALLOW_THREADS
  if (!status.ok()) return RaiseIOError(status);
  Py_RETURN_NONE;
}

PyObject* FileStream_write(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"data", nullptr};
  PyObject* data;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:write",
                                   const_cast<char**>(kwlist), &data)) {
    return nullptr;
  }
  return WriteData(self, data);
}

PyObject* FileStream_read(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"nbytes", nullptr};
  PyObject* nbytes = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:read",
                                   const_cast<char**>(kwlist), &nbytes)) {
    return nullptr;
  }
  if (Assert(self, stream::kReadable) < 0) return nullptr;
  int64_t count = 0;
  if (nbytes == Py_None) {
    int seekable = stream::Seekable(self);
    if (seekable < 0) return nullptr;
    if (!seekable) return ReadChunksToEnd(self);
    PyRef size(stream::CallMethod(self, "size", FileStream_size));
    if (!size) return nullptr;
    PyRef position(stream::CallMethod(self, "tell", FileStream_tell));
    if (!position) return nullptr;
    PyRef remaining(PyNumber_Subtract(size.get(), position.get()));
    if (!remaining || !ObjectAsInt64(remaining.get(), &count)) return nullptr;
  } else if (!ObjectAsInt64(nbytes, &count)) {
    return nullptr;
  }
  return ReadCount(self, count);
}

PyObject* FileStream_readall(PyObject* self, PyObject*) {
  return PyObject_CallMethod(self, "read", nullptr);
}

PyObject* FileStream_pread(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"nbytes", "offset", nullptr};
  PyObject *nbytes_obj, *offset_obj;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:pread",
                                   const_cast<char**>(kwlist), &nbytes_obj,
                                   &offset_obj)) {
    return nullptr;
  }
  int64_t count = 0, offset = 0;
  if (!ObjectAsInt64(nbytes_obj, &count) ||
      !ObjectAsInt64(offset_obj, &offset)) {
    return nullptr;
  }
  OvkReader* reader = FileStream_GetReader(self);
  if (reader == nullptr) return nullptr;
  PyRef result(
      PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count)));
  if (!result) return nullptr;
  char* buffer = PyBytes_AS_STRING(result.get());
  std::string_view view;
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  status = reader->pread(offset, static_cast<uint64_t>(count), &view, buffer);
  Py_END_ALLOW_THREADS
  return FinishRead(std::move(result), count, status, view);
}

PyObject* FileStream_seek(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"position", "whence", nullptr};
  PyObject* position_obj;
  PyObject* whence_obj = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:seek",
                                   const_cast<char**>(kwlist), &position_obj,
                                   &whence_obj)) {
    return nullptr;
  }
  int64_t position = 0;
  int32_t whence = 0;
  if (!ObjectAsInt64(position_obj, &position)) return nullptr;
  if (whence_obj != nullptr && !ObjectAsInt32(whence_obj, &whence)) {
    return nullptr;
  }
  if (Assert(self, stream::kSeekable) < 0) return nullptr;
  if (AsStream(self)->is_readable) {
    OvkReader* reader = FileStream_GetReader(self);
    if (reader == nullptr) return nullptr;
    if (whence < 0 || whence > 2) {
      return PyErr_Format(PyExc_ValueError, "Invalid value of whence: %d",
                          static_cast<int>(whence));
    }
    OvkStatus status;
    bool overflow = false;
    Py_BEGIN_ALLOW_THREADS
    int64_t base = 0;
    if (whence == 1) {
      status = reader->tell(base);
    } else if (whence == 2) {
      status = reader->getFileLength(base);
    }
    int64_t target = 0;
    if (status.ok()) {
      overflow = __builtin_add_overflow(position, base, &target);
      if (!overflow) status = reader->seek(target);
    }
    Py_END_ALLOW_THREADS
    if (overflow) {
      PyErr_SetString(PyExc_OverflowError, "seek position out of range");
      return nullptr;
    }
    if (!status.ok()) return RaiseIOError(status);
  }
  return stream::CallMethod(self, "tell", FileStream_tell);
}

PyObject* FileStream_writelines(PyObject* self, PyObject* args,
                                PyObject* kwargs) {
  static const char* kwlist[] = {"lines", nullptr};
  PyObject* lines;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:writelines",
                                   const_cast<char**>(kwlist), &lines)) {
    return nullptr;
  }
  if (Assert(self, stream::kWritable) < 0) return nullptr;
  PyRef iterator(PyObject_GetIter(lines));
  if (!iterator) return nullptr;
  while (PyRef line{PyIter_Next(iterator.get())}) {
    PyRef written(stream::IsExact(self)
                      ? WriteData(self, line.get())
                      : PyObject_CallMethod(self, "write", "O", line.get()));
    if (!written) return nullptr;
  }
  if (PyErr_Occurred()) return nullptr;
  Py_RETURN_NONE;
}

OvkReader* FileStream_GetReader(PyObject* self) {
  if (Assert(self, stream::kReadable) < 0) return nullptr;
  return Present(AsStream(self)->reader.get());
}

