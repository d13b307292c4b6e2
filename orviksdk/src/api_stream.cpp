// The blocking C functions of streams.
#include "CApi.h"
#include "Operations.h"
#include "StreamRanges.h"

using ovk::Error;
using ovk::StoreCore;
using ovk::StreamState;

extern "C" {

ovk_io_context_t* ovk_open(ovk_handle_ctx_t* ctx, const char* path, int32_t flags,
                           int32_t perm, ovk_options_t*) {
  std::unique_ptr<ovk_io_context_t> out;
  ovk::WithStore(ctx, "open", [&](StoreCore&) {
    return ovk::ops::Open(ctx->core, path, flags, perm, &out);
  });
  return out.release();
}

int64_t ovk_read(ovk_handle_ctx_t* ctx, char* buffer, uint64_t n, ovk_options_t*) {
  int64_t got = -1;
  bool ok = ovk::WithStream(ctx, "read",
                            [&](StreamState& s) { return s.read(buffer, n, &got); });
  return ok ? got : -1;
}

int64_t ovk_pread(ovk_handle_ctx_t* ctx, char* buffer, uint64_t n, int64_t offset,
                  ovk_options_t*) {
  int64_t got = -1;
  bool ok = ovk::WithStream(ctx, "pread", [&](StreamState& s) {
    return s.pread(buffer, n, offset, &got);
  });
  return ok ? got : -1;
}

int64_t ovk_preadv(ovk_handle_ctx_t* ctx, ovk_file_buffers_t* buffers, ovk_longs_t* lengths,
                   ovk_longs_t* offsets, ovk_options_t*) {
  int64_t total = -1;
  bool ok = ovk::WithStream(ctx, "preadv", [&](StreamState& s) {
    std::vector<ovk::ReadRange> ranges;
    Error err = ovk::MakeRanges(buffers, lengths, offsets, &ranges);
    if (!err.ok()) return err;
    return s.preadv(ranges, &total);
  });
  return ok ? total : -1;
}

int64_t ovk_write(ovk_handle_ctx_t* ctx, const char* data, uint64_t n, ovk_options_t*) {
  bool ok = ovk::WithStream(ctx, "write", [&](StreamState& s) { return s.write(data, n); });
  return ok ? static_cast<int64_t>(n) : -1;
}

bool ovk_flush(ovk_handle_ctx_t* ctx, ovk_options_t*) {
  return ovk::WithStream(ctx, "flush", [&](StreamState& s) { return s.flush(); });
}

int64_t ovk_tell(ovk_handle_ctx_t* ctx, ovk_options_t*) {
  int64_t position = -1;
  bool ok = ovk::WithStream(ctx, "tell", [&](StreamState& s) { return s.tell(&position); });
  return ok ? position : -1;
}

int64_t ovk_seek(ovk_handle_ctx_t* ctx, int64_t offset, ovk_options_t*) {
  int64_t position = -1;
  bool ok = ovk::WithStream(ctx, "seek",
                            [&](StreamState& s) { return s.seek(offset, &position); });
  return ok ? position : -1;
}

int64_t ovk_getFileLength(ovk_handle_ctx_t* ctx, ovk_options_t*) {
  int64_t length = -1;
  bool ok = ovk::WithStream(ctx, "getFileLength",
                            [&](StreamState& s) { return s.length(&length); });
  return ok ? length : -1;
}

bool ovk_close(ovk_handle_ctx_t* ctx, ovk_options_t*) {
  return ovk::WithStream(ctx, "close", [&](StreamState& s) { return s.close(); });
}

int64_t ovk_copyFrom(ovk_handle_ctx_t* ctx, ovk_io_context_t* source, ovk_options_t*) {
  int64_t copied = -1;
  bool ok = ovk::WithStream(ctx, "copyFrom", [&](StreamState& s) {
    if (source == nullptr || !source->stream) {
      return Error::InvalidArgument("copyFrom: no source stream");
    }
    return s.copyFrom(*source->stream, &copied);
  });
  return ok ? copied : -1;
}

void ovk_freeIOContext(ovk_io_context_t* stream) { delete stream; }

}  // extern "C"
