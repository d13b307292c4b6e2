// The quoll backend against a real RADOS Gateway (which checks every
// request signature): namespace calls, streams, multipart uploads, awkward
// keys and authentication failures. Each test works below a prefix of its
// own in the shared test bucket.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "BackendFactory.h"
#include "rgw_environment.h"

namespace ovk::quoll {
namespace {

using testing::kRgwAccessKey;
using testing::kRgwEndpoint;
using testing::kRgwSecretKey;
using testing::kTestBucket;

constexpr int64_t kMiB = 1 << 20;

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 engine(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(engine());
  return out;
}

class QuollBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::string("quoll://") + kTestBucket + "/" + info->name() + "-" +
            std::to_string(std::random_device{}());
    backend_ = connect(kRgwSecretKey, {});
    ASSERT_NE(backend_, nullptr);
  }

  std::unique_ptr<Backend> connect(const std::string& secret,
                                   std::vector<std::pair<std::string, std::string>> extra,
                                   Error* failure = nullptr) {
    Options options;
    options.set("fs.quoll.endpoint", kRgwEndpoint);
    options.set("fs.quoll.accessKeyId", kRgwAccessKey);
    options.set("fs.quoll.accessKeySecret", secret);
    options.set("fs.quoll.part.bytes", std::to_string(5 * kMiB));
    for (const auto& [key, value] : extra) options.set(key, value);
    StoreUri uri;
    EXPECT_TRUE(StoreUri::Parse(root_, &uri).ok());
    std::unique_ptr<Backend> backend;
    Error error = CreateQuollBackend(uri, options, "alice", std::make_shared<Logger>(),
                                     &backend);
    if (failure != nullptr) *failure = error;
    if (!error.ok()) return nullptr;
    return backend;
  }

  static StorePath path(const std::string& rel) { return StorePath(rel); }

  // Writes an object straight to the bucket, as another client would:
  // no directory markers, no metadata.
  void putRaw(const std::string& rel, const std::string& data) {
    S3Client::Config config;
    config.endpoint = kRgwEndpoint;
    config.bucket = kTestBucket;
    config.accessKeyId = kRgwAccessKey;
    config.secretKey = kRgwSecretKey;
    std::unique_ptr<S3Client> client;
    ASSERT_TRUE(S3Client::Create(config, nullptr, &client).ok());
    std::string key = root_.substr(root_.find('/', 8) + 1) + "/" + rel;
    Error error = client->putObject(key, data.data(), data.size(), {});
    ASSERT_TRUE(error.ok()) << error.message();
  }

  Error writeFile(const std::string& rel, const std::string& data,
                  int32_t flags = OVK_OPEN_WRITE, size_t chunk = 1 << 20) {
    std::unique_ptr<Stream> stream;
    Error error = backend_->open(path(rel), flags, 0644, &stream);
    if (!error.ok()) return error;
    for (size_t at = 0; at < data.size(); at += chunk) {
      error = stream->write(data.data() + at, std::min(chunk, data.size() - at));
      if (!error.ok()) return error;
    }
    return stream->close();
  }

  std::string readFile(const std::string& rel, size_t chunk = 100000) {
    std::unique_ptr<Stream> stream;
    Error error = backend_->open(path(rel), OVK_OPEN_READ, 0, &stream);
    EXPECT_TRUE(error.ok()) << error.message();
    if (!error.ok()) return "";
    std::string out;
    std::vector<char> buffer(chunk);
    while (true) {
      int64_t got = 0;
      error = stream->read(buffer.data(), buffer.size(), &got);
      EXPECT_TRUE(error.ok()) << error.message();
      if (!error.ok() || got < 0) break;
      EXPECT_GT(got, 0);
      out.append(buffer.data(), got);
    }
    stream->close();
    return out;
  }

