// The SDK's behaviour suite, written once for every backend, against the
// quoll:// backend on the RADOS Gateway, through the C interface. Each store
// is a fresh prefix of the test bucket.
#include <atomic>
#include <random>

#include "StoreConformance.h"
#include "rgw_environment.h"

namespace ovktest {
namespace {

using ovk::quoll::testing::kRgwAccessKey;
using ovk::quoll::testing::kRgwEndpoint;
using ovk::quoll::testing::kRgwSecretKey;
using ovk::quoll::testing::kTestBucket;

StoreTarget QuollTarget() {
  StoreTarget t;
  t.name = "Quoll";
  t.options = {{"fs.quoll.endpoint", kRgwEndpoint},
               {"fs.quoll.accessKeyId", kRgwAccessKey},
               {"fs.quoll.accessKeySecret", kRgwSecretKey},
               {"fs.quoll.part.bytes", "5242880"}};
  t.makeStore = [] {
    static std::atomic<int> counter{0};
    static const unsigned run = std::random_device{}();
    std::string uri = std::string("quoll://") + kTestBucket + "/conformance-" +
                      std::to_string(run) + "-" + std::to_string(counter++);
    return StoreLocation{uri, uri + "/", nullptr};
  };
  return t;
}

INSTANTIATE_TEST_SUITE_P(Quoll, StoreConformance, ::testing::Values(QuollTarget()),
                         TargetName);

}  // namespace
}  // namespace ovktest

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new ovk::quoll::testing::RgwEnvironment);
  return RUN_ALL_TESTS();
}
