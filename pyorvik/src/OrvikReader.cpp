#include "OrvikReader.h"

#include <algorithm>
#include <utility>

#include "OvkAsyncSubmit.h"
#include "OvkSdkCall.h"

namespace {

// The SDK never answers a non-zero request with 0 bytes; one that keeps
// doing so is broken, and the read fails with the short-read message
// instead of spinning for ever.
constexpr int kMaxEmptyReads = 1000;

constexpr char kEndOfFilePrefix[] = "EOF reached, ";

// One sequential or positional read of n bytes into scratch, over borrowed
// handles; shared by the blocking forms and the asynchronous callbacks.
struct ReadRequest {
  ovk_store_t* store;
  ovk_io_context_t* stream;
  const std::string& name;
  bool positional;
  int64_t offset;  // positional reads only
  uint64_t n;
  char* scratch;
};

OvkStatus readFailure(const ReadRequest& request, uint64_t got,
                      uint64_t remaining, int64_t last,
                      const SdkOutcome& outcome) {
  if (request.positional) {
    return OvkStatus::InternalError(
        outcome.code, "failed to read ", request.name, " offset ",
        request.offset + static_cast<int64_t>(got), " size ", remaining,
        " readed ", last, ", errmsg: ", outcome.message);
  }
  return OvkStatus::InternalError(outcome.code, "failed to read ",
                                  request.name, " size ", remaining,
                                  " readed ", last, ", errmsg: ",
                                  outcome.message);
}

// Reads until n bytes are in scratch or the file ends. When first is set,
// the SDK has already made the first iteration (an asynchronous read) and
// returned it. After an SDK error *out is left as it was.
OvkStatus runReadLoop(const ReadRequest& request, const int64_t* first,
                      std::string_view* out) {
  uint64_t got = 0;
  int64_t last = first != nullptr ? *first : 0;
  bool have_result = first != nullptr;
  int empty_reads = 0;
  for (;;) {
    if (!have_result) {
      uint64_t remaining = request.n - got;
      ovk_handle_ctx_t* ctx =
          ovk_createHandleCtx2(request.store, request.stream);
      last = request.positional
                 ? ovk_pread(ctx, request.scratch + got, remaining,
                             request.offset + static_cast<int64_t>(got),
                             nullptr)
                 : ovk_read(ctx, request.scratch + got, remaining, nullptr);
      SdkOutcome outcome = takeOutcome(ctx);
      if (!outcome.ok()) {
        return readFailure(request, got, remaining, last, outcome);
      }
    }
    have_result = false;
    if (last < 0) break;
    if (last > 0) {
      // A count beyond the request is not believed: the view never claims
      // more than the caller's buffer holds.
      got += std::min(static_cast<uint64_t>(last), request.n - got);
      empty_reads = 0;
    } else {
      ++empty_reads;
    }
    if (got >= request.n || empty_reads >= kMaxEmptyReads) break;
  }
  *out = std::string_view(request.scratch, got);
  if (got >= request.n) return OvkStatus();
  if (last == -1) {
    return OvkStatus::IOError(kEndOfFilePrefix, got,
                              " bytes were read out of ", request.n,
                              " bytes requested.");
  }
  return OvkStatus::IOError("Failed to read, ", request.name, ", expect read ",
                            request.n, " bytes, but ", got,
                            " bytes readed, last read ", last, " bytes");
}

// Callback contexts: made by the asynchronous forms, owned by the SDK until
// the callback runs, then destroyed by the callback first of all.

struct ReadContext {
  ovk_store_t* store;
  ovk_io_context_t* stream;
  std::string name;
  bool positional;
  int64_t offset;
  uint64_t n;
  std::string_view* out;
  char* scratch;
  OvkStatusCallback done;
};

struct PreadvContext {
  ovk_store_t* store;
  ovk_io_context_t* stream;
  std::string name;
  ovk_longs_t* lengths;
  ovk_longs_t* offsets;
  ovk_file_buffers_t* buffers;
  OvkStatusCallback done;
};

struct Int64Context {
  ovk_store_t* store;
  ovk_io_context_t* stream;
  OvkInt64Callback done;
};

struct CloseContext {
  ovk_store_t* store;
  ovk_io_context_t* stream;
  std::string name;
  std::atomic<bool>* closed;
  OvkStatusCallback done;
};

// Finishes an asynchronous read whose first iteration returned value: the
// remaining iterations run here, blocking, on the SDK's callback thread.
void finishReadAsync(ovk_handle_ctx_t* ctx, int64_t value, void* context) {
  ReadContext c = takeContext<ReadContext>(context);
  SdkOutcome outcome = takeOutcome(ctx);
  ReadRequest request{c.store,  c.stream, c.name,   c.positional,
                      c.offset, c.n,      c.scratch};
  OvkStatus status;
  if (!outcome.ok()) {
    // The SDK's iteration asked for all n bytes at the start, so it reports
    // as a blocking iteration that had value bytes behind it would.
    status = readFailure(request, static_cast<uint64_t>(value),
                         c.n - static_cast<uint64_t>(value), value, outcome);
  } else {
    status = runReadLoop(request, &value, c.out);
  }
  if (c.done) c.done(std::move(status));
}

void readCallback(ovk_handle_ctx_t* ctx, int64_t value, void* context) {
  finishReadAsync(ctx, value, context);
}

void preadCallback(ovk_handle_ctx_t* ctx, int64_t value, void* context) {
  finishReadAsync(ctx, value, context);
}

void preadvCallback(ovk_handle_ctx_t* ctx, int64_t /*value*/, void* context) {
  PreadvContext c = takeContext<PreadvContext>(context);
  SdkOutcome outcome = takeOutcome(ctx);
  // The count is read before the list it comes from is freed.
  int64_t ranges = ovk_getFileBuffersSize(c.buffers);
  ovk_freeFileBuffers(c.buffers);
  ovk_freeLongs(c.lengths);
  ovk_freeLongs(c.offsets);
  OvkStatus status;
  if (!outcome.ok()) {
    status = OvkStatus::InternalError(outcome.code, "failed to preadv ",
                                      c.name, " ranges ", ranges, ", errmsg: ",
                                      outcome.message);
  }
  if (c.done) c.done(std::move(status));
}

void int64Callback(ovk_handle_ctx_t* ctx, int64_t value, void* context,
                   const char* prefix) {
  Int64Context c = takeContext<Int64Context>(context);
  OvkStatus status = sdkStatus(takeOutcome(ctx), prefix);
  if (c.done) c.done(std::move(status), value);
}

void tellCallback(ovk_handle_ctx_t* ctx, int64_t value, void* context) {
  int64Callback(ctx, value, context, "file tell failed: ");
}

void seekCallback(ovk_handle_ctx_t* ctx, int64_t value, void* context) {
  int64Callback(ctx, value, context, "file seek failed: ");
}

void getFileLengthCallback(ovk_handle_ctx_t* ctx, int64_t value,
                           void* context) {
  int64Callback(ctx, value, context, "get file length failed: ");
}

// The reader counts as closed once its asynchronous close has completed,
// whatever the outcome.
void closeCallback(ovk_handle_ctx_t* ctx, bool /*result*/, void* context) {
  CloseContext c = takeContext<CloseContext>(context);
  OvkStatus status = sdkStatus(takeOutcome(ctx), "close file failed: ");
  c.closed->store(true);
  if (c.done) c.done(std::move(status));
}

}  // namespace

