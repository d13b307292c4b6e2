// The fake's streams (over the in-memory file table), their asynchronous
// forms and the operation calls.
#include <algorithm>
#include <cstring>

#include "fake_api.h"
#include "fake_sdk_control.h"

using namespace ovkfake;

namespace {

// The stream a producer works on, checked again when it runs: an
// asynchronous request may complete after its stream was freed.
Stream* liveStream(State& state, Stream* stream, const char* function) {
  return state.use<Stream>(stream, Kind::kStream, function);
}

Reply noStream() {
  Reply reply;
  reply.code = OVK_ERR_INVALID_ARGUMENT;
  reply.message = "no stream";
  reply.value = -1;
  return reply;
}

// Copies bytes of stream from position into buffer; -1 at end of file.
int64_t copyOut(const Stream& stream, int64_t position, char* buffer,
                uint64_t n) {
  if (n == 0) return 0;
  int64_t size = static_cast<int64_t>(stream.bytes.size());
  if (position >= size) return -1;
  uint64_t count = std::min<uint64_t>(n, static_cast<uint64_t>(size - position));
  std::memcpy(buffer, stream.bytes.data() + position, count);
  return static_cast<int64_t>(count);
}

// The count a default read or pread delivers for a request of n.
uint64_t chunked(uint64_t n) {
  uint64_t chunk = State::get().read_chunk;
  return chunk != 0 ? std::min(n, chunk) : n;
}

// A scripted read: its bytes (at most n) go to buffer, its value is ret.
std::optional<Reply> scriptedRead(const std::optional<Answer>& answer,
                                  char* buffer, uint64_t n) {
  if (!answer) return std::nullopt;
  if (answer->data) {
    size_t count = std::min<size_t>(answer->data->size(), n);
    std::memcpy(buffer, answer->data->data(), count);
  }
  return failedReply(*answer, answer->ret);
}

Producer readProducer(Stream* stream, char* buffer, uint64_t n,
                      const char* function) {
  return [=](const std::optional<Answer>& answer) {
    if (auto scripted = scriptedRead(answer, buffer, n)) return *scripted;
    Stream* s = liveStream(State::get(), stream, function);
    if (s == nullptr) return noStream();
    Reply reply;
    reply.value = copyOut(*s, s->position, buffer, chunked(n));
    if (reply.value > 0) s->position += reply.value;
    return reply;
  };
}

Producer preadProducer(Stream* stream, char* buffer, uint64_t n,
                       int64_t offset, const char* function) {
  return [=](const std::optional<Answer>& answer) {
    if (auto scripted = scriptedRead(answer, buffer, n)) return *scripted;
    Stream* s = liveStream(State::get(), stream, function);
    if (s == nullptr) return noStream();
    Reply reply;
    if (offset < 0) {
      reply.code = OVK_ERR_INVALID_ARGUMENT;
      reply.message = "negative offset";
      reply.value = -1;
      return reply;
    }
    reply.value = copyOut(*s, offset, buffer, chunked(n));
    return reply;
  };
}

Producer preadvProducer(Stream* stream, Buffers* buffers, Longs* lengths,
                        Longs* offsets, const char* function) {
  return [=](const std::optional<Answer>& answer) {
    if (answer) return failedReply(*answer, answer->ret);
    State& state = State::get();
    Stream* s = liveStream(state, stream, function);
    if (s == nullptr) return noStream();
    Reply reply;
    if (buffers == nullptr || lengths == nullptr || offsets == nullptr ||
        buffers->freed || lengths->freed || offsets->freed ||
        lengths->values.size() != buffers->buffers.size() ||
        offsets->values.size() != buffers->buffers.size()) {
      reply.code = OVK_ERR_INVALID_ARGUMENT;
      reply.message = "ranges do not match";
      reply.value = -1;
      return reply;
    }
    for (size_t i = 0; i < buffers->buffers.size(); ++i) {
      int64_t got = copyOut(*s, offsets->values[i], buffers->buffers[i],
                            static_cast<uint64_t>(lengths->values[i]));
      if (got > 0) reply.value += got;
    }
    return reply;
  };
}

Producer writeProducer(Stream* stream, const char* data, uint64_t n,
                       const char* function) {
  return [=](const std::optional<Answer>& answer) {
    if (answer) return failedReply(*answer, answer->ret);
    Stream* s = liveStream(State::get(), stream, function);
    if (s == nullptr) return noStream();
    s->bytes.append(data, n);
    s->position = static_cast<int64_t>(s->bytes.size());
    Reply reply;
    reply.value = static_cast<int64_t>(n);
    return reply;
  };
}

// tell, seek and getFileLength: value(stream) unless scripted.
template <typename Value>
Producer positionProducer(Stream* stream, const char* function, Value value) {
  return [=](const std::optional<Answer>& answer) {
    if (answer) return failedReply(*answer, answer->ret);
    Stream* s = liveStream(State::get(), stream, function);
    if (s == nullptr) return noStream();
    Reply reply;
    reply.value = value(*s);
    return reply;
  };
}

Producer flushProducer() { return boolReply; }

// Appends the rest of source to the write stream, as a copy by the storage.
Producer copyFromProducer(Stream* stream, const void* source,
                          const char* function) {
  return [=](const std::optional<Answer>& answer) {
    if (answer) return failedReply(*answer, answer->ret);
    State& state = State::get();
    Stream* to = liveStream(state, stream, function);
    Stream* from = state.use<Stream>(source, Kind::kStream, function);
    if (to == nullptr || from == nullptr) return noStream();
    int64_t size = static_cast<int64_t>(from->bytes.size());
    int64_t start = std::min(from->position, size);
    to->bytes.append(from->bytes, static_cast<size_t>(start));
    to->position = static_cast<int64_t>(to->bytes.size());
    from->position = std::max(from->position, size);
    Reply reply;
    reply.value = size - start;
    return reply;
  };
}

// Closing a write stream publishes its bytes under its path.
Producer closeProducer(Stream* stream, const char* function) {
  return [=](const std::optional<Answer>& answer) {
    if (answer) return failedReply(*answer, answer->ret);
    State& state = State::get();
    Stream* s = liveStream(state, stream, function);
    if (s == nullptr) return noStream();
    if (s->writing) state.files[s->path] = s->bytes;
    Reply reply;
    reply.value = 1;
    return reply;
  };
}

// Runs one blocking stream call on the stream of ctx.
template <typename MakeProducer, typename... Args>
Reply streamCall(ovk_handle_ctx_t* ctx, ovk_options_t* options,
                 const char* function, MakeProducer make_producer,
                 const Args&... args) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line(function, args...));
  if (options != nullptr) {
    state.fault(std::string(function) + ": options given to a blocking call");
  }
  Ctx* c = state.use<Ctx>(ctx, Kind::kCtx, function);
  if (c == nullptr) return noStream();
  if (c->stream == nullptr) {
    state.fault(std::string(function) + ": handle context without a stream");
  }
  return runBlocking(state, c, function, make_producer(c->stream));
}

