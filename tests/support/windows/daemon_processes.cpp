// The daemon processes of a test on Windows. KorvaneBkgProc gets the log and
// the test's own pipe name (KORVANE_TEST_PIPE) through the environment, which
// CreateProcessW hands on.
#include "support/daemon_processes.h"

#include "support/test_pipe_name.h"
#include "support/windows/windows_helpers.h"

#include "platform/windows_api.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

namespace korvane::testing {
namespace {

constexpr wchar_t kProgramName[] = L"KorvaneBkgProc.exe";
constexpr DWORD kExitWaitMs = 5000;

// Through the C runtime, which passes it on to the process environment that
// children inherit. An empty value removes the variable.
void SetVariable(const wchar_t* name, const std::string& value) { ::_wputenv_s(name, Wide(value).c_str()); }

std::uint64_t CreationTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// Ends every daemon program this process started after it was itself
// started: a parent id may be left from an earlier process of this id.
// Waits for each to be gone, so that its pipe and its open log go with it.
void EndDaemonChildren() {
  const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  const DWORD self = ::GetCurrentProcessId();
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID != self || ::_wcsicmp(entry.szExeFile, kProgramName) != 0) continue;
    const UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                                             FALSE, entry.th32ProcessID));
    if (!process || CreationTime(process.get()) < CreationTime(::GetCurrentProcess())) continue;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), kExitWaitMs);
  }
}

// SYSTEM_HANDLE_INFORMATION_EX (SystemExtendedHandleInformation, 64), which
// <winternl.h> does not declare.
struct SystemHandleEntry {
  PVOID object;
  ULONG_PTR processId, handle;
  ULONG grantedAccess;
  USHORT creatorBackTraceIndex, objectTypeIndex;
  ULONG attributes, reserved;
};
struct SystemHandleTable {
  ULONG_PTR count;
  ULONG_PTR reserved;
  SystemHandleEntry entries[1];
};
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
using QueryInformationProcess = decltype(&::NtQueryInformationProcess);

// Every handle value open in this process, or nothing when the system does
// not tell.
std::optional<std::vector<HANDLE>> OwnHandles() {
  static const auto query = NtFunction<QuerySystemInformation>("NtQuerySystemInformation");
  if (query == nullptr) return std::nullopt;
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    const LONG status = query(kSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                              &needed);
    if (status == kStatusInfoLengthMismatch) {
      buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
      continue;
    }
    if (status < 0) return std::nullopt;
    break;
  }
  const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
  std::vector<HANDLE> handles;
  const ULONG_PTR self = ::GetCurrentProcessId();
  for (ULONG_PTR i = 0; i < table->count; ++i) {
    if (table->entries[i].processId == self) handles.push_back(reinterpret_cast<HANDLE>(table->entries[i].handle));
  }
  return handles;
}

// The process that started the one this handle is for; it answers even
// once that process has ended.
ULONG_PTR ParentOf(HANDLE process) {
  static const auto query = NtFunction<QueryInformationProcess>("NtQueryInformationProcess");
  PROCESS_BASIC_INFORMATION information{};
  if (query == nullptr || query(process, ProcessBasicInformation, &information, sizeof(information), nullptr) < 0) {
    return 0;
  }
  return information.InheritedFromUniqueProcessId;
}

}  // namespace

DaemonProcesses::DaemonProcesses(const std::string& folder, const std::string& pipeName)
    : logPath_(folder + "\\daemon.log") {
  SetVariable(L"KORVANE_TEST_DAEMON_LOG", logPath_);
  SetVariable(L"KORVANE_TEST_PIPE", pipeName);
}

// Also a daemon that had not yet logged its start when the test finished.
DaemonProcesses::~DaemonProcesses() {
  EndDaemonChildren();
  SetVariable(L"KORVANE_TEST_DAEMON_LOG", "");
  SetVariable(L"KORVANE_TEST_PIPE", "");
}

bool HasNoChildren() {
  const std::optional<std::vector<HANDLE>> handles = OwnHandles();
  if (!handles) return false;
  const DWORD self = ::GetCurrentProcessId();
  for (HANDLE handle : *handles) {
    // Each call fails on a handle of another kind.
    const DWORD process = ::GetProcessId(handle);
    if (process != 0 && process != self && ParentOf(handle) == self) return false;
    const DWORD threadOwner = ::GetProcessIdOfThread(handle);
    if (threadOwner != 0 && threadOwner != self) return false;
  }
  return true;
}

}  // namespace korvane::testing
