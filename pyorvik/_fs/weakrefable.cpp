// _Weakrefable: the base of Config, FileInfo and FileStream, whose only
// state is the weak-reference list. Unlike its subclasses it can be
// pickled: the pickle names the type and carries the instance dictionary
// that a Python subclass may add.
#include <cstddef>

#include "common.h"

void Weakrefable_ClearWeakrefs(PyObject* self) {
  if (reinterpret_cast<WeakrefableObject*>(self)->weakreflist != nullptr) {
    PyObject_ClearWeakRefs(self);
  }
}

static void Weakrefable_dealloc(PyObject* self) {
  Weakrefable_ClearWeakrefs(self);
  Py_TYPE(self)->tp_free(self);
}

// The instance dictionary, or None when the instance has none.
static PyObject* InstanceDict(PyObject* self) {
  PyObject** dict_ptr = _PyObject_GetDictPtr(self);
  if (dict_ptr == nullptr || *dict_ptr == nullptr) Py_RETURN_NONE;
  Py_INCREF(*dict_ptr);
  return *dict_ptr;
}

static PyObject* Weakrefable_reduce(PyObject* self, PyObject*) {
  PyRef unpickle(FsGlobal("_unpickle_weakrefable"));
  if (!unpickle) return nullptr;
  PyRef state(InstanceDict(self));
  if (!state) return nullptr;
  return Py_BuildValue("O(OO)", unpickle.get(),
                       reinterpret_cast<PyObject*>(Py_TYPE(self)), state.get());
}

static PyObject* Weakrefable_setstate(PyObject* self, PyObject* state) {
  if (state == Py_None) Py_RETURN_NONE;
  PyRef dict(PyObject_GetAttrString(self, "__dict__"));
  if (!dict) {
    // An instance without a dictionary has nothing to restore.
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
    PyErr_Clear();
    Py_RETURN_NONE;
  }
  PyRef result(PyObject_CallMethod(dict.get(), "update", "O", state));
  if (!result) return nullptr;
  Py_RETURN_NONE;
}

// _unpickle_weakrefable(cls, state): a new cls made without its initialiser.
// Only _Weakrefable and its subclasses are made, so a crafted pickle cannot
// use this function to build arbitrary objects.
static PyObject* UnpickleWeakrefable(PyObject*, PyObject* args) {
  PyObject* cls = nullptr;
  PyObject* state = nullptr;
  if (!PyArg_ParseTuple(args, "OO:_unpickle_weakrefable", &cls, &state)) {
    return nullptr;
  }
  if (!PyType_Check(cls) ||
      !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls),
                        &Weakrefable_Type)) {
    PyErr_Format(PyExc_TypeError, "Expected _Weakrefable subclass, got %R",
                 cls);
    return nullptr;
  }
  PyTypeObject* type = reinterpret_cast<PyTypeObject*>(cls);
  PyRef empty(PyTuple_New(0));
  if (!empty) return nullptr;
  PyRef obj(type->tp_new(type, empty.get(), nullptr));
  if (!obj) return nullptr;
  PyRef restored(Weakrefable_setstate(obj.get(), state));
  if (!restored) return nullptr;
  return obj.release();
}

static PyMethodDef g_unpickle_def = {"_unpickle_weakrefable",
                                     OVK_METH(UnpickleWeakrefable),
                                     METH_VARARGS, nullptr};

static PyMethodDef Weakrefable_methods[] = {
    {"__reduce__", OVK_METH(Weakrefable_reduce), METH_NOARGS, nullptr},
    {"__setstate__", OVK_METH(Weakrefable_setstate), METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr}};

PyTypeObject Weakrefable_Type = [] {
  PyTypeObject type =
      NewStaticType("_fs._Weakrefable", sizeof(WeakrefableObject));
  type.tp_dealloc = Weakrefable_dealloc;
  type.tp_weaklistoffset = offsetof(WeakrefableObject, weakreflist);
  type.tp_methods = Weakrefable_methods;
  type.tp_new = PyType_GenericNew;
  return type;
}();

int Weakrefable_Ready(PyObject* module) {
  return ReadyAndPublishType(module, "_Weakrefable", &Weakrefable_Type);
}

int Weakrefable_BindUnpickler(PyObject* module) {
  PyRef module_name(PyModule_GetNameObject(module));
  if (!module_name) return -1;
  PyObject* fn = PyCFunction_NewEx(&g_unpickle_def, nullptr, module_name.get());
  if (fn == nullptr) return -1;
  if (PyModule_AddObject(module, "_unpickle_weakrefable", fn) < 0) {
    Py_DECREF(fn);
    return -1;
  }
  return 0;
}
