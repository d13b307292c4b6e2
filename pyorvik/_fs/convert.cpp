// Conversions between Python objects and the native client's values.
#include <cstdint>
#include <limits>

#include "common.h"

// The SDK takes NUL-terminated texts, so a NUL inside a path or name would
// silently cut it short: "/keep\0/x" would reach the store as "/keep".
static bool RejectEmbeddedNul(const std::string& value) {
  if (value.find('\0') == std::string::npos) return true;
  PyErr_SetString(PyExc_ValueError, "embedded null byte");
  return false;
}

bool PathAsBytes(PyObject* path, std::string* out) {
  if (!PyBytes_Check(path) && !PyUnicode_Check(path)) {
    PyErr_SetString(PyExc_TypeError, "Path must be a string");
    return false;
  }
  if (PyUnicode_Check(path)) {
    // The interpreter caches a str's UTF-8 form (an ASCII str is its own),
    // so a path used again is not encoded again. Strict, like tobytes().
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(path, &size);
    if (utf8 == nullptr) return false;
    out->assign(utf8, static_cast<size_t>(size));
  } else if (!BytesLikeAsString(path, out)) {
    return false;
  }
  return RejectEmbeddedNul(*out);
}

bool NameAsString(PyObject* obj, std::string* out) {
  return TextAsString(obj, out) && RejectEmbeddedNul(*out);
}

bool BytesLikeAsString(PyObject* obj, std::string* out) {
  if (PyBytes_Check(obj)) {
    out->assign(PyBytes_AS_STRING(obj),
                static_cast<size_t>(PyBytes_GET_SIZE(obj)));
    return true;
  }
  if (PyByteArray_Check(obj)) {
    out->assign(PyByteArray_AS_STRING(obj),
                static_cast<size_t>(PyByteArray_GET_SIZE(obj)));
    return true;
  }
  PyErr_Format(PyExc_TypeError, "expected bytes, %.200s found",
               Py_TYPE(obj)->tp_name);
  return false;
}

bool TextAsString(PyObject* obj, std::string* out) {
  PyRef encoded(Compat_ToBytes(obj));
  if (!encoded) return false;
  return BytesLikeAsString(encoded.get(), out);
}

PyObject* StringAsBytes(const std::string& value) {
  return PyBytes_FromStringAndSize(value.data(),
                                   static_cast<Py_ssize_t>(value.size()));
}

// An int (subclasses included) as it is; anything else through its type's
// __int__, which must return an int. Nothing else (str included) converts.
static PyObject* AsPythonInt(PyObject* obj) {
  if (PyLong_Check(obj)) {
    Py_INCREF(obj);
    return obj;
  }
  PyNumberMethods* number = Py_TYPE(obj)->tp_as_number;
  if (number == nullptr || number->nb_int == nullptr) {
    PyErr_SetString(PyExc_TypeError, "an integer is required");
    return nullptr;
  }
  PyRef result(number->nb_int(obj));
  if (!result) return nullptr;
  if (!PyLong_Check(result.get())) {
    PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                 Py_TYPE(result.get())->tp_name);
    return nullptr;
  }
  return result.release();
}

bool ObjectAsInt64(PyObject* obj, int64_t* out) {
  PyRef value(AsPythonInt(obj));
  if (!value) return false;
  const long long converted = PyLong_AsLongLong(value.get());
  if (converted == -1 && PyErr_Occurred()) return false;
  *out = static_cast<int64_t>(converted);
  return true;
}

template <typename T>
static bool ObjectAsNarrowInt(PyObject* obj, T* out, const char* type_name) {
  PyRef value(AsPythonInt(obj));
  if (!value) return false;
  int overflow = 0;
  const long long converted =
      PyLong_AsLongLongAndOverflow(value.get(), &overflow);
  if (converted == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || converted < std::numeric_limits<T>::min() ||
      converted > std::numeric_limits<T>::max()) {
    PyErr_Format(PyExc_OverflowError, "value too large to convert to %s",
                 type_name);
    return false;
  }
  *out = static_cast<T>(converted);
  return true;
}

bool ObjectAsInt16(PyObject* obj, int16_t* out) {
  return ObjectAsNarrowInt(obj, out, "int16_t");
}

bool ObjectAsInt32(PyObject* obj, int32_t* out) {
  return ObjectAsNarrowInt(obj, out, "int32_t");
}

bool ObjectAsBool(PyObject* obj, bool* out) {
  const int truth = PyObject_IsTrue(obj);
  if (truth < 0) return false;
  *out = truth != 0;
  return true;
}
