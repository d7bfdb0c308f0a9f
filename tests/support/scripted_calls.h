// System calls for a daemon link that tests can script: every call goes to
// the real system unless a test replaces it, and the calls that decide the
// link's retries and limits are counted.
#pragma once

#include "link/system_calls.h"
#include "support/test_pipe_name.h"

#include <functional>
#include <string>
#include <vector>

namespace korvane::testing {

class ScriptedCalls : public link::SystemCalls {
 public:
  // Replacements; an empty function means "the real call".
  std::function<HANDLE()> createFile;
  std::function<BOOL()> setPipeState;
  std::function<HANDLE()> createEvent;
  std::function<BOOL(LPVOID out, LPDWORD read)> transact;
  std::function<DWORD()> wait;
  std::function<BOOL(LPDWORD available)> peek;
  std::function<BOOL(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written)> writeFile;
  std::function<BOOL(LPVOID info, DWORD length, PDWORD returned)> tokenInformation;
  std::function<DWORD(LPWSTR fileName, DWORD size)> moduleFileName;
  std::function<bool()> serverIsCallingUser;
  // Replaces the process start: its answer, and no process at all. It may
  // be called from several threads at once.
  std::function<BOOL()> createProcess;

  // Real waits are cut to this many milliseconds, so tests of a 10 s or
  // unlimited wait take a moment; the limit the link asked for is recorded.
  DWORD waitCap = INFINITE;
  DWORD callNamedPipeCap = INFINITE;  // the same for the stop request
  DWORD tickOffset = 0;               // added to the real tick count: time travel

  int createFileCalls = 0;
  std::vector<DWORD> createFileFlags;  // the flags of every open
  int peekCalls = 0;
  std::vector<DWORD> waitLimits;     // what the link asked WaitForSingleObject for
  std::vector<DWORD> namedPipeWaits; // what it asked WaitNamedPipeA for
  std::vector<DWORD> sleeps;
  int createProcessCalls = 0;  // not counted while createProcess is set
  std::vector<DWORD> callNamedPipeLimits;

  // Makes the process token report this integrity level.
  void ReportIntegrityLevel(DWORD level);

  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes, DWORD disposition,
                     DWORD flags, HANDLE templateFile) override;
  bool PipeServerIsCallingUser(HANDLE pipe) override;
  BOOL WaitNamedPipeA(LPCSTR name, DWORD timeoutMs) override;
  BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCount, LPDWORD timeout) override;
  HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name) override;
  BOOL TransactNamedPipe(HANDLE pipe, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD read,
                         LPOVERLAPPED overlapped) override;
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
  BOOL PeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD size, LPDWORD read, LPDWORD available,
                     LPDWORD leftThisMessage) override;
  BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) override;
  void Sleep(DWORD milliseconds) override;
  DWORD GetTickCount() override;
  BOOL CallNamedPipeA(LPCSTR name, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD read,
                      DWORD timeoutMs) override;
  DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) override;
  BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                      LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                      LPCWSTR folder, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) override;
  BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                           PDWORD returned) override;

 private:
  LPCSTR Renamed(LPCSTR name) const;
};

}  // namespace korvane::testing
