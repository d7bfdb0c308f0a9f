// Captures the library's debugger output in-process: on POSIX from the
// OutputDebugStringA stand-in; on Windows from the debug-output buffer
// (DBWIN_BUFFER) that debug viewers read, keeping this process's records. That
// buffer is one per session, so on Windows the constructor throws
// std::runtime_error when another process's capture keeps it.
#pragma once

#include <memory>
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
  struct Reader;  // what reads the records in, where that takes more than Append
  static void Append(const char* record, void* self);
  // Returns once every record already written has reached Append.
  void AwaitReader() const;

  mutable std::mutex mutex_;
  std::vector<std::string> records_;
  std::unique_ptr<Reader> reader_;  // last, so that it ends first
};

}  // namespace korvane::testing
