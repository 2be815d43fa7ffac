#include "TestSupport.h"

#include "server/Guids.h"
#include "com/StrConv.h"
#include "services/Files.h"

namespace nib::test {

std::wstring Utf8ToWide(const std::string& utf8) {
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

namespace {
std::wstring ReasonMark() { return Utf8ToWide("\r\n原因: "); }
}  // namespace

std::wstring WithoutReason(const std::wstring& message) { return message.substr(0, message.rfind(ReasonMark())); }

std::wstring ReasonOf(const std::wstring& message) {
  size_t at = message.rfind(ReasonMark());
  return at == std::wstring::npos ? L"" : message.substr(at + ReasonMark().size());
}

std::string ReadAll(const std::string& path) {
  std::string text;
  LoadTextFile(text, path);
  return text;
}

std::string ServerFolder() { return WideToAnsi(BuildPath(L"docserver")); }

std::string ServerBase() {
  std::string port = ReadAll(ServerFolder() + "\\port");
  return port.empty() ? "" : "http://127.0.0.1:" + port;
}

std::wstring BuildPath(const std::wstring& relative) {
  std::wstring path = L"Z:" + Utf8ToWide(NIB_BUILD_DIR) + L"/" + relative;
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

std::wstring ReadClassesRootValue(const std::wstring& key, const wchar_t* name) {
  wchar_t value[1024];
  DWORD bytes = sizeof value;
  LONG result = RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &bytes);
  return result == ERROR_SUCCESS ? std::wstring(value) : L"<missing>";
}

bool ClassesRootKeyExists(const std::wstring& key) {
  HKEY handle;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

UniqueHandle StartProgram(const std::wstring& commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring line = commandLine;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return UniqueHandle();
  CloseHandle(process.hThread);
  return UniqueHandle(process.hProcess);
}

DWORD RunProgram(const std::wstring& commandLine) {
  UniqueHandle process = StartProgram(commandLine);
  if (!process) return static_cast<DWORD>(-1);
  WaitForSingleObject(process.Get(), 60000);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(process.Get(), &code);
  return code;
}

STDMETHODIMP TestSink::QueryInterface(REFIID iid, void** out) {
  if (iid == IID_IUnknown || iid == IID_IDispatch || (offerEvents_ && iid == DIID_INibWordEvents)) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP TestSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
  SinkCall call{id, {}, {}, GetCurrentThreadId()};
  for (UINT i = params->cArgs; i-- > 0;) {
    const VARIANT& arg = params->rgvarg[i];
    call.types.push_back(V_VT(&arg));
    if (V_VT(&arg) == VT_BSTR) call.strings.emplace_back(V_BSTR(&arg), SysStringLen(V_BSTR(&arg)));
  }
  calls.push_back(call);
  if (onCall) onCall(call);
  return failWith_;
}

}  // namespace nib::test
