#include "RetryPolicy.h"

#include <algorithm>
#include <random>

namespace ovk::quoll {
namespace {

double threadRandom() {
  thread_local std::mt19937_64 engine{std::random_device{}()};
  return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
}

}  // namespace

RetryPolicy::RetryPolicy(Limits limits, Clock clock, Random random)
    : limits_(limits),
      clock_(clock ? std::move(clock) : Clock(std::chrono::steady_clock::now)),
      random_(random ? std::move(random) : Random(threadRandom)) {}

std::optional<std::chrono::milliseconds> RetryPolicy::nextDelay(
    int attemptsMade, std::chrono::steady_clock::time_point start) const {
  if (attemptsMade >= limits_.maxAttempts) return std::nullopt;
  // Doubling stops at the cap; the shift is bounded so it cannot overflow.
  int shift = std::min(attemptsMade - 1, 30);
  auto ceiling = std::min<std::chrono::milliseconds::rep>(
      limits_.cap.count(), limits_.base.count() << std::max(shift, 0));
  std::chrono::milliseconds delay(
      static_cast<std::chrono::milliseconds::rep>(random_() * ceiling));
  if (clock_() + delay - start > limits_.maxTotal) return std::nullopt;
  return delay;
}

bool RetryPolicy::isRetryableStatus(long status, const std::string& serviceCode) {
  if (status == 500 || status == 502 || status == 503 || status == 504 ||
      status == 429) {
    return true;
  }
  return serviceCode == "SlowDown" || serviceCode == "Throttling" ||
         serviceCode == "ThrottlingException" || serviceCode == "RequestTimeout" ||
         serviceCode == "InternalError" || serviceCode == "ServiceUnavailable";
}

}  // namespace ovk::quoll
