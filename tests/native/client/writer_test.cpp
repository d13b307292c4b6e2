// OrvikWriter's blocking operations and the two write opens.
#include "OvkWriter.h"
#include "fake_sdk_fixture.h"

namespace {

using ::testing::ElementsAre;

std::string fileContents(const char* path) {
  int64_t length = ovkfake_get_file(path, nullptr, 0);
  if (length < 0) return "<absent>";
  std::string bytes(static_cast<size_t>(length), '\0');
  ovkfake_get_file(path, bytes.data(), length);
  return bytes;
}

class WriterTest : public FakeSdkTest {
 protected:
  std::unique_ptr<OvkWriter> open(const std::string& path) {
    std::unique_ptr<OvkWriter> writer;
    OvkStatus status = connected().openWriter(path, &writer);
    EXPECT_TRUE(status.ok()) << status.message();
    ovkfake_clear_calls();
    return writer;
  }
};

TEST_F(WriterTest, OpenWriterTruncatesAndOpenAppenderKeepsTheBytes) {
  ovkfake_set_file("/w", "old", 3);
  ovkfake_set_file("/a", "old", 3);
  OvkFileSystem& fs = connected();
  std::unique_ptr<OvkWriter> writer;
  std::unique_ptr<OvkWriter> appender;
  ASSERT_TRUE(fs.openWriter("/w", &writer).ok());
  ASSERT_TRUE(fs.openAppender("/a", &appender).ok());
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_open(/w,3,511)",
                                      "ovk_open(/a,1027,511)"));
  ASSERT_TRUE(writer->write("new").ok());
  ASSERT_TRUE(appender->write("+new").ok());
  ASSERT_TRUE(writer->close().ok());
  ASSERT_TRUE(appender->close().ok());
  EXPECT_EQ(fileContents("/w"), "new");
  EXPECT_EQ(fileContents("/a"), "old+new");
  std::string_view name;
  EXPECT_TRUE(appender->name(&name).ok());
  EXPECT_EQ(name, "/a");
}

TEST_F(WriterTest, OpenFailuresLeaveOutUntouched) {
  OvkFileSystem& fs = connected();
  std::unique_ptr<OvkWriter> writer;
  ovkfake_push("ovk_open", 4007, "read-only bucket", 0);
  OvkStatus status = fs.openWriter("/w", &writer);
  EXPECT_EQ(status.code(), 4007);
  EXPECT_EQ(status.message(), "open file writer failed: read-only bucket");
  ovkfake_push("ovk_open", 4005, "is a directory", 0);
  status = fs.openAppender("/d", &writer);
  EXPECT_EQ(status.code(), 4005);
  EXPECT_EQ(status.message(), "open file writer failed: is a directory");
  EXPECT_EQ(writer, nullptr);

  OvkFileSystem unconnected;
  EXPECT_EQ(unconnected.openWriter("/w", &writer).message(), "init failed ");
  EXPECT_EQ(unconnected.openAppender("/w", &writer).code(), 1000);
}

TEST_F(WriterTest, WriteFlushTellReachTheSdk) {
  auto writer = open("/w");
  ASSERT_TRUE(writer->write("hello").ok());
  ASSERT_TRUE(writer->write("").ok());
  ASSERT_TRUE(writer->flush().ok());
  int64_t position = 0;
  ASSERT_TRUE(writer->tell(position).ok());
  EXPECT_EQ(position, 5);
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_write(5)", "ovk_write(0)",
                                      "ovk_flush()", "ovk_tell()"))
      << "a zero-length write still reaches the SDK";
}

TEST_F(WriterTest, SdkErrorsCarryTheOperationsPrefix) {
  auto writer = open("/w");
  ovkfake_push("ovk_write", 4010, "disk full", -1);
  OvkStatus status = writer->write("x");
  EXPECT_EQ(status.code(), 4010);
  EXPECT_EQ(status.message(), "write file failed: disk full");
  ovkfake_push("ovk_flush", 4011, "HTTP 500", 0);
  EXPECT_EQ(writer->flush().message(), "flush file failed: HTTP 500");
  ovkfake_push("ovk_tell", 4002, "gone", -1);
  int64_t position = 9;
  EXPECT_EQ(writer->tell(position).message(), "tell file failed: gone");
  EXPECT_EQ(position, -1) << "tell writes the SDK's value even on failure";
}

TEST_F(WriterTest, ClosedWriterRefusesBlockingWorkWithoutTheSdk) {
  auto writer = open("/w");
  ASSERT_TRUE(writer->close().ok());
  EXPECT_TRUE(writer->closed());
  ovkfake_clear_calls();
  int64_t position = 42;
  for (OvkStatus status : {writer->write("x"), writer->flush(),
                           writer->tell(position), writer->close()}) {
    EXPECT_EQ(status.code(), 3005);
    EXPECT_EQ(status.message(), "Already closed.");
  }
  EXPECT_EQ(position, 42);
  EXPECT_EQ(std::string(ovkfake_calls(0)), "");
}

TEST_F(WriterTest, FailedCloseLeavesTheWriterOpenForARetry) {
  auto writer = open("/w");
  ASSERT_TRUE(writer->write("data").ok());
  ovkfake_push("ovk_close", 4010, "upload failed", 0);
  OvkStatus failed = writer->close();
  EXPECT_EQ(failed.code(), 4010);
  EXPECT_EQ(failed.message(), "close file failed: upload failed");
  EXPECT_FALSE(writer->closed());
  EXPECT_EQ(fileContents("/w"), "<absent>");
  EXPECT_TRUE(writer->close().ok());
  EXPECT_TRUE(writer->closed());
  EXPECT_EQ(fileContents("/w"), "data");
  EXPECT_EQ(ovkfake_call_count("ovk_close"), 2);
}

TEST_F(WriterTest, DestroyingAnOpenWriterClosesItFirst) {
  auto writer = open("/w");
  ASSERT_TRUE(writer->write("kept").ok());
  ovkfake_clear_calls();
  writer.reset();
  EXPECT_THAT(sdkCalls(),
              ElementsAre("ovk_close()", "ovk_freeIOContext(stream#1)"));
  EXPECT_EQ(fileContents("/w"), "kept");
}

TEST_F(WriterTest, DestroyingAClosedWriterOnlyReleasesIt) {
  auto writer = open("/w");
  ASSERT_TRUE(writer->close().ok());
  ovkfake_clear_calls();
  writer.reset();
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_freeIOContext(stream#1)"));
}

}  // namespace
