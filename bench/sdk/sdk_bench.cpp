// sdk_bench: the SDK's hot paths against the system calls they wrap,
// measured in the same run, best of several alternating rounds.
//
//   sdk_bench [work-dir]
//
// The default work directory is /dev/shm where it exists: in memory, the
// comparison measures the SDK's own cost, not the mood of a disk's
// write-back (which dominates and varies wildly for 1 GiB writes on a
// shared machine). Otherwise $TMPDIR or /tmp. The load average is printed
// because the parallel comparison (4) needs idle cores to mean anything.
//
// 1. sequential read of a 1 GiB file (page cache warm), 4 MiB requests:
//    ovk_read vs read(2); target throughput >= 0.9x
// 2. writing 1 GiB in 4 MiB writes then close, no fsync:
//    ovk_write + ovk_close vs write(2) + close(2); target >= 0.85x
// 3. listing a directory of 100,000 files: ovk_listDir vs readdir + fstatat;
//    target time <= 2x
// 4. 10,000 getFileStatusAsync on 4 pool threads vs 10,000 blocking
//    getFileStatus on one thread; target time <= 0.7x
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "orviksdk/ovk_sdk.h"

namespace {

constexpr int64_t kGiB = int64_t{1} << 30;
constexpr size_t kChunk = 4u << 20;
constexpr int kFiles = 100000;
constexpr int kStatCalls = 10000;
constexpr int kRounds = 5;

double Seconds(const std::function<void()>& fn) {
  auto start = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Die(const char* what) {
  std::perror(what);
  std::exit(1);
}

void Check(ovk_handle_ctx_t* ctx, const char* what) {
  if (ovk_getHandleCtxErrorCode(ctx) != 0) {
    const char* m = ovk_getHandleCtxErrorMsg(ctx);
    std::fprintf(stderr, "%s failed: %d %s\n", what, ovk_getHandleCtxErrorCode(ctx),
                 m != nullptr ? m : "");
    std::exit(1);
  }
}

// Runs sdk and peer alternately, each after an untimed `reset`; reports
// the best time of each.
void Compare(const char* name, const char* target, double bytes,
             const std::function<void()>& sdk, const std::function<void()>& peer,
             bool throughput, const std::function<void()>& reset = [] {}) {
  double bestSdk = 1e30, bestPeer = 1e30;
  for (int r = 0; r < kRounds; ++r) {
    reset();
    bestPeer = std::min(bestPeer, Seconds(peer));
    reset();
    bestSdk = std::min(bestSdk, Seconds(sdk));
  }
  if (throughput) {
    double sdkRate = bytes / bestSdk / (1 << 20), peerRate = bytes / bestPeer / (1 << 20);
    std::printf("%-44s sdk %8.0f MiB/s  peer %8.0f MiB/s  ratio %.2fx (target %s)\n", name,
                sdkRate, peerRate, sdkRate / peerRate, target);
  } else {
    std::printf("%-44s sdk %8.3f s      peer %8.3f s      ratio %.2fx (target %s)\n", name,
                bestSdk, bestPeer, bestSdk / bestPeer, target);
  }
  std::fflush(stdout);
}

struct Store {
  explicit Store(const std::string& root, const char* threads = "4") {
    ovk_options_t* o = ovk_createOptions();
    ovk_setOption(o, "logger.appender", "none");
    ovk_setOption(o, "fs.async.threads", threads);
    store = ovk_createStore(o, ("file://" + root).c_str());
    ovk_freeOptions(o);
    ovk_handle_ctx_t* c = ovk_createHandleCtx1(store);
    ovk_init(c, "bench");
    Check(c, "init");
    ovk_freeHandleCtx(c);
  }
  ~Store() {
    ovk_handle_ctx_t* c = ovk_createHandleCtx1(store);
    ovk_destroyStore(c, store);
    ovk_freeHandleCtx(c);
    ovk_freeStore(store);
  }
  ovk_store_t* store;
};

void BenchRead(const std::string& root, std::vector<char>& buf) {
  std::string path = root + "/big.bin";
  {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Die("create big.bin");
    std::memset(buf.data(), 'r', buf.size());
    for (int64_t done = 0; done < kGiB; done += kChunk) {
      if (::write(fd, buf.data(), kChunk) != static_cast<ssize_t>(kChunk)) Die("write big.bin");
    }
    ::close(fd);
  }
  Store s(root);
  auto peer = [&] {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int64_t total = 0;
    for (ssize_t n; (n = ::read(fd, buf.data(), kChunk)) > 0;) total += n;
    ::close(fd);
    if (total != kGiB) Die("peer read");
  };
  auto sdk = [&] {
    ovk_handle_ctx_t* c = ovk_createHandleCtx1(s.store);
    ovk_io_context_t* stream = ovk_open(c, "/big.bin", OVK_OPEN_READ, 0777, nullptr);
    Check(c, "open");
    ovk_freeHandleCtx(c);
    int64_t total = 0;
    for (;;) {
      c = ovk_createHandleCtx2(s.store, stream);
      int64_t n = ovk_read(c, buf.data(), kChunk, nullptr);
      Check(c, "read");
      ovk_freeHandleCtx(c);
      if (n < 0) break;
      total += n;
    }
    c = ovk_createHandleCtx2(s.store, stream);
    ovk_close(c, nullptr);
    ovk_freeHandleCtx(c);
    ovk_freeIOContext(stream);
    if (total != kGiB) Die("sdk read");
  };
  peer();  // warm the page cache
  Compare("read 1 GiB, 4 MiB requests (throughput)", ">= 0.90x", kGiB, sdk, peer, true);
  ::unlink(path.c_str());
}

void BenchWrite(const std::string& root, std::vector<char>& buf) {
  Store s(root);
  std::memset(buf.data(), 'w', buf.size());
  auto peer = [&] {
    int fd = ::open((root + "/peer.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    for (int64_t done = 0; done < kGiB; done += kChunk) {
      if (::write(fd, buf.data(), kChunk) != static_cast<ssize_t>(kChunk)) Die("peer write");
    }
    if (::close(fd) != 0) Die("peer close");
  };
  auto sdk = [&] {
    ovk_handle_ctx_t* c = ovk_createHandleCtx1(s.store);
    ovk_io_context_t* stream = ovk_open(c, "/sdk.bin", OVK_OPEN_WRITE, 0644, nullptr);
    Check(c, "open");
    ovk_freeHandleCtx(c);
    for (int64_t done = 0; done < kGiB; done += kChunk) {
      c = ovk_createHandleCtx2(s.store, stream);
      ovk_write(c, buf.data(), kChunk, nullptr);
      Check(c, "write");
      ovk_freeHandleCtx(c);
    }
    c = ovk_createHandleCtx2(s.store, stream);
    ovk_close(c, nullptr);
    Check(c, "close");
    ovk_freeHandleCtx(c);
    ovk_freeIOContext(stream);
  };
  // Each round writes a new file: freeing the previous round's gigabyte
  // (in open's truncation, or in the rename that publishes) is not timed.
  auto reset = [&] {
    ::unlink((root + "/peer.bin").c_str());
    ::unlink((root + "/sdk.bin").c_str());
  };
  Compare("write 1 GiB, 4 MiB writes + close (throughput)", ">= 0.85x", kGiB, sdk, peer, true,
          reset);
  reset();
}

void BenchList(const std::string& root) {
  std::string dir = root + "/many";
  ::mkdir(dir.c_str(), 0755);
  for (int i = 0; i < kFiles; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "%s/file-%06d", dir.c_str(), i);
    int fd = ::open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) Die("create listing file");
    ::close(fd);
  }
  Store s(root);
  auto peer = [&] {
    DIR* d = ::opendir(dir.c_str());
    int n = 0;
    struct stat st;
    while (struct dirent* e = ::readdir(d)) {
      if (e->d_name[0] == '.') continue;
      if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) ++n;
    }
    ::closedir(d);
    if (n != kFiles) Die("peer list");
  };
  auto sdk = [&] {
    ovk_handle_ctx_t* c = ovk_createHandleCtx1(s.store);
    ovk_list_dir_result_t* l = ovk_listDir(c, "/many", false, nullptr);
    Check(c, "listDir");
    ovk_freeHandleCtx(c);
    if (ovk_getListDirResultSize(l) != kFiles) Die("sdk list");
    ovk_freeListDirResult(l);
  };
  peer();
  Compare("list 100,000 files (time)", "<= 2x", 0, sdk, peer, false);
}

