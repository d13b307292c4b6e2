// Config: the Python face of one OvkConfig, shared (not copied) with the
// FileSystem it connects. Methods hold the GIL throughout; the map has no
// lock of its own and the GIL serialises the threads sharing it.
#include <cstddef>
#include <new>

#include "common.h"

namespace {

ConfigObject* AsConfig(PyObject* self) {
  return reinterpret_cast<ConfigObject*>(self);
}

PyObject* Config_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyRef self(type->tp_alloc(type, 0));
  if (!self) return nullptr;
  ConfigObject* config = AsConfig(self.get());
  new (&config->config) std::shared_ptr<OvkConfig>();
  try {
    config->config = std::make_shared<OvkConfig>();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  return self.release();
}

void Config_dealloc(PyObject* self) {
  Weakrefable_ClearWeakrefs(self);
  AsConfig(self)->config.~shared_ptr();
  Py_TYPE(self)->tp_free(self);
}

// Parses the key and one more argument (the value, or an optional
// default), and converts the key.
bool ParseKey(PyObject* args, PyObject* kwds, const char* format,
              std::string* key, PyObject** value, const char* value_name) {
  const char* kwlist[] = {"key", value_name, nullptr};
  PyObject* key_obj = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, format,
                                   const_cast<char**>(kwlist), &key_obj,
                                   value)) {
    return false;
  }
  return TextAsString(key_obj, key);
}

PyObject* Config_set(PyObject* self, PyObject* args, PyObject* kwds) {
  std::string key;
  PyObject* value_obj = nullptr;
  if (!ParseKey(args, kwds, "OO:set", &key, &value_obj, "value")) {
    return nullptr;
  }
  std::string value;
  if (!TextAsString(value_obj, &value)) return nullptr;
  AsConfig(self)->config->setString(key, value);
  Py_RETURN_NONE;
}

PyObject* Config_get(PyObject* self, PyObject* args, PyObject* kwds) {
  std::string key;
  PyObject* default_obj = nullptr;
  if (!ParseKey(args, kwds, "O|O:get", &key, &default_obj, "default")) {
    return nullptr;
  }
  std::string default_value;
  if (default_obj != nullptr && !TextAsString(default_obj, &default_value)) {
    return nullptr;
  }
  PyRef raw(StringAsBytes(AsConfig(self)->config->getString(key, default_value)));
  if (!raw) return nullptr;
  return Compat_FromBytes(raw.get(), false);
}

template <typename T, bool (*Convert)(PyObject*, T*),
          void (OvkConfig::*Set)(const std::string&, T)>
PyObject* SetNumber(PyObject* self, PyObject* args, PyObject* kwds,
                    const char* format) {
  std::string key;
  PyObject* value_obj = nullptr;
  if (!ParseKey(args, kwds, format, &key, &value_obj, "value")) {
    return nullptr;
  }
  T value{};
  if (!Convert(value_obj, &value)) return nullptr;
  (AsConfig(self)->config.get()->*Set)(key, value);
  Py_RETURN_NONE;
}

template <typename T, bool (*Convert)(PyObject*, T*),
          T (OvkConfig::*Get)(const std::string&, T) const>
bool GetNumber(PyObject* self, PyObject* args, PyObject* kwds,
               const char* format, T* out) {
  std::string key;
  PyObject* default_obj = nullptr;
  if (!ParseKey(args, kwds, format, &key, &default_obj, "default")) {
    return false;
  }
  T default_value{};
  if (default_obj != nullptr && !Convert(default_obj, &default_value)) {
    return false;
  }
  *out = (AsConfig(self)->config.get()->*Get)(key, default_value);
  return true;
}

bool ObjectAsDouble(PyObject* obj, double* out) {
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) return false;
  *out = value;
  return true;
}

PyObject* Config_setInt32(PyObject* self, PyObject* args, PyObject* kwds) {
  return SetNumber<int32_t, ObjectAsInt32, &OvkConfig::setInt32>(
      self, args, kwds, "OO:setInt32");
}

PyObject* Config_getInt32(PyObject* self, PyObject* args, PyObject* kwds) {
  int32_t value = 0;
  if (!GetNumber<int32_t, ObjectAsInt32, &OvkConfig::getInt32>(
          self, args, kwds, "O|O:getInt32", &value)) {
    return nullptr;
  }
  return PyLong_FromLong(value);
}

PyObject* Config_setInt64(PyObject* self, PyObject* args, PyObject* kwds) {
  return SetNumber<int64_t, ObjectAsInt64, &OvkConfig::setInt64>(
      self, args, kwds, "OO:setInt64");
}

