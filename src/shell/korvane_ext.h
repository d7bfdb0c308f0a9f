// CKorvaneExt: the context-menu handler the shell creates for a right-click.
// Its first face is IShellExtInit (the selection), its second IContextMenu
// (the menu and its commands); both share one reference count.
#pragma once

#include "platform/windows_api.h"
#include "shell/menu_vocabulary.h"
#include "svn/svn_path.h"

#include <vector>

namespace korvane::link {
class CDaemonLink;
}

namespace korvane::shell {

class CKorvaneExt final : public IShellExtInit, public IContextMenu {
 public:
  CKorvaneExt();

  // IUnknown, for both faces.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IShellExtInit: records the one selected item, or the folder whose
  // background was clicked.
  HRESULT STDMETHODCALLTYPE Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* dataObject, HKEY progIdKey) override;

  // IContextMenu.
  HRESULT STDMETHODCALLTYPE QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                             UINT flags) override;
  HRESULT STDMETHODCALLTYPE InvokeCommand(CMINVOKECOMMANDINFO* info) override;
  HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, CHAR* name,
                                             UINT cchMax) override;

 private:
  virtual ~CKorvaneExt();

  HRESULT InitializeFromSelection(IDataObject* dataObject);
  HRESULT InitializeFromBackground(PCIDLIST_ABSOLUTE folder);

  // Menu building; the counters are the next position and command id.
  struct Counters {
    UINT position;
    UINT commandId;
  };
  void ChooseEntries(Counters& next);
  void ChooseVersionedEntries(link::CDaemonLink& link, Counters& next);
  void ChooseUnversionedEntries(link::CDaemonLink& link, Counters& next);
  bool FolderHoldsWorkingCopy() const;
  static bool MayAnswerForItself(LPCWSTR subfolder);
  void AddEntry(UINT textId, Counters& next);
  void AddSeparator(Counters& next);
  UINT PositionBesideTortoiseSvn(HMENU menu, UINT indexMenu) const;
  void AddProductEntry(HMENU menu, UINT position, Counters& next);
  void ReleaseMenuResources();

  // The record of the entry the shell knows by this offset: the one whose
  // position is the offset past the first recorded position.
  const MenuEntry* EntryAt(UINT_PTR offset, bool lastMatch) const;
  void Carry(MenuAction action) const;

  ULONG m_cRef = 1;
  svn::SVNPath selectedPath_;
  bool background_ = false;
  bool placeBesideTortoiseSvn_;
  bool tortoiseSvnPresent_;
  std::vector<MenuEntry> entries_;
  HMENU submenu_ = nullptr;
  HBITMAP entryPicture_ = nullptr;  // the product entry's picture, valid while the menu may show it
};

}  // namespace korvane::shell