template <typename MakeProducer, typename... Args>
ovk_operation_call_t* streamAsync(ovk_handle_ctx_t* ctx,
                                  ovk_options_t* options,
                                  const char* function,
                                  MakeProducer make_producer,
                                  const Args&... args) {
  State& state = State::get();
  std::unique_lock<std::mutex> lock(state.mu);
  state.record(line(function, args...));
  Ctx* c = state.use<Ctx>(ctx, Kind::kCtx, function);
  Options* o = state.use<Options>(options, Kind::kOptions, function);
  if (c != nullptr && c->stream == nullptr) {
    state.fault(std::string(function) + ": handle context without a stream");
  }
  Stream* stream = c != nullptr ? c->stream : nullptr;
  return submit(lock, state, c, o, function, make_producer(stream));
}

std::string rangesText(State& state, ovk_file_buffers_t* buffers,
                       ovk_longs_t* lengths, ovk_longs_t* offsets,
                       const char* function) {
  Buffers* b = state.use<Buffers>(buffers, Kind::kBuffers, function);
  Longs* l = state.use<Longs>(lengths, Kind::kLongs, function);
  Longs* o = state.use<Longs>(offsets, Kind::kLongs, function);
  auto list = [](const Longs* values) {
    std::string text = "[";
    if (values != nullptr) {
      for (size_t i = 0; i < values->values.size(); ++i) {
        if (i != 0) text += ',';
        text += std::to_string(values->values[i]);
      }
    }
    return text + "]";
  };
  return std::to_string(b != nullptr ? b->buffers.size() : 0) + "," +
         list(l) + "," + list(o);
}

