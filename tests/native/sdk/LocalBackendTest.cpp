// What only the file:// backend has: confinement beneath the root against
// links and races, symbolic links as entries, owners and permission
// errors, crash safety of writers, and the on-disk form of published files.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "SdkTestSupport.h"

namespace fs = std::filesystem;

namespace ovktest {
namespace {

// Parameter: whether paths are resolved with openat2 or by the walk alone.
class LocalBackend : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    root_ = base_.path() + "/root";
    outside_ = base_.path() + "/outside";
    fs::create_directories(root_);
    fs::create_directories(outside_);
    WriteLocalFile(outside_ + "/canary", "canary");
    store_ = std::make_unique<TestStore>("file://" + root_, options());
    ASSERT_TRUE(store_->initOutcome().ok()) << store_->initOutcome();
  }

  std::map<std::string, std::string> options(
      std::map<std::string, std::string> extra = {}) const {
    extra["fs.local.openat2"] = GetParam() ? "true" : "false";
    return extra;
  }

  void ExpectOutsideUntouched() {
    EXPECT_EQ(ReadLocalFile(outside_ + "/canary"), "canary");
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(outside_)) {
      (void)e;
      ++n;
    }
    EXPECT_EQ(n, 1u) << "nothing may be created outside the root";
  }

  TempDir base_;
  std::string root_;
  std::string outside_;
  std::unique_ptr<TestStore> store_;
};

// Every operation on every escaping path fails with 4004 and leaves the
// canary outside the root as it was.
TEST_P(LocalBackend, NoPathReachesOutsideTheRoot) {
  fs::create_directories(root_ + "/inner");
  fs::create_directory_symlink(outside_, root_ + "/link-out");
  fs::create_directory_symlink("../../outside", root_ + "/inner/rel-out");
  fs::create_symlink(outside_ + "/canary", root_ + "/canary-link");
  fs::create_directory_symlink(root_ + "/inner", root_ + "/link-in");

  const std::vector<std::string> paths = {
      "/../outside/canary",      "../outside/canary",          "/inner/../../outside/canary",
      "/%2e%2e/outside/canary",  "/inner/%2E%2e/%2e./outside", "/link-out/canary",
      "/inner/rel-out/canary",   "/link-in/../../outside/canary",
      "file://" + root_ + "/../outside/canary", "file://" + outside_ + "/canary",
  };
  using Op = std::function<Outcome(TestStore&, const std::string&)>;
  const std::vector<std::pair<const char*, Op>> ops = {
      {"read", [](TestStore& s, const std::string& p) { std::string d; return s.readFile(p, &d); }},
      {"write", [](TestStore& s, const std::string& p) { return s.writeFile(p, "owned"); }},
      {"append", [](TestStore& s, const std::string& p) {
         return s.writeFile(p, "owned", OVK_OPEN_WRITE | OVK_OPEN_APPEND); }},
      {"list", [](TestStore& s, const std::string& p) { std::vector<Status> e; return s.list(p, true, &e); }},
      {"remove", [](TestStore& s, const std::string& p) { return s.remove(p, true); }},
      {"mkdir", [](TestStore& s, const std::string& p) { return s.mkdir(p + "/sub", true); }},
      {"chmod", [](TestStore& s, const std::string& p) { return s.chmod(p, 0777); }},
      {"chown", [](TestStore& s, const std::string& p) { return s.chown(p, "0", "0"); }},
      {"status", [](TestStore& s, const std::string& p) { return s.status(p); }},
      {"summary", [](TestStore& s, const std::string& p) { int64_t a, b, c; return s.summary(p, true, &a, &b, &c); }},
      {"rename-from", [](TestStore& s, const std::string& p) { return s.rename(p, "/stolen"); }},
      {"rename-to", [this](TestStore& s, const std::string& p) {
         WriteLocalFile(root_ + "/mine", "mine");
         return s.rename("/mine", p); }},
  };
  for (const std::string& path : paths) {
    for (const auto& [name, op] : ops) {
      Outcome o = op(*store_, path);
      EXPECT_EQ(o.code, OVK_ERR_INVALID_ARGUMENT) << name << " " << path << " " << o;
    }
  }
  // A link as the last component is an entry of its own: opening it is
  // refused, and writing replaces the link, not what it points to.
  std::string content;
  EXPECT_EQ(store_->readFile("/canary-link", &content).code, OVK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(store_->chmod("/canary-link", 0777).code, OVK_ERR_NOT_SUPPORTED);
  ASSERT_TRUE(store_->writeFile("/canary-link", "replaced").ok());
  EXPECT_FALSE(fs::is_symlink(root_ + "/canary-link"));
  EXPECT_TRUE(store_->remove("/link-out").ok()) << "removing a link removes only the link";
  ExpectOutsideUntouched();
}

// A thread keeps swapping a directory for a link to the outside while
// others write, read and remove through it: no call may ever get out.
TEST_P(LocalBackend, SwappingADirectoryForALinkNeverLeaksOut) {
  fs::create_directories(root_ + "/swap");
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    std::string dir = root_ + "/swap";
    std::string parked = root_ + "/parked";
    for (int i = 0; i < 3000 && !stop; ++i) {
      ::rename(dir.c_str(), parked.c_str());
      ::symlink(outside_.c_str(), dir.c_str());
      ::unlink(dir.c_str());
      ::rename(parked.c_str(), dir.c_str());
    }
    stop = true;
  });
  int escapes = 0;
  while (!stop) {
    std::string content;
    store_->writeFile("/swap/canary", "owned");
    if (store_->readFile("/swap/canary", &content).ok() && content == "canary") ++escapes;
    store_->remove("/swap/canary");
    store_->chmod("/swap/canary", 0);
  }
  swapper.join();
  EXPECT_EQ(escapes, 0);
  ExpectOutsideUntouched();
  EXPECT_EQ(fs::status(outside_ + "/canary").permissions() & fs::perms::owner_read,
            fs::perms::owner_read);
}

