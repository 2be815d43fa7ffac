// NibWordHost.exe, the "nibword:" handler, as a browser starts it: jobs from
// allowed origins run the object end to end and report to the events
// address; anything else is refused with a message and a non-zero exit.

#include <windows.h>

#include <string>
#include <vector>

#include "DialogRobot.h"
#include "TestSupport.h"
#include "com/Handle.h"
#include "com/StrConv.h"
#include "services/Files.h"
#include "services/UniqueName.h"
#include "TrustSupport.h"

namespace nib::test {
namespace {

class Launcher : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    base = ServerBase();
    ASSERT_FALSE(base.empty()) << "the document server fixture is running";
    id = "host-" + NewUniqueName().substr(0, 8);
    ASSERT_TRUE(SaveTextFile("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nibdoc><text>Body</text></nibdoc>\n",
                             ServerFolder() + "\\files\\" + id + ".doc"));
  }
  // Serves `json` as this test's job; returns the link a page would open.
  std::string Job(const std::string& json, const std::string& name = "job") {
    EXPECT_TRUE(SaveTextFile(json, ServerFolder() + "\\files\\" + id + "-" + name + ".json"));
    return "nibword:" + base + "/" + id + "-" + name + ".json?id=" + id + "-" + name;
  }
  std::string Settings(const std::string& more = "") {
    return "[[\"SetDownURL\", \"" + base + "/" + id + ".doc\"], [\"SetUpURL\", \"" + base + "/upload?id=" + id +
           "&reply=OK\"], [\"setSucceedPrefix\", \"OK\"], [\"SetDestBaseFN\", \"notice.doc\"], "
           "[\"SetUserName\", \"\\u5f20\\u4e09\"], [\"SetFileSizeLmt\", 5000]" + more + "]";
  }
  std::string Events() { return base + "/events?id=" + id + "-events&append=1"; }
  // Starts the launcher as the browser does; an empty handle when it did not start.
  UniqueHandle StartHost(const std::string& link) {
    return StartProgram(L"\"" + BuildPath(L"NibWordHost.exe") + L"\" \"" + AnsiToWide(link, CP_UTF8) + L"\"");
  }
  // The launcher's exit code once it ended (a code of ours when it did not).
  static DWORD ExitOf(const UniqueHandle& process) {
    if (!process) return 0xFFFFFFFF;
    if (WaitForSingleObject(process.Get(), 90000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "the launcher did not end; its windows: " << WindowsOf(GetProcessId(process.Get()));
      TerminateProcess(process.Get(), 99);
      return 0xFFFFFFFE;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    return code;
  }
  // What a process shows, for a failure's message: "class 'title' (hidden); ...".
  static std::string WindowsOf(DWORD processId) {
    WindowList found{processId, ""};
    EnumWindows(AddWindowOf, reinterpret_cast<LPARAM>(&found));
    return found.list.empty() ? "none" : found.list;
  }
  struct WindowList {
    DWORD processId;
    std::string list;
  };
  static BOOL CALLBACK AddWindowOf(HWND window, LPARAM param) {
    auto* found = reinterpret_cast<WindowList*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != found->processId) return TRUE;
    wchar_t windowClass[64] = L"", title[128] = L"";
    GetClassNameW(window, windowClass, 64);
    GetWindowTextW(window, title, 128);
    found->list += WideToAnsi(windowClass, CP_UTF8) + " '" + WideToAnsi(title, CP_UTF8) + "'" +
                   (IsWindowVisible(window) ? "" : " (hidden)");
    // A message box's text is in its static controls.
    EnumChildWindows(window, AddStaticText, reinterpret_cast<LPARAM>(&found->list));
    found->list += "; ";
    return TRUE;
  }
  static BOOL CALLBACK AddStaticText(HWND child, LPARAM param) {
    wchar_t childClass[32] = L"", text[512] = L"";
    GetClassNameW(child, childClass, 32);
    if (lstrcmpiW(childClass, L"Static") == 0 && GetWindowTextW(child, text, 512) > 0)
      *reinterpret_cast<std::string*>(param) += " \"" + WideToAnsi(text, CP_UTF8) + "\"";
    return TRUE;
  }
  DWORD RunHost(const std::string& link) { return ExitOf(StartHost(link)); }
  std::string Record(const std::string& name, const char* part) {
    return ReadAll(ServerFolder() + "\\records\\" + name + "." + part);
  }
  std::string base, id;
};

TEST_F(Launcher, AJobFromAnAllowedOriginRunsEndToEnd) {
  AllowedOrigins allowed({base + "/"});
  // The page answers the open's first event with one more setting: applied at once.
  std::string answer = "{\"settings\": [[\"SetUpURL\", \"" + base + "/upload?id=" + id + "-answered&reply=OK\"]]}";
  std::string events = Events() + "&reply=" + QueryText(answer);
  std::string link = Job("{\"settings\": " + Settings() + ", \"open\": [\"3\", \"\"], \"events\": \"" + events + "\"}");
  EXPECT_EQ(RunHost(link), 0u);
  EXPECT_FALSE(Record(id + "-job", "get").empty()) << "the job was fetched";
  EXPECT_EQ(Record(id + "-answered", "body").substr(0, 2), "PK") << "converted and uploaded where the answer said";
  std::string posted = Record(id + "-events", "body");
  EXPECT_NE(posted.find("{\"event\":[\"TempletFN\""), std::string::npos) << posted;
  EXPECT_NE(posted.find("{\"result\":\"OK:"), std::string::npos) << posted;
  EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr) << "no Word left running";
}

