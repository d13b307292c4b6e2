// Whole-file transfers: FileStream.download / FileStream.upload, which
// overlap reading with writing through a background writer thread fed by a
// bounded queue, and FileSystem.download / upload / copy_file on top of them.
//
// Every transfer either completes or raises: a failure on the writer thread
// (a destination whose write or close raises) reaches the caller as that
// exception, and the writer thread has always ended before the call
// returns or raises, so no caller closes a destination under it.
#ifndef PYORVIK__FS_TRANSFERS_H_
#define PYORVIK__FS_TRANSFERS_H_

#include <Python.h>

// FileStream methods: download(stream_or_path, buffer_size=None) and
// upload(stream, buffer_size=None).
PyObject* FileStream_download(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* FileStream_upload(PyObject* self, PyObject* args, PyObject* kwargs);

// FileSystem methods: download(path, stream, buffer_size=None),
// upload(path, stream, buffer_size=None), copy_file(src, dest,
// buffer_size=None). self must be a FileSystem.
PyObject* FileSystem_download(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* FileSystem_upload(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* FileSystem_copy_file(PyObject* self, PyObject* args,
                               PyObject* kwargs);

// Readies the internal type whose instances are the writer threads'
// targets. It is not published on the module. -1 on failure.
int Transfers_ExecTypes(PyObject* module);

#endif  // PYORVIK__FS_TRANSFERS_H_
