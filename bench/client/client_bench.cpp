// client_bench: the native client's cost over the SDK calls it wraps,
// measured in the same run against the SDK called directly (the peer),
// best of several alternating rounds.
//
//   client_bench [work-dir]
//
// The default work directory is /dev/shm where it exists, so that the
// comparison shows the client's own cost rather than a disk's.
//
// 1. sequential read of a 256 MiB file in 4 MiB requests:
//    OrvikReader::read vs ovk_read; throughput ratio
// 2. 20,000 entry statuses: OvkFileSystem::getFileInfo vs
//    ovk_getFileStatus with its accessors; time ratio
// 3. 20,000 existence checks: OvkFileSystem::exists vs ovk_exists;
//    time ratio
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OvkFileSystem.h"
#include "orviksdk/ovk_sdk.h"

namespace {

constexpr size_t kFileBytes = size_t{256} << 20;
constexpr size_t kChunk = size_t{4} << 20;
constexpr int kCalls = 20000;
constexpr int kRounds = 5;

double seconds(const std::function<void()>& fn) {
  auto start = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                       start)
      .count();
}

void die(const std::string& what) {
  std::fprintf(stderr, "client_bench: %s\n", what.c_str());
  std::exit(1);
}

void check(const OvkStatus& status, const char* what) {
  if (!status.ok()) die(std::string(what) + ": " + status.message());
}

void checkCtx(ovk_handle_ctx_t* ctx, const char* what) {
  if (ovk_getHandleCtxErrorCode(ctx) != 0) {
    const char* message = ovk_getHandleCtxErrorMsg(ctx);
    die(std::string(what) + ": " + (message != nullptr ? message : ""));
  }
}

// Runs client and peer alternately and prints the ratio of their best
// times (client / peer) or, for throughput, of their best rates.
void compare(const char* name, double bytes, const std::function<void()>& client,
             const std::function<void()>& peer) {
  double best_client = 1e30;
  double best_peer = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    best_peer = std::min(best_peer, seconds(peer));
    best_client = std::min(best_client, seconds(client));
  }
  if (bytes > 0) {
    double client_rate = bytes / best_client / (1 << 20);
    double peer_rate = bytes / best_peer / (1 << 20);
    std::printf("%-28s client %8.0f MiB/s  sdk %8.0f MiB/s  ratio %.2fx\n",
                name, client_rate, peer_rate, client_rate / peer_rate);
  } else {
    std::printf("%-28s client %8.3f s      sdk %8.3f s      time ratio %.2fx\n",
                name, best_client, best_peer, best_client / best_peer);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string base = argc > 1                              ? argv[1]
                     : std::filesystem::exists("/dev/shm") ? "/dev/shm"
                                                           : "/tmp";
  std::string root = base + "/client_bench-XXXXXX";
  if (mkdtemp(root.data()) == nullptr) die("cannot make " + root);

  OvkFileSystem client;
  check(client.init("file://" + root, "bench", std::make_shared<OvkConfig>()),
        "init");
  auto [store, store_status] = client.GetOvkStore("/");
  check(store_status, "store");

  {
    std::unique_ptr<OvkWriter> writer;
    check(client.openWriter("/big.bin", &writer), "open for writing");
    std::string chunk(kChunk, 'x');
    for (size_t done = 0; done < kFileBytes; done += kChunk) {
      check(writer->write(chunk), "write");
    }
    check(writer->close(), "close");
  }
  std::vector<char> scratch(kChunk);

  compare("sequential read 4 MiB", static_cast<double>(kFileBytes),
          [&] {
            std::unique_ptr<OvkReader> reader;
            check(client.openReader("/big.bin", &reader), "open");
            for (;;) {
              std::string_view view;
              OvkStatus status = reader->read(kChunk, &view, scratch.data());
              if (isEndOfFile(status) || view.empty()) break;
              check(status, "read");
            }
            check(reader->close(), "close");
          },
          [&] {
            ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
            ovk_io_context_t* stream =
                ovk_open(ctx, "/big.bin", OVK_OPEN_READ, 0777, nullptr);
            checkCtx(ctx, "open");
            ovk_freeHandleCtx(ctx);
            for (;;) {
              ctx = ovk_createHandleCtx2(store, stream);
              int64_t got = ovk_read(ctx, scratch.data(), kChunk, nullptr);
              checkCtx(ctx, "read");
              ovk_freeHandleCtx(ctx);
              if (got < 0) break;
            }
            ctx = ovk_createHandleCtx2(store, stream);
            ovk_close(ctx, nullptr);
            ovk_freeHandleCtx(ctx);
            ovk_freeIOContext(stream);
          });

  compare("getFileInfo x20000", 0,
          [&] {
            for (int i = 0; i < kCalls; ++i) {
              OvkFileInfo info;
              check(client.getFileInfo("/big.bin", &info), "getFileInfo");
            }
          },
          [&] {
            for (int i = 0; i < kCalls; ++i) {
              ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
              ovk_file_status_t* status =
                  ovk_getFileStatus(ctx, "/big.bin", nullptr);
              checkCtx(ctx, "getFileStatus");
              ovk_freeHandleCtx(ctx);
              std::string path = ovk_getFileStatusPath(status);
              std::string user = ovk_getFileStatusUser(status);
              std::string group = ovk_getFileStatusGroup(status);
              volatile int64_t sink = ovk_getFileStatusType(status) +
                                      ovk_getFileStatusPerm(status) +
                                      ovk_getFileStatusSize(status) +
                                      ovk_getFileStatusMtime(status) +
                                      ovk_getFileStatusAtime(status);
              (void)sink;
              ovk_freeFileStatus(status);
            }
          });

  compare("exists x20000", 0,
          [&] {
            for (int i = 0; i < kCalls; ++i) {
              check(client.exists("/big.bin"), "exists");
            }
          },
          [&] {
            for (int i = 0; i < kCalls; ++i) {
              ovk_handle_ctx_t* ctx = ovk_createHandleCtx1(store);
              bool found = ovk_exists(ctx, "/big.bin", nullptr);
              checkCtx(ctx, "exists");
              ovk_freeHandleCtx(ctx);
              if (!found) die("exists: missing");
            }
          });

  check(client.remove("/big.bin", false), "remove");
  client.destroy();
  std::filesystem::remove_all(root);
  return 0;
}
