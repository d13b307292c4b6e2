// The _fs extension module: multi-phase initialisation and the names it
// publishes.
//
// The module lives in one interpreter per process and is initialised once:
// the types are static, so a second module object (another interpreter, or
// a re-initialisation) would share them; both are refused instead.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common.h"
#include "filestream.h"

namespace {

// The module object after its exec step succeeded; owned, never released:
// re-importing after removal from sys.modules yields the same object.
PyObject* g_module = nullptr;
// The interpreter that first created the module, -1 before that.
int64_t g_interpreter_id = -1;

const char* const kBuiltinNames[] = {
    "ImportError", "MemoryError", "TypeError", "AssertionError", "ValueError",
    "IOError",     "StopIteration", "open",    "print"};
constexpr size_t kBuiltinCount = sizeof(kBuiltinNames) / sizeof(kBuiltinNames[0]);
PyObject* g_builtins[kBuiltinCount] = {};

int CopySpecAttribute(PyObject* spec, PyObject* module, const char* from,
                      const char* to, bool allow_none) {
  PyRef value(PyObject_GetAttrString(spec, from));
  if (!value) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    return 0;
  }
  if (!allow_none && value.get() == Py_None) return 0;
  return PyObject_SetAttrString(module, to, value.get());
}

PyObject* CreateModule(PyObject* spec, PyModuleDef*) {
  const int64_t current = PyInterpreterState_GetID(PyThreadState_Get()->interp);
  if (g_interpreter_id == -1) {
    g_interpreter_id = current;
    if (current == -1) return nullptr;
  } else if (current != g_interpreter_id) {
    PyErr_SetString(PyExc_ImportError,
                    "Interpreter change detected - this module can only be "
                    "loaded into one interpreter per process.");
    return nullptr;
  }
  if (g_module != nullptr) {
    Py_INCREF(g_module);
    return g_module;
  }
  PyRef name(PyObject_GetAttrString(spec, "name"));
  if (!name) return nullptr;
  PyRef module(PyModule_NewObject(name.get()));
  if (!module) return nullptr;
  if (CopySpecAttribute(spec, module.get(), "loader", "__loader__", true) < 0 ||
      CopySpecAttribute(spec, module.get(), "origin", "__file__", true) < 0 ||
      CopySpecAttribute(spec, module.get(), "parent", "__package__", true) < 0 ||
      CopySpecAttribute(spec, module.get(), "submodule_search_locations",
                        "__path__", false) < 0) {
    return nullptr;
  }
  return module.release();
}

// Steals value; publishes it as a module attribute.
int Publish(PyObject* module, const char* name, PyObject* value) {
  if (value == nullptr) return -1;
  const int rc = PyModule_AddObject(module, name, value);
  if (rc < 0) Py_DECREF(value);
  return rc;
}

int PublishFunction(PyObject* module, PyMethodDef* def) {
  PyRef module_name(PyModule_GetNameObject(module));
  if (!module_name) return -1;
  return Publish(module, def->ml_name,
                 PyCFunction_NewEx(def, nullptr, module_name.get()));
}

// `from <module_name> import <attr> as <alias>` for each pair.
int ImportNames(PyObject* module, const char* module_name,
                const char* const (*names)[2], size_t count) {
  PyRef imported(PyImport_ImportModule(module_name));
  if (!imported) return -1;
  for (size_t i = 0; i < count; ++i) {
    if (Publish(module, names[i][1],
                PyObject_GetAttrString(imported.get(), names[i][0])) < 0) {
      return -1;
    }
  }
  return 0;
}

int ImportModule(PyObject* module, const char* name) {
  return Publish(module, name, PyImport_ImportModule(name));
}

int WarnOnVersionMismatch() {
  int major = 0;
  int minor = 0;
  if (std::sscanf(Py_GetVersion(), "%d.%d", &major, &minor) != 2) return 0;
  if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return 0;
  char message[200];
  PyOS_snprintf(message, sizeof(message),
                "compile time Python version %d.%d of module '%.100s' %s "
                "runtime version %d.%d",
                PY_MAJOR_VERSION, PY_MINOR_VERSION, "_fs", "does not match",
                major, minor);
  return PyErr_WarnEx(nullptr, message, 1);
}

int LookupBuiltins() {
  PyObject* builtins = PyEval_GetBuiltins();
  for (size_t i = 0; i < kBuiltinCount; ++i) {
    PyObject* value = PyDict_GetItemString(builtins, kBuiltinNames[i]);
    if (value == nullptr) {
      PyErr_Format(PyExc_NameError, "name '%s' is not defined",
                   kBuiltinNames[i]);
      return -1;
    }
    Py_INCREF(value);
    Py_XSETREF(g_builtins[i], value);
  }
  return 0;
}

int PublishTypes(PyObject* module) {
  if (Weakrefable_Ready(module) < 0 || Config_Ready(module) < 0 ||
      FileInfo_Ready(module) < 0 || FileStream_ExecTypes(module) < 0 ||
      FileSystem_Ready(module) < 0) {
    return -1;
  }
  return 0;
}

