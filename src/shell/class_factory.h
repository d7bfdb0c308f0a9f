// The class factory of the context-menu handler.
#pragma once

#include "platform/windows_api.h"

namespace korvane::shell {

// {3F6A1C52-B8E4-4A7D-9C31-E5D20B7F4A96}: the handler, the one class served.
inline constexpr CLSID CLSID_KorvaneExt = {0x3F6A1C52, 0xB8E4, 0x4A7D, {0x9C, 0x31, 0xE5, 0xD2, 0x0B, 0x7F, 0x4A, 0x96}};

class CShellExtClassFactory final : public IClassFactory {
 public:
  CShellExtClassFactory();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  virtual ~CShellExtClassFactory();

  ULONG m_cRef = 1;
};

}  // namespace korvane::shell
