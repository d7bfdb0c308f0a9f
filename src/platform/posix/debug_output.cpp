// OutputDebugStringA: one record per call, a line feed added when the text
// lacks one, written to KORVANE_DEBUG_OUTPUT ("stderr" or an absolute file
// path, appended with one write per record) or, when that is unset, to
// syslog at LOG_DEBUG.
#include "debug_output.h"
#include "win32_calls.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <string>
#include <syslog.h>
#include <unistd.h>

namespace korvane::posix {
namespace {

std::mutex sinkMutex;
DebugOutputSink sink = nullptr;
void* sinkContext = nullptr;

// A write to a closed pipe (stderr of a host whose reader went away) must not
// raise SIGPIPE in the host: the signal is blocked around the write and a
// SIGPIPE that the write caused is taken back.
void WriteWithoutSigpipe(int fd, const std::string& record) {
  sigset_t pipeSignal;
  sigset_t previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  sigset_t pendingBefore;
  sigpending(&pendingBefore);
  ssize_t written;
  do {
    written = write(fd, record.data(), record.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0 && errno == EPIPE && sigismember(&pendingBefore, SIGPIPE) == 0) {
    timespec noWait{};
    sigtimedwait(&pipeSignal, nullptr, &noWait);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void WriteRecord(const std::string& record) {
  const char* destination = std::getenv("KORVANE_DEBUG_OUTPUT");
  if (destination == nullptr || *destination == '\0') {
    syslog(LOG_DEBUG, "%s", record.c_str());
  } else if (std::strcmp(destination, "stderr") == 0) {
    WriteWithoutSigpipe(STDERR_FILENO, record);
  } else if (destination[0] == '/') {
    int fd = open(destination, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) return;
    WriteWithoutSigpipe(fd, record);
    close(fd);
  }
}

}  // namespace

void SetDebugOutputSink(DebugOutputSink newSink, void* context) {
  std::lock_guard lock(sinkMutex);
  sink = newSink;
  sinkContext = context;
}

}  // namespace korvane::posix

void OutputDebugStringA(LPCSTR text) {
  using namespace korvane::posix;
  if (text == nullptr) return;
  try {
    std::string record(text);
    if (record.empty() || record.back() != '\n') record.push_back('\n');
    {
      std::lock_guard lock(sinkMutex);
      if (sink != nullptr) {
        sink(record.c_str(), sinkContext);
        return;
      }
    }
    WriteRecord(record);
  } catch (...) {
    // Out of memory: the record is dropped; debugger output never fails its caller.
  }
}
