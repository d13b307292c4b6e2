// FileSystem: one connection to a store, from construction through
// _connect to teardown, and the module function connect().
//
// Connection and teardown hold the GIL for their whole native call, so no
// other thread uses the native client while it is being connected or
// destroyed. The namespace methods live in namespace.cpp.
#include <new>
#include <utility>

#include "common.h"
#include "filestream.h"
#include "transfers.h"

namespace {

FileSystemObject* AsFileSystem(PyObject* self) {
  return reinterpret_cast<FileSystemObject*>(self);
}

PyObject* FileSystem_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyRef self(type->tp_alloc(type, 0));
  if (!self) return nullptr;
  FileSystemObject* fs = AsFileSystem(self.get());
  new (&fs->client) std::shared_ptr<OvkFileSystem>();
  new (&fs->uri) std::string();
  new (&fs->user) std::string();
  new (&fs->config) std::shared_ptr<OvkConfig>();
  try {
    fs->client = std::make_shared<OvkFileSystem>();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  return self.release();
}

void FileSystem_dealloc(PyObject* self) {
  FileSystemObject* fs = AsFileSystem(self);
  PyObject* saved_type = nullptr;
  PyObject* saved_value = nullptr;
  PyObject* saved_traceback = nullptr;
  PyErr_Fetch(&saved_type, &saved_value, &saved_traceback);
  if (fs->client) {
    const OvkStatus status = fs->client->destroy();
    if (status.ok()) {
      fs->client.reset();
    } else {
      PyRef exc(NewStatusException(status, PyExc_Exception));
      PyRef context(PyUnicode_FromString("_fs.FileSystem.__dealloc__"));
      if (exc) {
        PyErr_SetObject(PyExc_Exception, exc.get());
      }
      PyErr_WriteUnraisable(context.get());
    }
  }
  fs->client.~shared_ptr();
  fs->uri.~basic_string();
  fs->user.~basic_string();
  fs->config.~shared_ptr();
  PyErr_Restore(saved_type, saved_value, saved_traceback);
  Py_TYPE(self)->tp_free(self);
}

// The body of _connect once the arguments are unpacked.
PyObject* Connect(PyObject* self, PyObject* uri, PyObject* user,
                  PyObject* config) {
  if (config != Py_None && !PyObject_TypeCheck(config, &Config_Type)) {
    PyErr_Format(PyExc_TypeError,
                 "Argument '%.200s' has incorrect type (expected %.200s, got "
                 "%.200s)",
                 "config", Config_Type.tp_name, Py_TYPE(config)->tp_name);
    return nullptr;
  }
  FileSystemObject* fs = AsFileSystem(self);
  std::string uri_bytes;
  if (!PathAsBytes(uri, &uri_bytes)) return nullptr;
  fs->uri = std::move(uri_bytes);
  if (fs->uri.empty()) {
    PyErr_SetString(PyExc_Exception, "uri shouldn't empty");
    return nullptr;
  }
  // A missing user connects as the empty user name, which the SDK accepts.
  std::string user_bytes;
  if (user != Py_None && !NameAsString(user, &user_bytes)) return nullptr;
  fs->user = std::move(user_bytes);
  // A missing Config connects with an empty map; the field keeps that map
  // so that the transfers always have one to read.
  if (config == Py_None) {
    try {
      fs->config = std::make_shared<OvkConfig>();
    } catch (const std::bad_alloc&) {
      return PyErr_NoMemory();
    }
  } else {
    fs->config = Config_unwrap(config);
  }
  const OvkStatus status = fs->client->init(fs->uri, fs->user, fs->config);
  if (!status.ok()) return RaiseStatus(status, StatusMapping::kValueError);
  Py_RETURN_TRUE;
}

PyObject* FileSystem__connect(PyObject* self, PyObject* args, PyObject* kwds) {
  static const char* kwlist[] = {"uri", "user", "config", nullptr};
  PyObject* uri = nullptr;
  PyObject* user = Py_None;
  PyObject* config = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "|OOO:_connect",
                                   const_cast<char**>(kwlist), &uri, &user,
                                   &config)) {
    return nullptr;
  }
  PyRef empty_uri;
  if (uri == nullptr) {
    empty_uri.reset(PyUnicode_FromString(""));
    if (!empty_uri) return nullptr;
    uri = empty_uri.get();
  }
  return Connect(self, uri, user, config);
}