  std::vector<std::string> listNames(const std::string& rel, bool recursive) {
    std::vector<EntryStatus> entries;
    Error error = backend_->listDir(path(rel), recursive, &entries);
    EXPECT_TRUE(error.ok()) << error.message();
    std::vector<std::string> names;
    for (const EntryStatus& e : entries) {
      names.push_back(e.path.rel() + (e.type == OVK_TYPE_DIRECTORY ? "/" : ""));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string root_;
  std::unique_ptr<Backend> backend_;
};

TEST_F(QuollBackendTest, DirectoriesAreMarkersOrPrefixes) {
  ASSERT_TRUE(backend_->mkdir(path("a/b/c"), true, 0755).ok());
  ASSERT_TRUE(writeFile("a/b/f.txt", "hello").ok());
  EntryStatus status;
  ASSERT_TRUE(backend_->getFileStatus(path("a/b"), &status).ok());
  EXPECT_EQ(status.type, OVK_TYPE_DIRECTORY);
  ASSERT_TRUE(backend_->getFileStatus(path("a/b/f.txt"), &status).ok());
  EXPECT_EQ(status.type, OVK_TYPE_FILE);
  EXPECT_EQ(status.size, 5);
  EXPECT_GT(status.mtime, 0);
  EXPECT_EQ(status.user, "alice");

  EXPECT_EQ(listNames("a/b", false), (std::vector<std::string>{"a/b/c/", "a/b/f.txt"}));
  EXPECT_EQ(listNames("", true),
            (std::vector<std::string>{"a/", "a/b/", "a/b/c/", "a/b/f.txt"}));

  bool found = true;
  ASSERT_TRUE(backend_->exists(path("a/nothing"), &found).ok());
  EXPECT_FALSE(found);
  EXPECT_EQ(backend_->getFileStatus(path("a/nothing"), &status).code(), OVK_ERR_NOT_FOUND);
}

TEST_F(QuollBackendTest, ObjectsOfOtherClientsImplyTheirDirectories) {
  putRaw("x/y/z.bin", "zz");
  EXPECT_EQ(listNames("", false), std::vector<std::string>{"x/"});
  EXPECT_EQ(listNames("x", true), (std::vector<std::string>{"x/y/", "x/y/z.bin"}));
  EntryStatus status;
  ASSERT_TRUE(backend_->getFileStatus(path("x/y"), &status).ok());
  EXPECT_EQ(status.type, OVK_TYPE_DIRECTORY);
  // Removing the only file keeps its directory, as a file system would.
  ASSERT_TRUE(backend_->remove(path("x/y/z.bin"), false).ok());
  EXPECT_EQ(listNames("x", false), std::vector<std::string>{"x/y/"});
}

TEST_F(QuollBackendTest, WritersNeedAnExistingParentDirectory) {
  std::unique_ptr<Stream> stream;
  EXPECT_EQ(backend_->open(path("no/parent"), OVK_OPEN_WRITE, 0644, &stream).code(),
            OVK_ERR_NOT_FOUND);
  ASSERT_TRUE(backend_->mkdir(path("dir"), false, 0755).ok());
  EXPECT_EQ(backend_->open(path("dir"), OVK_OPEN_WRITE, 0644, &stream).code(),
            OVK_ERR_ALREADY_EXISTS);
  EXPECT_EQ(backend_->open(path("dir"), OVK_OPEN_READ, 0, &stream).code(),
            OVK_ERR_ALREADY_EXISTS);
  EXPECT_EQ(backend_->open(path("nothing"), OVK_OPEN_READ, 0, &stream).code(),
            OVK_ERR_NOT_FOUND);
}

TEST_F(QuollBackendTest, MkdirRefusesFilesAndMissingParents) {
  ASSERT_TRUE(writeFile("f", "x").ok());
  EXPECT_EQ(backend_->mkdir(path("f"), false, 0755).code(), OVK_ERR_ALREADY_EXISTS);
  EXPECT_EQ(backend_->mkdir(path("f/sub"), true, 0755).code(), OVK_ERR_ALREADY_EXISTS);
  EXPECT_EQ(backend_->mkdir(path("missing/sub"), false, 0755).code(), OVK_ERR_NOT_FOUND);
  EXPECT_TRUE(backend_->mkdir(path("d"), false, 0755).ok());
  EXPECT_TRUE(backend_->mkdir(path("d"), false, 0755).ok());
  EXPECT_EQ(listNames("d", false), std::vector<std::string>{});
}

TEST_F(QuollBackendTest, ListingAFileOrAMissingPathFails) {
  ASSERT_TRUE(writeFile("f", "x").ok());
  std::vector<EntryStatus> entries;
  EXPECT_EQ(backend_->listDir(path("f"), false, &entries).code(), OVK_ERR_ALREADY_EXISTS);
  EXPECT_EQ(backend_->listDir(path("none"), false, &entries).code(), OVK_ERR_NOT_FOUND);
}

TEST_F(QuollBackendTest, ListingPagesThroughMoreThanOnePage) {
  for (int i = 0; i < 1005; ++i) putRaw("many/" + std::to_string(i), "");
  EXPECT_EQ(listNames("many", false).size(), 1005u);
  ASSERT_TRUE(backend_->remove(path("many"), true).ok());
  bool found = true;
  ASSERT_TRUE(backend_->exists(path("many"), &found).ok());
  EXPECT_FALSE(found);
}

TEST_F(QuollBackendTest, SmallAndMultipartFilesReadBackWhole) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{5 * kMiB}, size_t{12 * kMiB + 7}}) {
    std::string data = randomBytes(size, static_cast<unsigned>(size));
    std::string name = "f" + std::to_string(size);
    Error error = writeFile(name, data, OVK_OPEN_WRITE, 3 * kMiB + 1);
    ASSERT_TRUE(error.ok()) << error.message();
    EXPECT_EQ(readFile(name), data) << "size " << size;
    EntryStatus status;
    ASSERT_TRUE(backend_->getFileStatus(path(name), &status).ok());
    EXPECT_EQ(status.size, static_cast<int64_t>(size));
  }
}

