#include "daemon/platform/atomic_file.h"

#include "daemon/base/environment.h"
#include "daemon/base/windows/system_text.h"

#include <chrono>

namespace korvane::server {

namespace {

// How long a replacement waits for readers of the old file to let it go:
// a reader that opened it without FILE_SHARE_DELETE (most programs do)
// makes the rename fail until it closes the file.
constexpr long kReaderWaitMs = 2000;
constexpr DWORD kRetryEveryMs = 10;

std::string Failure(const std::string& step, const std::string& path, DWORD error) {
  return step + " " + path + ": " + windows::SystemMessage(error);
}

bool WriteAll(HANDLE file, std::string_view text) {
  while (!text.empty()) {
    const DWORD chunk = text.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(text.size());
    DWORD written = 0;
    if (!WriteFile(file, text.data(), chunk, &written, nullptr) || written == 0) return false;
    text.remove_prefix(written);
  }
  return true;
}

bool HeldByReader(DWORD error) { return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION; }

// Renames from over to, the rename written through to the disk (the folder's
// entry included, which POSIX flushes apart), waiting a little while a
// reader holds the old file.
DWORD ReplaceWith(const std::wstring& from, const std::wstring& to) {
  const auto limit = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(NumberFromEnvironment("KORVANE_REPLACE_WAIT_MS", kReaderWaitMs));
  for (;;) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    if (!HeldByReader(error) || std::chrono::steady_clock::now() >= limit) return error;
    Sleep(kRetryEveryMs);
  }
}

}  // namespace

std::string ReplaceFileAtomically(const std::string& path, std::string_view text, Durability durability) {
  const std::string temporary = path + ".new";
  const std::wstring wideTemporary = windows::SystemPath(temporary);
  HANDLE file = CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return Failure("cannot create", temporary, GetLastError());
  std::string problem;
  if (!WriteAll(file, text)) {
    problem = Failure("cannot write", temporary, GetLastError());
  } else if (durability == Durability::ToDisk && !FlushFileBuffers(file)) {
    problem = Failure("cannot flush", temporary, GetLastError());
  }
  if (!CloseHandle(file) && problem.empty()) problem = Failure("cannot close", temporary, GetLastError());
  if (problem.empty()) {
    if (const DWORD error = ReplaceWith(wideTemporary, windows::SystemPath(path)); error != ERROR_SUCCESS) {
      problem = Failure("cannot rename over", path, error);
    }
  }
  if (!problem.empty()) DeleteFileW(wideTemporary.c_str());
  return problem;
}

}  // namespace korvane::server
