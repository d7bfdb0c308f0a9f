// Building the "Korvane" entry and its submenu. What the submenu offers
// follows the selected folder's state: versioned or not, activated and in
// which mode, from the hosting service or not.
#include "shell/korvane_ext.h"

#include "link/daemon_link.h"
#include "runtime/module_handle.h"

#include <cstring>
#include <string>

namespace korvane::shell {

namespace {

constexpr UINT kMenuItemText = 80;  // 79 units and the NUL
constexpr UINT kTortoiseSvnTextCapacity = 32;
constexpr UINT kFlagsThatLimitTheMenu = 0x000F;

// Whether the shell asks for a menu this handler contributes to.
bool WantsEntries(UINT flags) {
  if ((flags & CMF_DEFAULTONLY) != 0) return false;
  if ((flags & kFlagsThatLimitTheMenu) != 0 && (flags & (CMF_VERBSONLY | CMF_EXPLORE)) == 0) return false;
  return true;
}

void LoadEntryText(UINT textId, WCHAR (&text)[kMenuItemText]) {
  std::memset(text, 0, sizeof text);
  LoadStringW(runtime::ModuleHandle(), textId, text, kMenuItemText);
}

MENUITEMINFOW ItemWithText(UINT commandId, WCHAR* text) {
  MENUITEMINFOW item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE;
  item.fType = MFT_STRING;
  item.wID = commandId;
  item.dwTypeData = text;
  return item;
}

bool IsTortoiseSvnEntry(const char* text) {
  return std::strcmp(text, "&TortoiseSVN") == 0 || std::strcmp(text, "TortoiseSVN") == 0;
}

}  // namespace

HRESULT CKorvaneExt::QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT, UINT flags) {
  try {
    // A new submenu starts a new entry list: offsets and help requests then
    // always describe the entries of the menu the shell shows.
    ReleaseMenuResources();
    submenu_ = CreateMenu();
    if (submenu_ == nullptr || !WantsEntries(flags)) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);

    Counters next{indexMenu, idCmdFirst};
    ChooseEntries(next);
    if (entries_.empty()) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);

    UINT position = placeBesideTortoiseSvn_ ? PositionBesideTortoiseSvn(menu, indexMenu) : indexMenu;
    AddProductEntry(menu, position, next);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, next.commandId - idCmdFirst);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

void CKorvaneExt::ChooseEntries(Counters& next) {
  link::CDaemonLink link(runtime::ModuleHandle());
  if (selectedPath_.IsVersioned()) {
    ChooseVersionedEntries(link, next);
  } else {
    ChooseUnversionedEntries(link, next);
  }
}

void CKorvaneExt::ChooseVersionedEntries(link::CDaemonLink& link, Counters& next) {
  using link::ActivationMode;
  link::PathStatusInfo status;
  if (!link.GetStatus(selectedPath_.GetLocalPath(), status)) return;
  if (status.mode == ActivationMode::None) {
    AddEntry(102, next);
    if (tortoiseSvnPresent_) AddEntry(104, next);
    AddEntry(106, next);
  } else if (status.text2 == status.text3) {
    // The activated folder itself: the other modes and deactivation.
    if (status.mode != ActivationMode::KorvaneDialogs) AddEntry(102, next);
    if (status.mode != ActivationMode::TortoiseSvnDialogs && tortoiseSvnPresent_) AddEntry(104, next);
    if (status.mode != ActivationMode::AutomaticCommitUpdate) AddEntry(106, next);
    AddSeparator(next);
    AddEntry(108, next);
  }
  if (selectedPath_.IsHalcyraWorkingCopy()) {
    AddSeparator(next);
    AddEntry(116, next);
  }
}

// Outside a working copy the menu starts the daemon, so that it runs when
// the user picks an entry: one-way commands do not start it themselves.
void CKorvaneExt::ChooseUnversionedEntries(link::CDaemonLink& link, Counters& next) {
  link.StartDaemon();
  if (!background_ || !FolderHoldsWorkingCopy()) AddEntry(112, next);
  AddEntry(118, next);
  AddEntry(114, next);
}

// Whether an immediate subfolder of the selected folder is versioned. A
// folder that cannot be listed holds none.
//
// A working-copy query costs a context and a database lookup, too much for
// each of the thousands of subfolders a folder may hold while the user waits
// for the menu. Only three kinds of subfolder can answer for themselves: one
// with its own administrative folder (a working copy's root, or one of an
// older format), a link (Subversion follows it), and one whose
// administrative folder cannot even be looked for. Every other subfolder
// gets its answer from the same ancestors as its siblings, and the selected
// folder is unversioned, so one query stands for all of them.
bool CKorvaneExt::FolderHoldsWorkingCopy() const {
  const std::u16string folder = selectedPath_.GetLocalPath();
  WCHAR pattern[MAX_PATH] = {};
  if (PathCombineW(pattern, reinterpret_cast<LPCWSTR>(folder.c_str()), reinterpret_cast<LPCWSTR>(u"*")) == nullptr) {
    return false;
  }
  WIN32_FIND_DATAW found{};
  HANDLE find = FindFirstFileW(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  std::u16string plainSubfolder;  // one subfolder that answers as its siblings do
  bool versioned = false;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
    const std::u16string_view name(reinterpret_cast<const char16_t*>(found.cFileName));
    if (name == u"." || name == u"..") continue;
    WCHAR path[MAX_PATH] = {};
    if (PathCombineW(path, reinterpret_cast<LPCWSTR>(folder.c_str()), found.cFileName) == nullptr) continue;
    const std::u16string subfolder(reinterpret_cast<const char16_t*>(path));
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && !MayAnswerForItself(path)) {
      if (plainSubfolder.empty()) plainSubfolder = subfolder;
      continue;
    }
    versioned = svn::SVNPath(subfolder).IsVersioned();
  } while (!versioned && FindNextFileW(find, &found));
  FindClose(find);
  return versioned || (!plainSubfolder.empty() && svn::SVNPath(plainSubfolder).IsVersioned());
}

