// FileInfo: a read-only Python view of one OvkFileInfo record, and the
// FileType enumeration of entry kinds.
//
// The module globals FileType, frombytes, datetime and _file_type_to_string
// are looked up at each use, so rebinding one of them is seen here.
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include "common.h"

namespace {

FileInfoObject* AsFileInfo(PyObject* self) {
  return reinterpret_cast<FileInfoObject*>(self);
}

PyObject* FileInfo_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  new (&AsFileInfo(self)->info) OvkFileInfo();
  return self;
}

void FileInfo_dealloc(PyObject* self) {
  Weakrefable_ClearWeakrefs(self);
  AsFileInfo(self)->info.~OvkFileInfo();
  Py_TYPE(self)->tp_free(self);
}

// FileType(value): the native entry type as a member of the enumeration.
PyObject* WrapFileType(int value) {
  PyRef file_type(FsGlobal("FileType"));
  if (!file_type) return nullptr;
  return PyObject_CallFunction(file_type.get(), "i", value);
}

// Values 0 to 4 pass; anything else fails the assertion, or becomes 0 when
// the interpreter runs with assertions disabled (python -O).
bool UnwrapFileType(int32_t value, int8_t* out) {
  if (value >= 0 && value <= 4) {
    *out = static_cast<int8_t>(value);
    return true;
  }
  PyObject* flags = PySys_GetObject("flags");
  PyRef optimize(flags ? PyObject_GetAttrString(flags, "optimize") : nullptr);
  if (optimize && PyLong_Check(optimize.get()) &&
      PyLong_AsLong(optimize.get()) > 0) {
    *out = 0;
    return true;
  }
  PyErr_Clear();
  PyErr_SetNone(PyExc_AssertionError);
  return false;
}

int FileInfo_init(PyObject* self, PyObject* args, PyObject* kwds) {
  static const char* kwlist[] = {"path", "type", "mtime", "size", nullptr};
  PyObject* path_obj = nullptr;
  PyObject* type_obj = nullptr;
  PyObject* mtime_obj = Py_None;
  PyObject* size_obj = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "O|O$OO:FileInfo",
                                   const_cast<char**>(kwlist), &path_obj,
                                   &type_obj, &mtime_obj, &size_obj)) {
    return -1;
  }
  int32_t type_value = 0;
  if (type_obj != nullptr && !ObjectAsInt32(type_obj, &type_value)) return -1;
  OvkFileInfo& info = AsFileInfo(self)->info;
  if (!PathAsBytes(path_obj, &info.path)) return -1;
  if (!UnwrapFileType(type_value, &info.type)) return -1;
  if (mtime_obj != Py_None && !ObjectAsInt64(mtime_obj, &info.mtime)) return -1;
  if (size_obj != Py_None && !ObjectAsInt64(size_obj, &info.size)) return -1;
  return 0;
}

PyObject* Decoded(const std::string& value) {
  PyRef frombytes(FsGlobal("frombytes"));
  if (!frombytes) return nullptr;
  PyRef raw(StringAsBytes(value));
  if (!raw) return nullptr;
  return PyObject_CallFunctionObjArgs(frombytes.get(), raw.get(), nullptr);
}

PyObject* OptionalInt(int64_t value) {
  if (value == -1) Py_RETURN_NONE;
  return PyLong_FromLongLong(value);
}

// A naive local datetime from milliseconds since the epoch; None for -1.
PyObject* OptionalTime(int64_t millis) {
  if (millis == -1) Py_RETURN_NONE;
  PyRef datetime(FsGlobal("datetime"));
  if (!datetime) return nullptr;
  return PyObject_CallMethod(datetime.get(), "fromtimestamp", "d",
                             static_cast<double>(millis) / 1000.0);
}

// self.type == FileType.<member>, both looked up at call time.
PyObject* TypeIs(PyObject* self, const char* member) {
  PyRef type(PyObject_GetAttrString(self, "type"));
  if (!type) return nullptr;
  PyRef file_type(FsGlobal("FileType"));
  if (!file_type) return nullptr;
  PyRef expected(PyObject_GetAttrString(file_type.get(), member));
  if (!expected) return nullptr;
  return PyObject_RichCompare(type.get(), expected.get(), Py_EQ);
}

PyObject* get_type(PyObject* self, void*) {
  return WrapFileType(AsFileInfo(self)->info.type);
}
PyObject* get_is_file(PyObject* self, void*) { return TypeIs(self, "File"); }
PyObject* get_is_dir(PyObject* self, void*) {
  return TypeIs(self, "Directory");
}
PyObject* get_is_symlink(PyObject* self, void*) {
  return TypeIs(self, "Symlink");
}
PyObject* get_path(PyObject* self, void*) {
  return Decoded(AsFileInfo(self)->info.path);
}
PyObject* get_user(PyObject* self, void*) {
  return Decoded(AsFileInfo(self)->info.user);
}
PyObject* get_group(PyObject* self, void*) {
  return Decoded(AsFileInfo(self)->info.group);
}
PyObject* get_size(PyObject* self, void*) {
  return OptionalInt(AsFileInfo(self)->info.size);
}
PyObject* get_perm(PyObject* self, void*) {
  return OptionalInt(AsFileInfo(self)->info.perm);
}
PyObject* get_atime(PyObject* self, void*) {
  return OptionalTime(AsFileInfo(self)->info.atime);
}
PyObject* get_mtime(PyObject* self, void*) {
  return OptionalTime(AsFileInfo(self)->info.mtime);
}

