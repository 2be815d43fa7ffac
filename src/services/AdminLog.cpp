#include "services/AdminLog.h"

#include <cctype>
#include <cstdio>
#include <mutex>

#include "com/Handle.h"
#include "com/StrConv.h"
#include "services/Policy.h"
#include "services/WebAddress.h"

namespace nib {
namespace {

constexpr ULONGLONG kRotateBytes = 1024 * 1024;
constexpr int kKeptOldFiles = 2;  // nibword.log.1 and nibword.log.2 beside the current one

// Lines of one process come from the page's thread and the transfer's
// worker; one writer at a time keeps them whole and the rotation single.
std::mutex& LogMutex() {
  static std::mutex mutex;
  return mutex;
}

std::wstring LocalAppData() {
  wchar_t buffer[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return buffer;
  length = GetEnvironmentVariableW(L"USERPROFILE", buffer, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return std::wstring(buffer) + L"\\AppData\\Local";
  return L"";
}

void Rotate(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return;
  ULARGE_INTEGER size{{data.nFileSizeLow, data.nFileSizeHigh}};
  if (size.QuadPart < kRotateBytes) return;
  for (int n = kKeptOldFiles; n > 1; --n)
    MoveFileExW((path + L"." + std::to_wstring(n - 1)).c_str(), (path + L"." + std::to_wstring(n)).c_str(),
                MOVEFILE_REPLACE_EXISTING);
  MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::string Stamp() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, GetCurrentProcessId());
  return stamp;
}

// Every web address in a line loses its query and credentials, whoever wrote
// the line (a message that names the address it failed on, a part's note).
std::string WithoutAddressSecrets(std::string_view text) {
  std::string out;
  size_t i = 0;
  auto startsAt = [&](size_t at, std::string_view scheme) {
    if (text.size() - at < scheme.size()) return false;
    for (size_t k = 0; k < scheme.size(); ++k)
      if (tolower(static_cast<unsigned char>(text[at + k])) != scheme[k]) return false;
    return true;
  };
  while (i < text.size()) {
    if (startsAt(i, "http://") || startsAt(i, "https://")) {
      size_t end = i;
      while (end < text.size() && static_cast<unsigned char>(text[end]) > 0x20 && text[end] != '"' &&
             text[end] != '\'' && text[end] != '<' && text[end] != '>')
        ++end;
      out += AddressForLog(text.substr(i, end - i));
      i = end;
      continue;
    }
    out += text[i++];
  }
  return out;
}

}  // namespace

bool AdminLogEnabled() {
  std::optional<DWORD> log = PolicyNumber(L"Log");
  return !log || *log != 0;
}

std::wstring AdminLogPath() {
  std::wstring base = LocalAppData();
  return base.empty() ? L"" : base + L"\\NibWordLib\\nibword.log";
}

void AdminLog(std::string_view ansiText) {
  try {
    if (!AdminLogEnabled()) return;
    std::wstring path = AdminLogPath();
    if (path.empty()) return;
    // One line per entry: a line break inside (a server's reply, a message) would forge another.
    std::wstring text = AnsiToWide(WithoutAddressSecrets(ansiText));
    for (wchar_t& c : text)
      if (c < 0x20) c = L' ';
    std::string line = Stamp() + WideToAnsi(text, CP_UTF8) + "\r\n";
    std::lock_guard lock(LogMutex());
    std::wstring folder = path.substr(0, path.rfind(L'\\'));
    CreateDirectoryW(folder.c_str(), nullptr);
    Rotate(path);
    UniqueHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  } catch (...) {
    // Out of memory while logging: the user's work goes on without the line.
  }
}

void AdminLogError(std::string_view step, HRESULT code, std::string_view ansiText) {
  char hr[16];
  std::snprintf(hr, sizeof hr, "0x%08lX", static_cast<unsigned long>(code));
  AdminLog("error in " + std::string(step) + ": HRESULT " + hr + " " + std::string(ansiText));
}

}  // namespace nib
