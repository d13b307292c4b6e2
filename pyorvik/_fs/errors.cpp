// The one place where a failed OvkStatus becomes a Python exception, and the
// fixed pickling refusals.
#include "common.h"

PyObject* NewStatusException(const OvkStatus& status, PyObject* exc_type) {
  PyRef message(StringAsBytes(status.errMsg()));
  if (!message) return nullptr;
  return PyObject_CallFunctionObjArgs(exc_type, message.get(), nullptr);
}

PyObject* RaiseStatus(const OvkStatus& status, StatusMapping mapping) {
  PyObject* exc_type = PyExc_IOError;
  if (mapping == StatusMapping::kValueError) {
    exc_type = PyExc_ValueError;
  } else if (mapping == StatusMapping::kNotFoundIsMissing &&
             status.code() == OvkStatus::kNotFound) {
    exc_type = PyExc_FileNotFoundError;
  }
  // A one-argument OSError carries no errno, so the interpreter keeps the
  // type chosen here instead of picking a subclass of its own.
  PyRef exc(NewStatusException(status, exc_type));
  if (exc) PyErr_SetObject(exc_type, exc.get());
  return nullptr;
}

PyObject* RefuseReduce(PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError,
                  "no default __reduce__ due to non-trivial __cinit__");
  return nullptr;
}

PyObject* RefuseInfoReduce(PyObject*, PyObject*) {
  PyErr_SetString(
      PyExc_TypeError,
      "self.info cannot be converted to a Python object for pickling");
  return nullptr;
}