// Whether the subfolder has an administrative folder of its own, or the
// question cannot be settled without asking Subversion.
bool CKorvaneExt::MayAnswerForItself(LPCWSTR subfolder) {
  WCHAR administrative[MAX_PATH] = {};
  if (PathCombineW(administrative, subfolder, reinterpret_cast<LPCWSTR>(u".svn")) == nullptr) return true;
  if (GetFileAttributesW(administrative) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

void CKorvaneExt::AddEntry(UINT textId, Counters& next) {
  const MenuCommand& command = MenuCommandFor(textId);
  WCHAR text[kMenuItemText];
  LoadEntryText(textId, text);
  MENUITEMINFOW item = ItemWithText(next.commandId, text);
  if (!InsertMenuItemW(submenu_, next.position, TRUE, &item)) return;
  std::u16string verb(command.verb, command.verb + std::strlen(command.verb));
  verb.resize(std::min(verb.size(), MenuEntry::kLongestVerb));
  entries_.push_back({next.commandId, next.position, command.textId, command.helpId, std::move(verb)});
  ++next.position;
  ++next.commandId;
}

// A separator uses up a command identifier like an entry, so that positions
// and identifiers advance together.
void CKorvaneExt::AddSeparator(Counters& next) {
  MENUITEMINFOW item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_FTYPE;
  item.fType = MFT_SEPARATOR;
  if (!InsertMenuItemW(submenu_, next.position, TRUE, &item)) return;
  entries_.push_back(
      {MenuEntry::kSeparator, next.position, MenuEntry::kSeparator, MenuEntry::kSeparator, std::u16string()});
  ++next.position;
  ++next.commandId;
}

// Right after the separator that opens TortoiseSVN's group, when the shell's
// menu has TortoiseSVN's entry; otherwise where the shell asked.
UINT CKorvaneExt::PositionBesideTortoiseSvn(HMENU menu, UINT indexMenu) const {
  const int count = GetMenuItemCount(menu);
  for (int index = 0; index < count; ++index) {
    char text[kTortoiseSvnTextCapacity] = {};
    MENUITEMINFOA item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_DATA | MIIM_STRING | MIIM_FTYPE;
    item.dwTypeData = text;
    item.cch = kTortoiseSvnTextCapacity;
    if (!GetMenuItemInfoA(menu, static_cast<UINT>(index), TRUE, &item) || !IsTortoiseSvnEntry(text)) continue;
    for (int above = index; above >= 0; --above) {
      MENUITEMINFOA type{};
      type.cbSize = sizeof type;
      type.fMask = MIIM_FTYPE;
      if (GetMenuItemInfoA(menu, static_cast<UINT>(above), TRUE, &type) && (type.fType & MFT_SEPARATOR) != 0) {
        return static_cast<UINT>(above) + 1;
      }
    }
    break;
  }
  return indexMenu;
}

void CKorvaneExt::AddProductEntry(HMENU menu, UINT position, Counters& next) {
  WCHAR text[kMenuItemText];
  LoadEntryText(kProductEntryText, text);
  MENUITEMINFOW item = ItemWithText(next.commandId, text);

  // The picture: the colour bitmap of the small icon. It stays with this
  // object while the shell may show the menu; the mask is not needed.
  HANDLE icon = LoadImageW(runtime::ModuleHandle(), MAKEINTRESOURCEW(kProductIcon), IMAGE_ICON,
                           GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTSIZE);
  ICONINFO iconInfo{};
  if (icon != nullptr && GetIconInfo(static_cast<HICON>(icon), &iconInfo)) {
    if (iconInfo.hbmMask != nullptr) DeleteObject(iconInfo.hbmMask);
    if (iconInfo.hbmColor != nullptr) {
      item.fMask |= MIIM_BITMAP;
      item.hbmpItem = iconInfo.hbmColor;
    }
  }
  if (icon != nullptr) DestroyIcon(static_cast<HICON>(icon));

  if (!InsertMenuItemW(menu, position, TRUE, &item)) {
    if (iconInfo.hbmColor != nullptr) DeleteObject(iconInfo.hbmColor);
    return;
  }
  entryPicture_ = iconInfo.hbmColor;
  entries_.push_back({next.commandId, next.position, kProductEntryText, MenuCommandFor(kProductEntryText).helpId,
                      std::u16string()});

  MENUITEMINFOW attach{};
  attach.cbSize = sizeof attach;
  attach.fMask = MIIM_SUBMENU;
  attach.hSubMenu = submenu_;
  SetMenuItemInfoW(menu, next.commandId, FALSE, &attach);
  ++next.position;
  ++next.commandId;
}

void CKorvaneExt::ReleaseMenuResources() {
  if (submenu_ != nullptr) DestroyMenu(submenu_);
  submenu_ = nullptr;
  if (entryPicture_ != nullptr) DeleteObject(entryPicture_);
  entryPicture_ = nullptr;
  entries_.clear();
}

}  // namespace korvane::shell
