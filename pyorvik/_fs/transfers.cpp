#include "transfers.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "OvkConfig.h"
#include "common.h"
#include "filestream.h"
#include "filestream_internal.h"

namespace {

constexpr long kQueueCapacity = 50;
constexpr double kPollSeconds = 0.01;
constexpr int64_t kConfigDefaultBufferSize = 1048576;
const char kReadBufferSizeKey[] = "fs.quoll.read.buffer.size";
const char kWriteBufferSizeKey[] = "fs.quoll.write.buffer.size";

// --- the writer thread's target --------------------------------------------

// State shared by one transfer call and its writer thread: the queue of
// chunks, where they go, and how the writer ended. Both sides touch it only
// while holding the interpreter lock, which is all the protection it needs.
struct WriterObject {
  PyObject_HEAD
  PyObject* write_queue;  // queue.Queue of bytes-like chunks
  PyObject* target;       // chunks go to target.write()
  int owns_target;        // target was opened by download: close it at the end
  int done;               // set by the caller once it hands over no more
  PyObject* error;        // the exception that ended the writer, or NULL
};

WriterObject* AsWriter(PyObject* self) {
  return reinterpret_cast<WriterObject*>(self);
}

// Moves the pending exception into writer->error unless one is kept
// already (the first failure is the cause; later ones are consequences).
void RecordError(WriterObject* writer) {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr && value != nullptr) {
    PyException_SetTraceback(value, traceback);
  }
  if (writer->error == nullptr && value != nullptr) {
    writer->error = value;
    value = nullptr;
  }
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
}

// Writes chunks from the queue until the caller is done and the queue is
// empty. Polls the queue with a short timeout so that it notices `done`.
// Returns 0, or -1 with the exception that ended the loop set.
int DrainQueue(WriterObject* writer) {
  PyRef queue_empty(FsGlobal("QueueEmpty"));
  if (!queue_empty) return -1;
  PyRef get(PyObject_GetAttrString(writer->write_queue, "get"));
  if (!get) return -1;
  PyRef no_args(PyTuple_New(0));
  PyRef timeout(Py_BuildValue("{s:d}", "timeout", kPollSeconds));
  if (!no_args || !timeout) return -1;
  for (;;) {
    if (writer->done) {
      PyRef size(PyObject_CallMethod(writer->write_queue, "qsize", nullptr));
      if (!size) return -1;
      Py_ssize_t pending = PyLong_AsSsize_t(size.get());
      if (pending < 0 && PyErr_Occurred()) return -1;
      if (pending <= 0) return 0;
    }
    PyRef chunk(PyObject_Call(get.get(), no_args.get(), timeout.get()));
    if (!chunk) {
      if (!PyErr_ExceptionMatches(queue_empty.get())) return -1;
      PyErr_Clear();
      continue;
    }
    PyRef written(
        PyObject_CallMethod(writer->target, "write", "O", chunk.get()));
    if (!written) return -1;
  }
}

// The writer thread's body (the instance is the Thread's target). Any
// exception that ends it is kept for the caller; one outside Exception
// (KeyboardInterrupt, SystemExit) also ends the thread as usual.
PyObject* Writer_call(PyObject* self, PyObject*, PyObject*) {
  WriterObject* writer = AsWriter(self);
  bool fatal = false;
  if (DrainQueue(writer) < 0) {
    fatal = !PyErr_ExceptionMatches(PyExc_Exception);
    RecordError(writer);
  }
  if (writer->owns_target) {
    PyRef closed(PyObject_CallMethod(writer->target, "close", nullptr));
    if (!closed) RecordError(writer);
  }
  if (fatal) {
    PyObject* error = writer->error;
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error)), error);
    return nullptr;
  }
  Py_RETURN_NONE;
}

int Writer_traverse(PyObject* self, visitproc visit, void* arg) {
  WriterObject* writer = AsWriter(self);
  Py_VISIT(writer->write_queue);
  Py_VISIT(writer->target);
  Py_VISIT(writer->error);
  return 0;
}

int Writer_clear(PyObject* self) {
  WriterObject* writer = AsWriter(self);
  Py_CLEAR(writer->write_queue);
  Py_CLEAR(writer->target);
  Py_CLEAR(writer->error);
  return 0;
}

void Writer_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  Writer_clear(self);
  Py_TYPE(self)->tp_free(self);
}

