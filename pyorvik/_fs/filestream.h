// FileStream: the Python binary stream over one open file of the store, and
// FileSystem.open, the only way to get a usable one.
//
// A stream owns exactly one native reader or writer, attached at open and
// released at deallocation, and a strong reference to the FileSystem that
// opened it, so the store under an open stream is never destroyed. The
// stream adds no lock: calls from several Python threads reach the native
// object concurrently (the reader serialises its sequential reads).
#ifndef PYORVIK__FS_FILESTREAM_H_
#define PYORVIK__FS_FILESTREAM_H_

#include <Python.h>

#include <cstdint>
#include <memory>

#include "OvkReader.h"
#include "OvkWriter.h"
#include "common.h"

struct FileStreamObject {
  WeakrefableObject base;
  std::unique_ptr<OvkReader> reader;  // set once by open("rb")
  std::unique_ptr<OvkWriter> writer;  // set once by open("wb"/"ab")
  bool is_readable;
  bool is_writable;
  int32_t buffer_size;                // reported only, never used for I/O
  PyObject* filesystem;               // owned; keeps the store alive
};

extern PyTypeObject FileStream_Type;

// Readies FileStream (and the transfers' internal types) and publishes
// FileStream on the module. Returns -1 with an exception set on failure.
int FileStream_ExecTypes(PyObject* module);

// Sets FileStream._default_chunk_size and registers FileStream with
// io.BufferedIOBase (taken from the module's globals). -1 on failure.
int FileStream_ExecMembers(PyObject* module);

// FileSystem.open(path, mode='rb', buffer_size=None): the native-table
// method of FileSystem. self must be a FileSystem.
PyObject* FileSystem_open(PyObject* self, PyObject* args, PyObject* kwargs);

// open through the override check: a Python-level open that replaces the
// module's own is called instead. mode and buffer_size may be nullptr, and
// are then left out of the call (so the callee's defaults apply).
PyObject* FileSystem_call_open(PyObject* self, PyObject* path, PyObject* mode,
                               PyObject* buffer_size);

// The native reader of self, a FileStream, after self._assert_readable()
// (looked up on the object, so a subclass's override runs). NULL with an
// exception set when the check fails.
OvkReader* FileStream_GetReader(PyObject* self);

#endif  // PYORVIK__FS_FILESTREAM_H_
