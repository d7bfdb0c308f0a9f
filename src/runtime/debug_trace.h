// The process-wide trace writer: printf-style lines to the debugger output
// while the trace is switched on.
#pragma once


namespace korvane::runtime {

class DebugTrace {
 public:
  // The process's writer, created on first use (exactly once, even when two
  // threads write their first line together); it has nothing to destroy.
  static DebugTrace& Instance();

  // Formats one line into 1024 bytes (a longer line is cut) and writes it,
  // when the trace is on. The text is written as given: nothing is added.
  void Write(const char* format, ...) __attribute__((format(printf, 2, 3)));


  DebugTrace(const DebugTrace&) = delete;
  DebugTrace& operator=(const DebugTrace&) = delete;

 private:
  DebugTrace();

  bool enabled_ = false;
};

// Shorthand for DebugTrace::Instance().Write(...).
#define KORVANE_TRACE(...) ::korvane::runtime::DebugTrace::Instance().Write(__VA_ARGS__)

}  // namespace korvane::runtime