// Runs the connection inside warnings.catch_warnings() with every warning
// ignored; the caller's filters come back also when the connection fails.
PyObject* ConnectIgnoringWarnings(PyObject* uri, PyObject* user,
                                  PyObject* config) {
  PyRef warnings(FsGlobal("warnings"));
  if (!warnings) return nullptr;
  PyRef guard(PyObject_CallMethod(warnings.get(), "catch_warnings", nullptr));
  if (!guard) return nullptr;
  PyRef entered(PyObject_CallMethod(guard.get(), "__enter__", nullptr));
  if (!entered) return nullptr;

  PyRef fs;
  PyRef ignored(PyObject_CallMethod(warnings.get(), "simplefilter", "s",
                                    "ignore"));
  if (ignored) {
    fs.reset(FileSystem_new(&FileSystem_Type, nullptr, nullptr));
  }
  if (fs && config != Py_None && !PyObject_TypeCheck(config, &Config_Type)) {
    PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s",
                 Py_TYPE(config)->tp_name, Config_Type.tp_name);
    fs.reset();
  }
  if (fs) {
    PyRef connected(FileSystem_call_connect(fs.get(), uri, user, config));
    if (!connected) fs.reset();
  }

  PyObject* exc_type = nullptr;
  PyObject* exc_value = nullptr;
  PyObject* exc_traceback = nullptr;
  PyErr_Fetch(&exc_type, &exc_value, &exc_traceback);
  PyErr_NormalizeException(&exc_type, &exc_value, &exc_traceback);
  PyRef exited(PyObject_CallMethod(
      guard.get(), "__exit__", "OOO", exc_type ? exc_type : Py_None,
      exc_value ? exc_value : Py_None, exc_traceback ? exc_traceback : Py_None));
  if (!exited) {
    Py_XDECREF(exc_type);
    Py_XDECREF(exc_value);
    Py_XDECREF(exc_traceback);
    return nullptr;
  }
  PyErr_Restore(exc_type, exc_value, exc_traceback);
  return fs.release();
}

PyObject* ModuleConnect(PyObject*, PyObject* args, PyObject* kwds) {
  static const char* kwlist[] = {"uri", "user", "config", nullptr};
  PyObject* uri = nullptr;
  PyObject* user = Py_None;
  PyObject* config = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "|OOO:connect",
                                   const_cast<char**>(kwlist), &uri, &user,
                                   &config)) {
    return nullptr;
  }
  PyRef empty_uri;
  if (uri == nullptr) {
    empty_uri.reset(PyUnicode_FromString(""));
    if (!empty_uri) return nullptr;
    uri = empty_uri.get();
  }
  return ConnectIgnoringWarnings(uri, user, config);
}

PyMethodDef g_connect_def = {"connect", OVK_METH(ModuleConnect),
                             METH_VARARGS | METH_KEYWORDS, nullptr};

constexpr int kArgs = METH_VARARGS | METH_KEYWORDS;

PyMethodDef FileSystem_methods[] = {
    {"_connect", OVK_METH(FileSystem__connect), kArgs, nullptr},
    {"mkdir", OVK_METH(FileSystem_mkdir), kArgs, nullptr},
    {"remove", OVK_METH(FileSystem_remove), kArgs, nullptr},
    {"rename", OVK_METH(FileSystem_rename), kArgs, nullptr},
    {"get_file_info", OVK_METH(FileSystem_get_file_info), kArgs, nullptr},
    {"exists", OVK_METH(FileSystem_exists), kArgs, nullptr},
    {"listdir", OVK_METH(FileSystem_listdir), kArgs, nullptr},
    {"chmod", OVK_METH(FileSystem_chmod), kArgs, FileSystem_chmod_doc},
    {"chown", OVK_METH(FileSystem_chown), kArgs, FileSystem_chown_doc},
    {"open", OVK_METH(FileSystem_open), kArgs, nullptr},
    {"download", OVK_METH(FileSystem_download), kArgs, nullptr},
    {"upload", OVK_METH(FileSystem_upload), kArgs, nullptr},
    {"copy_file", OVK_METH(FileSystem_copy_file), kArgs, nullptr},
    OVK_REFUSE_PICKLING_METHODS(RefuseReduce),
    {nullptr, nullptr, 0, nullptr}};

}  // namespace

