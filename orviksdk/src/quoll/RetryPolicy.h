// When to try a failed S3 request again, and after how long.
//
// Exponential backoff with full jitter: before retry n (n = 1, 2, ...) the
// caller waits a random time in [0, min(cap, base * 2^(n-1))). Retrying
// stops after `maxAttempts` attempts in all, or when the next wait would end
// past `maxTotal` from the first attempt. The clock and the random source
// are injectable so tests can drive the schedule; the defaults are the
// steady clock and a per-thread generator. A policy is immutable and safe
// to share between threads.
#ifndef ORVIKSDK_QUOLL_RETRYPOLICY_H_
#define ORVIKSDK_QUOLL_RETRYPOLICY_H_

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace ovk::quoll {

class RetryPolicy {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // Uniform in [0, 1).
  using Random = std::function<double()>;

  struct Limits {
    int maxAttempts = 5;
    std::chrono::milliseconds maxTotal{120000};
    std::chrono::milliseconds base{100};
    std::chrono::milliseconds cap{10000};
  };

  explicit RetryPolicy(Limits limits, Clock clock = nullptr,
                       Random random = nullptr);

  // The wait before the next attempt, after `attemptsMade` attempts that
  // began at `start` have all failed; nullopt when no attempt is left.
  std::optional<std::chrono::milliseconds> nextDelay(
      int attemptsMade, std::chrono::steady_clock::time_point start) const;

  std::chrono::steady_clock::time_point now() const { return clock_(); }

  // True for the HTTP statuses and service error codes that mean "try
  // again later": 500, 502, 503, 504, 429 and the throttling codes.
  static bool isRetryableStatus(long status, const std::string& serviceCode);

 private:
  Limits limits_;
  Clock clock_;
  Random random_;
};

}  // namespace ovk::quoll

#endif  // ORVIKSDK_QUOLL_RETRYPOLICY_H_
