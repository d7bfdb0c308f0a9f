// The smallest data object the handler can be given: it offers CF_HDROP in
// global memory and nothing else, as a selection in the shell does.
#include "support/shell_items.h"

#include "support/windows/windows_helpers.h"

#include <atomic>
#include <cstring>

namespace korvane::testing {
namespace {

// A DROPFILES header, then each name with its NUL, then one more NUL: an
// empty list is two NULs, as the shell's readers expect.
HGLOBAL DropFilesFor(const std::vector<std::u16string>& names) {
  std::size_t units = names.empty() ? 2 : 1;
  for (const std::u16string& name : names) units += name.size() + 1;
  HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + units * sizeof(WCHAR));
  if (memory == nullptr) return nullptr;
  auto* block = static_cast<BYTE*>(::GlobalLock(memory));
  auto* header = reinterpret_cast<DROPFILES*>(block);
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  auto* text = reinterpret_cast<char16_t*>(block + sizeof(DROPFILES));
  for (const std::u16string& name : names) {
    std::memcpy(text, name.c_str(), (name.size() + 1) * sizeof(char16_t));
    text += name.size() + 1;
  }
  ::GlobalUnlock(memory);
  return memory;
}

class FileListObject final : public IDataObject {
 public:
  explicit FileListObject(std::vector<std::u16string> names) : names_(std::move(names)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
      *object = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (format == nullptr || medium == nullptr) return E_INVALIDARG;
    if (QueryGetData(format) != S_OK) return DV_E_FORMATETC;
    HGLOBAL memory = DropFilesFor(names_);
    if (memory == nullptr) return E_OUTOFMEMORY;
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
    if (format == nullptr) return E_INVALIDARG;
    return format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL) != 0 ? S_OK : DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  ~FileListObject() = default;

  std::vector<std::u16string> names_;
  std::atomic<ULONG> references_{1};
};

}  // namespace

std::u16string WidePath(const std::string& path) { return text::Utf8ToWide(path); }

std::string NarrowPath(const std::u16string& path) { return text::WideToUtf8(path); }

IDataObject* FileListDataObject(const std::vector<std::u16string>& names) { return new FileListObject(names); }

PIDLIST_ABSOLUTE VirtualFolderItem() {
  PIDLIST_ABSOLUTE item = nullptr;
  return SUCCEEDED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &item)) ? item : nullptr;
}

}  // namespace korvane::testing
