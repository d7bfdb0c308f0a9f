// Captures the library's debugger output in-process, as a debugger would.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace korvane::testing {

class DebugOutputCapture {
 public:
  DebugOutputCapture();
  ~DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  // Every record written since construction, each with its line feed.
  std::vector<std::string> Records() const;

 private:
  static void Append(const char* record, void* self);

  mutable std::mutex mutex_;
  std::vector<std::string> records_;
};

}  // namespace korvane::testing
