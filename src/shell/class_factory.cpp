// The factory counts in the module count for as long as it lives, and each
// server lock counts too.
#include "shell/class_factory.h"

#include "runtime/debug_trace.h"
#include "shell/korvane_ext.h"
#include "shell/ref_count.h"

#include <new>

namespace korvane::shell {

CShellExtClassFactory::CShellExtClassFactory() { RefCount::Inc(); }

CShellExtClassFactory::~CShellExtClassFactory() { RefCount::Dec(); }

HRESULT CShellExtClassFactory::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IClassFactory)) return E_NOINTERFACE;
  *object = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG CShellExtClassFactory::AddRef() { return ++m_cRef; }

ULONG CShellExtClassFactory::Release() {
  if (--m_cRef != 0) return m_cRef;
  KORVANE_TRACE("CShellExtClassFactory::Release: CShellExtClassFactory::Release() - m_cRef == 0, releasing");
  delete this;
  return 0;
}

HRESULT CShellExtClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  auto* handler = new (std::nothrow) CKorvaneExt();
  if (handler == nullptr) return E_OUTOFMEMORY;
  HRESULT result = handler->QueryInterface(riid, object);
  handler->Release();
  return result;
}

HRESULT CShellExtClassFactory::LockServer(BOOL lock) {
  KORVANE_TRACE("CShellExtClassFactory::LockServer: CShellExtClassFactory::LockServer() - fLock == %ld",
                static_cast<long>(lock));
  if (lock) {
    RefCount::Inc();
  } else {
    RefCount::Dec();
  }
  IUnknown* unknown = nullptr;
  HRESULT result = QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown));
  if (FAILED(result)) return result;
  result = CoLockObjectExternal(unknown, lock, TRUE);
  unknown->Release();
  return result;
}

}  // namespace korvane::shell