PyTypeObject Writer_Type = [] {
  PyTypeObject type =
      NewStaticType("_fs._TransferWriter", sizeof(WriterObject));
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
  type.tp_dealloc = Writer_dealloc;
  type.tp_call = Writer_call;
  type.tp_traverse = Writer_traverse;
  type.tp_clear = Writer_clear;
  return type;
}();

// --- the calling side ------------------------------------------------------

// One transfer as seen from the calling thread: the queue, the writer
// thread and its state. Finish() always sets `done` and joins the thread,
// whatever ended the read loop.
class Transfer {
 public:
  // -1 with an exception set on failure; the target is not closed here.
  int Create(PyRef queue, PyObject* target, bool owns_target) {
    PyRef threading(FsGlobal("threading"));
    if (!threading) return -1;
    writer_.reset(PyObject_GC_New(PyObject, &Writer_Type));
    if (!writer_) return -1;
    WriterObject* writer = AsWriter(writer_.get());
    writer->write_queue = queue.release();
    Py_INCREF(target);
    writer->target = target;
    writer->owns_target = owns_target;
    writer->done = 0;
    writer->error = nullptr;
    PyObject_GC_Track(writer_.get());
    PyRef thread_type(PyObject_GetAttrString(threading.get(), "Thread"));
    if (!thread_type) return -1;
    PyRef no_args(PyTuple_New(0));
    PyRef kwargs(Py_BuildValue("{s:O}", "target", writer_.get()));
    if (!no_args || !kwargs) return -1;
    thread_.reset(
        PyObject_Call(thread_type.get(), no_args.get(), kwargs.get()));
    if (!thread_) return -1;
    PyRef queue_module(PyImport_ImportModule("queue"));
    if (!queue_module) return -1;
    full_error_.reset(PyObject_GetAttrString(queue_module.get(), "Full"));
    is_alive_.reset(PyObject_GetAttrString(thread_.get(), "is_alive"));
    put_.reset(PyObject_GetAttrString(writer->write_queue, "put"));
    timeout_.reset(Py_BuildValue("{s:d}", "timeout", kPollSeconds));
    if (!full_error_ || !is_alive_ || !put_ || !timeout_) return -1;
    return 0;
  }

  int Start() {
    PyRef started(PyObject_CallMethod(thread_.get(), "start", nullptr));
    if (!started) return -1;
    started_ = true;
    return 0;
  }

  // Queues one chunk, waiting while the queue is full. Returns 1 when
  // queued, 0 when the writer thread has ended (the chunk is dropped: the
  // writer's error is reported by Finish), -1 with an exception set.
  //
  // The wait is a put with a timeout rather than sleeps between polls: the
  // caller resumes as soon as the writer takes a chunk, so the queue stays
  // near full and the writer never drains it while the caller sleeps
  // (which costs throughput and lets the allocator hand the chunks' memory
  // back only to fault it in again). The liveness test runs at each timeout.
  int HandOver(PyObject* chunk) {
    for (;;) {
      int alive = Truth(is_alive_.get());
      if (alive <= 0) return alive;
      PyRef args(PyTuple_Pack(1, chunk));
      if (!args) return -1;
      PyRef queued(PyObject_Call(put_.get(), args.get(), timeout_.get()));
      if (queued) return 1;
      if (!PyErr_ExceptionMatches(full_error_.get())) return -1;
      PyErr_Clear();
    }
  }

  // Ends the transfer: sets `done`, waits for the writer thread, then
  // returns None, or NULL with the read side's pending exception if there
  // is one, else the writer's. Runs the writer's cleanup itself when the
  // thread never started.
  PyObject* Finish() {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    WriterObject* writer = AsWriter(writer_.get());
    writer->done = 1;
    if (started_) {
      PyRef joined(PyObject_CallMethod(thread_.get(), "join", nullptr));
      if (!joined) RecordError(writer);
    } else if (writer->owns_target) {
      PyRef closed(PyObject_CallMethod(writer->target, "close", nullptr));
      if (!closed) PyErr_Clear();
    }
    if (type != nullptr) {
      PyErr_Restore(type, value, traceback);
      return nullptr;
    }
    if (writer->error != nullptr) {
      PyObject* error = writer->error;
      PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error)), error);
      return nullptr;
    }
    Py_RETURN_NONE;
  }

 private:
  static int Truth(PyObject* callable) {
    PyRef result(PyObject_CallNoArgs(callable));
    if (!result) return -1;
    return PyObject_IsTrue(result.get());
  }

  PyRef writer_;
  PyRef thread_;
  PyRef full_error_;
  PyRef is_alive_;
  PyRef put_;
  PyRef timeout_;
  bool started_ = false;
};

