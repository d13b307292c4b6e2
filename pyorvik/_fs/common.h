// Internals shared by the source files of the _fs extension module.
//
// Every function here that returns a PyObject* returns a new reference, or
// nullptr with a Python exception set; every function returning int returns
// 0 on success and -1 with an exception set. All of them need the GIL.
#ifndef PYORVIK_FS_COMMON_H_
#define PYORVIK_FS_COMMON_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <string>

#include "OvkConfig.h"
#include "OvkFileSystem.h"
#include "OvkStatus.h"
#include "compat.h"

// Owns one strong reference, so that every exit path of a function releases
// what it holds. Construction from a raw pointer steals the reference.
class PyRef {
 public:
  PyRef() = default;
  explicit PyRef(PyObject* obj) : obj_(obj) {}
  static PyRef borrow(PyObject* obj) {
    Py_XINCREF(obj);
    return PyRef(obj);
  }
  ~PyRef() { Py_XDECREF(obj_); }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : obj_(other.release()) {}
  PyRef& operator=(PyRef&& other) noexcept {
    reset(other.release());
    return *this;
  }

  PyObject* get() const { return obj_; }
  explicit operator bool() const { return obj_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() {
    PyObject* obj = obj_;
    obj_ = nullptr;
    return obj;
  }
  // Steals obj and drops the reference held before.
  void reset(PyObject* obj = nullptr) {
    PyObject* old = obj_;
    obj_ = obj;
    Py_XDECREF(old);
  }

 private:
  PyObject* obj_ = nullptr;
};

// ---------------------------------------------------------------------------
// The module object.

// Looks a name up in the module's globals at call time, so that rebinding a
// global (FileType, frombytes, ...) is seen by the code that uses it.
PyObject* FsGlobal(const char* name);
// The built-ins the module looked up at initialisation (print, open, ...).
PyObject* FsBuiltin(const char* name);

// ---------------------------------------------------------------------------
// Failed statuses as Python exceptions. The exception's single argument is
// the status message as bytes, never decoded.

enum class StatusMapping {
  kIOError,            // IOError for every code
  kNotFoundIsMissing,  // FileNotFoundError for 3001, IOError otherwise
  kValueError,         // ValueError for every code (connection)
};

// A new instance of exc_type(message bytes), or nullptr with an error set.
PyObject* NewStatusException(const OvkStatus& status, PyObject* exc_type);
// Raises the exception for a failed status; always returns nullptr.
PyObject* RaiseStatus(const OvkStatus& status, StatusMapping mapping);

// ---------------------------------------------------------------------------
// Conversions between Python objects and native values.

// str (UTF-8 encoded) or bytes; anything else raises TypeError
// "Path must be a string". A NUL inside raises ValueError "embedded null
// byte": the SDK would cut the path short there.
bool PathAsBytes(PyObject* path, std::string* out);
// bytes or bytearray, copied verbatim; anything else (str too) raises the
// interpreter's TypeError for a value that is not a bytes object.
bool BytesLikeAsString(PyObject* obj, std::string* out);
// tobytes() then BytesLikeAsString(): str, bytes or bytearray.
bool TextAsString(PyObject* obj, std::string* out);
// TextAsString() for a user, owner or group name that goes to the SDK; a
// NUL inside raises ValueError "embedded null byte".
bool NameAsString(PyObject* obj, std::string* out);
// A new bytes object with the same bytes.
PyObject* StringAsBytes(const std::string& value);
// An int, or an object with __int__ (a float is truncated toward zero),
// within the native range; otherwise TypeError "an integer is required" or
// OverflowError.
bool ObjectAsInt16(PyObject* obj, int16_t* out);
bool ObjectAsInt32(PyObject* obj, int32_t* out);
bool ObjectAsInt64(PyObject* obj, int64_t* out);
// The truth value of obj; false with an exception set when the test raised.
bool ObjectAsBool(PyObject* obj, bool* out);

// ---------------------------------------------------------------------------
// Pickling refusals: methods for __reduce__ (METH_NOARGS) and __setstate__
// (METH_O) that raise TypeError with the type's fixed text.

PyObject* RefuseReduce(PyObject* self, PyObject* unused);
PyObject* RefuseInfoReduce(PyObject* self, PyObject* unused);

#define OVK_REFUSE_PICKLING_METHODS(fn)            \
  {"__reduce__", OVK_METH(fn), METH_NOARGS, nullptr}, \
  {"__setstate__", OVK_METH(fn), METH_O, nullptr}

// ---------------------------------------------------------------------------
// Overridable methods: the module's own native code calls these methods
// through the instance, so that a Python subclass or an instance attribute
// replacing them wins.

// Returns a new reference to the Python-level attribute `name` of self when
// it is something else than the module's own method `impl`; nullptr with no
// error set when the module's method applies; nullptr with an error set when
// the lookup failed (check PyErr_Occurred()).
PyObject* FindOverride(PyObject* self, PyTypeObject* own_type,
                       const char* name, PyCFunction impl);

// ---------------------------------------------------------------------------
// Types. Each Ready function readies its type and publishes it on the
// module; the module's exec step calls them in publication order.

// A static type object with its name and instance size set and every other
// slot empty, for the caller to fill before PyType_Ready.
PyTypeObject NewStaticType(const char* name, Py_ssize_t basicsize);
// Readies type and publishes it on the module under name.
int ReadyAndPublishType(PyObject* module, const char* name,
                        PyTypeObject* type);

// Base of Config, FileInfo and FileStream: the weak-reference list is the
// one slot every member of the family shares, at the same offset.
struct WeakrefableObject {
  PyObject_HEAD
  PyObject* weakreflist;  // owned by the interpreter's weakref machinery
};
extern PyTypeObject Weakrefable_Type;
int Weakrefable_Ready(PyObject* module);
// Binds the module-level function that unpickles _Weakrefable instances.
int Weakrefable_BindUnpickler(PyObject* module);
// Clears the weak references to self; the first step of every dealloc in
// the family.
void Weakrefable_ClearWeakrefs(PyObject* self);

struct ConfigObject {
  WeakrefableObject base;
  std::shared_ptr<OvkConfig> config;  // never null once tp_new returned
};
extern PyTypeObject Config_Type;
int Config_Ready(PyObject* module);
// A new Config sharing config; ValueError for an empty pointer.
PyObject* Config_wrap(std::shared_ptr<OvkConfig> config);
std::shared_ptr<OvkConfig> Config_unwrap(PyObject* self);
// nullptr with TypeError "Expected Config instance, got {0}" for others.
std::shared_ptr<OvkConfig> Config_unwrap_safe(PyObject* obj);

struct FileInfoObject {
  WeakrefableObject base;
  OvkFileInfo info;  // the record, held by value
};
extern PyTypeObject FileInfo_Type;
int FileInfo_Ready(PyObject* module);
// Binds _file_type_to_string.
int FileInfo_BindHelpers(PyObject* module);
// Binds __test__, which offers the examples in the help texts of
// FileInfo's properties to doctest.
int FileInfo_BindDoctests(PyObject* module);
// A new FileInfo (exactly that type, __init__ not run) holding info.
PyObject* FileInfo_wrap(OvkFileInfo info);
OvkFileInfo FileInfo_unwrap(PyObject* self);
// false with TypeError "Expected FileInfo instance, got {0}" for others.
bool FileInfo_unwrap_safe(PyObject* obj, OvkFileInfo* out);
// The FileType enumeration, created at initialisation.
int FileType_Create(PyObject* module);

// A FileSystem instance. Fields are plain C++ members constructed in
// tp_new and destroyed in tp_dealloc.
struct FileSystemObject {
  PyObject_HEAD
  // The native client; never null after construction succeeded. Other
  // native code may share it (FileSystem_unwrap).
  std::shared_ptr<OvkFileSystem> client;
  // The URI and user as last given to _connect, after conversion.
  std::string uri;
  std::string user;
  // The map of the Config last given to _connect (shared, not copied);
  // null until then. Transfers read buffer sizes from it.
  std::shared_ptr<OvkConfig> config;
};
extern PyTypeObject FileSystem_Type;
int FileSystem_Ready(PyObject* module);
// Binds the module function connect().
int FileSystem_BindConnect(PyObject* module);

// The native-method table of FileSystem, published as the capsule
// "pyorvik._fs.FileSystem._native_methods" for other native modules. The
// entries from _connect on honour Python-level overrides.
struct FileSystemNativeMethods {
  PyObject* (*wrap)(std::shared_ptr<OvkFileSystem> client);
  std::shared_ptr<OvkFileSystem> (*unwrap)(PyObject* self);
  std::shared_ptr<OvkFileSystem> (*unwrap_safe)(PyObject* obj);
  PyObject* (*connect)(PyObject* self, PyObject* uri, PyObject* user,
                       PyObject* config);
  // mkdir, remove, rename, exists: 1 true, 0 false, -1 error.
  int (*mkdir)(PyObject* self, PyObject* path, bool recursive);
  int (*remove)(PyObject* self, PyObject* path, bool recursive);
  int (*rename)(PyObject* self, PyObject* src, PyObject* dst);
  // A FileInfo (or subclass) or None.
  PyObject* (*get_file_info)(PyObject* self, PyObject* path);
  int (*exists)(PyObject* self, PyObject* path);
  PyObject* (*listdir)(PyObject* self, PyObject* path, bool recursive);
  PyObject* (*open)(PyObject* self, PyObject* path, PyObject* mode,
                    PyObject* buffer_size);
};
extern FileSystemNativeMethods FileSystem_native_methods;

// A new FileSystem on client; ValueError for an empty pointer.
PyObject* FileSystem_wrap(std::shared_ptr<OvkFileSystem> client);
std::shared_ptr<OvkFileSystem> FileSystem_unwrap(PyObject* self);
// Empty pointer with TypeError "Expected FileSystem instance, got {0}".
std::shared_ptr<OvkFileSystem> FileSystem_unwrap_safe(PyObject* obj);
// _connect through the override check: the result of the call.
PyObject* FileSystem_call_connect(PyObject* self, PyObject* uri,
                                  PyObject* user, PyObject* config);

// Python-level namespace methods of FileSystem (namespace.cpp); the method
// table of FileSystem (filesystem.cpp) lists them.
PyObject* FileSystem_mkdir(PyObject* self, PyObject* args, PyObject* kwds);
PyObject* FileSystem_remove(PyObject* self, PyObject* args, PyObject* kwds);
PyObject* FileSystem_rename(PyObject* self, PyObject* args, PyObject* kwds);
PyObject* FileSystem_get_file_info(PyObject* self, PyObject* args,
                                   PyObject* kwds);
PyObject* FileSystem_exists(PyObject* self, PyObject* args, PyObject* kwds);
PyObject* FileSystem_listdir(PyObject* self, PyObject* args, PyObject* kwds);
PyObject* FileSystem_chmod(PyObject* self, PyObject* args, PyObject* kwds);
PyObject* FileSystem_chown(PyObject* self, PyObject* args, PyObject* kwds);
extern const char FileSystem_chmod_doc[];
extern const char FileSystem_chown_doc[];

// The same operations through the override check (native-method table).
int FileSystem_call_mkdir(PyObject* self, PyObject* path, bool recursive);
int FileSystem_call_remove(PyObject* self, PyObject* path, bool recursive);
int FileSystem_call_rename(PyObject* self, PyObject* src, PyObject* dst);
PyObject* FileSystem_call_get_file_info(PyObject* self, PyObject* path);
int FileSystem_call_exists(PyObject* self, PyObject* path);
PyObject* FileSystem_call_listdir(PyObject* self, PyObject* path,
                                  bool recursive);

#endif  // PYORVIK_FS_COMMON_H_
