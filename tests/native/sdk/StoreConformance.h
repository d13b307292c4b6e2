// The behaviour every backend keeps, written once. A backend's test program
// compiles StoreConformance.cpp and StoreConformanceStreams.cpp (CMake:
// ${OVK_SDK_CONFORMANCE_SOURCES}) and instantiates the suite with its target:
//
//   INSTANTIATE_TEST_SUITE_P(Local, StoreConformance,
//                            ::testing::Values(LocalTarget()), TargetName);
//
// Capability flags cover the real differences between backends.
#ifndef OVK_TESTS_NATIVE_SDK_STORECONFORMANCE_H_
#define OVK_TESTS_NATIVE_SDK_STORECONFORMANCE_H_

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "SdkTestSupport.h"

namespace ovktest {

// A fresh, empty store: its URI and whatever must live as long as it does
// (a temporary directory, a bucket that the destructor empties).
struct StoreLocation {
  std::string uri;
  // What the full URIs of entries start with, e.g. "file:///tmp/x/".
  std::string prefix;
  std::shared_ptr<void> keepAlive;
};

struct StoreTarget {
  std::string name;
  std::function<StoreLocation()> makeStore;
  // Options every store of the target gets (endpoint, keys...).
  std::map<std::string, std::string> options;
  // Directories exist only through what is below them, so a write creates
  // missing parents and mkdir needs no parent.
  bool implicitDirectories = false;
  // Permission bits, owner and group are stored and reported.
  bool posixPermissions = true;
};

std::string TargetName(const ::testing::TestParamInfo<StoreTarget>& info);

class StoreConformance : public ::testing::TestWithParam<StoreTarget> {
 protected:
  void SetUp() override;
  // A second store on the same location, with extra options.
  std::unique_ptr<TestStore> reopen(const std::map<std::string, std::string>& extra);

  TestStore& store() { return *store_; }
  const std::string& uri() const { return location_.uri; }
  const std::string& prefix() const { return location_.prefix; }

  StoreLocation location_;
  std::unique_ptr<TestStore> store_;
};

}  // namespace ovktest

#endif  // OVK_TESTS_NATIVE_SDK_STORECONFORMANCE_H_