int ImportStandardLibrary(PyObject* module) {
  static const char* const datetime_names[][2] = {{"datetime", "datetime"},
                                                  {"timezone", "timezone"}};
  static const char* const io_names[][2] = {
      {"BufferedIOBase", "BufferedIOBase"},
      {"IOBase", "IOBase"},
      {"TextIOBase", "TextIOBase"},
      {"UnsupportedOperation", "UnsupportedOperation"}};
  static const char* const queue_names[][2] = {{"Queue", "Queue"},
                                               {"Empty", "QueueEmpty"}};
  if (ImportNames(module, "datetime", datetime_names, 2) < 0 ||
      ImportModule(module, "time") < 0 || ImportModule(module, "warnings") < 0 ||
      ImportModule(module, "sys") < 0 || ImportModule(module, "threading") < 0 ||
      ImportNames(module, "io", io_names, 4) < 0 ||
      ImportNames(module, "queue", queue_names, 2) < 0) {
    return -1;
  }
  return 0;
}

// cloudpickle handles more kinds of objects; the standard module is the
// fallback when it is not installed.
PyObject* ImportPickle() {
  PyObject* cloudpickle = PyImport_ImportModule("cloudpickle");
  if (cloudpickle != nullptr) return cloudpickle;
  if (!PyErr_ExceptionMatches(PyExc_ImportError)) return nullptr;
  PyErr_Clear();
  return PyImport_ImportModule("pickle");
}

int BindHelpers(PyObject* module) {
  Py_INCREF(&PyDict_Type);
  if (PublishFunction(module, &Compat_encode_file_path_def) < 0 ||
      Publish(module, "ordered_dict",
              reinterpret_cast<PyObject*>(&PyDict_Type)) < 0 ||
      Publish(module, "pickle", ImportPickle()) < 0 ||
      PublishFunction(module, &Compat_tobytes_def) < 0 ||
      PublishFunction(module, &Compat_frombytes_def) < 0) {
    return -1;
  }
  return 0;
}

int BindMembers(PyObject* module) {
  if (FileInfo_BindHelpers(module) < 0 ||
      Publish(module, "DEFAULT_BUFFER_SIZE", PyLong_FromLong(65536)) < 0 ||
      FileStream_ExecMembers(module) < 0 ||
      FileSystem_BindConnect(module) < 0 ||
      Weakrefable_BindUnpickler(module) < 0) {
    return -1;
  }
  return 0;
}

int ExecModule(PyObject* module) {
  if (g_module != nullptr) {
    if (g_module == module) return 0;
    PyErr_SetString(PyExc_RuntimeError,
                    "Module '_fs' has already been imported. "
                    "Re-initialisation is not supported.");
    return -1;
  }
  if (WarnOnVersionMismatch() < 0 || LookupBuiltins() < 0 ||
      PublishTypes(module) < 0 || FileType_Create(module) < 0 ||
      ImportStandardLibrary(module) < 0 || BindHelpers(module) < 0 ||
      BindMembers(module) < 0 || FileInfo_BindDoctests(module) < 0) {
    return -1;
  }
  Py_INCREF(module);
  g_module = module;
  return 0;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(CreateModule)},
    {Py_mod_exec, reinterpret_cast<void*>(ExecModule)},
    {0, nullptr}};

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT, "_fs", nullptr, 0, nullptr, g_slots,
    nullptr,               nullptr, nullptr};

}  // namespace

PyTypeObject NewStaticType(const char* name, Py_ssize_t basicsize) {
  PyTypeObject type{};
  type.ob_base.ob_base.ob_refcnt = 1;
  type.tp_name = name;
  type.tp_basicsize = basicsize;
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  return type;
}

int ReadyAndPublishType(PyObject* module, const char* name,
                        PyTypeObject* type) {
  if (PyType_Ready(type) < 0) return -1;
  Py_INCREF(type);
  return Publish(module, name, reinterpret_cast<PyObject*>(type));
}

PyObject* FsGlobal(const char* name) {
  PyObject* module = g_module;
  if (module == nullptr) {
    PyErr_SetString(PyExc_ImportError, "module _fs is not initialised");
    return nullptr;
  }
  PyObject* value = PyDict_GetItemString(PyModule_GetDict(module), name);
  if (value == nullptr) {
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    return nullptr;
  }
  Py_INCREF(value);
  return value;
}

PyObject* FsBuiltin(const char* name) {
  for (size_t i = 0; i < kBuiltinCount; ++i) {
    if (std::strcmp(kBuiltinNames[i], name) == 0 && g_builtins[i] != nullptr) {
      Py_INCREF(g_builtins[i]);
      return g_builtins[i];
    }
  }
  PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
  return nullptr;
}

PyMODINIT_FUNC PyInit__fs(void) { return PyModuleDef_Init(&g_module_def); }
