// Registry settings for one test on Windows, in the real registry: the keys
// the library reads are copied aside, emptied, written from the test's
// registry exports, and copied back at the end.
#include "support/scoped_settings.h"

#include "support/windows/windows_helpers.h"

#include "platform/windows_api.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

namespace korvane::testing {
namespace {

struct Tree {
  HKEY root;
  std::wstring_view rootName;
  std::wstring_view path;
};

constexpr std::wstring_view kCurrentUser = L"HKEY_CURRENT_USER";
constexpr std::wstring_view kLocalMachine = L"HKEY_LOCAL_MACHINE";

// The keys a test may write; saved_ holds them in this order.
const Tree kTrees[] = {
    {HKEY_CURRENT_USER, kCurrentUser, L"SOFTWARE\\Korvane"},
    {HKEY_CURRENT_USER, kCurrentUser, L"SOFTWARE\\TortoiseSVN"},
    {HKEY_LOCAL_MACHINE, kLocalMachine, L"SOFTWARE\\Korvane"},
    {HKEY_LOCAL_MACHINE, kLocalMachine, L"SOFTWARE\\TortoiseSVN"},
};

constexpr DWORD kLockWaitMs = 60000;

// The tests' exports are UTF-8, with or without a byte order mark.
std::wstring DecodeExport(const std::string& bytes) {
  return Wide(bytes.starts_with("\xEF\xBB\xBF") ? std::string_view(bytes).substr(3) : std::string_view(bytes));
}

wchar_t Fold(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

// Whether the key path is one of the trees' keys of that root, or below one.
bool InTrees(std::wstring_view rootName, std::wstring_view path) {
  for (const Tree& tree : kTrees) {
    if (!SameName(tree.rootName, rootName) || path.size() < tree.path.size()) continue;
    if (SameName(path.substr(0, tree.path.size()), tree.path) &&
        (path.size() == tree.path.size() || path[tree.path.size()] == L'\\')) {
      return true;
    }
  }
  return false;
}

// ---- Export text, as the library's POSIX registry reads it ----

std::wstring_view Trim(std::wstring_view text) {
  const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<std::uint32_t> ParseHex(std::wstring_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  std::uint32_t value = 0;
  for (wchar_t c : text) {
    const int digit = c >= L'0' && c <= L'9'   ? c - L'0'
                      : c >= L'a' && c <= L'f' ? c - L'a' + 10
                      : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                               : -1;
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  return value;
}

// A quoted text at the start of `rest`, with \\ and \" escapes; `rest` moves
// past the closing quote.
std::optional<std::wstring> ParseQuoted(std::wstring_view& rest) {
  if (rest.empty() || rest.front() != L'"') return std::nullopt;
  std::wstring text;
  for (std::size_t i = 1; i < rest.size(); ++i) {
    wchar_t c = rest[i];
    if (c == L'"') {
      rest.remove_prefix(i + 1);
      return text;
    }
    if (c == L'\\') {
      if (i + 1 >= rest.size() || (rest[i + 1] != L'\\' && rest[i + 1] != L'"')) return std::nullopt;
      c = rest[++i];
    }
    text += c;
  }
  return std::nullopt;
}

struct Value {
  DWORD type = REG_NONE;
  std::string data;
};

// One value's data: "text", dword:N, hex:..., hex(T):..., on one line.
std::optional<Value> ParseData(std::wstring_view data) {
  Value value;
  if (!data.empty() && data.front() == L'"') {
    const std::optional<std::wstring> text = ParseQuoted(data);
    if (!text || !Trim(data).empty()) return std::nullopt;
    value.type = REG_SZ;
    value.data.assign(reinterpret_cast<const char*>(text->c_str()), (text->size() + 1) * sizeof(wchar_t));
    return value;
  }
  if (data.size() > 6 && SameName(data.substr(0, 6), L"dword:")) {
    const std::optional<std::uint32_t> number = ParseHex(data.substr(6), 8);
    if (!number) return std::nullopt;
    value.type = REG_DWORD;
    value.data.assign(reinterpret_cast<const char*>(&*number), sizeof(*number));
    return value;
  }
  if (data.size() < 4 || !SameName(data.substr(0, 3), L"hex")) return std::nullopt;
  data.remove_prefix(3);
  value.type = REG_BINARY;
  if (data.front() == L'(') {
    const std::size_t close = data.find(L')');
    const std::optional<std::uint32_t> type =
        close == std::wstring_view::npos ? std::nullopt : ParseHex(data.substr(1, close - 1), 8);
    if (!type) return std::nullopt;
    value.type = *type;
    data.remove_prefix(close + 1);
  }
  if (data.empty() || data.front() != L':') return std::nullopt;
  std::wstring_view rest = Trim(data.substr(1));
  while (!rest.empty()) {
    const std::size_t comma = rest.find(L',');
    const std::optional<std::uint32_t> byte = ParseHex(Trim(rest.substr(0, comma)), 2);
    if (!byte) return std::nullopt;
    value.data.push_back(static_cast<char>(*byte));
    if (comma == std::wstring_view::npos) break;
    rest = Trim(rest.substr(comma + 1));
    if (rest.empty()) return std::nullopt;  // a trailing comma leaves a byte missing
  }
  return value;
}

[[noreturn]] void ThrowRegistryError(LSTATUS status, const std::wstring& what) {
  throw std::system_error(static_cast<int>(status), std::system_category(), Utf8(what));
}

struct KeyCloser {
  void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// Writes the sections of `text` that name keys of the trees below `root`
// into the registry; every other line is skipped, as the POSIX registry
// skips what it cannot read. Throws std::system_error on a failed write.
void Import(const std::string& bytes, HKEY root, std::wstring_view rootName) {
  const std::wstring text = DecodeExport(bytes);
  std::vector<std::wstring_view> lines;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find(L'\n', start), text.size());
    lines.push_back(Trim(std::wstring_view(text).substr(start, end - start)));
    start = end + 1;
  }
  UniqueKey key;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::wstring_view line = lines[i];
    if (line.empty() || line.front() == L';') continue;
    if (line.front() == L'[') {
      key.reset();
      if (line.back() != L']') continue;
      const std::wstring_view section = line.substr(1, line.size() - 2);
      const std::size_t slash = section.find(L'\\');
      if (slash == std::wstring_view::npos || !SameName(section.substr(0, slash), rootName)) continue;
      const std::wstring path(section.substr(slash + 1));
      if (!InTrees(rootName, path) || path.back() == L'\\' || path.find(L"\\\\") != std::wstring::npos) continue;
      HKEY opened = nullptr;
      const LSTATUS status =
          ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr);
      if (status != ERROR_SUCCESS) ThrowRegistryError(status, L"RegCreateKeyExW " + path);
      key.reset(opened);
      continue;
    }
    std::wstring_view rest = line;
    std::optional<std::wstring> name;
    if (rest.front() == L'@') {
      name.emplace();
      rest.remove_prefix(1);
    } else {
      name = ParseQuoted(rest);
    }
    rest = Trim(rest);
    if (!name || rest.empty() || rest.front() != L'=') continue;
    if (!key) continue;
    const std::optional<Value> value = ParseData(Trim(rest.substr(1)));
    if (!value) continue;
    const LSTATUS status = ::RegSetValueExW(key.get(), name->c_str(), 0, value->type,
                                            reinterpret_cast<const BYTE*>(value->data.data()),
                                            static_cast<DWORD>(value->data.size()));
    if (status != ERROR_SUCCESS) ThrowRegistryError(status, L"RegSetValueExW " + *name);
  }
}

// Copies the key at `from` with everything below it to `to`, made below
// `toRoot`; false when there is no such key.
bool CopyTree(HKEY fromRoot, const std::wstring& from, HKEY toRoot, const std::wstring& to) {
  HKEY source = nullptr, target = nullptr;
  if (::RegOpenKeyExW(fromRoot, from.c_str(), 0, KEY_READ, &source) != ERROR_SUCCESS) return false;
  const UniqueKey ownedSource(source);
  if (::RegCreateKeyExW(toRoot, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const UniqueKey ownedTarget(target);
  return ::RegCopyTreeW(source, nullptr, target) == ERROR_SUCCESS;
}

// Where the trees wait while a test runs: outside them, in the user's hive.
constexpr wchar_t kSavedKey[] = L"SOFTWARE\\KorvaneTestSaved";
std::wstring SavedPath(std::size_t index) { return std::wstring(kSavedKey) + L"\\" + std::to_wstring(index); }

void Remove(const Tree& tree) { ::RegDeleteTreeW(tree.root, std::wstring(tree.path).c_str()); }

// Replaces the trees of one root with what the export text says.
void ReplaceHive(HKEY root, const std::string& bytes) {
  for (const Tree& tree : kTrees) {
    if (tree.root == root) Remove(tree);
  }
  Import(bytes, root, root == HKEY_CURRENT_USER ? kCurrentUser : kLocalMachine);
}

// One ScopedSettings at a time across test processes, made and ended on
// the same thread: the mutex belongs to the thread that took it. A test that
// crashed leaves it abandoned, which the next one takes over.
HANDLE SettingsLock() {
  static const HANDLE lock = ::CreateMutexW(nullptr, FALSE, L"Local\\KorvaneScopedSettings");
  return lock;
}

}  // namespace

ScopedSettings::ScopedSettings() {
  const DWORD waited = SettingsLock() != nullptr ? ::WaitForSingleObject(SettingsLock(), kLockWaitMs) : WAIT_FAILED;
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    throw std::runtime_error("another test process kept the registry settings");
  }
  try {
    root_ = MakeFreshFolder(L"korvane-settings-");
  } catch (...) {
    ::ReleaseMutex(SettingsLock());
    throw;
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kSavedKey);
  for (std::size_t i = 0; i < std::size(kTrees); ++i) {
    const bool saved = CopyTree(kTrees[i].root, std::wstring(kTrees[i].path), HKEY_CURRENT_USER, SavedPath(i));
    saved_.push_back(saved ? std::optional<std::string>("saved") : std::nullopt);
    Remove(kTrees[i]);
  }
}

ScopedSettings::~ScopedSettings() {
  for (std::size_t i = 0; i < std::size(kTrees); ++i) {
    Remove(kTrees[i]);
    if (saved_[i]) CopyTree(HKEY_CURRENT_USER, SavedPath(i), kTrees[i].root, std::wstring(kTrees[i].path));
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kSavedKey);
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
  ::ReleaseMutex(SettingsLock());
}

void ScopedSettings::User(const std::string& bytes) const { ReplaceHive(HKEY_CURRENT_USER, bytes); }

void ScopedSettings::Machine(const std::string& bytes) const { ReplaceHive(HKEY_LOCAL_MACHINE, bytes); }

}  // namespace korvane::testing