TEST_F(QuollBackendTest, AFileAppearsOnlyAtCloseAndAnAbandonedOneNever) {
  std::string data = randomBytes(11 * kMiB, 1);
  std::unique_ptr<Stream> stream;
  ASSERT_TRUE(backend_->open(path("pending"), OVK_OPEN_WRITE, 0644, &stream).ok());
  ASSERT_TRUE(stream->write(data.data(), data.size()).ok());
  bool found = true;
  ASSERT_TRUE(backend_->exists(path("pending"), &found).ok());
  EXPECT_FALSE(found) << "visible before close";
  ASSERT_TRUE(stream->close().ok());
  ASSERT_TRUE(backend_->exists(path("pending"), &found).ok());
  EXPECT_TRUE(found);

  ASSERT_TRUE(backend_->open(path("pending"), OVK_OPEN_WRITE, 0644, &stream).ok());
  ASSERT_TRUE(stream->write("replacement", 11).ok());
  stream.reset();  // destroyed without close: the previous content stays
  EXPECT_EQ(readFile("pending"), data);
}

TEST_F(QuollBackendTest, AppendKeepsTheExistingBytes) {
  struct Case {
    size_t existing;
    size_t added;
  } cases[] = {{0, 10}, {100, 100}, {6 * kMiB, 10}, {6 * kMiB, 6 * kMiB}};
  for (const Case& c : cases) {
    std::string first = randomBytes(c.existing, 7);
    std::string second = randomBytes(c.added, 8);
    std::string name = "append-" + std::to_string(c.existing) + "-" + std::to_string(c.added);
    ASSERT_TRUE(writeFile(name, first).ok());
    Error error = writeFile(name, second, OVK_OPEN_WRITE | OVK_OPEN_APPEND);
    ASSERT_TRUE(error.ok()) << error.message();
    EXPECT_EQ(readFile(name), first + second) << name;
  }
}

TEST_F(QuollBackendTest, PositionalAndScatterReads) {
  std::string data = randomBytes(3 * kMiB, 3);
  ASSERT_TRUE(writeFile("r", data).ok());
  std::unique_ptr<Stream> stream;
  ASSERT_TRUE(backend_->open(path("r"), OVK_OPEN_READ, 0, &stream).ok());
  char buffer[1000];
  int64_t got = 0;
  ASSERT_TRUE(stream->pread(buffer, sizeof buffer, 12345, &got).ok());
  ASSERT_EQ(got, 1000);
  EXPECT_EQ(std::string(buffer, got), data.substr(12345, 1000));
  ASSERT_TRUE(stream->pread(buffer, sizeof buffer, data.size() - 10, &got).ok());
  EXPECT_EQ(got, 10);
  ASSERT_TRUE(stream->pread(buffer, sizeof buffer, data.size(), &got).ok());
  EXPECT_EQ(got, -1);

  std::vector<std::string> out(3, std::string(4096, '\0'));
  std::vector<ReadRange> ranges = {{out[0].data(), 4096, 2 * kMiB},
                                   {out[1].data(), 4096, 0},
                                   {out[2].data(), 4096, 5000}};
  int64_t total = 0;
  ASSERT_TRUE(stream->preadv(ranges, &total).ok());
  EXPECT_EQ(total, 3 * 4096);
  EXPECT_EQ(out[0], data.substr(2 * kMiB, 4096));
  EXPECT_EQ(out[1], data.substr(0, 4096));
  EXPECT_EQ(out[2], data.substr(5000, 4096));
  ranges = {{out[0].data(), 4096, static_cast<int64_t>(data.size()) - 100}};
  EXPECT_FALSE(stream->preadv(ranges, &total).ok());

  // Seeking back and forth reads the right bytes through the window.
  int64_t position = 0;
  ASSERT_TRUE(stream->seek(2 * kMiB + 5, &position).ok());
  ASSERT_TRUE(stream->read(buffer, 100, &got).ok());
  EXPECT_EQ(std::string(buffer, got), data.substr(2 * kMiB + 5, got));
  ASSERT_TRUE(stream->seek(7, &position).ok());
  ASSERT_TRUE(stream->read(buffer, 100, &got).ok());
  EXPECT_EQ(std::string(buffer, got), data.substr(7, got));
}

