#include "support/debug_output_capture.h"

#include "platform/posix/debug_output.h"

namespace korvane::testing {

// The OutputDebugStringA stand-in hands every record to Append itself,
// before it returns: there is nothing to wait for.
struct DebugOutputCapture::Reader {};

DebugOutputCapture::DebugOutputCapture() { posix::SetDebugOutputSink(&DebugOutputCapture::Append, this); }

DebugOutputCapture::~DebugOutputCapture() { posix::SetDebugOutputSink(nullptr, nullptr); }

void DebugOutputCapture::AwaitReader() const {}

}  // namespace korvane::testing
