// office-double.exe: a local COM server standing in for Word (and, later,
// Excel and PowerPoint) in the test prefix. Every instance is a process of
// its own, as Word gives a private instance to each creator.
//   office-double.exe /RegServer | /UnregServer | -Embedding

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "Control.h"
#include "DynDispatch.h"
#include "OtherOffice.h"
#include "WordDouble.h"

namespace doubles {
namespace {

bool instanceCreated = false;

// One process serves one application: COM starts it with that application's switch.
struct Application {
  const wchar_t* switchName;
  const CLSID* clsid;
  const wchar_t* progId;
  const wchar_t* description;
  IDispatch* (*create)();
};
constexpr Application kApplications[] = {
    {L"Word", &kWordClass, L"Word.Application", L"Microsoft Word Application (test double)", CreateWordApplication},
    {L"Excel", &kExcelClass, L"Excel.Application", L"Microsoft Excel Application (test double)", CreateExcelApplication},
    {L"PowerPoint", &kPowerPointClass, L"PowerPoint.Application", L"Microsoft PowerPoint Application (test double)",
     CreatePowerPointApplication},
};
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

constexpr wchar_t kWordDocumentClass[] = L"Word.Document.8";

int Register() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  bool ok = SetValue(kApplicationEventsKey, nullptr, L"ApplicationEvents2") &&
            SetValue(std::wstring(kApplicationEventsKey) + L"\\ProxyStubClsid32", nullptr, kDispatchProxy);
  for (const Application& app : kApplications) {
    std::wstring clsid = L"CLSID\\" + GuidText(*app.clsid);
    ok = ok && SetValue(clsid, nullptr, app.description) &&
         SetValue(clsid + L"\\LocalServer32", nullptr, L"\"" + std::wstring(path) + L"\" /" + app.switchName) &&
         SetValue(clsid + L"\\ProgID", nullptr, app.progId) && SetValue(app.progId, nullptr, app.description) &&
         SetValue(std::wstring(app.progId) + L"\\CLSID", nullptr, GuidText(*app.clsid));
  }
  // ".doc" opens with Word, as on a machine where Office is installed: the
  // product checks the registered editor before it opens a document.
  ok = ok && SetValue(L".doc", nullptr, kWordDocumentClass) &&
       SetValue(std::wstring(kWordDocumentClass) + L"\\shell\\Open\\command", nullptr,
                L"\"C:\\Program Files\\Microsoft Office\\Office\\WINWORD.EXE\" /n /dde");
  return ok ? 0 : 1;
}

int Unregister() {
  for (const Application& app : kApplications) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(*app.clsid)).c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, app.progId);
  }
  RegDeleteTreeW(HKEY_CLASSES_ROOT, kApplicationEventsKey);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, kWordDocumentClass);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L".doc");
  return 0;
}

class Factory final : public IClassFactory {
 public:
  explicit Factory(const Application& app) : app_(app) {}
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
      LogCall(app_.switchName, L"<create>", L"", L"refused");
      return CO_E_SERVER_EXEC_FAILURE;
    }
    instanceCreated = true;
    IDispatch* app = app_.create();
    HRESULT hr = app->QueryInterface(iid, out);
    app->Release();
    LogCall(app_.switchName, L"<create>", L"", SUCCEEDED(hr) ? L"ok" : L"failed");
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  const Application& app_;
};

// A server nobody asks for within a minute ends by itself.
void CALLBACK EndIfUnused(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (!instanceCreated) PostQuitMessage(0);
}

int Serve(const Application& app) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  SetServedApplication(app.switchName);
  Factory factory(app);
  DWORD cookie = 0;
  // Single use: the next creator gets a new process, a private instance.
  if (FAILED(CoRegisterClassObject(*app.clsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie))) {
    CoUninitialize();
    return 1;
  }
  SetTimer(nullptr, 0, 60000, EndIfUnused);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  CoRevokeClassObject(cookie);
  // The answer to the call that ended the loop (Quit) is still on its way out.
  DWORD until = GetTickCount() + 300;
  while (static_cast<LONG>(until - GetTickCount()) > 0) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  CoUninitialize();
  return 0;
}

}  // namespace
}  // namespace doubles

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  auto has = [&](const wchar_t* flag) {
    for (int i = 1; i < count; ++i)
      if ((words[i][0] == L'/' || words[i][0] == L'-') && _wcsicmp(words[i] + 1, flag) == 0) return true;
    return false;
  };
  int result = -1;
  if (has(L"RegServer")) result = doubles::Register();
  else if (has(L"UnregServer")) result = doubles::Unregister();
  for (const doubles::Application& app : doubles::kApplications)
    if (result == -1 && has(app.switchName)) result = doubles::Serve(app);
  if (result == -1) result = doubles::Serve(doubles::kApplications[0]);
  LocalFree(words);
  return result;
}
