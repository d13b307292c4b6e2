// The text helpers of the _fs module: tobytes, frombytes and
// encode_file_path. UTF-8 is the one text encoding used anywhere in the
// module. All functions need the GIL and follow the CPython convention: a
// new reference, or nullptr with an exception set.
#ifndef PYORVIK_COMPAT_H_
#define PYORVIK_COMPAT_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// A method implementation of any CPython calling convention as the
// PyCFunction that method tables store.
#define OVK_METH(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))

// str (or subclass): its strict UTF-8 encoding; anything else: o itself.
PyObject* Compat_ToBytes(PyObject* o);
// o.decode("utf8"), or with safe o.decode("utf8", errors="replace").
PyObject* Compat_FromBytes(PyObject* o, bool safe);

// The Python-visible functions, bound on the module by its exec step.
extern PyMethodDef Compat_tobytes_def;
extern PyMethodDef Compat_frombytes_def;
extern PyMethodDef Compat_encode_file_path_def;

#endif  // PYORVIK_COMPAT_H_