PyObject* Config_getInt64(PyObject* self, PyObject* args, PyObject* kwds) {
  int64_t value = 0;
  if (!GetNumber<int64_t, ObjectAsInt64, &OvkConfig::getInt64>(
          self, args, kwds, "O|O:getInt64", &value)) {
    return nullptr;
  }
  return PyLong_FromLongLong(value);
}

PyObject* Config_setDouble(PyObject* self, PyObject* args, PyObject* kwds) {
  return SetNumber<double, ObjectAsDouble, &OvkConfig::setDouble>(
      self, args, kwds, "OO:setDouble");
}

PyObject* Config_getDouble(PyObject* self, PyObject* args, PyObject* kwds) {
  double value = 0.0;
  if (!GetNumber<double, ObjectAsDouble, &OvkConfig::getDouble>(
          self, args, kwds, "O|O:getDouble", &value)) {
    return nullptr;
  }
  return PyFloat_FromDouble(value);
}

PyObject* Config_setBool(PyObject* self, PyObject* args, PyObject* kwds) {
  return SetNumber<bool, ObjectAsBool, &OvkConfig::setBool>(self, args, kwds,
                                                           "OO:setBool");
}

PyObject* Config_getBool(PyObject* self, PyObject* args, PyObject* kwds) {
  bool value = false;
  if (!GetNumber<bool, ObjectAsBool, &OvkConfig::getBool>(
          self, args, kwds, "O|O:getBool", &value)) {
    return nullptr;
  }
  return PyBool_FromLong(value);
}

PyObject* Config_contains(PyObject* self, PyObject* args, PyObject* kwds) {
  static const char* kwlist[] = {"key", nullptr};
  PyObject* key_obj = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "O:contains",
                                   const_cast<char**>(kwlist), &key_obj)) {
    return nullptr;
  }
  std::string key;
  if (!TextAsString(key_obj, &key)) return nullptr;
  return PyBool_FromLong(AsConfig(self)->config->contains(key));
}

constexpr int kArgs = METH_VARARGS | METH_KEYWORDS;

PyMethodDef Config_methods[] = {
    {"set", OVK_METH(Config_set), kArgs, nullptr},
    {"get", OVK_METH(Config_get), kArgs, nullptr},
    {"setInt32", OVK_METH(Config_setInt32), kArgs, nullptr},
    {"getInt32", OVK_METH(Config_getInt32), kArgs, nullptr},
    {"setInt64", OVK_METH(Config_setInt64), kArgs, nullptr},
    {"getInt64", OVK_METH(Config_getInt64), kArgs, nullptr},
    {"setDouble", OVK_METH(Config_setDouble), kArgs, nullptr},
    {"getDouble", OVK_METH(Config_getDouble), kArgs, nullptr},
    {"setBool", OVK_METH(Config_setBool), kArgs, nullptr},
    {"getBool", OVK_METH(Config_getBool), kArgs, nullptr},
    {"contains", OVK_METH(Config_contains), kArgs, nullptr},
    OVK_REFUSE_PICKLING_METHODS(RefuseReduce),
    {nullptr, nullptr, 0, nullptr}};

}  // namespace

PyTypeObject Config_Type = [] {
  PyTypeObject type = NewStaticType("_fs.Config", sizeof(ConfigObject));
  type.tp_doc = "\n    FileSystem config.\n    ";
  type.tp_base = &Weakrefable_Type;
  type.tp_weaklistoffset = offsetof(WeakrefableObject, weakreflist);
  type.tp_new = Config_new;
  type.tp_dealloc = Config_dealloc;
  type.tp_methods = Config_methods;
  return type;
}();

int Config_Ready(PyObject* module) {
  return ReadyAndPublishType(module, "Config", &Config_Type);
}

PyObject* Config_wrap(std::shared_ptr<OvkConfig> config) {
  // Every method dereferences the map; a Config never holds none.
  if (!config) {
    PyErr_SetString(PyExc_ValueError, "Config needs a configuration map");
    return nullptr;
  }
  PyObject* self = Config_new(&Config_Type, nullptr, nullptr);
  if (self != nullptr) AsConfig(self)->config = std::move(config);
  return self;
}

std::shared_ptr<OvkConfig> Config_unwrap(PyObject* self) {
  return AsConfig(self)->config;
}

std::shared_ptr<OvkConfig> Config_unwrap_safe(PyObject* obj) {
  if (!PyObject_TypeCheck(obj, &Config_Type)) {
    PyErr_Format(PyExc_TypeError, "Expected Config instance, got %S",
                 reinterpret_cast<PyObject*>(Py_TYPE(obj)));
    return nullptr;
  }
  return Config_unwrap(obj);
}
