#include "server/SafeAutoObject.h"

namespace nib::server {

namespace {
constexpr DWORD kSafeForScripting = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
}

HRESULT SafetyOptionsOf(IUnknown* object, REFIID iid, DWORD* supported, DWORD* enabled) {
  if (!supported || !enabled) return E_POINTER;
  Microsoft::WRL::ComPtr<IUnknown> found;
  HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(found.GetAddressOf()));
  *supported = *enabled = SUCCEEDED(hr) ? kSafeForScripting : 0;
  return hr;
}

HRESULT SetSafetyOptionsOf(IUnknown* object, REFIID iid) {
  Microsoft::WRL::ComPtr<IUnknown> found;
  return object->QueryInterface(iid, reinterpret_cast<void**>(found.GetAddressOf()));
}

}  // namespace nib::server
