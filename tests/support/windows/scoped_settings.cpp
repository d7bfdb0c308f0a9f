// Registry settings for one test on Windows, in the real registry: the keys
// the library reads are copied aside, emptied, written from the test's
// registry exports, and copied back at the end.
#include "support/scoped_settings.h"

#include "support/windows/windows_helpers.h"

#include "platform/registry_export.h"
#include "platform/windows_api.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace korvane::testing {
namespace {

struct Tree {
  HKEY root;
  std::wstring_view path;
};

// The keys a test may write; saved_ holds them in this order.
const Tree kTrees[] = {
    {HKEY_CURRENT_USER, L"SOFTWARE\\Korvane"},
    {HKEY_CURRENT_USER, L"SOFTWARE\\TortoiseSVN"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Korvane"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\TortoiseSVN"},
};

constexpr DWORD kLockWaitMs = 60000;

std::u16string_view U16(std::wstring_view text) { return {reinterpret_cast<const char16_t*>(text.data()), text.size()}; }
std::wstring WideName(std::u16string_view text) { return {text.begin(), text.end()}; }

// Whether the key path is one of the trees' keys of that root, or below one.
bool InTrees(HKEY root, std::u16string_view path) {
  for (const Tree& tree : kTrees) {
    if (tree.root != root || !platform::StartsWithRegistryName(path, U16(tree.path))) continue;
    if (path.size() == tree.path.size() || path[tree.path.size()] == u'\\') return true;
  }
  return false;
}

[[noreturn]] void ThrowRegistryError(LSTATUS status, const std::wstring& what) {
  throw std::system_error(static_cast<int>(status), std::system_category(), Utf8(what));
}

struct KeyCloser {
  void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// Writes the sections of the export (UTF-8, with or without a byte order
// mark) that name keys of the trees below `root` into the registry, read as
// the POSIX registry reads its hives; every other line is skipped. Throws
// std::system_error on a failed write.
void Import(const std::string& bytes, HKEY root, std::wstring_view rootName) {
  const std::string_view body = bytes.starts_with("\xEF\xBB\xBF") ? std::string_view(bytes).substr(3) : bytes;
  const std::u16string exported = text::Utf8ToWide(body);
  UniqueKey key;
  const auto section = [&](std::u16string_view sectionRoot, std::u16string_view path) {
    key.reset();
    if (!platform::SameRegistryName(sectionRoot, U16(rootName)) || !InTrees(root, path)) return false;
    HKEY opened = nullptr;
    const LSTATUS status =
        ::RegCreateKeyExW(root, WideName(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr);
    if (status != ERROR_SUCCESS) ThrowRegistryError(status, L"RegCreateKeyExW " + WideName(path));
    key.reset(opened);
    return true;
  };
  platform::ReadRegistryExport(exported, section, [&](const platform::RegistryExportValue& value) {
    const LSTATUS status = ::RegSetValueExW(key.get(), WideName(value.name).c_str(), 0, value.type, value.data.data(),
                                            static_cast<DWORD>(value.data.size()));
    if (status != ERROR_SUCCESS) ThrowRegistryError(status, L"RegSetValueExW " + WideName(value.name));
  });
}

// Copies the key at `from` with everything below it to `to`, made below
// `toRoot`; false when there is no such key (`to` may then be left empty).
bool CopyTree(HKEY fromRoot, const std::wstring& from, HKEY toRoot, const std::wstring& to) {
  HKEY target = nullptr;
  if (::RegCreateKeyExW(toRoot, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const UniqueKey ownedTarget(target);
  return ::RegCopyTreeW(fromRoot, from.c_str(), target) == ERROR_SUCCESS;
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
  Import(bytes, root, root == HKEY_CURRENT_USER ? L"HKEY_CURRENT_USER" : L"HKEY_LOCAL_MACHINE");
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