PyObject* FileInfo_repr(PyObject* self) {
  PyRef path(PyObject_GetAttrString(self, "path"));
  if (!path) return nullptr;
  PyRef type(PyObject_GetAttrString(self, "type"));
  if (!type) return nullptr;
  PyRef to_string(FsGlobal("_file_type_to_string"));
  if (!to_string) return nullptr;
  PyRef type_name(
      PyObject_CallFunctionObjArgs(to_string.get(), type.get(), nullptr));
  if (!type_name) return nullptr;
  PyRef is_file_obj(PyObject_GetAttrString(self, "is_file"));
  if (!is_file_obj) return nullptr;
  const int is_file = PyObject_IsTrue(is_file_obj.get());
  if (is_file < 0) return nullptr;
  if (!is_file) {
    return PyUnicode_FromFormat("<FileInfo for %R: type=%S>", path.get(),
                                type_name.get());
  }
  PyRef size(PyObject_GetAttrString(self, "size"));
  if (!size) return nullptr;
  return PyUnicode_FromFormat("<FileInfo for %R: type=%S, size=%S>",
                              path.get(), type_name.get(), size.get());
}

// _file_type_to_string(ty): ty._name_ as a str.
PyObject* FileTypeToString(PyObject*, PyObject* args, PyObject* kwds) {
  static const char* kwlist[] = {"ty", nullptr};
  PyObject* ty = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "O:_file_type_to_string",
                                   const_cast<char**>(kwlist), &ty)) {
    return nullptr;
  }
  PyRef name(PyObject_GetAttrString(ty, "_name_"));
  if (!name) return nullptr;
  return PyObject_Str(name.get());
}

PyMethodDef g_file_type_to_string_def = {
    "_file_type_to_string", OVK_METH(FileTypeToString),
    METH_VARARGS | METH_KEYWORDS, nullptr};

const char kTypeDoc[] =
    "The entry's type, a FileType member.\n\n"
    ">>> FileInfo('x', FileType.File).type\n"
    "<FileType.File: 2>\n";
const char kIsFileDoc[] =
    "True when the entry is a regular file.\n\n"
    ">>> FileInfo('x', FileType.File).is_file\n"
    "True\n";
const char kIsDirDoc[] =
    "True when the entry is a directory.\n\n"
    ">>> FileInfo('x', FileType.Directory).is_dir\n"
    "True\n";
const char kIsSymlinkDoc[] =
    "True when the entry is a symbolic link.\n\n"
    ">>> FileInfo('x', FileType.Symlink).is_symlink\n"
    "True\n";
const char kPathDoc[] =
    "The entry's full path as a str; a directory's ends with '/'.\n\n"
    ">>> FileInfo(b'/a').path\n"
    "'/a'\n";
const char kSizeDoc[] =
    "The size in bytes, or None when unknown.\n\n"
    ">>> FileInfo('x', size=10).size\n"
    "10\n"
    ">>> FileInfo('x').size is None\n"
    "True\n";

