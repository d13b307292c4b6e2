#include "compat.h"

PyObject* Compat_ToBytes(PyObject* o) {
  if (PyUnicode_Check(o)) {
    return PyUnicode_AsEncodedString(o, "utf8", nullptr);
  }
  Py_INCREF(o);
  return o;
}

PyObject* Compat_FromBytes(PyObject* o, bool safe) {
  if (safe) {
    return PyObject_CallMethod(o, "decode", "ss", "utf8", "replace");
  }
  return PyObject_CallMethod(o, "decode", "s", "utf8");
}

static PyObject* tobytes(PyObject*, PyObject* args, PyObject* kwds) {
  static const char* kwlist[] = {"o", nullptr};
  PyObject* o = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "O:tobytes",
                                   const_cast<char**>(kwlist), &o)) {
    return nullptr;
  }
  return Compat_ToBytes(o);
}

static PyObject* frombytes(PyObject*, PyObject* args, PyObject* kwds) {
  static const char* kwlist[] = {"o", "safe", nullptr};
  PyObject* o = nullptr;
  PyObject* safe = Py_False;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "O|$O:frombytes",
                                   const_cast<char**>(kwlist), &o, &safe)) {
    return nullptr;
  }
  const int truth = PyObject_IsTrue(safe);
  if (truth < 0) return nullptr;
  return Compat_FromBytes(o, truth != 0);
}

static PyObject* encode_file_path(PyObject*, PyObject* args, PyObject* kwds) {
  static const char* kwlist[] = {"path", nullptr};
  PyObject* path = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "O:encode_file_path",
                                   const_cast<char**>(kwlist), &path)) {
    return nullptr;
  }
  if (PyUnicode_Check(path)) {
    return PyUnicode_AsEncodedString(path, "utf-8", nullptr);
  }
  Py_INCREF(path);
  return path;
}

PyDoc_STRVAR(tobytes_doc,
             "tobytes(o)\n"
             "Encode a unicode or bytes string to bytes.\n"
             "\n"
             "    Parameters\n"
             "    ----------\n"
             "    o : str or bytes\n"
             "        Input string.\n");

PyDoc_STRVAR(frombytes_doc,
             "frombytes(o, *, safe=False)\n"
             "Decode the given bytestring to unicode.\n"
             "\n"
             "    Parameters\n"
             "    ----------\n"
             "    o : bytes-like\n"
             "        Input object.\n"
             "    safe : bool, default False\n"
             "        If true, replace undecodable bytes instead of raising.\n");

PyMethodDef Compat_tobytes_def = {
    "tobytes", OVK_METH(tobytes),
    METH_VARARGS | METH_KEYWORDS, tobytes_doc};
PyMethodDef Compat_frombytes_def = {
    "frombytes",
    OVK_METH(frombytes),
    METH_VARARGS | METH_KEYWORDS, frombytes_doc};
PyMethodDef Compat_encode_file_path_def = {
    "encode_file_path",
    OVK_METH(encode_file_path),
    METH_VARARGS | METH_KEYWORDS, nullptr};
