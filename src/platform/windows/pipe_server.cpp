// The server of a pipe, found by its process id, and the user its process
// token names, compared with the user of this process's token.
#include "platform/pipe_server.h"

#include <memory>
#include <vector>

namespace korvane::platform {
namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// The TOKEN_USER of a process, or nothing when its token cannot be read.
std::vector<BYTE> TokenUserOf(HANDLE process) {
  HANDLE rawToken = nullptr;
  if (!::OpenProcessToken(process, TOKEN_QUERY, &rawToken)) return {};
  UniqueHandle token(rawToken);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return {};
  std::vector<BYTE> buffer(size);
  if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
  return buffer;
}

PSID SidOf(std::vector<BYTE>& tokenUser) { return reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid; }

}  // namespace

bool PipeServerRunsAs(HANDLE pipe, PSID user) {
  ULONG serverId = 0;
  if (user == nullptr || !::GetNamedPipeServerProcessId(pipe, &serverId)) return false;
  UniqueHandle server(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverId));
  if (!server) return false;
  std::vector<BYTE> serverUser = TokenUserOf(server.get());
  return !serverUser.empty() && ::EqualSid(SidOf(serverUser), user) != FALSE;
}

bool PipeServerIsCallingUser(HANDLE pipe) {
  ULONG serverId = 0;
  if (!::GetNamedPipeServerProcessId(pipe, &serverId)) return false;
  if (serverId == ::GetCurrentProcessId()) return true;
  std::vector<BYTE> ownUser = TokenUserOf(::GetCurrentProcess());
  return !ownUser.empty() && PipeServerRunsAs(pipe, SidOf(ownUser));
}

}  // namespace korvane::platform
