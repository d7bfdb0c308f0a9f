// The context menu of one folder as a file manager builds it from the
// shell: the shell's own entries for the item, then the entries of every
// context-menu handler registered for folders, each loaded by COM from the
// class id the registry names. Nothing here loads a handler's library by
// path: what is found is what the registration leads to.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace korvane::end_to_end {

// UTF-8 of a wide text, for the driver's output.
std::string Narrow(const std::wstring& text);

class FolderMenu {
 public:
  // Builds the menu of the folder (an absolute path); throws
  // std::runtime_error naming the step that failed.
  explicit FolderMenu(const std::wstring& folder);

  // Every entry in menu order, a submenu's entries after it as
  // "Parent > Entry"; separators are left out.
  std::vector<std::wstring> Entries() const;
  // The handlers that added entries: the class id and the library COM
  // loaded it from.
  std::vector<std::wstring> Handlers() const;
  // Carries out the entry of that text (or of that "Parent > Entry" path)
  // through the handler that added it, by its command offset as a file
  // manager does; false when the menu holds no such entry.
  bool Invoke(const std::wstring& entry);

 private:
  struct Contributor {
    Microsoft::WRL::ComPtr<IContextMenu> menu;
    UINT firstId = 0;
    UINT idCount = 0;
    std::wstring name;
  };

  void AddRegisteredHandlers(IShellFolder* parent, PCUITEMID_CHILD child);
  void AddHandler(const CLSID& handler, IDataObject* data, HKEY classKey);
  void Add(Microsoft::WRL::ComPtr<IContextMenu> menu, std::wstring name);

  struct ItemFree {
    void operator()(ITEMIDLIST* item) const { ::ILFree(item); }
  };
  struct MenuDestroy {
    void operator()(HMENU menu) const { ::DestroyMenu(menu); }
  };

  // Declared in the order they go: the handlers after the menu that holds
  // their submenus, as a file manager ends a menu.
  std::unique_ptr<ITEMIDLIST, ItemFree> item_;
  std::unique_ptr<ITEMIDLIST, ItemFree> parentFolder_;
  std::vector<Contributor> contributors_;
  std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroy> menu_;
  UINT nextId_ = 1;
};

}  // namespace korvane::end_to_end