// The user's own cycle: the launcher shows the control window, the user
// presses 保存并关闭, and the launcher ends once the page was told.
TEST_F(Launcher, AnInteractiveCycleEndsWithTheUsersSave) {
  AllowedOrigins allowed({base});
  UniqueHandle host = StartHost(Job("{\"settings\": " + Settings() + ", \"open\": [\"1\", \"\"], \"events\": \"" +
                                    Events() + "\"}"));
  ASSERT_TRUE(host);
  HWND button = nullptr;
  for (int i = 0; i < 300 && !button; ++i) {
    HWND window = FindWindowW(L"TFrmUserCtrlPop", nullptr);
    HWND toolbar = window ? FindWindowExW(window, nullptr, L"TToolBar", nullptr) : nullptr;
    button = toolbar ? GetDlgItem(toolbar, 100) : nullptr;  // 保存并关闭
    if (!button) Sleep(100);
  }
  ASSERT_NE(button, nullptr) << "the control window came up";
  EXPECT_EQ(WaitForSingleObject(host.Get(), 500), static_cast<DWORD>(WAIT_TIMEOUT)) << "the launcher waits for the user";
  for (int i = 0; i < 300 && !IsWindowEnabled(button); ++i) Sleep(100);  // the user waits for the open to finish
  ASSERT_TRUE(IsWindowEnabled(button));
  SendMessageW(button, BM_CLICK, 0, 0);
  DWORD code = ExitOf(host);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(Record(id, "body").substr(0, 2), "PK") << "the user's save went up";
  std::string posted = Record(id + "-events", "body");
  EXPECT_NE(posted.find("{\"result\":\"\"}"), std::string::npos) << posted;
  EXPECT_NE(posted.find("{\"event\":[\"quit\",\"Save\""), std::string::npos) << posted;
  EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr) << "no Word left running";
  EXPECT_EQ(FindWindowW(L"TFrmUserCtrlPop", nullptr), nullptr);
}