bool isEndOfFile(const OvkStatus& status) {
  return status.code() == OvkStatus::kIOError &&
         status.message().compare(0, sizeof(kEndOfFilePrefix) - 1,
                                  kEndOfFilePrefix) == 0;
}

OrvikReader::~OrvikReader() {
  if (stream_ == nullptr) return;
  if (!closed_.load()) {
    ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store_, stream_);
    ovk_close(ctx, nullptr);
    takeOutcome(ctx);
  }
  ovk_freeIOContext(stream_);
  stream_ = nullptr;
}

bool OrvikReader::closed() const { return closed_.load(); }

OvkStatus OrvikReader::name(std::string_view* out) const {
  *out = name_;
  return OvkStatus();
}

OvkStatus OrvikReader::read(uint64_t n, std::string_view* out,
                            char* scratch) {
  std::lock_guard<std::mutex> lock(read_lock_);
  if (n == 0) {
    *out = std::string_view(scratch, 0);
    return OvkStatus();
  }
  ReadRequest request{store_, stream_, name_, false, 0, n, scratch};
  return runReadLoop(request, nullptr, out);
}

OvkStatus OrvikReader::pread(int64_t offset, uint64_t n, std::string_view* out,
                             char* scratch) {
  if (n == 0) {
    *out = std::string_view(scratch, 0);
    return OvkStatus();
  }
  ReadRequest request{store_, stream_, name_, true, offset, n, scratch};
  return runReadLoop(request, nullptr, out);
}

std::shared_ptr<OvkTask> OrvikReader::readAsync(uint64_t n,
                                                std::string_view* out,
                                                char* scratch,
                                                OvkStatusCallback done) {
  auto context = std::unique_ptr<ReadContext>(new ReadContext{
      store_, stream_, name_, false, 0, n, out, scratch, std::move(done)});
  return submitAsync(
      store_, stream_, ovk_createHandleCtx2(store_, stream_),
      std::move(context), readCallback,
      [&](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
        return ovk_readAsync(ctx, scratch, n, options);
      });
}

std::shared_ptr<OvkTask> OrvikReader::preadAsync(int64_t offset, uint64_t n,
                                                 std::string_view* out,
                                                 char* scratch,
                                                 OvkStatusCallback done) {
  auto context = std::unique_ptr<ReadContext>(new ReadContext{
      store_, stream_, name_, true, offset, n, out, scratch, std::move(done)});
  return submitAsync(
      store_, stream_, ovk_createHandleCtx2(store_, stream_),
      std::move(context), preadCallback,
      [&](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
        return ovk_preadAsync(ctx, scratch, n, offset, options);
      });
}

