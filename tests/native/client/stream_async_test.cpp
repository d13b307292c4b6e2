// Asynchronous reader and writer operations: the read loop finished in the
// callback, scatter reads, positions and the closed flag.
#include "OvkReader.h"
#include "OvkWriter.h"
#include "completion.h"
#include "fake_sdk_fixture.h"

namespace {

using ::testing::ElementsAre;

class StreamAsyncTest : public FakeSdkTest {
 protected:
  std::unique_ptr<OvkReader> openReader(const std::string& contents) {
    ovkfake_set_file("/f", contents.data(),
                     static_cast<int64_t>(contents.size()));
    std::unique_ptr<OvkReader> reader;
    EXPECT_TRUE(connected().openReader("/f", &reader).ok());
    ovkfake_clear_calls();
    return reader;
  }
  std::unique_ptr<OvkWriter> openWriter() {
    std::unique_ptr<OvkWriter> writer;
    EXPECT_TRUE(connected().openWriter("/w", &writer).ok());
    ovkfake_clear_calls();
    return writer;
  }
  char scratch_[32] = {};
  std::string_view view_ = "untouched";
};

TEST_F(StreamAsyncTest, ReadAsyncFinishesTheLoopInTheCallback) {
  auto reader = openReader("0123456789");
  ovkfake_push_read("ovk_readAsync", "ab", 2);
  Completion<> done;
  auto task = reader->readAsync(4, &view_, scratch_, done.onStatus());
  EXPECT_THAT(fakeCalls(OVKFAKE_SKIP_ACCESSORS),
              ElementsAre("ovk_createHandleCtx2(store#1,stream#1)",
                          "ovk_createOptions()", "ovk_setInt64Callback()",
                          "ovk_setCallbackContext()", "ovk_readAsync(4)",
                          "ovk_getHandleCtxErrorCode(ctx#3)",
                          "ovk_getHandleCtxErrorMsg(ctx#3)",
                          "ovk_freeHandleCtx(ctx#3)",
                          "ovk_freeOptions(options#2)"));
  ovkfake_clear_calls();
  ASSERT_TRUE(task->wait().ok());
  ASSERT_EQ(done.calls, 1);
  EXPECT_TRUE(done.status->ok()) << done.status->message();
  EXPECT_EQ(view_, "ab01") << "the rest comes from blocking reads";
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_wait(call#1)", "ovk_read(2)"));
}

TEST_F(StreamAsyncTest, ReadAsyncReportsEndOfFileWithTheBytesRead) {
  auto reader = openReader("xy");
  Completion<> done;
  auto task = reader->readAsync(4, &view_, scratch_, done.onStatus());
  ovkfake_complete_next();
  EXPECT_TRUE(isEndOfFile(*done.status));
  EXPECT_EQ(done.status->message(),
            "EOF reached, 2 bytes were read out of 4 bytes requested.");
  EXPECT_EQ(view_, "xy");
}

TEST_F(StreamAsyncTest, ReadAsyncErrorsLeaveTheViewAlone) {
  auto reader = openReader("");
  Completion<> first, later;
  ovkfake_push("ovk_readAsync", 4010, "reset", -1);
  auto t1 = reader->readAsync(4, &view_, scratch_, first.onStatus());
  ovkfake_complete_next();
  EXPECT_EQ(first.status->code(), 4010);
  EXPECT_EQ(first.status->message(),
            "failed to read /f size 5 readed -1, errmsg: reset");

  ovkfake_push_read("ovk_readAsync", "ab", 2);
  ovkfake_push("ovk_read", 4011, "HTTP 500", -1);
  auto t2 = reader->readAsync(6, &view_, scratch_, later.onStatus());
  ovkfake_complete_next();
  EXPECT_EQ(later.status->message(),
            "failed to read /f size 4 readed -1, errmsg: HTTP 500");
  EXPECT_EQ(view_, "untouched");
}

TEST_F(StreamAsyncTest, PreadAsyncContinuesAtTheRightOffsets) {
  auto reader = openReader("0123456789");
  Completion<> done, failed;
  ovkfake_push_read("ovk_preadAsync", "ab", 2);
  auto t1 = reader->preadAsync(3, 4, &view_, scratch_, done.onStatus());
  ovkfake_complete_next();
  ASSERT_TRUE(done.status->ok());
  EXPECT_EQ(view_, "ab56");
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_preadAsync(4,3)", "ovk_pread(2,5)"));

  ovkfake_push("ovk_preadAsync", 4010, "reset", -1);
  auto t2 = reader->preadAsync(100, 4, &view_, scratch_, failed.onStatus());
  ovkfake_complete_next();
  EXPECT_EQ(failed.status->message(),
            "failed to read /f offset 99 size 5 readed -1, errmsg: reset");
}

TEST_F(StreamAsyncTest, PreadvAsyncFreesItsListsInTheCallback) {
  auto reader = openReader("0123456789");
  char a[2], b[2];
  std::vector<int64_t> offsets = {1, 7};
  std::vector<uint64_t> lengths = {2, 2};
  std::vector<char*> buffers = {a, b};
  Completion<> done, failed;
  auto t1 = reader->preadvAsync(offsets, lengths, buffers, done.onStatus());
  EXPECT_EQ(ovkfake_live("longs"), 2) << "the lists live until the callback";
  ovkfake_complete_next();
  ASSERT_TRUE(done.status->ok());
  EXPECT_EQ(std::string(a, 2), "12");
  EXPECT_EQ(std::string(b, 2), "78");
  EXPECT_EQ(ovkfake_live("longs"), 0);
  EXPECT_EQ(ovkfake_live("buffers"), 0);

  ovkfake_push("ovk_preadvAsync", 4010, "reset", -1);
  auto t2 = reader->preadvAsync(offsets, lengths, buffers, failed.onStatus());
  ovkfake_complete_next();
  EXPECT_EQ(failed.status->code(), 4010);
  EXPECT_EQ(failed.status->message(),
            "failed to preadv /f ranges 2, errmsg: reset");
}

TEST_F(StreamAsyncTest, ReaderPositionCallbacksPassStatusAndValue) {
  auto reader = openReader("0123456789");
  Completion<> tell, seek, length;
  auto t1 = reader->seekAsync(4, seek.onValue());
  auto t2 = reader->tellAsync(tell.onValue());
  auto t3 = reader->getFileLengthAsync(length.onValue());
  while (ovkfake_complete_next() == 1) {
  }
  EXPECT_EQ(seek.value, 4);
  EXPECT_EQ(tell.value, 4);
  EXPECT_EQ(length.value, 10);
  EXPECT_TRUE(length.status->ok());

  const std::pair<const char*, const char*> failures[] = {
      {"ovk_tellAsync", "file tell failed: x"},
      {"ovk_seekAsync", "file seek failed: x"},
      {"ovk_getFileLengthAsync", "get file length failed: x"}};
  for (const auto& [function, message] : failures) {
    ovkfake_push(function, 4010, "x", -1);
  }
  Completion<> f1, f2, f3;
  auto t4 = reader->tellAsync(f1.onValue());
  auto t5 = reader->seekAsync(1, f2.onValue());
  auto t6 = reader->getFileLengthAsync(f3.onValue());
  while (ovkfake_complete_next() == 1) {
  }
  EXPECT_EQ(f1.status->message(), failures[0].second);
  EXPECT_EQ(f2.status->message(), failures[1].second);
  EXPECT_EQ(f3.status->message(), failures[2].second);
  EXPECT_EQ(f1.value, -1);
}

TEST_F(StreamAsyncTest, FailedAsyncCloseStillMarksTheReaderClosed) {
  auto reader = openReader("x");
  ovkfake_push("ovk_closeAsync", 4010, "flush failed", 0);
  Completion<> done;
  auto task = reader->closeAsync(done.onStatus());
  EXPECT_FALSE(reader->closed());
  EXPECT_EQ(ovkfake_call_count("ovk_setBoolCallback"), 1);
  ovkfake_complete_next();
  EXPECT_TRUE(reader->closed());
  EXPECT_EQ(done.status->code(), 4010);
  EXPECT_EQ(done.status->message(), "close file failed: flush failed");
  ovkfake_clear_calls();
  reader.reset();
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_freeIOContext(stream#1)"));
}

TEST_F(StreamAsyncTest, WriterAsyncFormsReportThroughTheirCallbacks) {
  auto writer = openWriter();
  Completion<> write, flush, tell, close;
  auto t1 = writer->writeAsync("abc", write.onStatus());
  auto t2 = writer->flushAsync(flush.onStatus());
  auto t3 = writer->tellAsync(tell.onValue());
  EXPECT_THAT(sdkCalls(), ElementsAre("ovk_writeAsync(3)", "ovk_flushAsync()",
                                      "ovk_tellAsync()"));
  EXPECT_EQ(ovkfake_call_count("ovk_setInt64Callback"), 2);
  EXPECT_EQ(ovkfake_call_count("ovk_setBoolCallback"), 1);
  while (ovkfake_complete_next() == 1) {
  }
  EXPECT_TRUE(write.status->ok());
  EXPECT_TRUE(flush.status->ok());
  EXPECT_EQ(tell.value, 3);

  ovkfake_push("ovk_writeAsync", 4010, "x", -1);
  ovkfake_push("ovk_flushAsync", 4010, "x", 0);
  ovkfake_push("ovk_tellAsync", 4010, "x", -1);
  ovkfake_push("ovk_closeAsync", 4010, "x", 0);
  Completion<> fw, ff, ft;
  auto t4 = writer->writeAsync("d", fw.onStatus());
  auto t5 = writer->flushAsync(ff.onStatus());
  auto t6 = writer->tellAsync(ft.onValue());
  auto t7 = writer->closeAsync(close.onStatus());
  while (ovkfake_complete_next() == 1) {
  }
  EXPECT_EQ(fw.status->message(), "write file failed: x");
  EXPECT_EQ(ff.status->message(), "flush file failed: x");
  EXPECT_EQ(ft.status->message(), "file tell failed: x");
  EXPECT_EQ(close.status->message(), "close file failed: x");
  EXPECT_TRUE(writer->closed()) << "closed whatever the outcome";

  Completion<> after;
  auto t8 = writer->writeAsync("late", after.onStatus());
  EXPECT_EQ(ovkfake_call_count("ovk_writeAsync"), 3)
      << "the asynchronous forms do not look at the flag";
  ovkfake_complete_next();
  EXPECT_EQ(writer->write("x").message(), "Already closed.");
}

}  // namespace
