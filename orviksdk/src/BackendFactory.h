// Factories of the storage backends, called by ovk_init.
//
// A factory connects to the storage named by `uri` for `user` and, on
// success, stores the new backend in *out. Its Error is what ovk_init
// reports. `logger` outlives nothing: the backend keeps its own reference
// for retry lines.
//
// The quoll backend is compiled in when orviksdk/src/quoll exists; its
// CMakeLists.txt adds its sources to the orviksdk_python target, and
// orviksdk/CMakeLists.txt then defines OVK_WITH_QUOLL. Without it, quoll://
// and s3:// stores fail at ovk_init with OVK_ERR_NOT_SUPPORTED.
#ifndef ORVIKSDK_SRC_BACKENDFACTORY_H_
#define ORVIKSDK_SRC_BACKENDFACTORY_H_

#include <memory>
#include <string>

#include "Backend.h"
#include "Logger.h"
#include "Options.h"
#include "StoreUri.h"

namespace ovk {

Error CreateLocalBackend(const StoreUri& uri, const Options& options,
                         const std::string& user, std::shared_ptr<Logger> logger,
                         std::unique_ptr<Backend>* out);

#ifdef OVK_WITH_QUOLL
Error CreateQuollBackend(const StoreUri& uri, const Options& options,
                         const std::string& user, std::shared_ptr<Logger> logger,
                         std::unique_ptr<Backend>* out);
#endif

}  // namespace ovk

#endif  // ORVIKSDK_SRC_BACKENDFACTORY_H_
