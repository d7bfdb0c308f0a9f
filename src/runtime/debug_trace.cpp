// The trace writer. Its level comes from the "Debug" setting when it is
// created; the trace is on at level 1 and above.
#include "runtime/debug_trace.h"

#include "runtime/settings.h"

#include "platform/windows_api.h"

#include <cstdarg>
#include <cstdio>

namespace korvane::runtime {
namespace {

constexpr std::int32_t kDefaultTraceLevel = 2;

// The "Debug" setting, the user's before the machine's, read once when the
// writer is created.
std::int32_t ReadTraceLevel() { return ReadSettingNumber(SettingValue(u"Debug", kDefaultTraceLevel)); }

}  // namespace

DebugTrace::DebugTrace() : enabled_(ReadTraceLevel() >= 1) {}

// A static object rather than a heap one: the writer lives as long as the
// module, and a host that loads and unloads the library many times leaves
// nothing behind.
DebugTrace& DebugTrace::Instance() {
  static DebugTrace instance;
  return instance;
}

void DebugTrace::Write(const char* format, ...) {
  if (!enabled_) return;
  char line[1024];
  va_list arguments;
  va_start(arguments, format);
  // vsnprintf cuts a longer line at 1023 characters and always ends it.
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  OutputDebugStringA(line);
}

}  // namespace korvane::runtime
