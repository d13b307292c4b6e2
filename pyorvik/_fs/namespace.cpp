// The namespace methods of FileSystem: convert the arguments with the GIL
// held, make one blocking call of the native client with the GIL released
// (touching no Python object), then build the result or raise.
#include <utility>
#include <vector>

#include "common.h"

namespace {

OvkFileSystem* Client(PyObject* self) {
  return reinterpret_cast<FileSystemObject*>(self)->client.get();
}

PyObject* BoolResult(const OvkStatus& status) {
  if (!status.ok()) return RaiseStatus(status, StatusMapping::kIOError);
  Py_RETURN_TRUE;
}

PyObject* DoMkdir(PyObject* self, PyObject* path_obj, bool recursive) {
  std::string path;
  if (!PathAsBytes(path_obj, &path)) return nullptr;
  OvkFileSystem* client = Client(self);
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  status = client->mkdir(path, recursive);
  Py_END_ALLOW_THREADS
  return BoolResult(status);
}

PyObject* DoRemove(PyObject* self, PyObject* path_obj, bool recursive) {
  std::string path;
  if (!PathAsBytes(path_obj, &path)) return nullptr;
  OvkFileSystem* client = Client(self);
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  status = client->remove(path, recursive);
  Py_END_ALLOW_THREADS
  return BoolResult(status);
}

PyObject* DoRename(PyObject* self, PyObject* src_obj, PyObject* dst_obj) {
  std::string src;
  std::string dst;
  if (!PathAsBytes(src_obj, &src) || !PathAsBytes(dst_obj, &dst)) {
    return nullptr;
  }
  OvkFileSystem* client = Client(self);
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  status = client->rename(src, dst);
  Py_END_ALLOW_THREADS
  return BoolResult(status);
}

PyObject* DoGetFileInfo(PyObject* self, PyObject* path_obj) {
  std::string path;
  if (!PathAsBytes(path_obj, &path)) return nullptr;
  OvkFileSystem* client = Client(self);
  OvkFileInfo info;
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  status = client->getFileInfo(path, &info);
  Py_END_ALLOW_THREADS
  if (!status.ok()) {
    return RaiseStatus(status, StatusMapping::kNotFoundIsMissing);
  }
  return FileInfo_wrap(std::move(info));
}

PyObject* DoExists(PyObject* self, PyObject* path_obj) {
  std::string path;
  if (!PathAsBytes(path_obj, &path)) return nullptr;
  OvkFileSystem* client = Client(self);
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  status = client->exists(path);
  Py_END_ALLOW_THREADS
  if (status.ok()) Py_RETURN_TRUE;
  if (status.code() == OvkStatus::kNotFound) Py_RETURN_FALSE;
  return RaiseStatus(status, StatusMapping::kIOError);
}

PyObject* DoListdir(PyObject* self, PyObject* path_obj, bool recursive) {
  std::string path;
  if (!PathAsBytes(path_obj, &path)) return nullptr;
  OvkFileSystem* client = Client(self);
  std::vector<OvkFileInfo> entries;
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  OvkListResult result;
  status = client->listDir(path, recursive, &result);
  entries = std::move(result.entries);
  Py_END_ALLOW_THREADS
  if (!status.ok()) {
    return RaiseStatus(status, StatusMapping::kNotFoundIsMissing);
  }
  PyRef list(PyList_New(static_cast<Py_ssize_t>(entries.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < entries.size(); ++i) {
    PyObject* info = FileInfo_wrap(std::move(entries[i]));
    if (info == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), info);
  }
  return list.release();
}

// Parses (path, recursive=<default>) and judges recursive by its truth.
bool ParsePathRecursive(PyObject* args, PyObject* kwds, const char* format,
                        bool default_recursive, PyObject** path,
                        bool* recursive) {
  static const char* kwlist[] = {"path", "recursive", nullptr};
  PyObject* recursive_obj = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, format,
                                   const_cast<char**>(kwlist), path,
                                   &recursive_obj)) {
    return false;
  }
  *recursive = default_recursive;
  return recursive_obj == nullptr || ObjectAsBool(recursive_obj, recursive);
}

