// NibWordHost.exe "nibword:<job address>": the handler of the "nibword:"
// protocol. A page in any browser opens a document through it: the job is
// fetched from an allowed origin only, and runs the object as a page would.

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "com/ComError.h"
#include "com/StrConv.h"
#include "host/JobRunner.h"
#include "services/Files.h"
#include "services/JustHttp.h"
#include "services/Trust.h"
#include "services/UniqueName.h"

namespace nib::host {
namespace {

std::string FetchJob(const std::string& address, const TrustRule& rule) {
  std::string file = TempFolderPath() + "nibhost-" + NewUniqueName() + ".job";
  // Every redirect hop of the job's fetch is held to the list as well.
  bool fetched = TJustHttp::DownloadToFile(address, file, rule.AsAddressRule());
  std::string text;
  if (fetched) LoadTextFile(text, file);
  DeleteFileA(file.c_str());
  if (!fetched) throw JobError("the job could not be fetched from " + address);
  return text;
}

int RunLink(const std::wstring& link) {
  std::string address = JobAddressOf(WideToAnsi(link, CP_UTF8));
  // No list means nothing is allowed.
  std::vector<std::string> allowed = AdministratorOrigins().value_or(std::vector<std::string>{});
  if (!IsOnOriginList(address, allowed)) throw JobError("the job's site is not among the allowed origins: " + OriginOf(address));
  Job job = ParseJob(ParseJson(FetchJob(address, TrustRule::ForOrigins(allowed))));
  return JobRunner(allowed, address).Run(job);
}

}  // namespace
}  // namespace nib::host

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  using namespace nib::host;
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring link = args && count == 2 ? args[1] : L"";
  LocalFree(args);
  if (link.empty()) {
    Tell(L"\u7528\u6cd5: NibWordHost.exe \"nibword:<\u4efb\u52a1\u5730\u5740>\"");  // 用法: ... <任务地址>
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 5;
  int code;
  try {
    code = RunLink(link);
  } catch (const std::exception& e) {
    // 不能运行该任务 (the job cannot run)
    Tell(L"\u4e0d\u80fd\u8fd0\u884c\u8be5\u4efb\u52a1:\r\n" + nib::AnsiToWide(e.what(), CP_UTF8));
    code = 2;
  }
  CoUninitialize();
  return code;
}
