#include "support/scripted_calls.h"

#include <algorithm>
#include <string_view>

namespace korvane::testing {

LPCSTR ScriptedCalls::Renamed(LPCSTR name) const {
  // The well-known name stands for this test's own pipe (see TestPipeName).
  static const std::string own = TestPipeName();
  return name != nullptr && std::string_view(name) == kWellKnownPipeName ? own.c_str() : name;
}

void ScriptedCalls::ReportIntegrityLevel(DWORD level) {
  tokenInformation = [level](LPVOID info, DWORD length, PDWORD returned) {
    HANDLE token = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    BOOL ok = ::GetTokenInformation(token, TokenIntegrityLevel, info, length, returned);
    ::CloseHandle(token);
    if (ok) {
      PSID sid = static_cast<TOKEN_MANDATORY_LABEL*>(info)->Label.Sid;
      *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1u) = level;
    }
    return ok;
  };
}

HANDLE ScriptedCalls::CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                                  DWORD disposition, DWORD flags, HANDLE templateFile) {
  ++createFileCalls;
  createFileFlags.push_back(flags);
  if (createFile) return createFile();
  return SystemCalls::CreateFileA(Renamed(name), access, share, attributes, disposition, flags, templateFile);
}

bool ScriptedCalls::PipeServerIsCallingUser(HANDLE pipe) {
  if (serverIsCallingUser) return serverIsCallingUser();
  return SystemCalls::PipeServerIsCallingUser(pipe);
}

BOOL ScriptedCalls::WaitNamedPipeA(LPCSTR name, DWORD timeoutMs) {
  namedPipeWaits.push_back(timeoutMs);
  return SystemCalls::WaitNamedPipeA(Renamed(name), timeoutMs);
}

BOOL ScriptedCalls::SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCount, LPDWORD timeout) {
  if (setPipeState) return setPipeState();
  return SystemCalls::SetNamedPipeHandleState(pipe, mode, maxCount, timeout);
}

HANDLE ScriptedCalls::CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                                   LPCWSTR name) {
  if (createEvent) return createEvent();
  return SystemCalls::CreateEventW(attributes, manualReset, initialState, name);
}

BOOL ScriptedCalls::TransactNamedPipe(HANDLE pipe, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD read,
                                      LPOVERLAPPED overlapped) {
  if (transact) return transact(out, read);
  return SystemCalls::TransactNamedPipe(pipe, in, inSize, out, outSize, read, overlapped);
}

DWORD ScriptedCalls::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  waitLimits.push_back(milliseconds);
  if (wait) return wait();
  return SystemCalls::WaitForSingleObject(handle, std::min(milliseconds, waitCap));
}

BOOL ScriptedCalls::PeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD size, LPDWORD read, LPDWORD available,
                                  LPDWORD leftThisMessage) {
  ++peekCalls;
  if (peek) return peek(available);
  return SystemCalls::PeekNamedPipe(pipe, buffer, size, read, available, leftThisMessage);
}

BOOL ScriptedCalls::WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
  if (writeFile) return writeFile(file, buffer, toWrite, written);
  return SystemCalls::WriteFile(file, buffer, toWrite, written, overlapped);
}

void ScriptedCalls::Sleep(DWORD milliseconds) {
  sleeps.push_back(milliseconds);
  SystemCalls::Sleep(milliseconds);
}

DWORD ScriptedCalls::GetTickCount() { return SystemCalls::GetTickCount() + tickOffset; }

BOOL ScriptedCalls::CallNamedPipeA(LPCSTR name, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD read,
                                   DWORD timeoutMs) {
  callNamedPipeLimits.push_back(timeoutMs);
  return SystemCalls::CallNamedPipeA(Renamed(name), in, inSize, out, outSize, read, std::min(timeoutMs, callNamedPipeCap));
}

DWORD ScriptedCalls::GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
  if (moduleFileName) return moduleFileName(fileName, size);
  return SystemCalls::GetModuleFileNameW(module, fileName, size);
}

BOOL ScriptedCalls::CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                   LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                                   LPVOID environment, LPCWSTR folder, LPSTARTUPINFOW startup,
                                   LPPROCESS_INFORMATION information) {
  if (createProcess) return createProcess();
  ++createProcessCalls;
  return SystemCalls::CreateProcessW(application, commandLine, processAttributes, threadAttributes, inherit, flags,
                                     environment, folder, startup, information);
}

BOOL ScriptedCalls::GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                                        PDWORD returned) {
  if (tokenInformation) return tokenInformation(info, length, returned);
  return SystemCalls::GetTokenInformation(token, infoClass, info, length, returned);
}

}  // namespace korvane::testing
