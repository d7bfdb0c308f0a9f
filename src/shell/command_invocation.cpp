// Carrying out a chosen entry, named by its offset or by its verb, and
// serving each entry's verb and help text.
#include "shell/korvane_ext.h"

#include "link/daemon_link.h"
#include "runtime/module_handle.h"

#include <algorithm>
#include <cstdint>

namespace korvane::shell {

namespace {

// A verb field whose bits above the low word are all clear holds an offset,
// not a pointer to text.
bool IsOffset(LPCSTR verb) { return (reinterpret_cast<std::uintptr_t>(verb) >> 16) == 0; }

std::optional<MenuCommand> CommandNamedBy(const CMINVOKECOMMANDINFO& info) {
  if (info.cbSize == sizeof(CMINVOKECOMMANDINFOEX) && (info.fMask & CMIC_MASK_UNICODE) != 0) {
    const auto& extended = reinterpret_cast<const CMINVOKECOMMANDINFOEX&>(info);
    if (auto command = MenuCommandForVerb(extended.lpVerbW)) return command;
  }
  return MenuCommandForVerb(info.lpVerb);
}

}  // namespace

const MenuEntry* CKorvaneExt::EntryAt(UINT_PTR offset, bool lastMatch) const {
  if (entries_.empty()) return nullptr;
  const auto first = std::min_element(entries_.begin(), entries_.end(),
                                       [](const MenuEntry& a, const MenuEntry& b) { return a.position < b.position; });
  const std::uint64_t wanted = std::uint64_t{offset} + first->position;
  const MenuEntry* found = nullptr;
  for (const MenuEntry& entry : entries_) {
    if (entry.position != wanted) continue;
    found = &entry;
    if (!lastMatch) break;
  }
  return found;
}

HRESULT CKorvaneExt::InvokeCommand(CMINVOKECOMMANDINFO* info) {
  if (info == nullptr) return E_INVALIDARG;
  try {
    std::optional<MenuCommand> command;
    if (IsOffset(info->lpVerb)) {
      const MenuEntry* entry = EntryAt(reinterpret_cast<std::uintptr_t>(info->lpVerb) & 0xFFFF, true);
      if (entry != nullptr && entry->textId != MenuEntry::kSeparator) command = MenuCommandFor(entry->textId);
    } else {
      command = CommandNamedBy(*info);
    }
    if (command) Carry(command->action);
  } catch (...) {
    // Nothing was sent; the shell is told nothing went wrong, as for a
    // daemon that cannot be reached.
  }
  return S_OK;
}

// One one-way request to the daemon for the selected folder. Whether the
// daemon took it is not reported: the menu started the daemon beforehand.
void CKorvaneExt::Carry(MenuAction action) const {
  const std::u16string path = selectedPath_.GetLocalPath();
  link::CDaemonLink link(runtime::ModuleHandle());
  switch (action) {
    case MenuAction::ActivateKorvaneDialogs:
      link.ActivatePath(path, static_cast<std::int32_t>(link::ActivationMode::KorvaneDialogs));
      break;
    case MenuAction::ActivateTortoiseSvnDialogs:
      link.ActivatePath(path, static_cast<std::int32_t>(link::ActivationMode::TortoiseSvnDialogs));
      break;
    case MenuAction::ActivateAutomaticCommitUpdate:
      link.ActivatePath(path, static_cast<std::int32_t>(link::ActivationMode::AutomaticCommitUpdate));
      break;
    case MenuAction::Deactivate:
      link.DeactivatePath(path);
      break;
    case MenuAction::ShareFolder:
      link.ShareFolder(path);
      break;
    case MenuAction::Checkout:
      link.Checkout(u"", path, static_cast<std::int32_t>(link::ActivationMode::AutomaticCommitUpdate));
      break;
    case MenuAction::ShareWithTeam:
      link.ShareWithTeam(path);
      break;
    case MenuAction::CheckoutFromService:
      link.CheckoutFromService(path);
      break;
    case MenuAction::None:
      break;
  }
}

HRESULT CKorvaneExt::GetCommandString(UINT_PTR idCmd, UINT type, UINT*, CHAR* name, UINT cchMax) {
  if (name == nullptr || cchMax == 0) return E_FAIL;
  // The buffer starts out as empty text, of whichever width the type asks for.
  const bool wide = type == GCS_VERBW || type == GCS_HELPTEXTW || type == GCS_VALIDATEW;
  if (wide) {
    reinterpret_cast<WCHAR*>(name)[0] = 0;
  } else {
    name[0] = 0;
  }
  const MenuEntry* entry = EntryAt(idCmd, false);
  const HRESULT notFound = (type == GCS_VALIDATEA || type == GCS_VALIDATEW) ? S_FALSE : E_FAIL;
  if (type > GCS_VALIDATEW || type == 3) return E_FAIL;
  if (entry == nullptr) return notFound;

  switch (type) {
    case GCS_VERBA:
      // UTF-8, whole or not at all.
      if (WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<LPCWSTR>(entry->verb.c_str()), -1, name,
                              static_cast<int>(cchMax), nullptr, nullptr) == 0) {
        name[0] = 0;
      }
      break;
    case GCS_HELPTEXTA:
      LoadStringA(runtime::ModuleHandle(), entry->helpId, name, static_cast<int>(cchMax));
      break;
    case GCS_VERBW: {
      auto* wideName = reinterpret_cast<WCHAR*>(name);
      const std::size_t length = std::min<std::size_t>(entry->verb.size(), cchMax - 1);
      std::copy_n(entry->verb.begin(), length, wideName);
      wideName[length] = 0;
      break;
    }
    case GCS_HELPTEXTW:
      LoadStringW(runtime::ModuleHandle(), entry->helpId, reinterpret_cast<WCHAR*>(name), static_cast<int>(cchMax));
      break;
    default:  // the two validations: the entry exists
      break;
  }
  return S_OK;
}

}  // namespace korvane::shell