namespace {

struct SdkRanges {
  ovk_longs_t* offsets;
  ovk_longs_t* lengths;
  ovk_file_buffers_t* buffers;
};

SdkRanges makeRanges(const std::vector<int64_t>& offsets,
                     const std::vector<uint64_t>& lengths,
                     const std::vector<char*>& buffers) {
  SdkRanges ranges{ovk_createLongs(), ovk_createLongs(),
                   ovk_createFileBuffers()};
  for (int64_t offset : offsets) ovk_appendLong(ranges.offsets, offset);
  for (uint64_t length : lengths) {
    ovk_appendLong(ranges.lengths, static_cast<int64_t>(length));
  }
  for (char* buffer : buffers) ovk_appendFileBuffer(ranges.buffers, buffer);
  return ranges;
}

}  // namespace

OvkStatus OrvikReader::preadv(std::vector<int64_t>& offsets,
                              std::vector<uint64_t>& lengths,
                              std::vector<char*>& buffers) {
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store_, stream_);
  SdkRanges ranges = makeRanges(offsets, lengths, buffers);
  ovk_preadv(ctx, ranges.buffers, ranges.lengths, ranges.offsets, nullptr);
  SdkOutcome outcome = takeOutcome(ctx);
  ovk_freeFileBuffers(ranges.buffers);
  ovk_freeLongs(ranges.lengths);
  ovk_freeLongs(ranges.offsets);
  if (!outcome.ok()) {
    return OvkStatus::InternalError(outcome.code, "failed to preadv ", name_,
                                    " ranges ", buffers.size(), ", errmsg: ",
                                    outcome.message);
  }
  return OvkStatus();
}

std::shared_ptr<OvkTask> OrvikReader::preadvAsync(
    std::vector<int64_t>& offsets, std::vector<uint64_t>& lengths,
    std::vector<char*>& buffers, OvkStatusCallback done) {
  SdkRanges ranges = makeRanges(offsets, lengths, buffers);
  auto context = std::unique_ptr<PreadvContext>(
      new PreadvContext{store_, stream_, name_, ranges.lengths,
                        ranges.offsets, ranges.buffers, std::move(done)});
  return submitAsync(
      store_, stream_, ovk_createHandleCtx2(store_, stream_),
      std::move(context), preadvCallback,
      [&](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
        return ovk_preadvAsync(ctx, ranges.buffers, ranges.lengths,
                               ranges.offsets, options);
      });
}

OvkStatus OrvikReader::tell(int64_t& position) {
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store_, stream_);
  position = ovk_tell(ctx, nullptr);
  return sdkStatus(takeOutcome(ctx), "tell file failed: ");
}

std::shared_ptr<OvkTask> OrvikReader::tellAsync(OvkInt64Callback done) {
  auto context = std::unique_ptr<Int64Context>(
      new Int64Context{store_, stream_, std::move(done)});
  return submitAsync(store_, stream_, ovk_createHandleCtx2(store_, stream_),
                     std::move(context), tellCallback,
                     [](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
                       return ovk_tellAsync(ctx, options);
                     });
}

OvkStatus OrvikReader::seek(int64_t offset) {
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store_, stream_);
  ovk_seek(ctx, offset, nullptr);
  return sdkStatus(takeOutcome(ctx), "seek file failed: ");
}

std::shared_ptr<OvkTask> OrvikReader::seekAsync(int64_t offset,
                                                OvkInt64Callback done) {
  auto context = std::unique_ptr<Int64Context>(
      new Int64Context{store_, stream_, std::move(done)});
  return submitAsync(store_, stream_, ovk_createHandleCtx2(store_, stream_),
                     std::move(context), seekCallback,
                     [offset](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
                       return ovk_seekAsync(ctx, offset, options);
                     });
}

OvkStatus OrvikReader::getFileLength(int64_t& length) {
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store_, stream_);
  length = ovk_getFileLength(ctx, nullptr);
  return sdkStatus(takeOutcome(ctx), "get file length failed: ");
}

std::shared_ptr<OvkTask> OrvikReader::getFileLengthAsync(
    OvkInt64Callback done) {
  auto context = std::unique_ptr<Int64Context>(
      new Int64Context{store_, stream_, std::move(done)});
  return submitAsync(store_, stream_, ovk_createHandleCtx2(store_, stream_),
                     std::move(context), getFileLengthCallback,
                     [](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
                       return ovk_getFileLengthAsync(ctx, options);
                     });
}

OvkStatus OrvikReader::close() {
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx2(store_, stream_);
  ovk_close(ctx, nullptr);
  OvkStatus status = sdkStatus(takeOutcome(ctx), "close file failed: ");
  if (status.ok()) closed_.store(true);
  return status;
}

std::shared_ptr<OvkTask> OrvikReader::closeAsync(OvkStatusCallback done) {
  auto context = std::unique_ptr<CloseContext>(
      new CloseContext{store_, stream_, name_, &closed_, std::move(done)});
  return submitAsync(store_, stream_, ovk_createHandleCtx2(store_, stream_),
                     std::move(context), closeCallback,
                     [](ovk_handle_ctx_t* ctx, ovk_options_t* options) {
                       return ovk_closeAsync(ctx, options);
                     });
}
