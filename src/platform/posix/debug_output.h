// Where debugger output goes on POSIX, and the in-process capture that
// tests use in place of a debugger.
#pragma once

namespace korvane::posix {

using DebugOutputSink = void (*)(const char* record, void* context);

// While a sink is set, every record goes to it (with its line feed) instead
// of its usual destination. Null restores the usual destination.
void SetDebugOutputSink(DebugOutputSink sink, void* context);

}  // namespace korvane::posix
