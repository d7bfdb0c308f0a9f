// The pipe's name is machine-wide: when another user's process holds it,
// the daemon learns so as it starts, and Listen says so instead of failing
// as any other system error. Under Wine every process is one user, so the
// other holder is a pipe of the same name whose first instance does not
// match the daemon's: all its instances taken, or another direction.
#include "daemon/platform/pipe_listener.h"

#include "daemon/base/windows/system_text.h"

#include <gtest/gtest.h>

namespace korvane::server {
namespace {

std::string UniqueName(const char* what) {
  return std::string("\\\\.\\pipe\\korvane-taken-") + what + "-" + std::to_string(GetCurrentProcessId());
}

TEST(PipeTaken, ListenTellsANameHeldElsewhereFromOtherFailures) {
  const struct {
    const char* what;
    DWORD openMode;
    DWORD instances;
  } holders[] = {
      {"all-instances", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, 1},  // ERROR_PIPE_BUSY
      {"inbound", PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED, PIPE_UNLIMITED_INSTANCES},  // ERROR_ACCESS_DENIED
  };
  for (const auto& holder : holders) {
    SCOPED_TRACE(holder.what);
    const std::string name = UniqueName(holder.what);
    HANDLE held = CreateNamedPipeW(windows::Wide(name).c_str(), holder.openMode, PIPE_TYPE_MESSAGE, holder.instances,
                                   4096, 4096, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Served(name));
    EXPECT_THROW(Listen(name), PipeHeldByAnotherUser);
    CloseHandle(held);

    // Once it is let go the daemon serves the name, and finds it its own.
    Listener listener = Listen(name);
    EXPECT_TRUE(Served(name));
    EXPECT_FALSE(ServedByAnotherUser(name));
    StopListening(listener);
  }
  EXPECT_FALSE(ServedByAnotherUser(UniqueName("nobody")));
}

}  // namespace
}  // namespace korvane::server
