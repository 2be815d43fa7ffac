#include "Control.h"

#include <cwchar>
#include <cwctype>

namespace doubles {
namespace {

std::wstring Read(const wchar_t* section, const std::wstring& key) {
  wchar_t value[1024] = L"";
  GetPrivateProfileStringW(section, key.c_str(), L"", value, 1024, kControlFile);
  return value;
}

std::wstring ReadFor(const wchar_t* section, const std::wstring& object, const std::wstring& member) {
  std::wstring value = Read(section, object + L"." + member);
  return value.empty() ? Read(section, member) : value;
}

}  // namespace

std::wstring InjectedFailure(const std::wstring& object, const std::wstring& member) {
  return ReadFor(L"fail", object, member);
}

DWORD InjectedDelay(const std::wstring& object, const std::wstring& member) {
  return static_cast<DWORD>(_wtoi(ReadFor(L"slow", object, member).c_str()));
}

bool CreationRefused() { return Read(L"create", L"fail") == L"1"; }

namespace {
bool modalDialogOpen = false;  // the double's one apartment thread is its only user
}  // namespace

void SetModalDialogOpen(bool open) { modalDialogOpen = open; }

namespace {
DWORD startedAt = 0;
}  // namespace

DWORD SettleMs(const wchar_t* key) { return static_cast<DWORD>(_wtoi(Read(L"settle", key).c_str())); }

void MarkStarted() { startedAt = GetTickCount(); }

bool InjectedBusy() {
  bool starting = startedAt && GetTickCount() - startedAt < SettleMs(L"start");
  return starting || modalDialogOpen || Read(L"busy", L"on") == L"1";
}

std::wstring Setting(const wchar_t* section, const wchar_t* key) { return Read(section, key); }

namespace {
std::wstring servedApplication = L"Word";
}  // namespace

void SetServedApplication(const std::wstring& name) { servedApplication = name; }
const std::wstring& ServedApplication() { return servedApplication; }

bool WpsIdentity() { return servedApplication == L"WPS"; }

bool MemberMissing(const std::wstring& object, const std::wstring& member) {
  std::wstring list = L"," + Read(L"wps", L"missing") + L",";
  for (wchar_t& c : list) c = towlower(c);
  std::wstring name = L"," + object + L"." + member + L",";
  for (wchar_t& c : name) c = towlower(c);
  return list.find(name) != std::wstring::npos;
}

long WordVersion() {
  long version = _wtol(Read(L"word", L"version").c_str());
  return version > 0 ? version : 16;
}

bool LocaleRefused(LCID locale) {
  return servedApplication == L"Excel" && Read(L"excel", L"english") == L"1" && locale != 1033;
}

std::wstring WordCaptionStyle() {
  std::wstring style = Read(L"word", L"caption");
  if (!style.empty()) return style;
  return WpsIdentity() ? L"WPS \x6587\x5B57" : L"Microsoft Word";  // "WPS 文字"
}

void LogCall(const std::wstring& object, const std::wstring& member, const std::wstring& args,
             const std::wstring& outcome, LCID locale) {
  CreateDirectoryW(kControlFolder, nullptr);
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t time[16];
  swprintf(time, 16, L"%02u:%02u:%02u.%03u", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  std::wstring line = std::to_wstring(GetCurrentProcessId()) + L"\t" + object + L"." + member + L"\t" + args + L"\t" +
                      outcome + L"\t" + (locale == kNoLocale ? std::wstring(L"-") : L"lcid=" + std::to_wstring(locale)) +
                      L"\t" + time + L"\r\n";
  int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(), bytes, nullptr, nullptr);
  // Several doubles may log at once: append under the file's own lock.
  HANDLE file = CreateFileW(kCallLog, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace doubles
