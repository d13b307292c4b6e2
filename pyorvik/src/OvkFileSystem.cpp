// OvkFileSystem: connecting to a store, tearing it down, and opening its
// files as streams.
#include "OvkFileSystem.h"

#include <cstdlib>

#include "OrvikReader.h"
#include "OrvikWriter.h"
#include "OvkSdkCall.h"

namespace {

// Environment variables that override the store's endpoint and keys, in the
// order they are handed to the SDK.
struct EnvOption {
  const char* variable;
  const char* key;
};
constexpr EnvOption kEnvOptions[] = {
    {"QUOLL_ENDPOINT", "fs.quoll.endpoint"},
    {"QUOLL_ACCESS_ID", "fs.quoll.accessKeyId"},
    {"QUOLL_ACCESS_KEY", "fs.quoll.accessKeySecret"},
};

constexpr int32_t kOpenPermission = 0777;

// Opens path on store with flags; on failure the status carries the SDK's
// code and prefix + the SDK's message, and no stream is returned.
std::pair<ovk_io_context_t*, OvkStatus> openStream(ovk_store_t* store,
                                                   const std::string& path,
                                                   int32_t flags,
                                                   const char* prefix) {
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
  ovk_io_context_t* stream =
      ovk_open(ctx, path.c_str(), flags, kOpenPermission, nullptr);
  SdkOutcome outcome = takeOutcome(ctx);
  if (!outcome.ok()) {
    // The SDK returns no stream after a failure; a stray one is released
    // rather than leaked.
    if (stream != nullptr) ovk_freeIOContext(stream);
    return {nullptr, sdkStatus(outcome, prefix)};
  }
  return {stream, OvkStatus()};
}

// Opens path on fs's store and, on success, replaces *out with a new Impl
// owning the stream; on failure *out is untouched.
template <typename Impl, typename Interface>
OvkStatus openInto(OvkFileSystem& fs, const std::string& path, int32_t flags,
                   const char* prefix, std::unique_ptr<Interface>* out) {
  auto [store, status] = fs.GetOvkStore(path);
  if (!status.ok()) return status;
  auto [stream, opened] = openStream(store, path, flags, prefix);
  if (!opened.ok()) return opened;
  *out = std::make_unique<Impl>(path, store, stream);
  return OvkStatus();
}

// Destroys and frees the store and frees the options, leaving both null.
// A failure to tear down is not the caller's to handle: the handles are
// released whatever the SDK reports.
void releaseHandles(ovk_store_t*& store, ovk_options_t*& options) {
  if (store != nullptr) {
    ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
    ovk_destroyStore(ctx, store);
    takeOutcome(ctx);
    ovk_freeStore(store);
    store = nullptr;
  }
  if (options != nullptr) {
    ovk_freeOptions(options);
    options = nullptr;
  }
}

}  // namespace

// Releases the handles only: a connected client should be given destroy()
// first, which tears the store down in the SDK.
OvkFileSystem::~OvkFileSystem() {
  if (store_ != nullptr) ovk_freeStore(store_);
  if (options_ != nullptr) ovk_freeOptions(options_);
}

OvkStatus OvkFileSystem::init(const std::string& uri, const std::string& user,
                              std::shared_ptr<OvkConfig> config) {
  if (inited_) return OvkStatus::InitError("already inited");

  options_ = ovk_createOptions();
  if (config != nullptr) {
    for (const auto& entry : config->getAll()) {
      ovk_setOption(options_, entry.first.c_str(), entry.second.c_str());
    }
  }
  // Set after the configuration so that the environment and the fixed
  // logging choice are the last word for their keys.
  for (const EnvOption& env : kEnvOptions) {
    const char* value = std::getenv(env.variable);
    if (value != nullptr) ovk_setOption(options_, env.key, value);
  }
  ovk_setOption(options_, "logger.appender", "file");

  store_ = ovk_createStore(options_, uri.c_str());
  ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store_);
  ovk_init(ctx, user.c_str());
  SdkOutcome outcome = takeOutcome(ctx);
  if (!outcome.ok()) {
    // Leaves the client unconnected, ready for another init.
    releaseHandles(store_, options_);
    return OvkStatus::InitError("create ovk filesystem failed, uri: ", uri,
                                ", user: ", user, ", error:  ",
                                outcome.message);
  }
  inited_ = true;
  return OvkStatus();
}

OvkStatus OvkFileSystem::destroy() {
  if (!inited_) return OvkStatus();
  releaseHandles(store_, options_);
  inited_ = false;
  return OvkStatus();
}

std::pair<ovk_store_t*, OvkStatus> OvkFileSystem::GetOvkStore(
    const std::string& /*path*/) {
  if (!inited_) return {nullptr, OvkStatus::InitError()};
  return {store_, OvkStatus()};
}

OvkStatus OvkFileSystem::openReader(const std::string& path,
                                    std::unique_ptr<OvkReader>* out) {
  return openInto<OrvikReader>(*this, path, OVK_OPEN_READ,
                               "open file reader failed: ", out);
}

OvkStatus OvkFileSystem::openWriter(const std::string& path,
                                    std::unique_ptr<OvkWriter>* out) {
  return openInto<OrvikWriter>(*this, path, OVK_OPEN_WRITE,
                               "open file writer failed: ", out);
}

// Mode "ab": the append flag keeps the file's bytes, which a plain write
// open would truncate.
OvkStatus OvkFileSystem::openAppender(const std::string& path,
                                      std::unique_ptr<OvkWriter>* out) {
  return openInto<OrvikWriter>(*this, path, OVK_OPEN_WRITE | OVK_OPEN_APPEND,
                               "open file writer failed: ", out);
}
