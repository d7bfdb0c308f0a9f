#include "support/debug_output_capture.h"

#include "platform/posix/debug_output.h"

namespace korvane::testing {

// The stand-in hands every record to Append itself.
struct DebugOutputCapture::Reader {};

DebugOutputCapture::DebugOutputCapture() { posix::SetDebugOutputSink(&DebugOutputCapture::Append, this); }

DebugOutputCapture::~DebugOutputCapture() { posix::SetDebugOutputSink(nullptr, nullptr); }

std::vector<std::string> DebugOutputCapture::Records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

void DebugOutputCapture::Append(const char* record, void* self) {
  auto* capture = static_cast<DebugOutputCapture*>(self);
  std::lock_guard lock(capture->mutex_);
  capture->records_.emplace_back(record);
}

}  // namespace korvane::testing
