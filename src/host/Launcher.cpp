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
#include "services/AdminLog.h"
#include "services/Files.h"
#include "services/Locale.h"
#include "services/JustHttp.h"
#include "services/Trust.h"
#include "services/UniqueName.h"

namespace nib::host {
namespace {

std::string FetchJob(const std::string& address, const TrustRule& rule) {
  std::string file = TempFolderPath() + "nibhost-" + NewUniqueName() + ".job";
  // Every redirect hop of the job's fetch is held to the list as well.
  std::string reason;
  bool fetched = TJustHttp::DownloadToFile(address, file, rule.AsAddressRule(), &reason);
  std::string text;
  if (fetched) LoadTextFile(text, file);
  DeleteFileA(file.c_str());
  // The reason holds the server's own refusal text, when it gave one.
  if (!fetched)
    throw JobError("the job could not be fetched from " + address + ": " + reason,
                   UiText(Gb("不能从服务器取得编辑任务,请回到网页重新打开文档。\r\n原因: ") + reason));
  return text;
}

int RunLink(const std::wstring& link) {
  std::string address = JobAddressOf(WideToAnsi(link, CP_UTF8));
  // No list means nothing is allowed.
  std::vector<std::string> allowed = AdministratorOrigins().value_or(std::vector<std::string>{});
  if (!IsOnOriginList(address, allowed))
    throw JobError("the job's site is not among the allowed origins: " + OriginOf(address),
                   UiText(Gb("任务来自管理员没有允许的网站: ")) + OriginOf(address));
  Job job = ParseJob(ParseJson(FetchJob(address, TrustRule::ForOrigins(allowed))));
  return JobRunner(allowed, address).Run(job);
}

// The detail goes to the log; the clerk reads `why` (the system's code page).
int Refused(const std::string& detail, const std::string& why) {
  AdminLog("launcher: the job cannot run: " + detail);
  Tell(AnsiToWide(UiText(Gb("不能运行该任务:\r\n")) + why));
  return 2;
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
  } catch (const JobError& e) {
    code = Refused(e.what(), e.clerk.empty() ? nib::UiText(nib::Gb("任务的内容不正确,请与管理员联系。")) : e.clerk);
  } catch (const std::exception& e) {
    code = Refused(e.what(), e.what());
  }
  CoUninitialize();
  return code;
}
