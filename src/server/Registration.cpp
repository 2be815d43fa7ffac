#include "server/Registration.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <string>

#include "com/StrConv.h"
#include "server/Guids.h"
#include "server/Module.h"

using Microsoft::WRL::ComPtr;

namespace nib::server {
namespace {

constexpr wchar_t kClassName[] = L"NibWord Object";

bool SetKey(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  LONG result = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

bool DeleteKey(const std::wstring& path) {
  LONG result = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

SYSKIND OwnSysKind() { return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32; }

}  // namespace

HRESULT RegisterServer() {
  const std::wstring path = ModulePath();
  ComPtr<ITypeLib> library;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library))) return E_FAIL;
  std::wstring pathArgument = path;  // RegisterTypeLib takes a non-const string
  if (FAILED(RegisterTypeLib(library.Get(), pathArgument.data(), nullptr))) return E_FAIL;

  const std::wstring clsidKey = L"CLSID\\" + GuidText(CLSID_NibWord);
  bool ok = SetKey(clsidKey, nullptr, kClassName) && SetKey(clsidKey + L"\\InprocServer32", nullptr, path) &&
            SetKey(clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
            SetKey(clsidKey + L"\\ProgID", nullptr, kProgId) && SetKey(clsidKey + L"\\Version", nullptr, L"1.0") &&
            SetKey(clsidKey + L"\\TypeLib", nullptr, GuidText(LIBID_NibWordLib)) &&
            SetKey(kProgId, nullptr, kClassName) && SetKey(std::wstring(kProgId) + L"\\Clsid", nullptr, GuidText(CLSID_NibWord));
  return ok ? S_OK : E_FAIL;
}

HRESULT UnregisterServer() {
  bool ok = DeleteKey(L"CLSID\\" + GuidText(CLSID_NibWord));
  ok = DeleteKey(kProgId) && ok;
  // A type library that is not registered is nothing to remove.
  ComPtr<ITypeLib> registered;
  if (SUCCEEDED(LoadRegTypeLib(LIBID_NibWordLib, 1, 0, 0x0409, &registered))) {
    registered.Reset();
    ok = SUCCEEDED(UnRegisterTypeLib(LIBID_NibWordLib, 1, 0, 0x0409, OwnSysKind())) && ok;
  }
  return ok ? S_OK : E_FAIL;
}

}  // namespace nib::server