// buffer_size, or DEFAULT_BUFFER_SIZE (from the module's globals, read at
// each call) when it is false. New reference.
PyObject* ChunkSize(PyObject* buffer_size) {
  int given = PyObject_IsTrue(buffer_size);
  if (given < 0) return nullptr;
  if (given) {
    Py_INCREF(buffer_size);
    return buffer_size;
  }
  return FsGlobal("DEFAULT_BUFFER_SIZE");
}

// The read request size of download. Checked before anything is opened or
// started: a value that is not an integer, negative, or past 32 bits fails
// here, so no thread, buffer or destination file is left behind. Zero (only
// reachable by rebinding DEFAULT_BUFFER_SIZE) is refused as well: reads of
// zero bytes never reach the end of the file.
int ReadSize(PyObject* size_obj, int32_t* out) {
  PyRef index(PyNumber_Index(size_obj));
  if (!index) return -1;
  size_t size = PyLong_AsSize_t(index.get());
  if (size == static_cast<size_t>(-1) && PyErr_Occurred()) return -1;
  if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    PyErr_SetString(PyExc_OverflowError,
                    "value too large to convert to int32_t");
    return -1;
  }
  if (size == 0) {
    PyErr_SetString(PyExc_ValueError, "buffer_size must be positive");
    return -1;
  }
  *out = static_cast<int32_t>(size);
  return 0;
}

// The destination of download: stream_or_path itself when it has a "read"
// attribute, else open(stream_or_path, "wb"). *owned tells which.
PyObject* OpenDestination(PyObject* stream_or_path, bool* owned) {
  PyRef read(PyObject_GetAttrString(stream_or_path, "read"));
  if (read) {
    *owned = false;
    Py_INCREF(stream_or_path);
    return stream_or_path;
  }
  PyErr_Clear();
  *owned = true;
  PyRef builtin_open(FsBuiltin("open"));
  if (!builtin_open) return nullptr;
  return PyObject_CallFunction(builtin_open.get(), "Os", stream_or_path, "wb");
}

// Runs the read loop of download: reads the store stream in chunks of
// `size` into one reused buffer and hands a copy of each to the writer.
// Returns 0, or -1 with an exception set.
int DownloadLoop(OvkReader* reader, int32_t size, char* buffer,
                 Transfer* transfer) {
  for (;;) {
    std::string_view view;
    OvkStatus status;
    Py_BEGIN_ALLOW_THREADS
    status = reader->read(static_cast<uint64_t>(size), &view, buffer);
    Py_END_ALLOW_THREADS
    bool end = !status.ok();
    if (end && !isEndOfFile(status)) {
      RaiseStatus(status, StatusMapping::kIOError);
      return -1;
    }
    PyRef chunk(PyBytes_FromStringAndSize(
        view.data(), static_cast<Py_ssize_t>(view.size())));
    if (!chunk) return -1;
    int queued = transfer->HandOver(chunk.get());
    if (queued <= 0) return queued;
    if (end) return 0;
  }
}

// `with cm as stream: body(stream)` with the host's rules: __exit__ gets the
// body's exception and may suppress it; an exception from __exit__ replaces
// the body's. Returns a new reference to the body's result (None when an
// exception was suppressed) or NULL.
template <typename Body>
PyObject* WithBlock(PyObject* cm, Body body) {
  PyRef exit(PyObject_GetAttrString(cm, "__exit__"));
  if (!exit) return nullptr;
  PyRef entered(PyObject_CallMethod(cm, "__enter__", nullptr));
  if (!entered) return nullptr;
  PyRef result(body(entered.get()));
  if (result) {
    PyRef exited(PyObject_CallFunctionObjArgs(exit.get(), Py_None, Py_None,
                                              Py_None, nullptr));
    return exited ? result.release() : nullptr;
  }
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr) PyException_SetTraceback(value, traceback);
  PyRef exited(PyObject_CallFunctionObjArgs(
      exit.get(), type, value, traceback != nullptr ? traceback : Py_None,
      nullptr));
  if (!exited) {
    PyObject *type2, *value2, *traceback2;
    PyErr_Fetch(&type2, &value2, &traceback2);
    PyErr_NormalizeException(&type2, &value2, &traceback2);
    PyException_SetContext(value2, value);  // steals value
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    PyErr_Restore(type2, value2, traceback2);
    return nullptr;
  }
  int suppress = PyObject_IsTrue(exited.get());
  if (suppress > 0) {
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    Py_RETURN_NONE;
  }
  PyErr_Restore(type, value, traceback);
  return nullptr;
}