bool ParsePath(PyObject* args, PyObject* kwds, const char* format,
               PyObject** path) {
  static const char* kwlist[] = {"path", nullptr};
  return PyArg_ParseTupleAndKeywords(args, kwds, format,
                                     const_cast<char**>(kwlist), path) != 0;
}

// Steals result (a method's return value, or nullptr on error) and gives
// its truth value: 1, 0, or -1 with an exception set.
int TruthOf(PyObject* result) {
  if (result == nullptr) return -1;
  PyRef owned(result);
  return PyObject_IsTrue(result);
}

}  // namespace

PyObject* FileSystem_mkdir(PyObject* self, PyObject* args, PyObject* kwds) {
  PyObject* path = nullptr;
  bool recursive = true;
  if (!ParsePathRecursive(args, kwds, "O|O:mkdir", true, &path, &recursive)) {
    return nullptr;
  }
  return DoMkdir(self, path, recursive);
}

PyObject* FileSystem_remove(PyObject* self, PyObject* args, PyObject* kwds) {
  PyObject* path = nullptr;
  bool recursive = true;
  if (!ParsePathRecursive(args, kwds, "O|O:remove", true, &path, &recursive)) {
    return nullptr;
  }
  return DoRemove(self, path, recursive);
}

PyObject* FileSystem_rename(PyObject* self, PyObject* args, PyObject* kwds) {
  static const char* kwlist[] = {"src", "dst", nullptr};
  PyObject* src = nullptr;
  PyObject* dst = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "OO:rename",
                                   const_cast<char**>(kwlist), &src, &dst)) {
    return nullptr;
  }
  return DoRename(self, src, dst);
}

PyObject* FileSystem_get_file_info(PyObject* self, PyObject* args,
                                   PyObject* kwds) {
  PyObject* path = nullptr;
  if (!ParsePath(args, kwds, "O:get_file_info", &path)) return nullptr;
  return DoGetFileInfo(self, path);
}

PyObject* FileSystem_exists(PyObject* self, PyObject* args, PyObject* kwds) {
  PyObject* path = nullptr;
  if (!ParsePath(args, kwds, "O:exists", &path)) return nullptr;
  return DoExists(self, path);
}

PyObject* FileSystem_listdir(PyObject* self, PyObject* args, PyObject* kwds) {
  PyObject* path = nullptr;
  bool recursive = false;
  if (!ParsePathRecursive(args, kwds, "O|O:listdir", false, &path,
                          &recursive)) {
    return nullptr;
  }
  return DoListdir(self, path, recursive);
}

PyObject* FileSystem_chmod(PyObject* self, PyObject* args, PyObject* kwds) {
  static const char* kwlist[] = {"path", "mode", nullptr};
  PyObject* path_obj = nullptr;
  PyObject* mode_obj = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "OO:chmod",
                                   const_cast<char**>(kwlist), &path_obj,
                                   &mode_obj)) {
    return nullptr;
  }
  std::string path;
  int16_t mode = 0;
  if (!PathAsBytes(path_obj, &path) || !ObjectAsInt16(mode_obj, &mode)) {
    return nullptr;
  }
  OvkFileSystem* client = Client(self);
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  status = client->setPermission(path, mode);
  Py_END_ALLOW_THREADS
  return BoolResult(status);
}

PyObject* FileSystem_chown(PyObject* self, PyObject* args, PyObject* kwds) {
  static const char* kwlist[] = {"path", "owner", "group", nullptr};
  PyObject* path_obj = nullptr;
  PyObject* owner_obj = Py_None;
  PyObject* group_obj = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "O|OO:chown",
                                   const_cast<char**>(kwlist), &path_obj,
                                   &owner_obj, &group_obj)) {
    return nullptr;
  }
  std::string path;
  std::string owner;
  std::string group;
  if (!PathAsBytes(path_obj, &path) ||
      (owner_obj != Py_None && !NameAsString(owner_obj, &owner)) ||
      (group_obj != Py_None && !NameAsString(group_obj, &group))) {
    return nullptr;
  }
  OvkFileSystem* client = Client(self);
  OvkStatus status;
  Py_BEGIN_ALLOW_THREADS
  status = client->setOwner(path, owner, group);
  Py_END_ALLOW_THREADS
  return BoolResult(status);
}

