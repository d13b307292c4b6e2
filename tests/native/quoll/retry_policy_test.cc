// The backoff schedule, driven by a fake clock and a fixed random source.
#include <gtest/gtest.h>

#include <chrono>

#include "RetryPolicy.h"

namespace ovk::quoll {
namespace {

using std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

struct FakeTime {
  TimePoint now{};
};

RetryPolicy makePolicy(FakeTime* time, double random, int attempts,
                       milliseconds total) {
  RetryPolicy::Limits limits;
  limits.maxAttempts = attempts;
  limits.maxTotal = total;
  limits.base = milliseconds(100);
  limits.cap = milliseconds(1000);
  return RetryPolicy(limits, [time] { return time->now; },
                     [random] { return random; });
}

TEST(RetryPolicy, DoublesUpToTheCapScaledByJitter) {
  FakeTime time;
  RetryPolicy policy = makePolicy(&time, 0.5, 10, milliseconds(60000));
  const long expected[] = {50, 100, 200, 400, 500, 500};
  for (int attempt = 1; attempt <= 6; ++attempt) {
    auto delay = policy.nextDelay(attempt, time.now);
    ASSERT_TRUE(delay.has_value()) << "attempt " << attempt;
    EXPECT_EQ(delay->count(), expected[attempt - 1]) << "attempt " << attempt;
  }
}

TEST(RetryPolicy, JitterStaysBelowTheCeiling) {
  FakeTime time;
  RetryPolicy low = makePolicy(&time, 0.0, 5, milliseconds(60000));
  RetryPolicy high = makePolicy(&time, 0.999, 5, milliseconds(60000));
  EXPECT_EQ(low.nextDelay(3, time.now)->count(), 0);
  EXPECT_LT(high.nextDelay(3, time.now)->count(), 400);
}

TEST(RetryPolicy, StopsAfterTheAttemptLimit) {
  FakeTime time;
  RetryPolicy policy = makePolicy(&time, 0.5, 3, milliseconds(60000));
  EXPECT_TRUE(policy.nextDelay(2, time.now).has_value());
  EXPECT_FALSE(policy.nextDelay(3, time.now).has_value());
}

TEST(RetryPolicy, StopsWhenTheNextWaitWouldPassTheTotalTime) {
  FakeTime time;
  TimePoint start = time.now;
  RetryPolicy policy = makePolicy(&time, 0.5, 100, milliseconds(1000));
  time.now = start + milliseconds(900);
  EXPECT_TRUE(policy.nextDelay(1, start).has_value());   // 50 ms: ends at 950
  EXPECT_FALSE(policy.nextDelay(3, start).has_value());  // 200 ms: past 1000
}

TEST(RetryPolicy, ClassifiesStatusesAndServiceCodes) {
  struct Case {
    long status;
    const char* code;
    bool retryable;
  } cases[] = {
      {500, "InternalError", true}, {502, "", true},  {503, "SlowDown", true},
      {504, "", true},             {429, "", true},  {400, "RequestTimeout", true},
      {403, "AccessDenied", false}, {404, "NoSuchKey", false},
      {400, "InvalidArgument", false}, {409, "BucketNotEmpty", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RetryPolicy::isRetryableStatus(c.status, c.code), c.retryable)
        << c.status << " " << c.code;
  }
}

}  // namespace
}  // namespace ovk::quoll
