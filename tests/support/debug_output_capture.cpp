#include "support/debug_output_capture.h"

namespace korvane::testing {

std::vector<std::string> DebugOutputCapture::Records() const {
  AwaitReader();
  std::lock_guard lock(mutex_);
  return records_;
}

void DebugOutputCapture::Append(const char* record, void* self) {
  auto* capture = static_cast<DebugOutputCapture*>(self);
  std::lock_guard lock(capture->mutex_);
  capture->records_.emplace_back(record);
}

}  // namespace korvane::testing