TEST_F(QuollBackendTest, ReadAheadFollowsSequentialReadsAndSeeks) {
  backend_ = connect(kRgwSecretKey, {{"fs.quoll.readahead.bytes", std::to_string(kMiB)}});
  ASSERT_NE(backend_, nullptr);
  std::string data = randomBytes(5 * kMiB + 3, 5);
  ASSERT_TRUE(writeFile("seq", data).ok());
  EXPECT_EQ(readFile("seq", 333333), data);

  std::unique_ptr<Stream> stream;
  ASSERT_TRUE(backend_->open(path("seq"), OVK_OPEN_READ, 0, &stream).ok());
  std::vector<char> buffer(700000);
  int64_t position = 0;
  int64_t got = 0;
  // Forward into the middle of a pending chunk, back to the start, then to
  // the last bytes: each read returns the bytes at its position.
  for (int64_t target : {int64_t{10}, 3 * kMiB + 5, int64_t{0}, 5 * kMiB}) {
    ASSERT_TRUE(stream->seek(target, &position).ok());
    int64_t at = target;
    for (int i = 0; i < 2 && at < static_cast<int64_t>(data.size()); ++i) {
      ASSERT_TRUE(stream->read(buffer.data(), buffer.size(), &got).ok());
      ASSERT_GT(got, 0);
      EXPECT_EQ(std::string(buffer.data(), got), data.substr(at, got)) << at;
      at += got;
    }
  }
  ASSERT_TRUE(stream->tell(&position).ok());
  EXPECT_EQ(position, static_cast<int64_t>(data.size()));
  ASSERT_TRUE(stream->read(buffer.data(), buffer.size(), &got).ok());
  EXPECT_EQ(got, -1);
}

TEST_F(QuollBackendTest, AReaderFailsRatherThanMixTwoVersions) {
  ASSERT_TRUE(writeFile("v", "version-one").ok());
  std::unique_ptr<Stream> stream;
  ASSERT_TRUE(backend_->open(path("v"), OVK_OPEN_READ, 0, &stream).ok());
  ASSERT_TRUE(writeFile("v", "version-two").ok());
  char buffer[32];
  int64_t got = 0;
  Error error = stream->pread(buffer, sizeof buffer, 0, &got);
  EXPECT_FALSE(error.ok());
  EXPECT_NE(error.message().find("412"), std::string::npos) << error.message();
}