const char FileSystem_chmod_doc[] =
    "chmod(path, mode)\n"
    "Change file permissions\n"
    "\n"
    "        Parameters\n"
    "        ----------\n"
    "        path : string\n"
    "            absolute path to file or directory\n"
    "        mode : int\n"
    "            POSIX-like bitmask\n"
    "        ";

const char FileSystem_chown_doc[] =
    "chown(path, owner=None, group=None)\n"
    "Change file owner and group\n"
    "\n"
    "        Parameters\n"
    "        ----------\n"
    "        path : string\n"
    "            absolute path to file or directory\n"
    "        owner : string, default None\n"
    "            New owner, None for no change\n"
    "        group : string, default None\n"
    "            New group, None for no change\n"
    "        ";

int FileSystem_call_mkdir(PyObject* self, PyObject* path, bool recursive) {
  PyRef override_fn(FindOverride(self, &FileSystem_Type, "mkdir",
                                 OVK_METH(FileSystem_mkdir)));
  if (override_fn) {
    return TruthOf(PyObject_CallFunctionObjArgs(
        override_fn.get(), path, recursive ? Py_True : Py_False, nullptr));
  }
  if (PyErr_Occurred()) return -1;
  return TruthOf(DoMkdir(self, path, recursive));
}

int FileSystem_call_remove(PyObject* self, PyObject* path, bool recursive) {
  PyRef override_fn(FindOverride(self, &FileSystem_Type, "remove",
                                 OVK_METH(FileSystem_remove)));
  if (override_fn) {
    return TruthOf(PyObject_CallFunctionObjArgs(
        override_fn.get(), path, recursive ? Py_True : Py_False, nullptr));
  }
  if (PyErr_Occurred()) return -1;
  return TruthOf(DoRemove(self, path, recursive));
}

int FileSystem_call_rename(PyObject* self, PyObject* src, PyObject* dst) {
  PyRef override_fn(FindOverride(self, &FileSystem_Type, "rename",
                                 OVK_METH(FileSystem_rename)));
  if (override_fn) {
    return TruthOf(
        PyObject_CallFunctionObjArgs(override_fn.get(), src, dst, nullptr));
  }
  if (PyErr_Occurred()) return -1;
  return TruthOf(DoRename(self, src, dst));
}

int FileSystem_call_exists(PyObject* self, PyObject* path) {
  PyRef override_fn(FindOverride(self, &FileSystem_Type, "exists",
                                 OVK_METH(FileSystem_exists)));
  if (override_fn) {
    return TruthOf(
        PyObject_CallFunctionObjArgs(override_fn.get(), path, nullptr));
  }
  if (PyErr_Occurred()) return -1;
  return TruthOf(DoExists(self, path));
}

PyObject* FileSystem_call_get_file_info(PyObject* self, PyObject* path) {
  PyRef override_fn(FindOverride(self, &FileSystem_Type, "get_file_info",
                                 OVK_METH(FileSystem_get_file_info)));
  if (!override_fn) {
    if (PyErr_Occurred()) return nullptr;
    return DoGetFileInfo(self, path);
  }
  PyRef result(PyObject_CallFunctionObjArgs(override_fn.get(), path, nullptr));
  if (!result) return nullptr;
  if (result.get() != Py_None &&
      !PyObject_TypeCheck(result.get(), &FileInfo_Type)) {
    PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s",
                 Py_TYPE(result.get())->tp_name, FileInfo_Type.tp_name);
    return nullptr;
  }
  return result.release();
}

PyObject* FileSystem_call_listdir(PyObject* self, PyObject* path,
                                  bool recursive) {
  PyRef override_fn(FindOverride(self, &FileSystem_Type, "listdir",
                                 OVK_METH(FileSystem_listdir)));
  if (override_fn) {
    return PyObject_CallFunctionObjArgs(override_fn.get(), path,
                                        recursive ? Py_True : Py_False,
                                        nullptr);
  }
  if (PyErr_Occurred()) return nullptr;
  return DoListdir(self, path, recursive);
}