void BenchStatus(const std::string& root) {
  // Reuses the files of BenchList: /many/file-000000 ...
  Store s(root, "4");
  std::vector<std::string> paths;
  for (int i = 0; i < kStatCalls; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/many/file-%06d", i);
    paths.push_back(name);
  }
  auto blocking = [&] {
    for (const std::string& p : paths) {
      ovk_handle_ctx_t* c = ovk_createHandleCtx1(s.store);
      ovk_file_status_t* st = ovk_getFileStatus(c, p.c_str(), nullptr);
      Check(c, "getFileStatus");
      ovk_freeHandleCtx(c);
      ovk_freeFileStatus(st);
    }
  };
  struct Done {
    std::mutex mu;
    std::condition_variable cv;
    int count = 0;
    std::atomic<int> failures{0};
  };
  auto async = [&] {
    Done done;
    auto callback = [](ovk_handle_ctx_t* ctx, ovk_file_status_t* st, void* context) {
      auto* d = static_cast<Done*>(context);
      if (ovk_getHandleCtxErrorCode(ctx) != 0) ++d->failures;
      ovk_freeHandleCtx(ctx);
      ovk_freeFileStatus(st);
      std::lock_guard<std::mutex> lock(d->mu);
      if (++d->count == kStatCalls) d->cv.notify_one();
    };
    ovk_options_t* o = ovk_createOptions();
    ovk_setFileStatusCallback(o, callback);
    ovk_setCallbackContext(o, &done);
    for (const std::string& p : paths) {
      ovk_handle_ctx_t* c = ovk_createHandleCtx1(s.store);
      ovk_freeOperationCall(ovk_getFileStatusAsync(c, p.c_str(), o));
      ovk_freeHandleCtx(c);
    }
    ovk_freeOptions(o);
    std::unique_lock<std::mutex> lock(done.mu);
    done.cv.wait(lock, [&] { return done.count == kStatCalls; });
    if (done.failures != 0) Die("async getFileStatus");
  };
  Compare("10,000 getFileStatus: async x4 vs blocking (time)", "<= 0.7x", 0, async, blocking,
          false);
}

void RemoveListing(const std::string& root) {
  for (int i = 0; i < kFiles; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "%s/many/file-%06d", root.c_str(), i);
    ::unlink(name);
  }
  ::rmdir((root + "/many").c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = argc > 1                          ? argv[1]
                     : ::access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                     : tmp != nullptr && *tmp          ? tmp
                                                       : "/tmp";
  std::string root = base + "/ovk-sdk-bench-XXXXXX";
  if (::mkdtemp(root.data()) == nullptr) Die("mkdtemp");
  char load[64] = "?";
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fgets(load, sizeof load, f) == nullptr) std::strcpy(load, "?");
    std::fclose(f);
  }
  std::printf("sdk_bench in %s, best of %d alternating rounds, %ld cores, load %s",
              root.c_str(), kRounds, ::sysconf(_SC_NPROCESSORS_ONLN), load);
  std::vector<char> buf(kChunk);
  BenchRead(root, buf);
  BenchWrite(root, buf);
  BenchList(root);
  BenchStatus(root);
  RemoveListing(root);
  ::rmdir(root.c_str());
  return 0;
}
