// Who serves a pipe: the server's process token against a given user. The
// pipe's name is machine-wide, so another signed-in user's daemon may hold
// it; every process under Wine runs as one user, so that user is stood for
// by another well-known account here.
#include "platform/pipe_server.h"

#include "support/test_server.h"

#include <gtest/gtest.h>

#include <vector>

namespace korvane::testing {
namespace {

std::vector<BYTE> OwnTokenUser() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  if (size == 0 || !::GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
  ::CloseHandle(token);
  return user;
}

TEST(PipeServerOwner, OnlyTheServersOwnUserMatches) {
  TestServer daemon;
  HANDLE pipe = ::CreateFileA(daemon.SocketPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  std::vector<BYTE> own = OwnTokenUser();
  ASSERT_FALSE(own.empty());
  BYTE system[SECURITY_MAX_SID_SIZE];
  DWORD systemSize = sizeof system;
  ASSERT_TRUE(::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize));

  EXPECT_TRUE(platform::PipeServerIsCallingUser(pipe));
  EXPECT_TRUE(platform::PipeServerRunsAs(pipe, reinterpret_cast<TOKEN_USER*>(own.data())->User.Sid));
  EXPECT_FALSE(platform::PipeServerRunsAs(pipe, system));
  EXPECT_FALSE(platform::PipeServerRunsAs(pipe, nullptr));
  ::CloseHandle(pipe);

  // A handle that is no pipe has no server, whoever asks.
  HANDLE process = ::GetCurrentProcess();
  EXPECT_FALSE(platform::PipeServerIsCallingUser(process));
  EXPECT_FALSE(platform::PipeServerRunsAs(process, reinterpret_cast<TOKEN_USER*>(own.data())->User.Sid));
}

}  // namespace
}  // namespace korvane::testing
