// The behaviour suite against the file:// backend, on temporary directories
// named both ways a store URI may name them, and with paths resolved
// without openat2.
#include "StoreConformance.h"

namespace ovktest {
namespace {

StoreTarget LocalTarget(const std::string& name, bool asUri, bool openat2 = true) {
  StoreTarget t;
  t.name = name;
  t.options["fs.local.openat2"] = openat2 ? "true" : "false";
  t.makeStore = [asUri] {
    auto dir = std::make_shared<TempDir>();
    return StoreLocation{(asUri ? "file://" : "") + dir->path(), "file://" + dir->path() + "/",
                         dir};
  };
  return t;
}

INSTANTIATE_TEST_SUITE_P(Local, StoreConformance,
                         ::testing::Values(LocalTarget("FileUri", true),
                                           LocalTarget("PlainPath", false),
                                           LocalTarget("Walk", true, false)),
                         TargetName);

}  // namespace
}  // namespace ovktest