int64_t positionOf(const Stream& s) { return s.position; }
int64_t lengthOf(const Stream& s) {
  return static_cast<int64_t>(s.bytes.size());
}

}  // namespace

extern "C" {

ovk_io_context_t* ovk_open(ovk_handle_ctx_t* ctx, const char* path,
                           int32_t flags, int32_t perm,
                           ovk_options_t* options) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_open", path, flags, perm));
  if (options != nullptr) state.fault("ovk_open: options given");
  Ctx* c = state.use<Ctx>(ctx, Kind::kCtx, "ovk_open");
  if (c == nullptr) return nullptr;
  std::string name = path;
  Reply reply = runBlocking(
      state, c, "ovk_open", [&](const std::optional<Answer>& answer) {
        if (noObject(answer)) return failedReply(*answer, 0);
        bool writing = (flags & OVK_OPEN_WRITE) != 0;
        auto file = state.files.find(name);
        Reply opened;
        if (!writing && file == state.files.end()) {
          opened.code = OVK_ERR_NOT_FOUND;
          opened.message = name + ": not found";
          return opened;
        }
        Stream* stream = state.make<Stream>();
        stream->path = name;
        stream->writing = writing;
        if (!writing || ((flags & OVK_OPEN_APPEND) != 0 &&
                         file != state.files.end())) {
          stream->bytes = file->second;
        }
        if (writing) {
          stream->position = static_cast<int64_t>(stream->bytes.size());
        }
        opened.object = stream;
        return opened;
      });
  return as<ovk_io_context_t>(reply.object);
}

int64_t ovk_read(ovk_handle_ctx_t* ctx, char* buffer, uint64_t n,
                 ovk_options_t* options) {
  return streamCall(ctx, options, "ovk_read",
                    [&](Stream* s) {
                      return readProducer(s, buffer, n, "ovk_read");
                    },
                    n)
      .value;
}

int64_t ovk_pread(ovk_handle_ctx_t* ctx, char* buffer, uint64_t n,
                  int64_t offset, ovk_options_t* options) {
  return streamCall(ctx, options, "ovk_pread",
                    [&](Stream* s) {
                      return preadProducer(s, buffer, n, offset, "ovk_pread");
                    },
                    n, offset)
      .value;
}

int64_t ovk_preadv(ovk_handle_ctx_t* ctx, ovk_file_buffers_t* buffers,
                   ovk_longs_t* lengths, ovk_longs_t* offsets,
                   ovk_options_t* options) {
  State& state = State::get();
  std::string ranges;
  {
    std::lock_guard<std::mutex> lock(state.mu);
    ranges = rangesText(state, buffers, lengths, offsets, "ovk_preadv");
  }
  return streamCall(ctx, options, "ovk_preadv",
                    [&](Stream* s) {
                      return preadvProducer(s, as<Buffers>(buffers),
                                            as<Longs>(lengths),
                                            as<Longs>(offsets), "ovk_preadv");
                    },
                    ranges)
      .value;
}

int64_t ovk_write(ovk_handle_ctx_t* ctx, const char* data, uint64_t n,
                  ovk_options_t* options) {
  return streamCall(ctx, options, "ovk_write",
                    [&](Stream* s) {
                      return writeProducer(s, data, n, "ovk_write");
                    },
                    n)
      .value;
}

