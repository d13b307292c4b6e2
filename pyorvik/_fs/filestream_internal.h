// Internals shared by the sources of FileStream: filestream.cpp (the type,
// its checks and FileSystem.open) and filestream_io.cpp (the operations that
// reach the native reader or writer). All need the GIL.
#ifndef PYORVIK__FS_FILESTREAM_INTERNAL_H_
#define PYORVIK__FS_FILESTREAM_INTERNAL_H_

#include "filestream.h"

namespace stream {

inline constexpr char kClosedMessage[] = "I/O operation on closed file";
inline constexpr char kNotReadable[] = "only valid on readable files";
inline constexpr char kNotWritable[] = "only valid on writable files";
inline constexpr char kNotSeekable[] = "only valid on seekable files";

inline FileStreamObject* AsStream(PyObject* self) {
  return reinterpret_cast<FileStreamObject*>(self);
}

// Closed when the native object says so, or when there is none.
inline bool IsClosed(const FileStreamObject* stream) {
  if (stream->is_readable) {
    return stream->reader->closed() &&
           (!stream->is_writable || stream->writer->closed());
  }
  if (stream->is_writable) return stream->writer->closed();
  return true;
}

// Every lookup one operation makes on the stream itself goes through the
// object, so a subclass's override changes the others. On the exact type
// no lookup can find anything but the module's own functions (the type is
// static, so its attributes cannot be replaced, and instances have no
// dictionary): there the helpers below call those functions directly.
inline bool IsExact(PyObject* self) {
  return Py_TYPE(self) == &FileStream_Type;
}

enum Check { kOpen, kReadable, kWritable, kSeekable };

// self._assert_open() and its three siblings. -1 with an exception set.
int Assert(PyObject* self, Check check);
// The truth of self.closed and self.seekable. -1 with an exception set.
int Closed(PyObject* self);
int Seekable(PyObject* self);
// self.<name>(), where own is the module's method of that name.
PyObject* CallMethod(PyObject* self, const char* name,
                     PyObject* (*own)(PyObject*, PyObject*));

}  // namespace stream

// The methods of filestream_io.cpp, for the method table in filestream.cpp.
PyObject* FileStream_close(PyObject* self, PyObject* unused);
PyObject* FileStream_size(PyObject* self, PyObject* unused);
PyObject* FileStream_tell(PyObject* self, PyObject* unused);
PyObject* FileStream_flush(PyObject* self, PyObject* unused);
PyObject* FileStream_write(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* FileStream_writelines(PyObject* self, PyObject* args,
                                PyObject* kwargs);
PyObject* FileStream_read(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* FileStream_readall(PyObject* self, PyObject* unused);
PyObject* FileStream_pread(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* FileStream_seek(PyObject* self, PyObject* args, PyObject* kwargs);

#endif  // PYORVIK__FS_FILESTREAM_INTERNAL_H_
