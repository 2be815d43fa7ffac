// office-double.exe: a local COM server standing in for Word (and, later,
// Excel and PowerPoint) in the test prefix. Every instance is a process of
// its own, as Word gives a private instance to each creator.
//   office-double.exe /RegServer [/Editor:wps] | /UnregServer | -Embedding
// /RegServer registers it as Microsoft Office (Word, Excel, PowerPoint, and
// .doc opening with WINWORD.EXE); with /Editor:wps as WPS Office instead
// (KWPS/WPS.Application, KET/ET.Application, KWPP/WPP.Application, and .doc,
// .docx, .xls, .ppt opening with wps.exe, et.exe, wpp.exe), adding nothing of
// Office's. Both may be registered, one after the other. /UnregServer removes
// what either added.

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
  const wchar_t* olderProgId;  // WPS's names of its older versions; none for Office
  const wchar_t* description;
  IDispatch* (*create)();
  bool wps;
};
// The double's own class numbers for WPS's spreadsheet and presentation programs.
constexpr CLSID kWpsSheetClass = {0x00024500, 0x0000, 0x4B30, {0xA9, 0x77, 0xD2, 0x14, 0x85, 0x20, 0x36, 0xFF}};
constexpr CLSID kWpsPresentationClass = {0x91493441, 0x5A91, 0x4B30, {0xA9, 0x77, 0xD2, 0x14, 0x85, 0x20, 0x36, 0xFF}};
constexpr Application kApplications[] = {
    {L"Word", &kWordClass, L"Word.Application", nullptr, L"Microsoft Word Application (test double)",
     CreateWordApplication, false},
    {L"Excel", &kExcelClass, L"Excel.Application", nullptr, L"Microsoft Excel Application (test double)",
     CreateExcelApplication, false},
    {L"PowerPoint", &kPowerPointClass, L"PowerPoint.Application", nullptr,
     L"Microsoft PowerPoint Application (test double)", CreatePowerPointApplication, false},
    {L"WPS", &kWpsWriterClass, L"KWPS.Application", L"WPS.Application", L"WPS Writer Application (test double)",
     CreateWordApplication, true},
    {L"KET", &kWpsSheetClass, L"KET.Application", L"ET.Application", L"WPS Spreadsheets Application (test double)",
     CreateExcelApplication, true},
    {L"KWPP", &kWpsPresentationClass, L"KWPP.Application", L"WPP.Application",
     L"WPS Presentation Application (test double)", CreatePowerPointApplication, true},
};
// The file types each suite opens, and with which program.
struct Association {
  const wchar_t* extension;
  const wchar_t* documentClass;
  const wchar_t* command;
  bool wps;
};
constexpr Association kAssociations[] = {
    {L".doc", L"Word.Document.8", L"\"C:\\Program Files\\Microsoft Office\\Office\\WINWORD.EXE\" /n /dde", false},
    {L".doc", L"KWPS.Document.9", L"\"C:\\Program Files\\WPS Office\\office6\\wps.exe\" \"%1\"", true},
    {L".docx", L"KWPS.Document.12", L"\"C:\\Program Files\\WPS Office\\office6\\wps.exe\" \"%1\"", true},
    {L".xls", L"KET.Sheet.8", L"\"C:\\Program Files\\WPS Office\\office6\\et.exe\" \"%1\"", true},
    {L".ppt", L"KWPP.Presentation.8", L"\"C:\\Program Files\\WPS Office\\office6\\wpp.exe\" \"%1\"", true},
};
// PSDispatch: dispinterfaces and dual interfaces travel as IDispatch.
constexpr wchar_t kDispatchProxy[] = L"{00020420-0000-0000-C000-000000000046}";
constexpr const wchar_t* kEventsKeys[] = {L"Interface\\{000209FE-0000-0000-C000-000000000046}",
                                          L"Interface\\{000209FE-0000-4B30-A977-D214852036FF}"};

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

int Register(bool wps) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  bool ok = true;
  for (const wchar_t* key : kEventsKeys)
    ok = ok && SetValue(key, nullptr, L"ApplicationEvents2") &&
         SetValue(std::wstring(key) + L"\\ProxyStubClsid32", nullptr, kDispatchProxy);
  for (const Application& app : kApplications) {
    if (app.wps != wps) continue;
    std::wstring clsid = L"CLSID\\" + GuidText(*app.clsid);
    ok = ok && SetValue(clsid, nullptr, app.description) &&
         SetValue(clsid + L"\\LocalServer32", nullptr, L"\"" + std::wstring(path) + L"\" /" + app.switchName) &&
         SetValue(clsid + L"\\ProgID", nullptr, app.progId);
    for (const wchar_t* progId : {app.progId, app.olderProgId})
      if (progId)
        ok = ok && SetValue(progId, nullptr, app.description) &&
             SetValue(std::wstring(progId) + L"\\CLSID", nullptr, GuidText(*app.clsid));
  }
  // The programs that open the documents, as on a machine where the suite is
  // installed: the product must not take them for the automation servers.
  for (const Association& file : kAssociations) {
    if (file.wps != wps) continue;
    ok = ok && SetValue(file.extension, nullptr, file.documentClass) &&
         SetValue(std::wstring(file.documentClass) + L"\\shell\\Open\\command", nullptr, file.command);
  }
  return ok ? 0 : 1;
}

int Unregister() {
  for (const Application& app : kApplications) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(*app.clsid)).c_str());
    for (const wchar_t* progId : {app.progId, app.olderProgId})
      if (progId) RegDeleteTreeW(HKEY_CLASSES_ROOT, progId);
  }
  for (const wchar_t* key : kEventsKeys) RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
  for (const Association& file : kAssociations) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, file.documentClass);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, file.extension);
  }
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
  if (has(L"RegServer")) result = doubles::Register(has(L"Editor:wps"));
  else if (has(L"UnregServer")) result = doubles::Unregister();
  for (const doubles::Application& app : doubles::kApplications)
    if (result == -1 && has(app.switchName)) result = doubles::Serve(app);
  if (result == -1) result = doubles::Serve(doubles::kApplications[0]);
  LocalFree(words);
  return result;
}
