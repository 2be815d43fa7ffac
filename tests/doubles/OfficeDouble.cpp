// office-double.exe: a local COM server standing in for Word (and, later,
// Excel and PowerPoint) in the test prefix. Every instance is a process of
// its own, as Word gives a private instance to each creator.
//   office-double.exe /RegServer | /UnregServer | -Embedding

#include <windows.h>
#include <objbase.h>

#include <string>

#include "Control.h"
#include "DynDispatch.h"
#include "WordDouble.h"

namespace doubles {
namespace {

constexpr wchar_t kWordProgId[] = L"Word.Application";
bool instanceCreated = false;
// PSDispatch: dispinterfaces and dual interfaces travel as IDispatch.
constexpr wchar_t kDispatchProxy[] = L"{00020420-0000-0000-C000-000000000046}";
constexpr wchar_t kApplicationEventsKey[] = L"Interface\\{000209FE-0000-0000-C000-000000000046}";

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

bool SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) != ERROR_SUCCESS)
    return false;
  LONG result = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return result == ERROR_SUCCESS;
}

int Register() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring clsid = L"CLSID\\" + GuidText(kWordClass);
  bool ok = SetValue(clsid, nullptr, L"Microsoft Word Application (test double)") &&
            SetValue(clsid + L"\\LocalServer32", nullptr, L"\"" + std::wstring(path) + L"\"") &&
            SetValue(clsid + L"\\ProgID", nullptr, kWordProgId) && SetValue(kWordProgId, nullptr, L"Microsoft Word Application") &&
            SetValue(std::wstring(kWordProgId) + L"\\CLSID", nullptr, GuidText(kWordClass)) &&
            SetValue(kApplicationEventsKey, nullptr, L"ApplicationEvents2") &&
            SetValue(std::wstring(kApplicationEventsKey) + L"\\ProxyStubClsid32", nullptr, kDispatchProxy);
  return ok ? 0 : 1;
}

int Unregister() {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(kWordClass)).c_str());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, kWordProgId);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, kApplicationEventsKey);
  return 0;
}

class Factory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (CreationRefused()) {
      LogCall(L"Application", L"<create>", L"", L"refused");
      return CO_E_SERVER_EXEC_FAILURE;
    }
    instanceCreated = true;
    IDispatch* app = CreateWordApplication();
    HRESULT hr = app->QueryInterface(iid, out);
    app->Release();
    LogCall(L"Application", L"<create>", L"", SUCCEEDED(hr) ? L"ok" : L"failed");
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

int Serve() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  Factory factory;
  DWORD cookie = 0;
  // Single use: the next creator gets a new process, a private instance.
  if (FAILED(CoRegisterClassObject(kWordClass, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie))) {
    CoUninitialize();
    return 1;
  }
  // A server nobody asks for within a minute ends by itself.
  SetTimer(nullptr, 0, 60000, [](HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (!instanceCreated) PostQuitMessage(0);
  });
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  CoRevokeClassObject(cookie);
  CoUninitialize();
  return 0;
}

}  // namespace
}  // namespace doubles

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  std::wstring line = commandLine ? commandLine : L"";
  auto has = [&](const wchar_t* flag) {
    return line.find(std::wstring(L"/") + flag) != std::wstring::npos || line.find(std::wstring(L"-") + flag) != std::wstring::npos;
  };
  if (has(L"RegServer") || has(L"regserver")) return doubles::Register();
  if (has(L"UnregServer") || has(L"unregserver")) return doubles::Unregister();
  return doubles::Serve();
}
