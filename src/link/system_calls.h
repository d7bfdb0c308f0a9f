// The Windows calls a daemon link makes, gathered behind one overridable
// table so that the link's logic (frames, states, retries, limits) can run
// against a scripted pipe as well as the real one. Real() forwards each call
// to the system.
#pragma once

#include "platform/call_named_pipe.h"
#include "platform/pipe_server.h"
#include "platform/windows_api.h"

namespace korvane::link {

class SystemCalls {
 public:
  static SystemCalls& Real();

  virtual ~SystemCalls() = default;

  virtual DWORD GetLastError() { return ::GetLastError(); }
  virtual BOOL CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

  virtual HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                             DWORD disposition, DWORD flags, HANDLE templateFile) {
    return ::CreateFileA(name, access, share, attributes, disposition, flags, templateFile);
  }
  // Not a single Windows call: the server's process id, its token and ours.
  virtual bool PipeServerIsCallingUser(HANDLE pipe) { return platform::PipeServerIsCallingUser(pipe); }
  virtual BOOL WaitNamedPipeA(LPCSTR name, DWORD timeoutMs) { return ::WaitNamedPipeA(name, timeoutMs); }
  virtual BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCount, LPDWORD timeout) {
    return ::SetNamedPipeHandleState(pipe, mode, maxCount, timeout);
  }
  virtual HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    return ::CreateEventW(attributes, manualReset, initialState, name);
  }
  virtual BOOL TransactNamedPipe(HANDLE pipe, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD read,
                                 LPOVERLAPPED overlapped) {
    return ::TransactNamedPipe(pipe, in, inSize, out, outSize, read, overlapped);
  }
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return ::WaitForSingleObject(handle, milliseconds);
  }
  virtual BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
    return ::GetOverlappedResult(file, overlapped, transferred, wait);
  }
  virtual BOOL PeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD size, LPDWORD read, LPDWORD available,
                             LPDWORD leftThisMessage) {
    return ::PeekNamedPipe(pipe, buffer, size, read, available, leftThisMessage);
  }
  virtual BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    return ::ReadFile(file, buffer, toRead, read, overlapped);
  }
  virtual BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
    return ::WriteFile(file, buffer, toWrite, written, overlapped);
  }
  virtual BOOL DisconnectNamedPipe(HANDLE pipe) { return ::DisconnectNamedPipe(pipe); }

  virtual BOOL CallNamedPipeA(LPCSTR name, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD read,
                              DWORD timeoutMs) {
    return platform::CallNamedPipeWithin(name, in, inSize, out, outSize, read, timeoutMs);
  }

  virtual DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    return ::GetModuleFileNameW(module, fileName, size);
  }
  virtual BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                              LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                              LPCWSTR folder, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) {
    return ::CreateProcessW(application, commandLine, processAttributes, threadAttributes, inherit, flags,
                            environment, folder, startup, information);
  }

  virtual DWORD GetTickCount() { return ::GetTickCount(); }
  virtual void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

  virtual HANDLE GetCurrentProcess() { return ::GetCurrentProcess(); }
  virtual BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    return ::OpenProcessToken(process, access, token);
  }
  virtual BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                                   PDWORD returned) {
    return ::GetTokenInformation(token, infoClass, info, length, returned);
  }
};

}  // namespace korvane::link