PyTypeObject FileSystem_Type = [] {
  PyTypeObject type =
      NewStaticType("_fs.FileSystem", sizeof(FileSystemObject));
  type.tp_new = FileSystem_new;
  type.tp_dealloc = FileSystem_dealloc;
  type.tp_methods = FileSystem_methods;
  return type;
}();

FileSystemNativeMethods FileSystem_native_methods = {
    FileSystem_wrap,          FileSystem_unwrap,
    FileSystem_unwrap_safe,   FileSystem_call_connect,
    FileSystem_call_mkdir,    FileSystem_call_remove,
    FileSystem_call_rename,   FileSystem_call_get_file_info,
    FileSystem_call_exists,   FileSystem_call_listdir,
    FileSystem_call_open};

int FileSystem_Ready(PyObject* module) {
  if (PyType_Ready(&FileSystem_Type) < 0) return -1;
  PyRef capsule(PyCapsule_New(&FileSystem_native_methods,
                              "pyorvik._fs.FileSystem._native_methods",
                              nullptr));
  if (!capsule ||
      PyDict_SetItemString(FileSystem_Type.tp_dict, "_native_methods",
                           capsule.get()) < 0) {
    return -1;
  }
  PyType_Modified(&FileSystem_Type);
  return ReadyAndPublishType(module, "FileSystem", &FileSystem_Type);
}

int FileSystem_BindConnect(PyObject* module) {
  PyRef module_name(PyModule_GetNameObject(module));
  if (!module_name) return -1;
  PyObject* fn = PyCFunction_NewEx(&g_connect_def, nullptr, module_name.get());
  if (fn == nullptr) return -1;
  if (PyModule_AddObject(module, "connect", fn) < 0) {
    Py_DECREF(fn);
    return -1;
  }
  return 0;
}

PyObject* FileSystem_wrap(std::shared_ptr<OvkFileSystem> client) {
  // Every method dereferences the client; a FileSystem never holds none.
  if (!client) {
    PyErr_SetString(PyExc_ValueError, "FileSystem needs a native client");
    return nullptr;
  }
  PyObject* self = FileSystem_new(&FileSystem_Type, nullptr, nullptr);
  if (self != nullptr) AsFileSystem(self)->client = std::move(client);
  return self;
}

std::shared_ptr<OvkFileSystem> FileSystem_unwrap(PyObject* self) {
  return AsFileSystem(self)->client;
}

std::shared_ptr<OvkFileSystem> FileSystem_unwrap_safe(PyObject* obj) {
  if (!PyObject_TypeCheck(obj, &FileSystem_Type)) {
    PyErr_Format(PyExc_TypeError, "Expected FileSystem instance, got %S",
                 reinterpret_cast<PyObject*>(Py_TYPE(obj)));
    return nullptr;
  }
  return FileSystem_unwrap(obj);
}

PyObject* FileSystem_call_connect(PyObject* self, PyObject* uri,
                                  PyObject* user, PyObject* config) {
  PyRef override_fn(FindOverride(self, &FileSystem_Type, "_connect",
                                 OVK_METH(FileSystem__connect)));
  if (override_fn) {
    return PyObject_CallFunctionObjArgs(override_fn.get(), uri, user, config,
                                        nullptr);
  }
  if (PyErr_Occurred()) return nullptr;
  return Connect(self, uri, user, config);
}