// With copy parts of 5 MiB, a 12 MiB object takes the multipart copy that
// objects above 5 GiB take by default: rename, chmod (a copy onto itself
// with new metadata) and stream copies must all keep every byte.
TEST_F(QuollBackendTest, ObjectsLargerThanACopyPartAreCopiedInParts) {
  backend_ = connect(kRgwSecretKey, {{"fs.quoll.copy.part.bytes", std::to_string(5 * kMiB)}});
  ASSERT_NE(backend_, nullptr);
  const std::string data = randomBytes(12 * kMiB + 3, 11);
  ASSERT_TRUE(writeFile("big", data).ok());

  Error error = backend_->rename(path("big"), path("moved"));
  ASSERT_TRUE(error.ok()) << error.message();
  EXPECT_EQ(readFile("moved", 4 * kMiB), data);

  ASSERT_TRUE(backend_->mkdir(path("tree/sub"), true, 0755).ok());
  ASSERT_TRUE(backend_->rename(path("moved"), path("tree/sub/big")).ok());
  error = backend_->rename(path("tree"), path("tree2"));
  ASSERT_TRUE(error.ok()) << error.message();
  EXPECT_EQ(readFile("tree2/sub/big", 4 * kMiB), data);

  error = backend_->setPermission(path("tree2/sub/big"), 0600);
  ASSERT_TRUE(error.ok()) << error.message();
  EntryStatus status;
  ASSERT_TRUE(backend_->getFileStatus(path("tree2/sub/big"), &status).ok());
  EXPECT_EQ(status.perm, 0600);
  EXPECT_EQ(status.size, static_cast<int64_t>(data.size()));
  EXPECT_EQ(readFile("tree2/sub/big", 4 * kMiB), data);

  for (const std::string& tail : {std::string(), std::string("+tail")}) {
    std::unique_ptr<Stream> reader, writer;
    ASSERT_TRUE(backend_->open(path("tree2/sub/big"), OVK_OPEN_READ, 0, &reader).ok());
    ASSERT_TRUE(backend_->open(path("copy"), OVK_OPEN_WRITE, 0644, &writer).ok());
    int64_t copied = 0;
    ASSERT_TRUE(writer->copyFrom(*reader, &copied, &error));
    ASSERT_TRUE(error.ok()) << error.message();
    EXPECT_EQ(copied, static_cast<int64_t>(data.size()));
    if (!tail.empty()) ASSERT_TRUE(writer->write(tail.data(), tail.size()).ok());
    error = writer->close();
    ASSERT_TRUE(error.ok()) << error.message();
    EXPECT_EQ(readFile("copy", 4 * kMiB), data + tail) << "tail " << tail;
  }
}

// A stream copy names the version its reader opened. When the source is
// replaced before the writer closes, a copy in parts fails and publishes
// nothing rather than join parts of two versions; a single-request copy is
// atomic and gives one version whole (the gateway ignores the copy
// condition that makes it fail on other services).
TEST_F(QuollBackendTest, AStreamCopyNeverMixesTwoVersions) {
  backend_ = connect(kRgwSecretKey, {{"fs.quoll.copy.part.bytes", std::to_string(5 * kMiB)}});
  ASSERT_NE(backend_, nullptr);
  for (size_t size : {size_t{100}, size_t{12 * kMiB}}) {
    SCOPED_TRACE(size);
    const std::string before = randomBytes(size, 1), after = randomBytes(size, 2);
    ASSERT_TRUE(writeFile("v", before).ok());
    std::unique_ptr<Stream> reader, writer;
    ASSERT_TRUE(backend_->open(path("v"), OVK_OPEN_READ, 0, &reader).ok());
    ASSERT_TRUE(backend_->open(path("c"), OVK_OPEN_WRITE, 0644, &writer).ok());
    int64_t copied = 0;
    Error error;
    ASSERT_TRUE(writer->copyFrom(*reader, &copied, &error));
    ASSERT_TRUE(error.ok()) << error.message();
    ASSERT_TRUE(writeFile("v", after).ok());
    error = writer->close();
    bool found = false;
    ASSERT_TRUE(backend_->exists(path("c"), &found).ok());
    if (size > 5 * kMiB) {
      EXPECT_FALSE(error.ok());
      EXPECT_NE(error.message().find("replaced"), std::string::npos) << error.message();
      EXPECT_FALSE(found);
    } else if (error.ok()) {
      std::string copy = readFile("c");
      EXPECT_TRUE(copy == before || copy == after);
    } else {
      EXPECT_FALSE(found);
    }
    ASSERT_TRUE(backend_->remove(path("c"), false).ok() || !found);
  }
}

