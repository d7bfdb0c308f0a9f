// The handler's lifetime and its two faces.
#include "shell/korvane_ext.h"

#include "runtime/debug_trace.h"
#include "runtime/settings.h"
#include "shell/ref_count.h"

namespace korvane::shell {

using runtime::ReadSettingNumber;
using runtime::ReadSettingText;
using runtime::SettingValue;

CKorvaneExt::CKorvaneExt()
    : placeBesideTortoiseSvn_(ReadSettingNumber(SettingValue(u"ContextMenuUsesTSVN", 0)) != 0),
      tortoiseSvnPresent_(!ReadSettingText(SettingValue(u"SOFTWARE\\TortoiseSVN\\Directory", u"")).empty()) {
  RefCount::Inc();
}

CKorvaneExt::~CKorvaneExt() {
  RefCount::Dec();
  ReleaseMenuResources();
}

HRESULT CKorvaneExt::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IShellExtInit)) {
    *object = static_cast<IShellExtInit*>(this);
  } else if (IsEqualGUID(riid, IID_IContextMenu)) {
    *object = static_cast<IContextMenu*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CKorvaneExt::AddRef() { return ++m_cRef; }

ULONG CKorvaneExt::Release() {
  if (--m_cRef != 0) return m_cRef;
  KORVANE_TRACE("CKorvaneExt::Release: CKorvaneExt::Release() - m_cRef == 0, releasing");
  delete this;
  return 0;
}

// ---- The selection -------------------------------------------------------------

HRESULT CKorvaneExt::Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* dataObject, HKEY) {
  try {
    return dataObject != nullptr ? InitializeFromSelection(dataObject) : InitializeFromBackground(folder);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

// Exactly one selected item; two or more, or none, are refused.
HRESULT CKorvaneExt::InitializeFromSelection(IDataObject* dataObject) {
  FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  if (FAILED(dataObject->GetData(&format, &medium))) return E_INVALIDARG;
  if (medium.hGlobal == nullptr) return E_INVALIDARG;
  auto drop = static_cast<HDROP>(GlobalLock(medium.hGlobal));
  if (drop == nullptr) {
    ReleaseStgMedium(&medium);
    return E_INVALIDARG;
  }
  std::vector<std::u16string> names;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFFu, nullptr, 0);
  for (UINT index = 0; index < count; ++index) {
    WCHAR name[MAX_PATH] = {};
    if (DragQueryFileW(drop, index, name, MAX_PATH) != 0) names.emplace_back(reinterpret_cast<const char16_t*>(name));
  }
  GlobalUnlock(medium.hGlobal);
  ReleaseStgMedium(&medium);
  if (names.size() != 1) return E_INVALIDARG;
  selectedPath_ = names.front().c_str();
  return S_OK;
}

HRESULT CKorvaneExt::InitializeFromBackground(PCIDLIST_ABSOLUTE folder) {
  if (folder == nullptr) return E_INVALIDARG;
  WCHAR path[MAX_PATH] = {};
  if (!SHGetPathFromIDListW(folder, path)) return E_INVALIDARG;
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return E_INVALIDARG;
  selectedPath_ = reinterpret_cast<const char16_t*>(path);
  background_ = true;
  return S_OK;
}

}  // namespace korvane::shell
