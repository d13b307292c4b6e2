// The behaviour suite against the file:// backend, on temporary directories
// named both ways a store URI may name them.
#include "StoreConformance.h"

namespace ovktest {
namespace {

StoreTarget LocalTarget(const std::string& name, bool asUri) {
  StoreTarget t;
  t.name = name;
  t.makeStore = [asUri] {
    auto dir = std::make_shared<TempDir>();
    return StoreLocation{(asUri ? "file://" : "") + dir->path(), "file://" + dir->path() + "/",
                         dir};
  };
  return t;
}

INSTANTIATE_TEST_SUITE_P(Local, StoreConformance,
                         ::testing::Values(LocalTarget("FileUri", true),
                                           LocalTarget("PlainPath", false)),
                         TargetName);

}  // namespace
}  // namespace ovktest
