// The behaviour suite, continued: streams, atomic publication, threads and
// lifetimes.
#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

#include "StoreConformance.h"

namespace ovktest {

namespace {

std::vector<std::string> Paths(const std::vector<Status>& entries) {
  std::vector<std::string> out;
  for (const Status& s : entries) out.push_back(s.path);
  return out;
}

}  // namespace

// ---- streams ----

TEST_P(StoreConformance, WriteThenReadBackWithEndOfFileAsMinusOne) {
  std::string data(10000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(store().writeFile("/data", data).ok());
  Outcome o;
  ovk_io_context_t* s = store().open("/data", OVK_OPEN_READ, &o);
  ASSERT_NE(s, nullptr);
  std::string got;
  char buf[3000];
  int64_t n = 0;
  while (store().read(s, buf, sizeof buf, &n).ok() && n > 0) got.append(buf, n);
  EXPECT_EQ(n, -1) << "end of file is -1";
  EXPECT_EQ(got, data);
  EXPECT_TRUE(store().read(s, buf, sizeof buf, &n).ok());
  EXPECT_EQ(n, -1) << "reading again at the end is still -1, never 0";
  store().close(s);
  ovk_freeIOContext(s);
}

TEST_P(StoreConformance, PositionalReadsAcrossTheEnd) {
  ASSERT_TRUE(store().writeFile("/ten", "0123456789").ok());
  Outcome o;
  ovk_io_context_t* s = store().open("/ten", OVK_OPEN_READ, &o);
  ASSERT_NE(s, nullptr);
  struct Case {
    int64_t offset;
    uint64_t n;
    int64_t expect;
    const char* bytes;
  } cases[] = {{0, 4, 4, "0123"}, {8, 4, 2, "89"}, {10, 4, -1, ""}, {100, 1, -1, ""},
               {3, 0, 0, ""}};
  for (const Case& c : cases) {
    char buf[16] = {};
    int64_t n = 99;
    ASSERT_TRUE(store().pread(s, buf, c.n, c.offset, &n).ok()) << c.offset;
    // A short positional read may come in pieces; ask again for the rest.
    while (n > 0 && n < c.expect) {
      int64_t more = 0;
      ASSERT_TRUE(store().pread(s, buf + n, c.n - n, c.offset + n, &more).ok());
      if (more <= 0) break;
      n += more;
    }
    EXPECT_EQ(n, c.expect) << "pread at " << c.offset;
    if (n > 0) {
      EXPECT_EQ(std::string(buf, n), c.bytes);
    }
  }
  int64_t position = -1;
  ASSERT_TRUE(store().tell(s, &position).ok());
  EXPECT_EQ(position, 0) << "pread leaves the position alone";
  char buf[4];
  int64_t n = 0;
  EXPECT_EQ(store().pread(s, buf, 4, -1, &n).code, OVK_ERR_INVALID_ARGUMENT);
  store().close(s);
  ovk_freeIOContext(s);
}

TEST_P(StoreConformance, PreadvReadsEveryRangeAndRefusesRangesPastTheEnd) {
  ASSERT_TRUE(store().writeFile("/v", "abcdefghijklmnopqrstuvwxyz").ok());
  Outcome o;
  ovk_io_context_t* s = store().open("/v", OVK_OPEN_READ, &o);
  ASSERT_NE(s, nullptr);
  char b0[3], b1[5], b2[1];
  ovk_file_buffers_t* bufs = ovk_createFileBuffers();
  ovk_longs_t* lens = ovk_createLongs();
  ovk_longs_t* offs = ovk_createLongs();
  for (auto [b, len, off] : {std::tuple<char*, int64_t, int64_t>{b0, 3, 0},
                             {b1, 5, 20},
                             {b2, 1, 10}}) {
    ovk_appendFileBuffer(bufs, b);
    ovk_appendLong(lens, len);
    ovk_appendLong(offs, off);
  }
  ovk_handle_ctx_t* c = store().ctx(s);
  int64_t total = ovk_preadv(c, bufs, lens, offs, nullptr);
  Outcome r = Take(c);
  ASSERT_TRUE(r.ok()) << r;
  EXPECT_EQ(total, 9);
  EXPECT_EQ(std::string(b0, 3), "abc");
  EXPECT_EQ(std::string(b1, 5), "uvwxy");
  EXPECT_EQ(std::string(b2, 1), "k");

  ovk_appendFileBuffer(bufs, b1);
  ovk_appendLong(lens, 5);
  ovk_appendLong(offs, 24);
  c = store().ctx(s);
  EXPECT_EQ(ovk_preadv(c, bufs, lens, offs, nullptr), -1);
  r = Take(c);
  EXPECT_EQ(r.code, OVK_ERR_INVALID_ARGUMENT) << "a range past the end must not pass silently";
  ovk_appendLong(lens, 1);
  c = store().ctx(s);
  ovk_preadv(c, bufs, lens, offs, nullptr);
  EXPECT_EQ(Take(c).code, OVK_ERR_INVALID_ARGUMENT) << "lists of different sizes";
  ovk_freeFileBuffers(bufs);
  ovk_freeLongs(lens);
  ovk_freeLongs(offs);
  store().close(s);
  ovk_freeIOContext(s);
}

TEST_P(StoreConformance, SeekTellAndLengthOnReadStreams) {
  ASSERT_TRUE(store().writeFile("/st", "0123456789").ok());
  Outcome o;
  ovk_io_context_t* s = store().open("/st", OVK_OPEN_READ, &o);
  ASSERT_NE(s, nullptr);
  int64_t v = -1;
  ASSERT_TRUE(store().length(s, &v).ok());
  EXPECT_EQ(v, 10);
  ASSERT_TRUE(store().seek(s, 6, &v).ok());
  EXPECT_EQ(v, 6);
  char buf[8];
  int64_t n = 0;
  ASSERT_TRUE(store().read(s, buf, 8, &n).ok());
  EXPECT_EQ(std::string(buf, n), "6789");
  ASSERT_TRUE(store().tell(s, &v).ok());
  EXPECT_EQ(v, 10);
  ASSERT_TRUE(store().seek(s, 50, &v).ok()) << "seeking past the end is allowed";
  ASSERT_TRUE(store().read(s, buf, 8, &n).ok());
  EXPECT_EQ(n, -1);
  EXPECT_EQ(store().seek(s, -1, &v).code, OVK_ERR_INVALID_ARGUMENT);
  store().close(s);
  ovk_freeIOContext(s);
}

TEST_P(StoreConformance, WriteStreamCountsBytesIncludingZeroLengthWrites) {
  Outcome o;
  ovk_io_context_t* s = store().open("/w", OVK_OPEN_WRITE, &o);
  ASSERT_NE(s, nullptr);
  int64_t v = -1;
  ASSERT_TRUE(store().write(s, "").ok()) << "a zero-length write succeeds";
  ASSERT_TRUE(store().tell(s, &v).ok());
  EXPECT_EQ(v, 0);
  ASSERT_TRUE(store().write(s, "hello").ok());
  ASSERT_TRUE(store().write(s, std::string(300000, 'x')).ok());
  ASSERT_TRUE(store().tell(s, &v).ok());
  EXPECT_EQ(v, 300005);
  ASSERT_TRUE(store().length(s, &v).ok());
  EXPECT_EQ(v, 300005);
  char buf[4];
  int64_t n;
  EXPECT_EQ(store().read(s, buf, 4, &n).code, OVK_ERR_INVALID_ARGUMENT)
      << "reading a write stream";
  ovk_handle_ctx_t* c = store().ctx(s);
  EXPECT_TRUE(ovk_flush(c, nullptr));
  EXPECT_TRUE(Take(c).ok());
  ASSERT_TRUE(store().close(s).ok());
  ovk_freeIOContext(s);
  Status st;
  ASSERT_TRUE(store().status("/w", &st).ok());
  EXPECT_EQ(st.size, 300005);
}

TEST_P(StoreConformance, CloseTwiceSucceedsAndOtherCallsAfterCloseFail) {
  ASSERT_TRUE(store().writeFile("/c", "abc").ok());
  for (int32_t flags : {OVK_OPEN_READ, OVK_OPEN_WRITE}) {
    Outcome o;
    ovk_io_context_t* s = store().open("/c", flags, &o);
    ASSERT_NE(s, nullptr);
    if (flags != OVK_OPEN_READ) {
      ASSERT_TRUE(store().write(s, "abc").ok());
    }
    EXPECT_TRUE(store().close(s).ok());
    EXPECT_TRUE(store().close(s).ok()) << "second close, flags " << flags;
    char buf[4];
    int64_t n;
    Outcome after = flags == OVK_OPEN_READ ? store().read(s, buf, 4, &n) : store().write(s, "z");
    EXPECT_EQ(after.code, OVK_ERR_INVALID_ARGUMENT) << after;
    ovk_freeIOContext(s);
  }
  std::string content;
  ASSERT_TRUE(store().readFile("/c", &content).ok());
  EXPECT_EQ(content, "abc");
}

TEST_P(StoreConformance, WriteTruncatesAndAppendKeepsTheBytes) {
  ASSERT_TRUE(store().writeFile("/t", "first").ok());
  ASSERT_TRUE(store().writeFile("/t", "2nd").ok());
  std::string content;
  ASSERT_TRUE(store().readFile("/t", &content).ok());
  EXPECT_EQ(content, "2nd");
  ASSERT_TRUE(store().writeFile("/t", "+more", OVK_OPEN_WRITE | OVK_OPEN_APPEND).ok());
  ASSERT_TRUE(store().readFile("/t", &content).ok());
  EXPECT_EQ(content, "2nd+more");
  ASSERT_TRUE(store().writeFile("/new-by-append", "x", OVK_OPEN_WRITE | OVK_OPEN_APPEND).ok());
  ASSERT_TRUE(store().readFile("/new-by-append", &content).ok());
  EXPECT_EQ(content, "x");
}

TEST_P(StoreConformance, OpenErrors) {
  ASSERT_TRUE(store().mkdir("/dir").ok());
  struct Case {
    const char* path;
    int32_t flags;
    int32_t code;
  } cases[] = {{"/missing", OVK_OPEN_READ, OVK_ERR_NOT_FOUND},
               {"/dir", OVK_OPEN_READ, OVK_ERR_ALREADY_EXISTS},
               {"/dir", OVK_OPEN_WRITE, OVK_ERR_ALREADY_EXISTS},
               {"/", OVK_OPEN_READ, OVK_ERR_ALREADY_EXISTS},
               {"/x", 7, OVK_ERR_INVALID_ARGUMENT},
               {"/x", OVK_OPEN_APPEND, OVK_ERR_INVALID_ARGUMENT}};
  for (const Case& c : cases) {
    ovk_handle_ctx_t* ctx = store().ctx();
    ovk_io_context_t* s = ovk_open(ctx, c.path, c.flags, 0777, nullptr);
    Outcome o = Take(ctx);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(o.code, c.code) << c.path << " flags " << c.flags << " " << o;
    EXPECT_NE(o.message.find(c.path), std::string::npos) << o;
    ovk_freeIOContext(s);
  }
}

// ---- atomic publish ----

TEST_P(StoreConformance, AWriterIsInvisibleUntilClose) {
  ASSERT_TRUE(store().writeFile("/pub", "previous").ok());
  Outcome o;
  ovk_io_context_t* w = store().open("/pub", OVK_OPEN_WRITE, &o);
  ASSERT_NE(w, nullptr);
  ovk_io_context_t* fresh = store().open("/fresh", OVK_OPEN_WRITE, &o);
  ASSERT_NE(fresh, nullptr);
  ASSERT_TRUE(store().write(w, std::string(1 << 20, 'n')).ok());
  ASSERT_TRUE(store().write(fresh, "abc").ok());
  ovk_handle_ctx_t* c = store().ctx(w);
  ovk_flush(c, nullptr);
  Take(c);

  std::string content;
  ASSERT_TRUE(store().readFile("/pub", &content).ok());
  EXPECT_EQ(content, "previous") << "readers see the old content while a writer is open";
  bool found = true;
  store().exists("/fresh", &found);
  EXPECT_FALSE(found) << "a new file does not exist before close";
  std::vector<Status> entries;
  ASSERT_TRUE(store().list("/", false, &entries).ok());
  EXPECT_EQ(Paths(entries), std::vector<std::string>{prefix() + "pub"})
      << "no temporary entry is listed";

  ASSERT_TRUE(store().close(w).ok());
  ASSERT_TRUE(store().close(fresh).ok());
  ovk_freeIOContext(w);
  ovk_freeIOContext(fresh);
  ASSERT_TRUE(store().readFile("/pub", &content).ok());
  EXPECT_EQ(content, std::string(1 << 20, 'n'));
  store().exists("/fresh", &found);
  EXPECT_TRUE(found);
}

// A copy between two streams appends the rest of the source, wherever
// the source stands and whatever the writer holds before and after; the
// backends copy whole objects by the storage itself and fall back to a
// buffer otherwise, and every combination must give the same bytes.
TEST_P(StoreConformance, CopyFromAppendsTheRestOfTheSource) {
  const std::string source = "0123456789abcdef";
  struct Case {
    const char* name;
    std::string content;  // of the source file
    std::string before;   // written to the writer before the copy
    int64_t skip;         // read from the source before the copy
    std::string after;    // written after it
  } cases[] = {{"whole", source, "", 0, ""},
               {"empty-source", "", "", 0, ""},
               {"after-writes", source, "head-", 0, ""},
               {"from-the-middle", source, "", 5, ""},
               {"then-writes", source, "", 0, "-tail"},
               {"everything", source, "head-", 5, "-tail"},
               {"from-the-end", source, "head-", 16, "-tail"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string from = std::string("/src-") + c.name;
    const std::string to = std::string("/copy-") + c.name;
    ASSERT_TRUE(store().writeFile(from, c.content).ok());
    Outcome o;
    ovk_io_context_t* r = store().open(from, OVK_OPEN_READ, &o);
    ASSERT_NE(r, nullptr) << o;
    ovk_io_context_t* w = store().open(to, OVK_OPEN_WRITE, &o);
    ASSERT_NE(w, nullptr) << o;
    std::vector<char> skipped(static_cast<size_t>(c.skip) + 1);
    int64_t got = 0;
    if (c.skip > 0) {
      ASSERT_TRUE(store().read(r, skipped.data(), c.skip, &got).ok());
      ASSERT_EQ(got, c.skip);
    }
    if (!c.before.empty()) ASSERT_TRUE(store().write(w, c.before).ok());

    int64_t copied = -1;
    o = store().copyFrom(w, r, &copied);
    ASSERT_TRUE(o.ok()) << o;
    int64_t rest = static_cast<int64_t>(c.content.size()) - c.skip;
    EXPECT_EQ(copied, rest);
    int64_t position = -1;
    ASSERT_TRUE(store().tell(w, &position).ok());
    EXPECT_EQ(position, static_cast<int64_t>(c.before.size()) + rest);
    bool found = true;
    store().exists(to, &found);
    EXPECT_FALSE(found) << "the copy appears only at close";
    ASSERT_TRUE(store().read(r, skipped.data(), 1, &got).ok());
    EXPECT_EQ(got, -1) << "the source is left at its end";

    if (!c.after.empty()) ASSERT_TRUE(store().write(w, c.after).ok());
    o = store().close(w);
    ASSERT_TRUE(o.ok()) << o;
    ASSERT_TRUE(store().close(r).ok());
    ovk_freeIOContext(w);
    ovk_freeIOContext(r);
    std::string content;
    ASSERT_TRUE(store().readFile(to, &content).ok());
    EXPECT_EQ(content, c.before + c.content.substr(static_cast<size_t>(c.skip)) + c.after);
  }
}

TEST_P(StoreConformance, CopyFromTakesAReaderOfAnotherStore) {
  ASSERT_TRUE(store().writeFile("/elsewhere", "bytes of the other store").ok());
  auto other = reopen({});
  ASSERT_TRUE(other->initOutcome().ok()) << other->initOutcome();
  Outcome o;
  ovk_io_context_t* r = other->open("/elsewhere", OVK_OPEN_READ, &o);
  ASSERT_NE(r, nullptr) << o;
  ovk_io_context_t* w = store().open("/here", OVK_OPEN_WRITE, &o);
  ASSERT_NE(w, nullptr) << o;
  int64_t copied = -1;
  o = store().copyFrom(w, r, &copied);
  ASSERT_TRUE(o.ok()) << o;
  EXPECT_EQ(copied, 24);
  ASSERT_TRUE(store().close(w).ok());
  ASSERT_TRUE(other->close(r).ok());
  ovk_freeIOContext(w);
  ovk_freeIOContext(r);
  std::string content;
  ASSERT_TRUE(store().readFile("/here", &content).ok());
  EXPECT_EQ(content, "bytes of the other store");
}

TEST_P(StoreConformance, CopyFromRefusesStreamsOfTheWrongDirection) {
  ASSERT_TRUE(store().writeFile("/f", "data").ok());
  Outcome o;
  ovk_io_context_t* r = store().open("/f", OVK_OPEN_READ, &o);
  ovk_io_context_t* r2 = store().open("/f", OVK_OPEN_READ, &o);
  ovk_io_context_t* w = store().open("/g", OVK_OPEN_WRITE, &o);
  ovk_io_context_t* w2 = store().open("/h", OVK_OPEN_WRITE, &o);
  ASSERT_TRUE(r && r2 && w && w2);
  ovk_io_context_t* closed = store().open("/f", OVK_OPEN_READ, &o);
  ASSERT_TRUE(store().close(closed).ok());
  struct Case {
    const char* name;
    ovk_io_context_t* to;
    ovk_io_context_t* from;
  } cases[] = {{"into a reader", r, r2},
               {"from a writer", w, w2},
               {"onto itself", w, w},
               {"from nothing", w, nullptr},
               {"from a closed reader", w, closed}};
  for (const Case& c : cases) {
    int64_t copied = 0;
    o = store().copyFrom(c.to, c.from, &copied);
    EXPECT_EQ(o.code, OVK_ERR_INVALID_ARGUMENT) << c.name << ": " << o;
    EXPECT_EQ(copied, -1) << c.name;
  }
  // Nothing reached the writer: it still publishes an empty file.
  ASSERT_TRUE(store().close(w).ok());
  std::string content = "?";
  ASSERT_TRUE(store().readFile("/g", &content).ok());
  EXPECT_EQ(content, "");
  for (ovk_io_context_t* s : {r, r2, w, w2, closed}) ovk_freeIOContext(s);
}

TEST_P(StoreConformance, AnAbandonedWriterLeavesThePreviousContent) {
  ASSERT_TRUE(store().writeFile("/keep", "previous").ok());
  Outcome o;
  ovk_io_context_t* w = store().open("/keep", OVK_OPEN_WRITE, &o);
  ovk_io_context_t* a = store().open("/keep", OVK_OPEN_WRITE | OVK_OPEN_APPEND, &o);
  ovk_io_context_t* n = store().open("/never", OVK_OPEN_WRITE, &o);
  ASSERT_TRUE(w != nullptr && a != nullptr && n != nullptr);
  ASSERT_TRUE(store().write(w, "partial").ok());
  ASSERT_TRUE(store().write(a, "partial").ok());
  ASSERT_TRUE(store().write(n, "partial").ok());
  ovk_freeIOContext(w);
  ovk_freeIOContext(a);
  ovk_freeIOContext(n);
  std::string content;
  ASSERT_TRUE(store().readFile("/keep", &content).ok());
  EXPECT_EQ(content, "previous");
  std::vector<Status> entries;
  ASSERT_TRUE(store().list("/", true, &entries).ok());
  EXPECT_EQ(Paths(entries), std::vector<std::string>{prefix() + "keep"});
}

TEST_P(StoreConformance, AnOpenReaderKeepsTheVersionItOpened) {
  ASSERT_TRUE(store().writeFile("/ver", "version-one").ok());
  Outcome o;
  ovk_io_context_t* r = store().open("/ver", OVK_OPEN_READ, &o);
  ASSERT_NE(r, nullptr);
  ASSERT_TRUE(store().writeFile("/ver", "version-two!").ok());
  char buf[32];
  int64_t n = 0;
  ASSERT_TRUE(store().pread(r, buf, sizeof buf, 0, &n).ok());
  EXPECT_EQ(std::string(buf, n), "version-one");
  store().close(r);
  ovk_freeIOContext(r);
}

// ---- threads and lifetimes ----

TEST_P(StoreConformance, ManyThreadsReadWriteAndListOneStore) {
  constexpr int kThreads = 8;
  constexpr int kFiles = 20;
  ASSERT_TRUE(store().mkdir("/mt").ok());
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kFiles; ++i) {
        std::string path = "/mt/t" + std::to_string(t) + "-" + std::to_string(i);
        std::string data(1000 + t * 10 + i, static_cast<char>('a' + t));
        std::string back;
        std::vector<Status> entries;
        if (!store().writeFile(path, data).ok() || !store().readFile(path, &back).ok() ||
            back != data || !store().list("/mt", false, &entries).ok()) {
          ++failures;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  std::vector<Status> entries;
  ASSERT_TRUE(store().list("/mt", false, &entries).ok());
  EXPECT_EQ(entries.size(), static_cast<size_t>(kThreads * kFiles));
}

TEST_P(StoreConformance, EverythingFailsCleanlyAfterDestroyStore) {
  ASSERT_TRUE(store().writeFile("/x", "abc").ok());
  Outcome o;
  ovk_io_context_t* r = store().open("/x", OVK_OPEN_READ, &o);
  ovk_io_context_t* w = store().open("/y", OVK_OPEN_WRITE, &o);
  ASSERT_TRUE(r != nullptr && w != nullptr);
  ASSERT_TRUE(store().destroy().ok());

  char buf[4];
  int64_t n = 0;
  EXPECT_EQ(store().read(r, buf, 4, &n).code, OVK_ERR_NOT_INITIALISED);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(store().write(w, "z").code, OVK_ERR_NOT_INITIALISED);
  EXPECT_EQ(store().close(w).code, OVK_ERR_NOT_INITIALISED);
  bool found = true;
  EXPECT_EQ(store().exists("/x", &found).code, OVK_ERR_NOT_INITIALISED);
  EXPECT_FALSE(found);
  EXPECT_EQ(store().mkdir("/d").code, OVK_ERR_NOT_INITIALISED);
  EXPECT_EQ(store().destroy().code, OVK_ERR_NOT_INITIALISED);
  ovk_freeIOContext(r);
  ovk_freeIOContext(w);

  auto again = reopen({});
  ASSERT_TRUE(again->initOutcome().ok());
  found = true;
  again->exists("/y", &found);
  EXPECT_FALSE(found) << "a writer cut off by destroyStore publishes nothing";
}

}  // namespace ovktest
