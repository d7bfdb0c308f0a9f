#include "daemon/platform/daemon_paths.h"

#include "daemon/platform/windows/private_access.h"
#include "daemon/base/windows/system_text.h"

#include "protocol/commands.h"

#include <shlobj.h>

namespace korvane::server {

namespace {

// An absolute path: a drive's root and more ("C:\..." or "C:/..."), or a
// share ("\\server\...").
bool Absolute(const std::wstring& path) {
  const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (path.size() >= 3 && path[1] == L':' && separator(path[2])) return true;
  return path.size() >= 3 && separator(path[0]) && separator(path[1]);
}

// The variable's value when it holds an absolute path, which tests set
// (Wine answers the known folders from its prefix, whatever the
// environment says); else the system's known folder.
std::optional<std::string> BaseFolder(const wchar_t* variable, const KNOWNFOLDERID& known) {
  wchar_t value[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(variable, value, MAX_PATH);
  if (length > 0 && length < MAX_PATH && Absolute(value)) return windows::Narrow(value);
  wchar_t* found = nullptr;
  std::optional<std::string> folder;
  if (SUCCEEDED(SHGetKnownFolderPath(known, KF_FLAG_DEFAULT, nullptr, &found))) folder = windows::Narrow(found);
  CoTaskMemFree(found);
  return folder;
}

}  // namespace

// %LOCALAPPDATA%\Korvane holds what is this machine's (the start lock, the
// state, the embedded spaces); %APPDATA%\Korvane the configuration, which
// roams with the account. The pipe has a name, not a file.
std::optional<DaemonPaths> FindPaths(std::string& problem) {
  const std::optional<std::string> local = BaseFolder(L"KORVANE_LOCAL_APP_DATA", FOLDERID_LocalAppData);
  const std::optional<std::string> roaming = BaseFolder(L"KORVANE_APP_DATA", FOLDERID_RoamingAppData);
  if (!local || !roaming) {
    problem = std::string("the system names no ") + (local ? "roaming" : "local") +
              " application data folder; set " + (local ? "KORVANE_APP_DATA" : "KORVANE_LOCAL_APP_DATA");
    return std::nullopt;
  }
  DaemonPaths paths;
  paths.socketPath = protocol::kPipeName;
  paths.runtimeFolder = *local + "\\Korvane\\run";
  paths.stateFolder = *local + "\\Korvane\\state";
  paths.dataFolder = *local + "\\Korvane\\data";
  paths.configFolder = *roaming + "\\Korvane";
  return paths;
}

std::optional<std::string> FindConfigFolder() {
  const std::optional<std::string> roaming = BaseFolder(L"KORVANE_APP_DATA", FOLDERID_RoamingAppData);
  if (!roaming) return std::nullopt;
  return *roaming + "\\Korvane";
}

bool PrepareFolder(const std::string& path, bool makePrivate, std::string& problem) {
  const std::wstring folder = windows::SystemPath(path);
  windows::PrivateAccess access;
  for (std::size_t separator = folder.find(L'\\', 3); separator != std::wstring::npos;
       separator = folder.find(L'\\', separator + 1)) {
    CreateDirectoryW(folder.substr(0, separator).c_str(), access.Attributes());
  }
  if (!CreateDirectoryW(folder.c_str(), access.Attributes()) && GetLastError() != ERROR_ALREADY_EXISTS) {
    problem = "cannot create " + path + ": " + windows::SystemMessage(GetLastError());
    return false;
  }
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    problem = path + " is not a folder";
    return false;
  }
  if (!windows::OwnedByUser(folder)) {
    problem = path + " belongs to another user";
    return false;
  }
  if (makePrivate && !access.Apply(folder)) {
    problem = "cannot make " + path + " private: " + windows::SystemMessage(GetLastError());
    return false;
  }
  return true;
}

}  // namespace korvane::server