bool ovk_flush(ovk_handle_ctx_t* ctx, ovk_options_t* options) {
  return streamCall(ctx, options, "ovk_flush",
                    [](Stream*) { return flushProducer(); })
             .value != 0;
}

int64_t ovk_tell(ovk_handle_ctx_t* ctx, ovk_options_t* options) {
  return streamCall(ctx, options, "ovk_tell", [](Stream* s) {
           return positionProducer(s, "ovk_tell", positionOf);
         }).value;
}

int64_t ovk_seek(ovk_handle_ctx_t* ctx, int64_t offset,
                 ovk_options_t* options) {
  return streamCall(ctx, options, "ovk_seek",
                    [offset](Stream* s) {
                      return positionProducer(s, "ovk_seek",
                                              [offset](Stream& st) {
                                                st.position = offset;
                                                return offset;
                                              });
                    },
                    offset)
      .value;
}

int64_t ovk_getFileLength(ovk_handle_ctx_t* ctx, ovk_options_t* options) {
  return streamCall(ctx, options, "ovk_getFileLength", [](Stream* s) {
           return positionProducer(s, "ovk_getFileLength", lengthOf);
         }).value;
}

bool ovk_close(ovk_handle_ctx_t* ctx, ovk_options_t* options) {
  return streamCall(ctx, options, "ovk_close", [](Stream* s) {
           return closeProducer(s, "ovk_close");
         }).value != 0;
}

int64_t ovk_copyFrom(ovk_handle_ctx_t* ctx, ovk_io_context_t* source,
                     ovk_options_t* options) {
  std::string from;
  {
    State& state = State::get();
    std::lock_guard<std::mutex> lock(state.mu);
    from = state.render(source, Kind::kStream);
  }
  return streamCall(ctx, options, "ovk_copyFrom",
                    [source](Stream* s) {
                      return copyFromProducer(s, source, "ovk_copyFrom");
                    },
                    from)
      .value;
}

void ovk_freeIOContext(ovk_io_context_t* stream) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_freeIOContext", state.render(stream, Kind::kStream)));
  state.release(stream, Kind::kStream, "ovk_freeIOContext");
}

// ---- streams, asynchronous

ovk_operation_call_t* ovk_readAsync(ovk_handle_ctx_t* ctx, char* buffer,
                                    uint64_t n, ovk_options_t* options) {
  return streamAsync(ctx, options, "ovk_readAsync",
                     [&](Stream* s) {
                       return readProducer(s, buffer, n, "ovk_readAsync");
                     },
                     n);
}

ovk_operation_call_t* ovk_preadAsync(ovk_handle_ctx_t* ctx, char* buffer,
                                     uint64_t n, int64_t offset,
                                     ovk_options_t* options) {
  return streamAsync(ctx, options, "ovk_preadAsync",
                     [&](Stream* s) {
                       return preadProducer(s, buffer, n, offset,
                                            "ovk_preadAsync");
                     },
                     n, offset);
}

ovk_operation_call_t* ovk_preadvAsync(ovk_handle_ctx_t* ctx,
                                      ovk_file_buffers_t* buffers,
                                      ovk_longs_t* lengths,
                                      ovk_longs_t* offsets,
                                      ovk_options_t* options) {
  State& state = State::get();
  std::string ranges;
  {
    std::lock_guard<std::mutex> lock(state.mu);
    ranges = rangesText(state, buffers, lengths, offsets, "ovk_preadvAsync");
  }
  return streamAsync(ctx, options, "ovk_preadvAsync",
                     [&](Stream* s) {
                       return preadvProducer(s, as<Buffers>(buffers),
                                             as<Longs>(lengths),
                                             as<Longs>(offsets),
                                             "ovk_preadvAsync");
                     },
                     ranges);
}

ovk_operation_call_t* ovk_writeAsync(ovk_handle_ctx_t* ctx, const char* data,
                                     uint64_t n, ovk_options_t* options) {
  return streamAsync(ctx, options, "ovk_writeAsync",
                     [&](Stream* s) {
                       return writeProducer(s, data, n, "ovk_writeAsync");
                     },
                     n);
}

