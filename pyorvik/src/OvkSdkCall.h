// Helpers shared by the client's sources for the SDK's handle-context
// pattern: every SDK call gets its own handle context, whose outcome is
// copied out and which is freed as soon as the call returns. Internal to
// the client; not part of its interface.
#ifndef PYORVIK_SRC_OVKSDKCALL_H_
#define PYORVIK_SRC_OVKSDKCALL_H_

#include <cstdint>
#include <string>

#include "OvkRecords.h"
#include "OvkStatus.h"
#include "orviksdk/ovk_sdk.h"

// The outcome the SDK recorded on one handle context.
struct SdkOutcome {
  int32_t code = 0;
  std::string message;  // empty when the SDK gave none
  bool ok() const { return code == 0; }
};

// Reads the code and message of ctx, then frees ctx: the caller must not
// use ctx afterwards. The message is copied before the free because the
// SDK's text belongs to the context.
inline SdkOutcome takeOutcome(ovk_handle_ctx_t* ctx) {
  SdkOutcome outcome;
  outcome.code = ovk_getHandleCtxErrorCode(ctx);
  const char* message = ovk_getHandleCtxErrorMsg(ctx);
  if (message != nullptr) outcome.message = message;
  ovk_freeHandleCtx(ctx);
  return outcome;
}

// The status of a call whose only failure is an SDK error: the SDK's code,
// with prefix + the SDK's message.
inline OvkStatus sdkStatus(const SdkOutcome& outcome, const char* prefix) {
  if (outcome.ok()) return OvkStatus();
  return OvkStatus::InternalError(outcome.code, prefix, outcome.message);
}

// Appends the entries of an SDK listing to result (null entries skipped),
// then sets its truncated flag and, when the SDK gives one, its marker.
// Does not free the listing.
void appendListing(const ovk_list_dir_result_t* listing,
                   OvkListResult* result);

// Copies the three totals of an SDK content summary. Does not free it.
void copySummary(const ovk_content_summary_t* sdk_summary,
                 OvkContentSummary* summary);

#endif  // PYORVIK_SRC_OVKSDKCALL_H_
