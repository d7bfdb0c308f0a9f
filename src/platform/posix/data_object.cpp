#include "data_object.h"

#include <cstring>
#include <new>

namespace korvane::posix {
namespace {

// The DROPFILES block for the names, in new global memory.
HGLOBAL CreateDropFiles(const std::vector<std::u16string>& names) {
  std::size_t units = 1;  // the empty name that ends the list
  for (const std::u16string& name : names) units += name.size() + 1;
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + units * sizeof(WCHAR));
  if (memory == nullptr) return nullptr;
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  auto* list = reinterpret_cast<WCHAR*>(header + 1);
  for (const std::u16string& name : names) {
    std::memcpy(list, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    list += name.size() + 1;
  }
  GlobalUnlock(memory);
  return memory;
}

class FileListDataObject final : public IDataObject {
 public:
  explicit FileListDataObject(std::vector<std::u16string> names) : names_(std::move(names)) {}

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IDataObject)) return E_NOINTERFACE;
    *object = static_cast<IDataObject*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    if (--references_ != 0) return references_;
    delete this;
    return 0;
  }

  // Each call hands over a new block that the caller releases.
  HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (format == nullptr || medium == nullptr) return E_INVALIDARG;
    if (format->cfFormat != CF_HDROP || (format->tymed & TYMED_HGLOBAL) == 0) return 0x80040064;  // DV_E_FORMATETC
    *medium = {};
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = CreateDropFiles(names_);
    return medium->hGlobal != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT QueryGetData(FORMATETC* format) override {
    return format != nullptr && format->cfFormat == CF_HDROP ? S_OK : S_FALSE;
  }
  HRESULT GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    if (out != nullptr) out->ptd = nullptr;
    return E_NOTIMPL;
  }
  HRESULT SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT EnumFormatEtc(DWORD, void**) override { return E_NOTIMPL; }
  HRESULT DAdvise(FORMATETC*, DWORD, void*, DWORD*) override { return E_NOTIMPL; }
  HRESULT DUnadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT EnumDAdvise(void**) override { return E_NOTIMPL; }

 private:
  ~FileListDataObject() = default;

  std::vector<std::u16string> names_;
  ULONG references_ = 1;
};

}  // namespace

HRESULT CreateFileListDataObject(const std::vector<std::u16string>& names, IDataObject** object) {
  if (object == nullptr) return E_POINTER;
  *object = new (std::nothrow) FileListDataObject(names);
  return *object != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace korvane::posix
