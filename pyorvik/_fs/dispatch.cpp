// Lookup of Python-level overrides for methods that the module's own native
// code calls.
#include "common.h"

PyObject* FindOverride(PyObject* self, PyTypeObject* own_type,
                       const char* name, PyCFunction impl) {
  // The exact type has no instance dictionary, so only a subclass (or an
  // attribute on a subclass instance) can replace the method.
  if (Py_TYPE(self) == own_type) return nullptr;
  PyRef attr(PyObject_GetAttrString(self, name));
  if (!attr) return nullptr;
  if (PyCFunction_Check(attr.get()) &&
      PyCFunction_GET_FUNCTION(attr.get()) == impl) {
    return nullptr;
  }
  return attr.release();
}