TEST_F(QuollBackendTest, RenameMovesFilesAndTrees) {
  ASSERT_TRUE(backend_->mkdir(path("src/empty"), true, 0755).ok());
  ASSERT_TRUE(backend_->mkdir(path("src/x"), true, 0755).ok());
  ASSERT_TRUE(writeFile("src/x/y.bin", "yy").ok());
  ASSERT_TRUE(writeFile("src/top", "tt").ok());
  ASSERT_TRUE(backend_->mkdir(path("dst"), false, 0755).ok());
  Error error = backend_->rename(path("src"), path("dst/moved"));
  ASSERT_TRUE(error.ok()) << error.message();
  EXPECT_EQ(listNames("dst", true),
            (std::vector<std::string>{"dst/moved/", "dst/moved/empty/", "dst/moved/top",
                                      "dst/moved/x/", "dst/moved/x/y.bin"}));
  bool found = true;
  ASSERT_TRUE(backend_->exists(path("src"), &found).ok());
  EXPECT_FALSE(found);

  ASSERT_TRUE(backend_->rename(path("dst/moved/top"), path("dst/top2")).ok());
  EXPECT_EQ(readFile("dst/top2"), "tt");
  // The emptied parent stays a directory.
  ASSERT_TRUE(backend_->rename(path("dst/moved/x/y.bin"), path("dst/y")).ok());
  EXPECT_EQ(listNames("dst/moved/x", false), std::vector<std::string>{});

  EXPECT_EQ(backend_->rename(path("nothing"), path("dst/z")).code(), OVK_ERR_NOT_FOUND);
  EXPECT_EQ(backend_->rename(path("dst"), path("dst/inner")).code(),
            OVK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(backend_->rename(path("dst/top2"), path("dst/moved")).code(),
            OVK_ERR_ALREADY_EXISTS);
}

TEST_F(QuollBackendTest, RemoveNeedsRecursiveForNonEmptyDirectories) {
  ASSERT_TRUE(backend_->mkdir(path("d"), false, 0755).ok());
  ASSERT_TRUE(writeFile("d/f", "x").ok());
  EXPECT_EQ(backend_->remove(path("d"), false).code(), OVK_ERR_NOT_EMPTY);
  EXPECT_EQ(backend_->remove(path("gone"), false).code(), OVK_ERR_NOT_FOUND);
  EXPECT_EQ(backend_->remove(path(""), true).code(), OVK_ERR_INVALID_ARGUMENT);
  ASSERT_TRUE(backend_->remove(path("d/f"), false).ok());
  ASSERT_TRUE(backend_->remove(path("d"), false).ok());
  bool found = true;
  ASSERT_TRUE(backend_->exists(path("d"), &found).ok());
  EXPECT_FALSE(found);
}

TEST_F(QuollBackendTest, PermissionAndOwnerAreKeptAsMetadata) {
  ASSERT_TRUE(writeFile("f", "data").ok());
  ASSERT_TRUE(backend_->mkdir(path("d"), false, 0755).ok());
  putRaw("implicit/child", "c");
  for (const char* rel : {"f", "d", "implicit"}) {
    ASSERT_TRUE(backend_->setPermission(path(rel), 0600).ok()) << rel;
    ASSERT_TRUE(backend_->setOwner(path(rel), "bob", "staff").ok()) << rel;
    EntryStatus status;
    ASSERT_TRUE(backend_->getFileStatus(path(rel), &status).ok());
    EXPECT_EQ(status.perm, 0600) << rel;
    EXPECT_EQ(status.user, "bob") << rel;
    EXPECT_EQ(status.group, "staff") << rel;
  }
  EXPECT_EQ(readFile("f"), "data");
  EXPECT_EQ(backend_->setPermission(path("none"), 0600).code(), OVK_ERR_NOT_FOUND);
}

// The gateway is configured with "rgw dns name = localhost", and curl
// resolves every *.localhost name to the loopback address, so the bucket
// can travel in the host name (and in the signature's host header).
TEST_F(QuollBackendTest, VirtualHostedAddressingReachesTheSameObjects) {
  auto hosted = connect(kRgwSecretKey, {{"fs.quoll.endpoint", "http://localhost:7480"},
                                        {"fs.quoll.virtualHosted", "true"}});
  ASSERT_NE(hosted, nullptr);
  std::swap(backend_, hosted);
  ASSERT_TRUE(backend_->mkdir(path("d"), false, 0755).ok());
  Error error = writeFile("d/a b+c", "virtual");
  ASSERT_TRUE(error.ok()) << error.message();
  error = backend_->rename(path("d/a b+c"), path("d/moved"));
  ASSERT_TRUE(error.ok()) << error.message();
  EXPECT_EQ(listNames("d", false), std::vector<std::string>{"d/moved"});
  std::swap(backend_, hosted);
  EXPECT_EQ(readFile("d/moved"), "virtual") << "path-style sees what virtual-hosted wrote";
}

TEST_F(QuollBackendTest, HttpsChecksTheCertificateAgainstTheConfiguredAuthorities) {
  const std::string ca = testing::RgwCaBundle();
  auto trusted = connect(kRgwSecretKey, {{"fs.quoll.endpoint", testing::kRgwTlsEndpoint},
                                         {"fs.quoll.tls.caBundle", ca}});
  ASSERT_NE(trusted, nullptr);
  std::swap(backend_, trusted);
  Error error = writeFile("over-tls", "secret bytes");
  ASSERT_TRUE(error.ok()) << error.message();
  EXPECT_EQ(readFile("over-tls"), "secret bytes");

  Error refused;
  EXPECT_EQ(connect(kRgwSecretKey, {{"fs.quoll.endpoint", testing::kRgwTlsEndpoint}},
                    &refused),
            nullptr)
      << "a self-signed certificate is not trusted by the system's authorities";
  EXPECT_NE(refused.message().find("127.0.0.1:7443"), std::string::npos) << refused.message();
  EXPECT_NE(refused.message().find("certificate"), std::string::npos) << refused.message();
  EXPECT_EQ(refused.message().find(kRgwSecretKey), std::string::npos);

  auto unchecked = connect(kRgwSecretKey, {{"fs.quoll.endpoint", testing::kRgwTlsEndpoint},
                                           {"fs.quoll.tls.verify", "false"}});
  ASSERT_NE(unchecked, nullptr);
  std::swap(backend_, unchecked);
  EXPECT_EQ(readFile("over-tls"), "secret bytes");
}

TEST_F(QuollBackendTest, ContentSummaryCountsTheTreeOrItsChildren) {
  ASSERT_TRUE(backend_->mkdir(path("t/s"), true, 0755).ok());
  ASSERT_TRUE(writeFile("t/a", "12345").ok());
  ASSERT_TRUE(writeFile("t/s/b", "123").ok());
  ASSERT_TRUE(backend_->mkdir(path("t/e"), false, 0755).ok());
  ContentSummary summary;
  ASSERT_TRUE(backend_->getContentSummary(path("t"), true, &summary).ok());
  EXPECT_EQ(summary.fileSize, 8);
  EXPECT_EQ(summary.fileCount, 2);
  EXPECT_EQ(summary.directoryCount, 2);
  ASSERT_TRUE(backend_->getContentSummary(path("t"), false, &summary).ok());
  EXPECT_EQ(summary.fileSize, 5);
  EXPECT_EQ(summary.fileCount, 1);
  EXPECT_EQ(summary.directoryCount, 2);
}

TEST_F(QuollBackendTest, AwkwardKeysRoundTrip) {
  const std::vector<std::string> names = {
      "with space", "plus+sign", "100%", "%2e%2e", "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5",
      "q?x#y&z=w", "semi;colon:at@", "tilde~star*paren()", "quote'\"<tag>"};
  ASSERT_TRUE(backend_->mkdir(path("k"), false, 0755).ok());
  for (const std::string& name : names) {
    Error error = writeFile("k/" + name, name);
    ASSERT_TRUE(error.ok()) << name << ": " << error.message();
  }
  std::vector<std::string> expected;
  for (const std::string& name : names) expected.push_back("k/" + name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listNames("k", false), expected);
  for (const std::string& name : names) EXPECT_EQ(readFile("k/" + name), name);
  ASSERT_TRUE(backend_->remove(path("k"), true).ok());
}

TEST_F(QuollBackendTest, AWrongSecretIsAnAuthenticationError) {
  Error failure;
  EXPECT_EQ(connect("not-the-secret", {}, &failure), nullptr);
  EXPECT_EQ(failure.code(), OVK_ERR_AUTH) << failure.message();
  EXPECT_EQ(failure.message().find("not-the-secret"), std::string::npos);
  EXPECT_NE(failure.message().find(kTestBucket), std::string::npos);
}

TEST_F(QuollBackendTest, AMissingEndpointOrBadOptionIsRefused) {
  Error failure;
  EXPECT_EQ(connect(kRgwSecretKey, {{"fs.quoll.endpoint", "ftp://x"}}, &failure), nullptr);
  EXPECT_EQ(failure.code(), OVK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(connect(kRgwSecretKey, {{"fs.quoll.part.bytes", "1000"}}, &failure), nullptr);
  EXPECT_EQ(failure.code(), OVK_ERR_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace ovk::quoll

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new ovk::quoll::testing::RgwEnvironment);
  return RUN_ALL_TESTS();
}
