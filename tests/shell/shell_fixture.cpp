#include "shell_fixture.h"

#include "support/local_path.h"
#include "support/shell_items.h"
#include "shell/class_factory.h"

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);

namespace korvane::shell {

ShellTest::ShellTest() { daemon_.On(1, testing::Answer::Reply("0|||", std::chrono::milliseconds(5))); }

ShellTest::~ShellTest() {
  for (IContextMenu* handler : handlers_) handler->Release();
  NewShellMenu();
}

HRESULT ShellTest::InitializeWith(IShellExtInit* init, const std::vector<std::string>& paths) {
  std::vector<std::u16string> names;
  for (const std::string& path : paths) names.push_back(testing::WidePath(path));
  IDataObject* data = testing::FileListDataObject(names);
  HRESULT result = init->Initialize(nullptr, data, nullptr);
  data->Release();
  return result;
}

IContextMenu* ShellTest::HandlerFor(const std::string& path, bool background) {
  IClassFactory* factory = nullptr;
  DllGetClassObject(CLSID_KorvaneExt, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  IShellExtInit* init = nullptr;
  factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
  factory->Release();
  HRESULT result;
  if (background) {
    std::u16string wide = testing::LocalPath(testing::WidePath(path));
    PIDLIST_ABSOLUTE list = ILCreateFromPathW(reinterpret_cast<LPCWSTR>(wide.c_str()));
    result = init->Initialize(list, nullptr, nullptr);
    ILFree(list);
  } else {
    result = InitializeWith(init, {path});
  }
  IContextMenu* menu = nullptr;
  if (SUCCEEDED(result)) init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
  init->Release();
  if (menu != nullptr) handlers_.push_back(menu);
  return menu;
}

HRESULT ShellTest::Query(IContextMenu* handler, UINT flags, UINT indexMenu, UINT idCmdFirst) {
  if (shellMenu_ == nullptr) shellMenu_ = CreatePopupMenu();
  return handler->QueryContextMenu(shellMenu_, indexMenu, idCmdFirst, idCmdFirst + 100, flags);
}

void ShellTest::NewShellMenu() {
  if (shellMenu_ != nullptr) DestroyMenu(shellMenu_);
  shellMenu_ = nullptr;
}

namespace {

// Each entry's text, "-" for a separator; submenu, when given, gets the
// first entry's submenu that there is.
std::vector<std::string> TextsOf(HMENU menu, HMENU* submenu = nullptr) {
  std::vector<std::string> texts;
  for (int index = 0; index < GetMenuItemCount(menu); ++index) {
    WCHAR text[128] = {};
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_STRING | MIIM_SUBMENU;
    item.dwTypeData = text;
    item.cch = 128;
    GetMenuItemInfoW(menu, static_cast<UINT>(index), TRUE, &item);
    if (submenu != nullptr && *submenu == nullptr) *submenu = item.hSubMenu;
    texts.push_back((item.fType & MFT_SEPARATOR) != 0 ? "-" : testing::NarrowPath(reinterpret_cast<char16_t*>(text)));
  }
  return texts;
}

}  // namespace

std::vector<std::string> ShellTest::ShellMenuTexts() const { return TextsOf(shellMenu_); }

std::vector<std::string> ShellTest::SubmenuTexts() const {
  HMENU submenu = nullptr;
  TextsOf(shellMenu_, &submenu);
  return submenu != nullptr ? TextsOf(submenu) : std::vector<std::string>{};
}

std::vector<std::string> ShellTest::OneWayFrames() const {
  std::vector<std::string> frames;
  for (const std::string& frame : daemon_.Frames()) {
    auto code = testing::FrameCode(frame);
    if (code && *code != 0 && *code != 1 && *code != 254) frames.push_back(frame);
  }
  return frames;
}

}  // namespace korvane::shell
