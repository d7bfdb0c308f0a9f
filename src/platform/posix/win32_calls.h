// The Windows calls of the subset, implemented over POSIX in this folder
// with the Windows contracts: results, last-error numbers and ownership.
#pragma once

#include "win32_types.h"

// Last error, per thread.
DWORD GetLastError();
void SetLastError(DWORD error);

// Handles and events.
BOOL CloseHandle(HANDLE handle);
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Named-pipe client calls.
HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES attributes,
                   DWORD creationDisposition, DWORD flags, HANDLE templateFile);
BOOL WaitNamedPipeA(LPCSTR pipeName, DWORD timeoutMs);
BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCollectionCount, LPDWORD collectDataTimeout);
BOOL TransactNamedPipe(HANDLE pipe, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize,
                       LPDWORD bytesRead, LPOVERLAPPED overlapped);
BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait);
BOOL PeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD bufferSize, LPDWORD bytesRead, LPDWORD totalAvailable,
                   LPDWORD bytesLeftThisMessage);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD bytesRead, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped);
BOOL DisconnectNamedPipe(HANDLE pipe);

// Time.
DWORD GetTickCount();
void Sleep(DWORD milliseconds);

// Debugger output.
void OutputDebugStringA(LPCSTR text);

// Processor features.
BOOL IsProcessorFeaturePresent(DWORD feature);

// Process token: the integrity level.
HANDLE GetCurrentProcess();
BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD infoLength,
                         PDWORD returnLength);
PUCHAR GetSidSubAuthorityCount(PSID sid);
PDWORD GetSidSubAuthority(PSID sid, DWORD index);
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL memory);

// The module's own file and path text.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
BOOL PathRemoveFileSpecW(LPWSTR path);
BOOL PathAppendW(LPWSTR path, LPCWSTR more);

// Starting a process.
BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                    LPPROCESS_INFORMATION processInformation);

// One request and its reply on a connection of its own.
BOOL CallNamedPipeA(LPCSTR pipeName, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize,
                    LPDWORD bytesRead, DWORD timeoutMs);

// The process heap: buffers handed to callers.
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
