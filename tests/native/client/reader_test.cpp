// OrvikReader's blocking operations: the read loop, positional and scatter
// reads, positions, close and destruction.
#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "OvkReader.h"
#include "fake_sdk_fixture.h"

namespace {

using ::testing::ElementsAre;

class ReaderTest : public FakeSdkTest {
 protected:
  // Opens path (holding contents) and forgets the calls made so far.
  std::unique_ptr<OvkReader> open(const std::string& path,
                                  const std::string& contents) {
    ovkfake_set_file(path.c_str(), contents.data(),
                     static_cast<int64_t>(contents.size()));
    std::unique_ptr<OvkReader> reader;
    OvkStatus status = connected().openReader(path, &reader);
    EXPECT_TRUE(status.ok()) << status.message();
    ovkfake_clear_calls();
    return reader;
  }

  // Reads n bytes into scratch_ and returns the status; view_ has the
  // result, or the sentinel when the reader left it untouched.
  OvkStatus read(OvkReader& reader, uint64_t n) {
    view_ = kUntouched;
    return reader.read(n, &view_, scratch_);
  }
  OvkStatus pread(OvkReader& reader, int64_t offset, uint64_t n) {
    view_ = kUntouched;
    return reader.pread(offset, n, &view_, scratch_);
  }

  static constexpr std::string_view kUntouched = "untouched";
  char scratch_[64] = {};
  std::string_view view_;
};

TEST_F(ReaderTest, OpenReaderUsesReadFlagsAndReplacesTheOldReader) {
  ovkfake_set_file("/f", "x", 1);
  ovkfake_set_file("/g", "y", 1);
  OvkFileSystem& fs = connected();
  std::unique_ptr<OvkReader> reader;
  ASSERT_TRUE(fs.openReader("/f", &reader).ok());
  ASSERT_TRUE(fs.openReader("/g", &reader).ok());
  EXPECT_THAT(sdkCalls(),
              ElementsAre("ovk_open(/f,65536,511)", "ovk_open(/g,65536,511)",
                          "ovk_close()", "ovk_freeIOContext(stream#1)"))
      << "the reader that was replaced is closed and released";
  std::string_view name;
  EXPECT_TRUE(reader->name(&name).ok());
  EXPECT_EQ(name, "/g");
  EXPECT_FALSE(reader->closed());
}

TEST_F(ReaderTest, OpenReaderFailureLeavesOutUntouched) {
  OvkFileSystem& fs = connected();
  std::unique_ptr<OvkReader> reader;
  OvkStatus status = fs.openReader("/missing", &reader);
  EXPECT_EQ(status.code(), 3001);
  EXPECT_EQ(status.message(), "open file reader failed: /missing: not found");
  EXPECT_EQ(reader, nullptr);

  OvkFileSystem unconnected;
  status = unconnected.openReader("/f", &reader);
  EXPECT_EQ(status.code(), 1000);
  EXPECT_EQ(status.message(), "init failed ");
}

TEST_F(ReaderTest, ZeroLengthReadsMakeNoSdkCall) {
  auto reader = open("/f", "abc");
  EXPECT_TRUE(read(*reader, 0).ok());
  EXPECT_EQ(view_.data(), scratch_);
  EXPECT_EQ(view_.size(), 0u);
  EXPECT_TRUE(pread(*reader, 1, 0).ok());
  EXPECT_EQ(view_.size(), 0u);
  EXPECT_EQ(std::string(ovkfake_calls(0)), "");
}

TEST_F(ReaderTest, SequentialReadsEndWithEndOfFileAndTheLastBytes) {
  auto reader = open("/f", "0123456789");
  ASSERT_TRUE(read(*reader, 4).ok());
  EXPECT_EQ(view_, "0123");
  ASSERT_TRUE(read(*reader, 4).ok());
  EXPECT_EQ(view_, "4567");
  OvkStatus end = read(*reader, 4);
  EXPECT_EQ(end.code(), 3005);
  EXPECT_EQ(end.message(), "EOF reached, 2 bytes were read out of 4 bytes requested.");
  EXPECT_TRUE(isEndOfFile(end));
  EXPECT_EQ(view_, "89");
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_read(4)", "ovk_read(4)",
                                      "ovk_read(4)", "ovk_read(2)"));
}

