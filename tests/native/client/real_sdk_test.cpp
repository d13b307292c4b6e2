// The native client end to end over the real SDK's local backend, in a
// temporary directory: what the fake cannot show is how the client's
// choices meet real paths (rename onto itself in its several spellings,
// appends, end of file).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "OvkFileSystem.h"

namespace {

namespace fs = std::filesystem;

class RealSdkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (fs::temp_directory_path() / "ovkclient-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    uri_ = "file://" + root_.string();
    auto config = std::make_shared<OvkConfig>();
    config->setString("logger.dir", root_.string() + "-logs");
    OvkStatus status = client_.init(uri_, "tester", config);
    ASSERT_TRUE(status.ok()) << status.message();
  }

  void TearDown() override {
    client_.destroy();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    fs::remove_all(root_.string() + "-logs", ignored);
  }

  void writeFile(const std::string& path, const std::string& bytes) {
    std::unique_ptr<OvkWriter> writer;
    ASSERT_TRUE(client_.openWriter(path, &writer).ok());
    ASSERT_TRUE(writer->write(bytes).ok());
    OvkStatus closed = writer->close();
    ASSERT_TRUE(closed.ok()) << closed.message();
  }

  std::string readFile(const std::string& path) {
    std::unique_ptr<OvkReader> reader;
    OvkStatus opened = client_.openReader(path, &reader);
    EXPECT_TRUE(opened.ok()) << opened.message();
    if (!opened.ok()) return "<unreadable>";
    std::string all;
    char scratch[4];
    for (;;) {
      std::string_view view;
      OvkStatus status = reader->read(sizeof scratch, &view, scratch);
      all.append(view.data(), view.size());
      if (isEndOfFile(status)) break;
      EXPECT_TRUE(status.ok()) << status.message();
      if (!status.ok()) break;
    }
    EXPECT_TRUE(reader->close().ok());
    return all;
  }

  fs::path root_;
  std::string uri_;
  OvkFileSystem client_;
};

TEST_F(RealSdkTest, WrittenBytesReadBackInChunksUntilEndOfFile) {
  writeFile("/a.bin", "0123456789");
  EXPECT_EQ(readFile("/a.bin"), "0123456789");

  std::unique_ptr<OvkReader> reader;
  ASSERT_TRUE(client_.openReader("/a.bin", &reader).ok());
  char scratch[8];
  std::string_view view;
  ASSERT_TRUE(reader->pread(6, 3, &view, scratch).ok());
  EXPECT_EQ(view, "678");
  OvkStatus end = reader->pread(8, 8, &view, scratch);
  EXPECT_TRUE(isEndOfFile(end)) << end.message();
  EXPECT_EQ(view, "89");
  int64_t length = 0;
  ASSERT_TRUE(reader->getFileLength(length).ok());
  EXPECT_EQ(length, 10);

  char a[2], b[3];
  std::vector<int64_t> offsets = {0, 4};
  std::vector<uint64_t> lengths = {2, 3};
  std::vector<char*> buffers = {a, b};
  OvkStatus ranges = reader->preadv(offsets, lengths, buffers);
  ASSERT_TRUE(ranges.ok()) << ranges.message();
  EXPECT_EQ(std::string(a, 2), "01");
  EXPECT_EQ(std::string(b, 3), "456");
}

TEST_F(RealSdkTest, AppenderKeepsWhatTheWriterReplaces) {
  writeFile("/log.txt", "one\n");
  std::unique_ptr<OvkWriter> appender;
  ASSERT_TRUE(client_.openAppender("/log.txt", &appender).ok());
  ASSERT_TRUE(appender->write("two\n").ok());
  ASSERT_TRUE(appender->close().ok());
  EXPECT_EQ(readFile("/log.txt"), "one\ntwo\n");
  writeFile("/log.txt", "three\n");
  EXPECT_EQ(readFile("/log.txt"), "three\n");
}

TEST_F(RealSdkTest, RenameOntoItselfKeepsTheFileInEverySpelling) {
  writeFile("/keep.txt", "precious");
  OvkFileInfo info;
  ASSERT_TRUE(client_.getFileInfo("/keep.txt", &info).ok());
  for (const std::string& dst : {std::string("/keep.txt"), info.path}) {
    OvkStatus status = client_.rename("/keep.txt", dst);
    EXPECT_TRUE(status.ok()) << dst << ": " << status.message();
    EXPECT_EQ(readFile("/keep.txt"), "precious") << dst;
  }
}

TEST_F(RealSdkTest, RenameReplacesAnotherFileButNeverForAMissingSource) {
  writeFile("/src.txt", "new");
  writeFile("/dst.txt", "old");
  ASSERT_TRUE(client_.rename("/src.txt", "/dst.txt").ok());
  EXPECT_EQ(readFile("/dst.txt"), "new");
  EXPECT_EQ(client_.exists("/src.txt").code(), 3001);

  OvkStatus missing = client_.rename("/src.txt", "/dst.txt");
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(readFile("/dst.txt"), "new") << "the destination survives";
}

TEST_F(RealSdkTest, DirectoriesListWithTrailingSlashes) {
  ASSERT_TRUE(client_.mkdir("/d/sub", true).ok());
  writeFile("/d/f.txt", "x");
  OvkFileInfo dir;
  ASSERT_TRUE(client_.getFileInfo("/d", &dir).ok());
  EXPECT_EQ(dir.type, 1);
  EXPECT_EQ(dir.path.back(), '/');
  OvkListResult listing;
  ASSERT_TRUE(client_.listDir("/d", false, &listing).ok());
  ASSERT_EQ(listing.entries.size(), 2u);
  EXPECT_THAT(listing.entries[0].path, ::testing::EndsWith("/d/f.txt"));
  EXPECT_THAT(listing.entries[1].path, ::testing::EndsWith("/d/sub/"));

  OvkFileInfo gone;
  OvkStatus status = client_.getFileInfo("/nope", &gone);
  EXPECT_EQ(status.code(), 3001);
  EXPECT_EQ(status.message(), "cant not found /nope");
  EXPECT_EQ(client_.remove("/d", false).code(), OVK_ERR_NOT_EMPTY);
  EXPECT_TRUE(client_.remove("/d", true).ok());
}

TEST_F(RealSdkTest, AsynchronousRequestsCompleteBeforeWaitReturns) {
  OvkStatus mkdir_status(-1, "not called");
  auto task = client_.mkdirAsync("/async", false,
                                 [&](OvkStatus s) { mkdir_status = s; });
  ASSERT_NE(task, nullptr);
  ASSERT_TRUE(task->wait().ok());
  EXPECT_TRUE(mkdir_status.ok()) << mkdir_status.message();

  writeFile("/async/f", "abcdef");
  std::unique_ptr<OvkReader> reader;
  ASSERT_TRUE(client_.openReader("/async/f", &reader).ok());
  char scratch[16];
  std::string_view view;
  OvkStatus read_status(-1, "not called");
  auto read = reader->readAsync(16, &view, scratch,
                                [&](OvkStatus s) { read_status = s; });
  ASSERT_TRUE(read->wait().ok());
  EXPECT_TRUE(isEndOfFile(read_status)) << read_status.message();
  EXPECT_EQ(view, "abcdef");
}

}  // namespace
