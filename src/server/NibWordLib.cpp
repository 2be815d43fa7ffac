// The DLL's entry points.

#include <windows.h>
#include <objbase.h>

#include <optional>

#include "automation/NibWordImpl.h"
#include "server/ClassFactory.h"
#include "server/Guids.h"
#include "server/Module.h"
#include "server/Registration.h"
#include "services/Locale.h"

namespace {

std::optional<nib::server::ClassFactory> factory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance);
      nib::server::SetModuleInstance(instance);
      nib::RecordSystemDefaultLocale();
      SetThreadLocale(MAKELCID(0x0804, SORT_DEFAULT));
      factory.emplace(&nib::TNibWord::Create);
      break;
    case DLL_PROCESS_DETACH:
      (void)reserved;
      factory.reset();
      break;
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_NibWord) return CLASS_E_CLASSNOTAVAILABLE;
  return factory->QueryInterface(iid, out);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return nib::server::LiveObjects() == 0 && factory->Idle() ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer() { return nib::server::RegisterServer(); }

extern "C" HRESULT WINAPI DllUnregisterServer() { return nib::server::UnregisterServer(); }
