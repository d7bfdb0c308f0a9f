// One flag, touched only by compare-and-exchange, records whether this
// module brought APR up.
#include "runtime/apr_runtime.h"

#include "runtime/debug_trace.h"

#include <apr_general.h>
#include <atomic>
#include <cstdint>

namespace korvane::runtime {
namespace {

std::atomic<std::int32_t> initialised{0};

std::int32_t ReadFlag() {
  std::int32_t expected = 0;
  initialised.compare_exchange_strong(expected, 0);
  return expected;
}

bool ChangeFlag(std::int32_t from, std::int32_t to) { return initialised.compare_exchange_strong(from, to); }

}  // namespace

bool AprRuntime::Initialize() {
  if (ReadFlag() == 0 && ChangeFlag(0, 1)) {
    if (apr_initialize() != APR_SUCCESS) {
      ChangeFlag(1, 0);
      KORVANE_TRACE("AprRuntime::Initialize: APR initialization failed");
    } else {
      KORVANE_TRACE("AprRuntime::Initialize: APR initialized");
    }
  }
  return ReadFlag() != 0;
}

void AprRuntime::Terminate() {
  if (ReadFlag() == 0 || !ChangeFlag(1, 0)) return;
  apr_terminate();
  KORVANE_TRACE("AprRuntime::Terminate: APR terminated");
}

}  // namespace korvane::runtime