TEST_P(LocalBackend, SymbolicLinksAreListedAsLinksAndNotFollowed) {
  fs::create_directories(root_ + "/d/real");
  WriteLocalFile(root_ + "/d/real/f", "x");
  fs::create_directory_symlink(outside_, root_ + "/d/out");
  fs::create_symlink("real/f", root_ + "/d/flink");
  std::vector<Status> entries;
  ASSERT_TRUE(store_->list("/d", true, &entries).ok());
  std::string p = "file://" + root_ + "/d/";
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].path, p + "flink");
  EXPECT_EQ(entries[0].type, OVK_TYPE_SYMLINK);
  EXPECT_EQ(entries[1].path, p + "out");
  EXPECT_EQ(entries[1].type, OVK_TYPE_SYMLINK) << "a link to a directory is not descended";
  EXPECT_EQ(entries[2].path, p + "real/");
  EXPECT_EQ(entries[3].path, p + "real/f");
  Status st;
  ASSERT_TRUE(store_->status("/d/out", &st).ok());
  EXPECT_EQ(st.type, OVK_TYPE_SYMLINK);
  int64_t size, files, dirs;
  ASSERT_TRUE(store_->summary("/d", true, &size, &files, &dirs).ok());
  EXPECT_EQ(files, 1);
  EXPECT_EQ(dirs, 1);
}

TEST_P(LocalBackend, RemovingATreeDoesNotFollowLinksInIt) {
  fs::create_directories(root_ + "/tree/sub");
  fs::create_directory_symlink(outside_, root_ + "/tree/sub/out");
  ASSERT_TRUE(store_->remove("/tree", true).ok());
  EXPECT_FALSE(fs::exists(root_ + "/tree"));
  ExpectOutsideUntouched();
}

