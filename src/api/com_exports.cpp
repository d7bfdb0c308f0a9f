// The in-process server's two entry points. The library registers nothing
// itself: the installer records the class with the shell.
#include "platform/com_export.h"
#include "platform/windows_api.h"

#include "runtime/debug_trace.h"
#include "shell/class_factory.h"
#include "shell/ref_count.h"

#include <new>

using korvane::shell::CShellExtClassFactory;

extern "C" KORVANE_COM_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  if (!IsEqualGUID(rclsid, korvane::shell::CLSID_KorvaneExt)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) CShellExtClassFactory();
  if (factory == nullptr) return E_OUTOFMEMORY;
  HRESULT result = factory->QueryInterface(riid, ppv);
  factory->Release();
  return result;
}

extern "C" KORVANE_COM_EXPORT HRESULT DllCanUnloadNow() {
  if (!korvane::shell::RefCount::IsRefZero()) return S_FALSE;
  KORVANE_TRACE("DllCanUnloadNow: RefCount::IsRefZero() - DllCanUnloadNow returns S_OK");
  return S_OK;
}