// The document cannot be downloaded: the object tells the user, the page
// hears the (empty) result, and the exit says nothing was opened.
TEST_F(Launcher, AFailedOpenIsToldAndNoSuccess) {
  AllowedOrigins allowed({base});
  std::string settings = "[[\"SetDownURL\", \"" + base + "/" + id + "-missing.doc\"], [\"SetUpURL\", \"" + base +
                         "/upload?id=" + id + "&reply=OK\"], [\"setSucceedPrefix\", \"OK\"]]";
  DialogRobot robot(L"OK");
  DWORD code = RunHost(Job("{\"settings\": " + settings + ", \"open\": [\"1\", \"\"], \"events\": \"" + Events() + "\"}"));
  EXPECT_EQ(code, 4u);
  EXPECT_NE(robot.Seen().text.find(Utf8ToWide("不能正确下载目标文档")), std::wstring::npos);
  EXPECT_NE(Record(id + "-events", "body").find("{\"result\":\"\"}"), std::string::npos);
  EXPECT_EQ(Record(id, "body"), "") << "nothing uploaded";
  EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr);
}

// Each refusal: a message, a non-zero exit, nothing run.
TEST_F(Launcher, RefusalsAreToldAndNothingRuns) {
  std::string port = base.substr(base.rfind(':') + 1);
  AllowedOrigins allowed({"http://localhost:" + port, "http://127.0.0.1:1"});
  auto refused = [&](const std::string& link, const char* why) {
    DialogRobot robot(L"", false, 0, L"#32770");
    DWORD code = RunHost(link);
    EXPECT_NE(code, 0u) << why;
    EXPECT_LT(code, 10u) << why << ": an exit of its own, not a crash";
    EXPECT_NE(robot.Seen().text.find(Utf8ToWide("不能运行该任务")), std::wstring::npos) << why;
    return robot.Seen().text;
  };
  // 127.0.0.1 is not the allowed "localhost": the job is never fetched. The
  // clerk reads why in Chinese; the English detail is the log's.
  std::wstring told = refused("nibword:" + base + "/" + id + ".json?id=" + id + "-foreign", "another origin");
  EXPECT_NE(told.find(Utf8ToWide("管理员没有允许的网站")), std::wstring::npos) << WideToAnsi(told, CP_UTF8);
  EXPECT_EQ(told.find(L"allowed origins"), std::wstring::npos);
  EXPECT_EQ(Record(id + "-foreign", "get"), "") << "nothing fetched from it";
  refused("nibword:file:///C:/windows/win.ini", "a local file");
  refused("https://oa.example/job", "not a nibword: link");
  {
    AllowedOrigins none({});
    refused(Job("{}", "unlisted"), "no list allows nothing");
    EXPECT_EQ(Record(id + "-unlisted", "get"), "");
  }

  AllowedOrigins ours({base});
  std::string local = "http://localhost:" + port;
  auto job = [&](const std::string& settings) {
    return "{\"settings\": " + settings + ", \"open\": [\"3\", \"\"], \"events\": \"" + Events() + "\"}";
  };
  refused(Job("{\"settings\": [", "malformed"), "malformed JSON");
  told = refused("nibword:" + base + "/" + id + "-no-such-job.json", "a job the server refuses");
  EXPECT_NE(told.find(Utf8ToWide("不能从服务器取得编辑任务")), std::wstring::npos) << WideToAnsi(told, CP_UTF8);
  EXPECT_NE(told.find(Utf8ToWide("原因: ")), std::wstring::npos) << "with the server's answer";
  refused(Job(job("[[\"SetUpURL\", \"" + local + "/upload?id=" + id + "-elsewhere\"]]"), "outside"),
          "an upload address outside the allowed origins");
  refused(Job(job("[[\"SetDownURL\", \"file:///C:/windows/win.ini\"]]"), "localfile"), "a local file as the document");
  refused(Job(job("[[\"NoSuchMember\", 1]]"), "unknown"), "an unknown member");
  refused(Job(job("[[\"OpenFile\", \"1\", \"\"]]"), "action"), "a member that is not a setter");
  refused(Job(job("[[\"SetFileSizeLmt\", \"big\"]]"), "types"), "a wrong value type");
  refused(Job(job("[[\"SetShowTrack\", 1]]"), "bool"), "a number for true/false");
  refused(Job("{\"settings\": [], \"events\": \"" + Events() + "\"}", "noopen"), "nothing to open");
  // Read as the object reads them: names in any case, addresses behind bytes it trims.
  refused(Job(job("[[\"setupurl\", \"" + local + "/upload?id=" + id + "-elsewhere\"]]"), "case"),
          "a member named in another case with an address outside");
  refused(Job(job("[[\"SetDownURL\", \"\\u0001" + local + "/" + id + ".doc?id=" + id + "-hidden\"]]"), "control"),
          "an address behind a control character");
  refused(Job(job("[[\"invokeUseTemplate\", \"ht\"]]"), "actioncase"), "an action named in another case");
  EXPECT_EQ(Record(id + "-hidden", "get"), "") << "the hidden address was not fetched";
  EXPECT_EQ(Record(id + "-elsewhere", "body"), "") << "nothing uploaded";
  EXPECT_EQ(Record(id + "-events", "body"), "") << "no job ran far enough to report";
  EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr);
}