TEST_F(ReaderTest, PartialChunksAndEmptyIterationsMakeOneRead) {
  auto reader = open("/f", "");
  ovkfake_push_read("ovk_read", "ab", 2);
  ovkfake_push("ovk_read", 0, nullptr, 0);
  ovkfake_push_read("ovk_read", "cd", 2);
  ovkfake_push("ovk_read", 0, nullptr, 0);
  ovkfake_push_read("ovk_read", "ef", 2);
  ASSERT_TRUE(read(*reader, 6).ok());
  EXPECT_EQ(view_, "abcdef");
  EXPECT_THAT(sdkCalls(),
              ElementsAre("ovk_read(6)", "ovk_read(4)", "ovk_read(4)",
                          "ovk_read(2)", "ovk_read(2)"))
      << "a 0-byte iteration repeats the same remainder";
}

// Each read of a reader shared by several threads gets contiguous bytes,
// even when the store serves it in several parts.
TEST_F(ReaderTest, ConcurrentReadsDoNotInterleaveTheirParts) {
  constexpr int kThreads = 4;
  constexpr int kReadsPerThread = 200;
  constexpr size_t kBlock = 8;  // block i holds i in two bytes, four times
  std::string contents;
  for (int i = 0; i < kThreads * kReadsPerThread; ++i) {
    for (size_t k = 0; k < kBlock / 2; ++k) {
      contents.push_back(static_cast<char>(i & 0xff));
      contents.push_back(static_cast<char>(i >> 8));
    }
  }
  auto reader = open("/f", contents);
  ovkfake_set_read_chunk(1);
  auto blockOf = [&](std::string_view view) {
    if (view.size() != kBlock) return -1;
    for (size_t k = 2; k < kBlock; ++k) {
      if (view[k] != view[k % 2]) return -1;
    }
    return static_cast<unsigned char>(view[0]) |
           static_cast<unsigned char>(view[1]) << 8;
  };
  std::vector<std::vector<int>> blocks(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      char scratch[kBlock];
      for (int r = 0; r < kReadsPerThread; ++r) {
        std::string_view view;
        OvkStatus status = reader->read(kBlock, &view, scratch);
        blocks[t].push_back(status.ok() ? blockOf(view) : -1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<int> all;
  for (const auto& seen : blocks) all.insert(all.end(), seen.begin(), seen.end());
  std::sort(all.begin(), all.end());
  std::vector<int> expected(kThreads * kReadsPerThread);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<int>(i);
  EXPECT_TRUE(all == expected) << "a read got bytes of several blocks";
}

TEST_F(ReaderTest, NegativeCountOtherThanEndOfFileIsAFailure) {
  auto reader = open("/f", "");
  ovkfake_push_read("ovk_read", "ab", 2);
  ovkfake_push("ovk_read", 0, nullptr, -2);
  OvkStatus status = read(*reader, 5);
  EXPECT_EQ(status.code(), 3005);
  EXPECT_EQ(status.message(),
            "Failed to read, /f, expect read 5 bytes, but 2 bytes readed, "
            "last read -2 bytes");
  EXPECT_FALSE(isEndOfFile(status));
  EXPECT_EQ(view_, "ab");
}

TEST_F(ReaderTest, SdkErrorOnALaterIterationReportsItsRemainder) {
  auto reader = open("/f", "");
  ovkfake_push_read("ovk_read", "abc", 3);
  ovkfake_push("ovk_read", 4010, "socket reset", -1);
  OvkStatus status = read(*reader, 8);
  EXPECT_EQ(status.code(), 4010);
  EXPECT_EQ(status.message(),
            "failed to read /f size 5 readed -1, errmsg: socket reset");
  EXPECT_EQ(view_, kUntouched);
}

// An SDK that keeps answering 0 bytes must not hang the caller.
TEST_F(ReaderTest, EndlessZeroByteAnswersFailInsteadOfSpinning) {
  auto reader = open("/f", "");
  for (int i = 0; i < 1000; ++i) ovkfake_push("ovk_read", 0, nullptr, 0);
  OvkStatus status = read(*reader, 4);
  EXPECT_EQ(status.code(), 3005);
  EXPECT_EQ(status.message(),
            "Failed to read, /f, expect read 4 bytes, but 0 bytes readed, "
            "last read 0 bytes");
  EXPECT_EQ(ovkfake_call_count("ovk_read"), 1000);
}

TEST_F(ReaderTest, CountBeyondTheRequestNeverWidensTheView) {
  auto reader = open("/f", "");
  ovkfake_push_read("ovk_read", "abcdef", 6);
  ASSERT_TRUE(read(*reader, 4).ok());
  EXPECT_EQ(view_, "abcd");
}

TEST_F(ReaderTest, EndOfFileIsToldApartFromFailuresNamingEof) {
  EXPECT_TRUE(isEndOfFile(OvkStatus::IOError(
      "EOF reached, 0 bytes were read out of 1 bytes requested.")));
  EXPECT_FALSE(isEndOfFile(OvkStatus::InternalError(
      4010, "failed to read /EOF reached, size 1 readed -1, errmsg: x")));
  EXPECT_FALSE(isEndOfFile(OvkStatus(4010, "EOF reached, but remote")));
  EXPECT_FALSE(isEndOfFile(OvkStatus::IOError(
      "Failed to read, /data/EOF, expect read 4 bytes, but 0 bytes readed, "
      "last read -2 bytes")));
  EXPECT_FALSE(isEndOfFile(OvkStatus()));
}

TEST_F(ReaderTest, PreadAdvancesTheOffsetPerIteration) {
  auto reader = open("/f", "0123456789");
  ovkfake_push_read("ovk_pread", "ab", 2);
  ASSERT_TRUE(pread(*reader, 3, 4).ok());
  EXPECT_EQ(view_, "ab56") << "the rest comes from offset 3 + 2";
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_pread(4,3)", "ovk_pread(2,5)"));

  OvkStatus end = pread(*reader, 8, 4);
  EXPECT_TRUE(isEndOfFile(end));
  EXPECT_EQ(end.message(), "EOF reached, 2 bytes were read out of 4 bytes requested.");
  EXPECT_EQ(view_, "89");
}

TEST_F(ReaderTest, PreadErrorNamesOffsetAndRemainderOfItsIteration) {
  auto reader = open("/f", "");
  ovkfake_push_read("ovk_pread", "ab", 2);
  ovkfake_push("ovk_pread", 4011, "HTTP 503 SlowDown", -1);
  OvkStatus status = pread(*reader, 100, 4);
  EXPECT_EQ(status.code(), 4011);
  EXPECT_EQ(status.message(),
            "failed to read /f offset 102 size 2 readed -1, errmsg: HTTP 503 "
            "SlowDown");
  EXPECT_EQ(view_, kUntouched);
}

TEST_F(ReaderTest, PreadvReadsEveryRangeInOneCallAndFreesItsLists) {
  auto reader = open("/f", "0123456789");
  char a[2], b[3], c[2];
  std::vector<int64_t> offsets = {0, 5, 8};
  std::vector<uint64_t> lengths = {2, 3, 2};
  std::vector<char*> buffers = {a, b, c};
  ASSERT_TRUE(reader->preadv(offsets, lengths, buffers).ok());
  EXPECT_EQ(std::string(a, 2), "01");
  EXPECT_EQ(std::string(b, 3), "567");
  EXPECT_EQ(std::string(c, 2), "89");
  EXPECT_THAT(fakeCalls(OVKFAKE_SKIP_CTX),
              ElementsAre("ovk_createLongs()", "ovk_createLongs()",
                          "ovk_createFileBuffers()",
                          "ovk_appendLong(longs#1,0)",
                          "ovk_appendLong(longs#1,5)",
                          "ovk_appendLong(longs#1,8)",
                          "ovk_appendLong(longs#2,2)",
                          "ovk_appendLong(longs#2,3)",
                          "ovk_appendLong(longs#2,2)",
                          "ovk_appendFileBuffer(buffers#1)",
                          "ovk_appendFileBuffer(buffers#1)",
                          "ovk_appendFileBuffer(buffers#1)",
                          "ovk_preadv(3,[2,3,2],[0,5,8])",
                          "ovk_freeFileBuffers(buffers#1)",
                          "ovk_freeLongs(longs#2)", "ovk_freeLongs(longs#1)"));
}

TEST_F(ReaderTest, PreadvErrorCountsTheBuffers) {
  auto reader = open("/f", "0123456789");
  char a[2], b[2];
  std::vector<int64_t> offsets = {0, 4};
  std::vector<uint64_t> lengths = {2};
  std::vector<char*> buffers = {a, b};
  OvkStatus status = reader->preadv(offsets, lengths, buffers);
  EXPECT_EQ(status.code(), OVK_ERR_INVALID_ARGUMENT)
      << "mismatched lists are passed on for the SDK to refuse";
  EXPECT_EQ(status.message(),
            "failed to preadv /f ranges 2, errmsg: ranges do not match");
}

TEST_F(ReaderTest, PositionCallsWriteTheirValueEvenOnFailure) {
  auto reader = open("/f", "0123456789");
  int64_t value = 0;
  ASSERT_TRUE(reader->seek(6).ok());
  ASSERT_TRUE(reader->tell(value).ok());
  EXPECT_EQ(value, 6);
  ASSERT_TRUE(reader->getFileLength(value).ok());
  EXPECT_EQ(value, 10);
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_seek(6)", "ovk_tell()",
                                      "ovk_getFileLength()"));

  ovkfake_push("ovk_tell", 4002, "store destroyed", -1);
  OvkStatus status = reader->tell(value);
  EXPECT_EQ(status.code(), 4002);
  EXPECT_EQ(status.message(), "tell file failed: store destroyed");
  EXPECT_EQ(value, -1);

  ovkfake_push("ovk_seek", 4004, "negative offset", -1);
  status = reader->seek(-1);
  EXPECT_EQ(status.message(), "seek file failed: negative offset");

  ovkfake_push("ovk_getFileLength", 4010, "stat failed", -7);
  status = reader->getFileLength(value);
  EXPECT_EQ(status.message(), "get file length failed: stat failed");
  EXPECT_EQ(value, -7);
}

TEST_F(ReaderTest, CloseSetsClosedOnlyOnSuccessAndCanBeRepeated) {
  auto reader = open("/f", "x");
  ovkfake_push("ovk_close", 4010, "flush failed", 0);
  OvkStatus failed = reader->close();
  EXPECT_EQ(failed.code(), 4010);
  EXPECT_EQ(failed.message(), "close file failed: flush failed");
  EXPECT_FALSE(reader->closed());
  EXPECT_TRUE(reader->close().ok());
  EXPECT_TRUE(reader->closed());
  EXPECT_TRUE(reader->close().ok()) << "close does not look at the flag";
  EXPECT_EQ(ovkfake_call_count("ovk_close"), 3);
  ovkfake_clear_calls();
  reader.reset();
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_freeIOContext(stream#1)"))
      << "a closed reader is only released";
}

TEST_F(ReaderTest, DestroyingAnOpenReaderClosesItFirst) {
  auto reader = open("/f", "x");
  ovkfake_push("ovk_close", 4010, "ignored", 0);
  reader.reset();
  EXPECT_THAT(fakeCalls(OVKFAKE_SKIP_ACCESSORS),
              ElementsAre("ovk_createHandleCtx2(store#1,stream#1)",
                          "ovk_close()", "ovk_getHandleCtxErrorCode(ctx#3)",
                          "ovk_getHandleCtxErrorMsg(ctx#3)",
                          "ovk_freeHandleCtx(ctx#3)",
                          "ovk_freeIOContext(stream#1)"));
}

TEST_F(ReaderTest, StreamCallsUseContextsOnStoreAndStream) {
  auto reader = open("/f", "abc");
  ASSERT_TRUE(read(*reader, 3).ok());
  EXPECT_THAT(fakeCalls(0),
              ElementsAre("ovk_createHandleCtx2(store#1,stream#1)",
                          "ovk_read(3)", "ovk_getHandleCtxErrorCode(ctx#3)",
                          "ovk_getHandleCtxErrorMsg(ctx#3)",
                          "ovk_freeHandleCtx(ctx#3)"));
}

}  // namespace
