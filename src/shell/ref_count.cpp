#include "shell/ref_count.h"

#include "runtime/debug_trace.h"

#include <atomic>

namespace korvane::shell {
namespace {
std::atomic<std::int32_t> refCount_{0};
}

void RefCount::Inc() {
  const long count = refCount_.fetch_add(1) + 1;
  KORVANE_TRACE("RefCount::Inc: RefCount::Inc() - refCount_ == %ld", count);
}

void RefCount::Dec() {
  const long count = refCount_.fetch_sub(1) - 1;
  KORVANE_TRACE("RefCount::Dec: RefCount::Dec() - refCount_ == %ld", count);
}

bool RefCount::IsRefZero() { return refCount_.load() == 0; }

}  // namespace korvane::shell