// A job on an allowed origin that redirects to another origin is not
// followed; property puts are settings; the events go as JSON, said so, and
// the first tells the object's version.
TEST_F(Launcher, RedirectsPropertyPutsAndTheStartedPost) {
  std::string port = base.substr(base.rfind(':') + 1);
  AllowedOrigins allowed({base});
  std::string elsewhere = "http://localhost:" + port + "/" + id + "-other.json?id=" + id + "-other";
  ASSERT_TRUE(SaveTextFile("{\"open\": [\"3\", \"\"], \"events\": \"" + Events() + "\"}",
                           ServerFolder() + "\\files\\" + id + "-other.json"));
  {
    DialogRobot robot(L"", false, 0, L"#32770");
    EXPECT_NE(RunHost("nibword:" + base + "/hop.json?redirect=" + QueryText(elsewhere)), 0u);
    EXPECT_NE(robot.Seen().text.find(Utf8ToWide("不能运行该任务")), std::wstring::npos);
  }
  EXPECT_EQ(Record(id + "-other", "get"), "") << "the other origin's job was not fetched";

  std::string link = Job("{\"settings\": " + Settings(", [\"SetFontName\", \"\\u5b8b\\u4f53\"], [\"SetFontSize\", 12]") +
                         ", \"open\": [\"3\", \"\"], \"events\": \"" + Events() + "\"}");
  EXPECT_EQ(RunHost(link), 0u) << "SetFontName and SetFontSize are settings";
  std::string posted = Record(id + "-events", "body");
  EXPECT_EQ(posted.rfind("{\"started\":{\"version\":\"", 0), 0u) << posted;
  EXPECT_NE(Record(id + "-events", "meta").find("Content-Type: application/json; charset=utf-8"), std::string::npos)
      << Record(id + "-events", "meta");
  EXPECT_EQ(Record(id, "body").substr(0, 2), "PK");
}

// An events address that does not answer: the cycle still runs (the work is
// not thrown away), the user is told, and the exit says it failed.
TEST_F(Launcher, AnEventsAddressThatDoesNotAnswer) {
  AllowedOrigins allowed({base, "http://127.0.0.1:1"});
  std::string link = Job("{\"settings\": " + Settings() +
                         ", \"open\": [\"3\", \"\"], \"events\": \"http://127.0.0.1:1/events\"}");
  DialogCatcher catcher;
  DWORD code = RunHost(link);
  std::vector<std::wstring> shown = catcher.Texts();
  EXPECT_EQ(code, 3u);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(WithoutReason(shown[0]), Utf8ToWide("Http请求未成功,可能是目标地址不可用,请与管理员联系!"));
  EXPECT_EQ(ReasonOf(shown[0]).rfind(Utf8ToWide("无法连接服务器"), 0), 0u) << WideToAnsi(shown[0], CP_UTF8);
  EXPECT_EQ(Record(id, "body").substr(0, 2), "PK") << "the document itself went up";
  EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr);
}

}  // namespace
}  // namespace nib::test