// stream.<method>(arg, buffer_size=buffer_size)
PyObject* CallTransfer(PyObject* stream, const char* method, PyObject* arg,
                       PyObject* buffer_size) {
  PyRef callable(PyObject_GetAttrString(stream, method));
  if (!callable) return nullptr;
  PyRef args(PyTuple_Pack(1, arg));
  PyRef kwargs(Py_BuildValue("{s:O}", "buffer_size", buffer_size));
  if (!args || !kwargs) return nullptr;
  return PyObject_Call(callable.get(), args.get(), kwargs.get());
}

// self.open(path, mode) through the override check, so that a subclass's
// open is the one called.
PyObject* OpenInStore(PyObject* self, PyObject* path, const char* mode) {
  PyRef mode_obj(PyUnicode_FromString(mode));
  if (!mode_obj) return nullptr;
  return FileSystem_call_open(self, path, mode_obj.get(), nullptr);
}

// Parses (first, second, buffer_size=None) of a FileSystem transfer and
// returns its chunk size: buffer_size as given or, when it is None and the
// connection's configuration holds key, the configured value (1048576 if it
// does not parse). *from_config tells whether the configuration supplied it.
PyObject* ParseTransferArgs(PyObject* self, PyObject* args, PyObject* kwargs,
                            const char* const kwlist[], const char* format,
                            const char* key, PyObject** first,
                            PyObject** second, bool* from_config) {
  PyObject* buffer_size = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format,
                                   const_cast<char**>(kwlist), first, second,
                                   &buffer_size)) {
    return nullptr;
  }
  *from_config = false;
  const std::shared_ptr<OvkConfig>& config =
      reinterpret_cast<FileSystemObject*>(self)->config;
  if (buffer_size != Py_None || !config || !config->contains(key)) {
    Py_INCREF(buffer_size);
    return buffer_size;
  }
  *from_config = true;
  return PyLong_FromLongLong(config->getInt64(key, kConfigDefaultBufferSize));
}

// The native writer of `destination` when it is an open, writable stream
// of the exact FileStream type, whose write cannot have been replaced:
// download may then hand it the whole copy in one native call, and the
// storage moves the bytes itself (a server-side copy for quoll://, by the
// kernel for file://) instead of through this process. Null otherwise.
OvkWriter* DirectCopyTarget(PyObject* destination) {
  if (!stream::IsExact(destination)) return nullptr;
  FileStreamObject* target = stream::AsStream(destination);
  if (!target->is_writable || target->writer == nullptr ||
      target->writer->closed()) {
    return nullptr;
  }
  return target->writer.get();
}

PyObject* CopyToStream(OvkReader* reader, OvkWriter* writer) {
  OvkStatus status;
  int64_t copied = 0;
  Py_BEGIN_ALLOW_THREADS
  status = writer->copyFrom(*reader, &copied);
  Py_END_ALLOW_THREADS
  if (!status.ok()) return RaiseStatus(status, StatusMapping::kIOError);
  Py_RETURN_NONE;
}

}  // namespace

PyObject* FileStream_download(PyObject* self, PyObject* args,
                              PyObject* kwargs) {
  static const char* kwlist[] = {"stream_or_path", "buffer_size", nullptr};
  PyObject* stream_or_path;
  PyObject* buffer_size = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:download",
                                   const_cast<char**>(kwlist), &stream_or_path,
                                   &buffer_size)) {
    return nullptr;
  }
  OvkReader* reader = FileStream_GetReader(self);
  if (reader == nullptr) return nullptr;
  PyRef size_obj(ChunkSize(buffer_size));
  if (!size_obj) return nullptr;
  int32_t size = 0;
  if (ReadSize(size_obj.get(), &size) < 0) return nullptr;
  if (OvkWriter* writer = DirectCopyTarget(stream_or_path)) {
    return CopyToStream(reader, writer);
  }

  PyRef queue_type(FsGlobal("Queue"));
  if (!queue_type) return nullptr;
  PyRef queue(PyObject_CallFunction(queue_type.get(), "l", kQueueCapacity));
  if (!queue) return nullptr;
  bool owned = false;
  PyRef destination(OpenDestination(stream_or_path, &owned));
  if (!destination) return nullptr;

  Transfer transfer;
  if (transfer.Create(std::move(queue), destination.get(), owned) < 0) {
    if (owned) {
      PyObject *type, *value, *traceback;
      PyErr_Fetch(&type, &value, &traceback);
      PyRef closed(PyObject_CallMethod(destination.get(), "close", nullptr));
      if (!closed) PyErr_Clear();
      PyErr_Restore(type, value, traceback);
    }
    return nullptr;
  }
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
  if (!buffer) {
    PyErr_Format(PyExc_MemoryError, "Failed to allocate %S bytes",
                 size_obj.get());
    return transfer.Finish();
  }
  if (transfer.Start() == 0) {
    DownloadLoop(reader, size, buffer.get(), &transfer);
  }
  buffer.reset();
  return transfer.Finish();
}

