// The shell extension's context menu, taken from the library exactly as a
// file manager takes it: the library's exported class object, its
// IShellExtInit with the selection (one file or folder as CF_HDROP, or a
// folder's background), and IContextMenu. The korvane tool's menu and
// share, and the file managers' extensions, all show and run the menu
// through this, so the library stays the one source of its entries.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace korvane::shellmenu {

// An entry of the product's submenu.
struct Entry {
  std::string text;  // as shown, UTF-8
  std::string verb;  // verb:share, ...
  std::string help;
};

// One menu built for one selection; it holds the handler that built it, so
// that an entry runs on the same handler, as in a file manager.
class Menu {
 public:
  // Builds the menu for path (a selected file or folder, or with
  // background the folder whose background was clicked). Nothing when the
  // library refused the selection.
  static std::unique_ptr<Menu> For(const std::string& path, bool background);
  ~Menu();
  Menu(const Menu&) = delete;
  Menu& operator=(const Menu&) = delete;

  // Whether the library offers its entry here at all.
  bool Offered() const { return offered_; }
  // The entries in menu order, separators left out.
  const std::vector<Entry>& Entries() const { return entries_; }
  bool Offers(const std::string& verb) const;
  // Runs the entry with verb; false when the library could not.
  bool Invoke(const std::string& verb);

 private:
  struct Handler;
  explicit Menu(std::unique_ptr<Handler> handler);

  std::unique_ptr<Handler> handler_;
  bool offered_ = false;
  std::vector<Entry> entries_;
};

}  // namespace korvane::shellmenu