TEST_P(LocalBackend, PermissionsAndOwnersMapToTheFileSystem) {
  WriteLocalFile(root_ + "/f", "x");
  ASSERT_TRUE(store_->chmod("/f", 04751).ok());
  struct stat st;
  ASSERT_EQ(::stat((root_ + "/f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 04751u);

  Status status;
  ASSERT_TRUE(store_->status("/f", &status).ok());
  EXPECT_EQ(status.perm, 04751);
  struct passwd* pw = getpwuid(st.st_uid);
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(status.user, pw->pw_name);

  std::string uid = std::to_string(getuid());
  std::string gid = std::to_string(getgid());
  EXPECT_TRUE(store_->chown("/f", uid.c_str(), gid.c_str()).ok());
  EXPECT_TRUE(store_->chown("/f", "", "").ok()) << "empty user and group change nothing";
  EXPECT_TRUE(store_->chown("/f", pw->pw_name, nullptr).ok()) << "names are resolved";
  EXPECT_EQ(store_->chown("/f", "no-such-user-xyz", "").code, OVK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(store_->chown("/f", "", "no-such-group-xyz").code, OVK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(store_->chown("/missing", uid.c_str(), "").code, OVK_ERR_NOT_FOUND);
}

TEST_P(LocalBackend, NewFilesAndDirectoriesHonourTheUmask) {
  mode_t old = ::umask(027);
  ASSERT_TRUE(store_->mkdir("/m").ok());
  ASSERT_TRUE(store_->writeFile("/m/f", "x").ok());
  ::umask(old);
  Status st;
  ASSERT_TRUE(store_->status("/m", &st).ok());
  EXPECT_EQ(st.perm, 0750);
  ASSERT_TRUE(store_->status("/m/f", &st).ok());
  EXPECT_EQ(st.perm, 0750);
}

TEST_P(LocalBackend, RewritingAFileKeepsItsPermissionBits) {
  ASSERT_TRUE(store_->writeFile("/keep", "one").ok());
  ASSERT_TRUE(store_->chmod("/keep", 0600).ok());
  ASSERT_TRUE(store_->writeFile("/keep", "two").ok());
  ASSERT_TRUE(store_->writeFile("/keep", "+3", OVK_OPEN_WRITE | OVK_OPEN_APPEND).ok());
  Status st;
  ASSERT_TRUE(store_->status("/keep", &st).ok());
  EXPECT_EQ(st.perm, 0600);
  EXPECT_EQ(ReadLocalFile(root_ + "/keep"), "two+3");
}

// The storage refusing access comes back as 4007. As root, the calls run in
// a child process that has given up root first.
TEST_P(LocalBackend, PermissionDeniedIs4007) {
  fs::create_directories(root_ + "/locked");
  WriteLocalFile(root_ + "/locked/secret", "s");
  ::chmod((root_ + "/locked/secret").c_str(), 0600);
  ::chmod((root_ + "/locked").c_str(), 0755);
  ::chmod(root_.c_str(), 0755);
  ::chmod(base_.path().c_str(), 0755);
  int pipefd[2];
  ASSERT_EQ(::pipe(pipefd), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(pipefd[0]);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) _exit(2);
    TestStore child("file://" + root_, options());
    int32_t codes[3] = {
        child.mkdir("/locked/new").code,
        child.writeFile("/locked/new-file", "x").code,
        [&] { std::string d; return child.readFile("/locked/secret", &d).code; }(),
    };
    ssize_t w = ::write(pipefd[1], codes, sizeof codes);
    _exit(w == sizeof codes ? 0 : 3);
  }
  ::close(pipefd[1]);
  int32_t codes[3] = {};
  ASSERT_EQ(::read(pipefd[0], codes, sizeof codes), static_cast<ssize_t>(sizeof codes));
  ::close(pipefd[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(codes[0], OVK_ERR_PERMISSION) << "mkdir";
  EXPECT_EQ(codes[1], OVK_ERR_PERMISSION) << "write";
  EXPECT_EQ(codes[2], OVK_ERR_PERMISSION) << "read";
}

// A writer process killed in the middle of a write leaves the previous
// content, and nothing it left behind is listed.
TEST_P(LocalBackend, AWriterKilledMidWriteLeavesThePreviousContent) {
  WriteLocalFile(root_ + "/target", "previous");
  int pipefd[2];
  ASSERT_EQ(::pipe(pipefd), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(pipefd[0]);
    TestStore child("file://" + root_, options());
    Outcome o;
    ovk_io_context_t* s = child.open("/target", OVK_OPEN_WRITE, &o);
    ovk_io_context_t* n = child.open("/brand-new", OVK_OPEN_WRITE, &o);
    std::string chunk(1 << 20, 'k');
    child.write(s, chunk);
    child.write(n, chunk);
    ovk_handle_ctx_t* c = child.ctx(s);
    ovk_flush(c, nullptr);
    ovk_freeHandleCtx(c);
    char ready = 'r';
    if (::write(pipefd[1], &ready, 1) != 1) _exit(3);
    for (;;) {
      child.write(s, chunk);
      ::usleep(1000);
    }
  }
  ::close(pipefd[1]);
  char ready = 0;
  ASSERT_EQ(::read(pipefd[0], &ready, 1), 1);
  ::close(pipefd[0]);
  ::usleep(20000);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));

  std::string content;
  ASSERT_TRUE(store_->readFile("/target", &content).ok());
  EXPECT_EQ(content, "previous");
  bool found = true;
  store_->exists("/brand-new", &found);
  EXPECT_FALSE(found);
  std::vector<Status> entries;
  ASSERT_TRUE(store_->list("/", true, &entries).ok());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, "file://" + root_ + "/target");
}

TEST_P(LocalBackend, LeftoverTemporaryFilesAreNeverListedOrCounted) {
  WriteLocalFile(root_ + "/.data.ovk-tmp.0123456789abcdef", "debris");
  WriteLocalFile(root_ + "/.hidden", "a real dot file");
  std::vector<Status> entries;
  ASSERT_TRUE(store_->list("/", false, &entries).ok());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, "file://" + root_ + "/.hidden");
  int64_t size, files, dirs;
  ASSERT_TRUE(store_->summary("/", true, &size, &files, &dirs).ok());
  EXPECT_EQ(files, 1);
}

TEST_P(LocalBackend, FsyncOptionStillPublishes) {
  TestStore synced("file://" + root_, options({{"fs.local.fsync", "true"}}));
  ASSERT_TRUE(synced.initOutcome().ok());
  ASSERT_TRUE(synced.writeFile("/synced", "durable").ok());
  EXPECT_EQ(ReadLocalFile(root_ + "/synced"), "durable");
}

TEST_P(LocalBackend, SpecialFilesAreRefusedWithoutBlocking) {
  ASSERT_EQ(::mkfifo((root_ + "/fifo").c_str(), 0600), 0);
  std::string content;
  EXPECT_EQ(store_->readFile("/fifo", &content).code, OVK_ERR_ALREADY_EXISTS);
  Status st;
  ASSERT_TRUE(store_->status("/fifo", &st).ok());
  EXPECT_EQ(st.type, OVK_TYPE_UNKNOWN);
}

TEST_P(LocalBackend, WritingUnderAMissingDirectoryIsNotFound) {
  Outcome o = store_->writeFile("/no/such/dir/file", "x");
  EXPECT_EQ(o.code, OVK_ERR_NOT_FOUND) << o;
  EXPECT_EQ(store_->writeFile("/plain", "x").code, OVK_OK);
  EXPECT_EQ(store_->writeFile("/plain/below", "x").code, OVK_ERR_NOT_FOUND);
}

INSTANTIATE_TEST_SUITE_P(Resolve, LocalBackend, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Openat2" : "Walk");
                         });

}  // namespace
}  // namespace ovktest