PyObject* FileStream_upload(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"stream", "buffer_size", nullptr};
  PyObject* source;
  PyObject* buffer_size = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:upload",
                                   const_cast<char**>(kwlist), &source,
                                   &buffer_size)) {
    return nullptr;
  }
  PyRef queue_type(FsGlobal("Queue"));
  if (!queue_type) return nullptr;
  PyRef queue(PyObject_CallFunction(queue_type.get(), "l", kQueueCapacity));
  if (!queue) return nullptr;
  PyRef checked(PyObject_CallMethod(self, "_assert_writable", nullptr));
  if (!checked) return nullptr;
  PyRef size(ChunkSize(buffer_size));
  if (!size) return nullptr;

  Transfer transfer;
  if (transfer.Create(std::move(queue), self, false) < 0) return nullptr;
  if (transfer.Start() == 0) {
    for (;;) {
      PyRef chunk(PyObject_CallMethod(source, "read", "O", size.get()));
      if (!chunk) break;
      int more = PyObject_IsTrue(chunk.get());
      if (more <= 0) break;
      if (transfer.HandOver(chunk.get()) <= 0) break;
    }
  }
  return transfer.Finish();
}

PyObject* FileSystem_download(PyObject* self, PyObject* args,
                              PyObject* kwargs) {
  static const char* const kwlist[] = {"path", "stream",
                                       "buffer_size", nullptr};
  PyObject *path, *stream;
  bool from_config = false;
  PyRef size(ParseTransferArgs(self, args, kwargs, kwlist, "OO|O:download",
                               kReadBufferSizeKey, &path, &stream,
                               &from_config));
  if (!size) return nullptr;
  if (from_config) {
    PyRef print(FsBuiltin("print"));
    if (!print) return nullptr;
    PyRef printed(PyObject_CallFunction(print.get(), "sO",
                                        "download_buffer_size", size.get()));
    if (!printed) return nullptr;
  }
  PyRef file(OpenInStore(self, path, "rb"));
  if (!file) return nullptr;
  return WithBlock(file.get(), [&](PyObject* f) {
    return CallTransfer(f, "download", stream, size.get());
  });
}

PyObject* FileSystem_upload(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const kwlist[] = {"path", "stream",
                                       "buffer_size", nullptr};
  PyObject *path, *stream;
  bool from_config = false;
  PyRef size(ParseTransferArgs(self, args, kwargs, kwlist, "OO|O:upload",
                               kWriteBufferSizeKey, &path, &stream,
                               &from_config));
  if (!size) return nullptr;
  PyRef file(OpenInStore(self, path, "wb"));
  if (!file) return nullptr;
  return WithBlock(file.get(), [&](PyObject* f) {
    return CallTransfer(f, "upload", stream, size.get());
  });
}

PyObject* FileSystem_copy_file(PyObject* self, PyObject* args,
                               PyObject* kwargs) {
  static const char* const kwlist[] = {"src", "dest",
                                       "buffer_size", nullptr};
  PyObject *src, *dest;
  bool from_config = false;
  PyRef size(ParseTransferArgs(self, args, kwargs, kwlist, "OO|O:copy_file",
                               kReadBufferSizeKey, &src, &dest, &from_config));
  if (!size) return nullptr;
  PyRef source(OpenInStore(self, src, "rb"));
  if (!source) return nullptr;
  return WithBlock(source.get(), [&](PyObject* rh) -> PyObject* {
    PyRef target(OpenInStore(self, dest, "wb"));
    if (!target) return nullptr;
    return WithBlock(target.get(), [&](PyObject* wh) {
      return CallTransfer(rh, "download", wh, size.get());
    });
  });
}

int Transfers_ExecTypes(PyObject*) { return PyType_Ready(&Writer_Type); }
