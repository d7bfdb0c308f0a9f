// Debugger output on POSIX, where the OutputDebugStringA stand-in hands each
// record to a sink.
#include "support/debug_output_capture.h"

#include "platform/posix/debug_output.h"

namespace korvane::testing {

// The stand-in hands every record to Append itself.
struct DebugOutputCapture::Reader {};

DebugOutputCapture::DebugOutputCapture() { posix::SetDebugOutputSink(&DebugOutputCapture::Append, this); }

DebugOutputCapture::~DebugOutputCapture() { posix::SetDebugOutputSink(nullptr, nullptr); }

// Nothing to wait for: the stand-in calls Append before OutputDebugStringA
// returns.
void DebugOutputCapture::AwaitReader() const {}

}  // namespace korvane::testing