PyGetSetDef FileInfo_getset[] = {
    {"type", get_type, nullptr, kTypeDoc, nullptr},
    {"is_file", get_is_file, nullptr, kIsFileDoc, nullptr},
    {"is_dir", get_is_dir, nullptr, kIsDirDoc, nullptr},
    {"is_symlink", get_is_symlink, nullptr, kIsSymlinkDoc, nullptr},
    {"path", get_path, nullptr, kPathDoc, nullptr},
    {"user", get_user, nullptr, "The owning user, '' when unknown.", nullptr},
    {"group", get_group, nullptr, "The owning group, '' when unknown.",
     nullptr},
    {"size", get_size, nullptr, kSizeDoc, nullptr},
    {"perm", get_perm, nullptr, "The permission bits, or None when unknown.",
     nullptr},
    {"atime", get_atime, nullptr,
     "The last access time as a naive local datetime, or None when unknown.",
     nullptr},
    {"mtime", get_mtime, nullptr,
     "The last modification time as a naive local datetime, or None when "
     "unknown.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

// The heap block a string owns beyond its inline buffer, if any.
size_t HeapBytes(const std::string& value) {
  const std::string empty;
  return value.capacity() > empty.capacity() ? value.capacity() + 1 : 0;
}

// sys.getsizeof() counts the record's texts too, so memory figures of
// listings are honest.
PyObject* FileInfo_sizeof(PyObject* self, PyObject*) {
  const OvkFileInfo& info = AsFileInfo(self)->info;
  const size_t size = static_cast<size_t>(Py_TYPE(self)->tp_basicsize) +
                      HeapBytes(info.path) + HeapBytes(info.user) +
                      HeapBytes(info.group);
  return PyLong_FromSize_t(size);
}

PyMethodDef FileInfo_methods[] = {
    {"__sizeof__", OVK_METH(FileInfo_sizeof), METH_NOARGS, nullptr},
    OVK_REFUSE_PICKLING_METHODS(RefuseInfoReduce),
    {nullptr, nullptr, 0, nullptr}};

}  // namespace

PyTypeObject FileInfo_Type = [] {
  PyTypeObject type = NewStaticType("_fs.FileInfo", sizeof(FileInfoObject));
  type.tp_doc =
      "FileInfo(path, type=FileType.Unknown, *, mtime=None, size=None)\n"
      "The status of one entry of the store: its path, type, owner, group,\n"
      "permission bits, size and times. Times are given to the constructor\n"
      "in milliseconds since the epoch.";
  type.tp_base = &Weakrefable_Type;
  type.tp_weaklistoffset = offsetof(WeakrefableObject, weakreflist);
  type.tp_new = FileInfo_new;
  type.tp_init = FileInfo_init;
  type.tp_dealloc = FileInfo_dealloc;
  type.tp_repr = FileInfo_repr;
  type.tp_getset = FileInfo_getset;
  type.tp_methods = FileInfo_methods;
  return type;
}();

int FileInfo_Ready(PyObject* module) {
  return ReadyAndPublishType(module, "FileInfo", &FileInfo_Type);
}

int FileType_Create(PyObject* module) {
  PyRef enum_module(PyImport_ImportModule("enum"));
  if (!enum_module) return -1;
  PyRef members(Py_BuildValue("[(si)(si)(si)(si)(si)]", "Unknown", 0,
                              "Directory", 1, "File", 2, "Symlink", 3,
                              "MountPoint", 4));
  if (!members) return -1;
  PyRef int_flag(PyObject_GetAttrString(enum_module.get(), "IntFlag"));
  if (!int_flag) return -1;
  PyRef args(Py_BuildValue("(sO)", "FileType", members.get()));
  PyRef kwargs(Py_BuildValue("{ss}", "module", "_fs"));
  if (!args || !kwargs) return -1;
  PyRef file_type(PyObject_Call(int_flag.get(), args.get(), kwargs.get()));
  if (!file_type) return -1;
  if (PyModule_AddObject(module, "FileType", file_type.get()) < 0) return -1;
  Py_INCREF(file_type.get());
  for (const char* name :
       {"Unknown", "Directory", "File", "Symlink", "MountPoint"}) {
    PyRef member(PyObject_GetAttrString(file_type.get(), name));
    if (!member || PyModule_AddObject(module, name, member.get()) < 0) {
      return -1;
    }
    member.release();
  }
  return 0;
}

int FileInfo_BindHelpers(PyObject* module) {
  PyRef module_name(PyModule_GetNameObject(module));
  if (!module_name) return -1;
  PyRef fn(PyCFunction_NewEx(&g_file_type_to_string_def, nullptr,
                             module_name.get()));
  if (!fn || PyModule_AddObject(module, "_file_type_to_string", fn.get()) < 0) {
    return -1;
  }
  fn.release();
  return 0;
}

int FileInfo_BindDoctests(PyObject* module) {
  PyRef tests(PyDict_New());
  if (!tests) return -1;
  for (const PyGetSetDef* def = FileInfo_getset; def->name != nullptr; ++def) {
    if (def->doc == nullptr || std::strstr(def->doc, ">>>") == nullptr) {
      continue;
    }
    PyRef key(PyUnicode_FromFormat("FileInfo.%s", def->name));
    PyRef doc(PyUnicode_FromString(def->doc));
    if (!key || !doc || PyDict_SetItem(tests.get(), key.get(), doc.get()) < 0) {
      return -1;
    }
  }
  if (PyModule_AddObject(module, "__test__", tests.get()) < 0) return -1;
  tests.release();
  return 0;
}

PyObject* FileInfo_wrap(OvkFileInfo info) {
  PyObject* self = FileInfo_new(&FileInfo_Type, nullptr, nullptr);
  if (self != nullptr) AsFileInfo(self)->info = std::move(info);
  return self;
}

OvkFileInfo FileInfo_unwrap(PyObject* self) { return AsFileInfo(self)->info; }

bool FileInfo_unwrap_safe(PyObject* obj, OvkFileInfo* out) {
  if (!PyObject_TypeCheck(obj, &FileInfo_Type)) {
    PyErr_Format(PyExc_TypeError, "Expected FileInfo instance, got %S",
                 reinterpret_cast<PyObject*>(Py_TYPE(obj)));
    return false;
  }
  *out = FileInfo_unwrap(obj);
  return true;
}