ovk_operation_call_t* ovk_flushAsync(ovk_handle_ctx_t* ctx,
                                     ovk_options_t* options) {
  return streamAsync(ctx, options, "ovk_flushAsync",
                     [](Stream*) { return flushProducer(); });
}

ovk_operation_call_t* ovk_tellAsync(ovk_handle_ctx_t* ctx,
                                    ovk_options_t* options) {
  return streamAsync(ctx, options, "ovk_tellAsync", [](Stream* s) {
    return positionProducer(s, "ovk_tellAsync", positionOf);
  });
}

ovk_operation_call_t* ovk_seekAsync(ovk_handle_ctx_t* ctx, int64_t offset,
                                    ovk_options_t* options) {
  return streamAsync(ctx, options, "ovk_seekAsync",
                     [offset](Stream* s) {
                       return positionProducer(s, "ovk_seekAsync",
                                               [offset](Stream& st) {
                                                 st.position = offset;
                                                 return offset;
                                               });
                     },
                     offset);
}

ovk_operation_call_t* ovk_getFileLengthAsync(ovk_handle_ctx_t* ctx,
                                             ovk_options_t* options) {
  return streamAsync(ctx, options, "ovk_getFileLengthAsync", [](Stream* s) {
    return positionProducer(s, "ovk_getFileLengthAsync", lengthOf);
  });
}

ovk_operation_call_t* ovk_closeAsync(ovk_handle_ctx_t* ctx,
                                     ovk_options_t* options) {
  return streamAsync(ctx, options, "ovk_closeAsync", [](Stream* s) {
    return closeProducer(s, "ovk_closeAsync");
  });
}

// ---- operation calls

namespace {

// Records an operation-call function and returns its request, or null when
// the script made it fail (the failure is on ctx) or the call is unusable.
std::shared_ptr<Request> driven(State& state, ovk_handle_ctx_t* ctx,
                                ovk_operation_call_t* call,
                                const char* function) {
  state.record(line(function, state.render(call, Kind::kCall)));
  Ctx* c = state.use<Ctx>(ctx, Kind::kCtx, function);
  Call* op = state.use<Call>(call, Kind::kCall, function);
  if (c == nullptr || op == nullptr) return nullptr;
  if (std::optional<Answer> answer = state.pop(function)) {
    c->code = answer->code;
    c->message = answer->message;
    if (answer->code != 0) return nullptr;
  }
  return op->request;
}

}  // namespace

void ovk_perform(ovk_handle_ctx_t* ctx, ovk_operation_call_t* call) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  driven(state, ctx, call, "ovk_perform");
}

void ovk_wait(ovk_handle_ctx_t* ctx, ovk_operation_call_t* call) {
  State& state = State::get();
  std::unique_lock<std::mutex> lock(state.mu);
  std::shared_ptr<Request> request = driven(state, ctx, call, "ovk_wait");
  if (request == nullptr) return;
  if (state.async_mode != OVKFAKE_ASYNC_THREAD) {
    complete(lock, request, std::nullopt);
  }
  request->done.wait(lock, [&] {
    return request->state == Request::State::kDone;
  });
}

void ovk_cancel(ovk_handle_ctx_t* ctx, ovk_operation_call_t* call) {
  State& state = State::get();
  std::unique_lock<std::mutex> lock(state.mu);
  std::shared_ptr<Request> request = driven(state, ctx, call, "ovk_cancel");
  if (request != nullptr) complete(lock, request, OVK_ERR_CANCELLED);
}

void ovk_freeOperationCall(ovk_operation_call_t* call) {
  State& state = State::get();
  std::lock_guard<std::mutex> lock(state.mu);
  state.record(line("ovk_freeOperationCall", state.render(call, Kind::kCall)));
  state.release(call, Kind::kCall, "ovk_freeOperationCall");
}

}  // extern "C"
