// The in-process server: the factory, the handler's two faces, and the
// module count that tells the shell when it may unload the library.
#include "platform/windows_api.h"
#include "shell/class_factory.h"

#include "support/com_apartment.h"
#include "support/scoped_settings.h"

#include <gtest/gtest.h>

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
extern "C" HRESULT DllCanUnloadNow();

namespace korvane::shell {
namespace {

constexpr CLSID kOtherClass = {0x3F6A1C52, 0xB8E4, 0x4A7D, {0x9C, 0x31, 0xE5, 0xD2, 0x0B, 0x7F, 0x4A, 0x97}};

TEST(ComServer, ClassObjectIsServedForTheHandlerAlone) {
  const struct {
    const char* name;
    CLSID clsid;
    IID iid;
    HRESULT result;
  } cases[] = {
      {"other class", kOtherClass, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
      {"other interface", CLSID_KorvaneExt, IID_IContextMenu, E_NOINTERFACE},
      {"factory", CLSID_KorvaneExt, IID_IClassFactory, S_OK},
      {"unknown", CLSID_KorvaneExt, IID_IUnknown, S_OK},
  };
  EXPECT_EQ(DllGetClassObject(kOtherClass, IID_IClassFactory, nullptr), E_INVALIDARG);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(DllGetClassObject(c.clsid, c.iid, &object), c.result);
    EXPECT_EQ(object != nullptr, SUCCEEDED(c.result));
    if (object != nullptr) {
      EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
      static_cast<IUnknown*>(object)->Release();
    }
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
  }
}

// A server lock holds the factory and the module; the handler's two faces
// share one count.
TEST(ComServer, LocksAndHandlerFacesKeepTheModuleLoaded) {
  testing::ComApartment com;
  testing::ScopedSettings settings;
  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_KorvaneExt, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  ASSERT_EQ(DllGetClassObject(CLSID_KorvaneExt, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);

  // Any outer object is refused before it is used.
  void* refused = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(0x10), IID_IContextMenu, &refused),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &refused), E_NOINTERFACE);

  IContextMenu* menu = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
  factory->Release();
  IShellExtInit* init = nullptr;
  ASSERT_EQ(menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
  EXPECT_NE(static_cast<void*>(init), static_cast<void*>(menu));  // two faces of one object
  IUnknown* unknown = nullptr;
  ASSERT_EQ(menu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(init));
  EXPECT_EQ(menu->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&unknown)), E_NOINTERFACE);

  EXPECT_EQ(menu->AddRef(), 4u);
  EXPECT_EQ(init->Release(), 3u);
  EXPECT_EQ(menu->Release(), 2u);
  EXPECT_EQ(init->Release(), 1u);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(menu->Release(), 0u);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace korvane::shell
