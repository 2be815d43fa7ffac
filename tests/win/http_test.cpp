// Transfers against the local document server: downloads, uploads with their
// failures, the XML fetch, and SetXMLCont fetching its XML.

#include <windows.h>
#include <urlmon.h>

#include <fstream>
#include <random>

#include "DialogRobot.h"
#include "TestSupport.h"
#include "automation/NibWordImpl.h"
#include "services/PageValues.h"
#include "com/BStr.h"
#include "com/ComError.h"
#include "com/Handle.h"
#include "com/StrConv.h"
#include "services/Files.h"
#include "services/HttpUploader.h"
#include "services/JustHttp.h"
#include "services/UniqueName.h"
#include "services/XMLHttpWrapU.h"

using Microsoft::WRL::ComPtr;

namespace nib::test {
namespace {

std::string RandomBytes(size_t size) {
  std::mt19937 generator(11);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(generator());
  return data;
}

class Http : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    base = ServerBase();
    ASSERT_FALSE(base.empty()) << "the document server fixture is running";
    work = TempFolderPath() + "nib-http-" + NewUniqueName();
    CreateDirectoryA(work.c_str(), nullptr);
  }
  void TearDown() override {
    DeleteTree(work);
    ComApartment::TearDown();
  }
  // A file the server serves.
  void Serve(const std::string& name, const std::string& data) {
    ASSERT_TRUE(SaveTextFile(data, ServerFolder() + "\\files\\" + name));
  }
  std::string Record(const std::string& id, const char* part) {
    return ReadAll(ServerFolder() + "\\records\\" + id + "." + part);
  }
  std::string LocalFile(const std::string& data) {
    std::string path = work + "\\" + NewUniqueName() + ".Qoz";
    SaveTextFile(data, path);
    return path;
  }
  std::string base, work;
};

TEST_F(Http, Downloads) {
  const std::string document = RandomBytes(300 * 1024);
  Serve("notice.doc", document);
  std::string target = work + "\\\xCD\xA8\xD6\xAA.doc";  // "通知.doc"
  EXPECT_TRUE(TJustHttp::DownloadToFile(base + "/notice.doc", target));

  EXPECT_TRUE(ReadAll(target) == document) << "byte-identical: " << ReadAll(target).size() << " bytes";

  std::string missing = work + "\\missing.doc";
  EXPECT_FALSE(TJustHttp::DownloadToFile(base + "/no-such.doc", missing)) << "404";
  EXPECT_FALSE(FileExists(missing)) << "the error page is not kept as the document";
  EXPECT_FALSE(TJustHttp::DownloadToFile(base + "/notice.doc?status=500", missing));
  EXPECT_FALSE(TJustHttp::DownloadToFile(base + "/notice.doc", work + "\\no\\such\\folder\\a.doc"))
      << "an unwritable local path is a failure, not an error";
  EXPECT_FALSE(TJustHttp::DownloadToFile("http://127.0.0.1:1/notice.doc", missing)) << "nothing listens";

  // The file is the caller's the moment the call returns: the transfer's
  // worker holds no handle to it (the launcher reads its job at once).
  Serve("small.json", "{}");
  int unopenable = 0;
  for (int i = 0; i < 30; ++i) {
    std::string small = work + "\\small" + std::to_string(i) + ".json";
    ASSERT_TRUE(TJustHttp::DownloadToFile(base + "/small.json", small));
    UniqueHandle alone(CreateFileA(small.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!alone) ++unopenable;
  }
  EXPECT_EQ(unopenable, 0) << "downloads whose file was still held when the call returned";
}

TEST_F(Http, UploadArrivesWithItsReply) {
  const std::string archive = RandomBytes(5 * 1024 * 1024);
  std::string path = LocalFile(archive);
  // Word may hold the file while it is sent.
  UniqueHandle word(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(word);
  TJustHttp http;
  EXPECT_EQ(http.TimeOut(), 2147483647);
  // The reply "  <b>OK:通知</b>\r\n", UTF-8 in the query, comes back as GB2312.
  std::string reply = http.UploadFile(base + "/save?id=big&isSave=OnlySave&reply=%20%20%3Cb%3EOK:%E9%80%9A%E7%9F%A5%3C/b%3E%0D%0A", path);
  EXPECT_EQ(reply, Gb("<b>OK:通知</b>")) << "trimmed at both ends, markup kept";
  EXPECT_TRUE(http.LastUploadDelivered());
  EXPECT_TRUE(Record("big", "body") == archive) << "the raw bytes, byte-identical: " << Record("big", "body").size();
  std::string meta = Record("big", "meta");
  EXPECT_NE(meta.find("Content-Type: text/html\n"), std::string::npos) << meta;
  EXPECT_NE(meta.find("query: id=big&isSave=OnlySave"), std::string::npos) << meta;
  EXPECT_NE(meta.find("path: /save\n"), std::string::npos) << meta;

  EXPECT_THROW(http.UploadFile(base + "/save", work + "\\missing.Qoz"), ComError) << "the local file must open";
  // It speaks as the host's browser does.
  char agent[512];
  DWORD agentSize = sizeof agent;
  ASSERT_EQ(ObtainUserAgentString(0, agent, &agentSize), S_OK);
  EXPECT_NE(meta.find(std::string("User-Agent: ") + agent + "\n"), std::string::npos) << meta;
}

// The page's session rides with the upload: the cookie a download was given,
// and a persistent one the browser stored in an earlier visit.
TEST_F(Http, UploadCarriesTheSessionsCookies) {
  const std::string document = RandomBytes(64 * 1024);
  std::string path = LocalFile(document);
  Serve("session.doc", "the server's document");
  std::string session = "s" + NewUniqueName().substr(0, 8);
  TJustHttp http;
  {
    DialogRobot robot(L"", false, 0, L"#32770");
    EXPECT_EQ(http.UploadFile(base + "/save?id=" + session + "-early&guard=" + session + "&reply=OK", path), "");
    EXPECT_FALSE(http.LastUploadDelivered()) << "no session yet: sent to the login page, which is no reply";
    EXPECT_EQ(robot.Seen().text,
              Utf8ToWide("Http请求未成功,可能是目标地址不可用,请与管理员联系!\r\n原因: 被重定向到登录页 (HTTP 302)"));
  }
  EXPECT_FALSE(Record(session + "-early", "refused").empty()) << "the server saw it and refused it";
  EXPECT_EQ(Record(session + "-early", "body"), "");

  ASSERT_TRUE(TJustHttp::DownloadToFile(base + "/session.doc?session=" + session, work + "\\session.doc"));
  EXPECT_EQ(http.UploadFile(base + "/save?id=" + session + "&guard=" + session + "&reply=OK", path), "OK");
  EXPECT_TRUE(http.LastUploadDelivered());
  EXPECT_TRUE(Record(session, "body") == document);
  EXPECT_NE(Record(session, "meta").find("Cookie: nib_" + session + "="), std::string::npos) << Record(session, "meta");

  std::string kept = "k" + NewUniqueName().substr(0, 12);
  std::wstring store = L"\"" + BuildPath(L"tests/win/cookie_store.exe") + L"\" \"" + AnsiToWide(base) + L"/\" \"nibkeep=" +
                       AnsiToWide(kept) + L"; expires=Fri, 01 Jan 2038 00:00:00 GMT\"";
  ASSERT_EQ(RunProgram(store), 0u) << "the browser stored the cookie";
  EXPECT_EQ(http.UploadFile(base + "/save?id=" + kept + "&need=nibkeep%3D" + kept + "&reply=OK", path), "OK");
  EXPECT_TRUE(Record(kept, "body") == document) << "the stored cookie went with it: " << Record(kept, "refused");
}

// Each failure says why: the status and what the server said, or in words
// what happened when nothing answered.
TEST_F(Http, UnreachableOrRefusingTargetsAreFailures) {
  std::string path = LocalFile("document");
  TJustHttp http;
  const std::pair<std::string, std::string> cases[] = {
      {"http://127.0.0.1:1/save", "无法连接服务器 (WinINet 12029)"},
      {base + "/save?status=500&reply=OK", "服务器回答 HTTP 500: OK"},
      {base + "/save?drop=1", "服务器没有回答 (WinINet "},
      {base + "/save?status=404&reply=OK", "服务器回答 HTTP 404: OK"},
      // A logon the object cannot give (no password to offer, none asked of the user).
      {base + "/save?status=401&authenticate=Basic%20realm%3D%22oa%22&reply=ERR%20login", "服务器回答 HTTP 401: ERR login"},
      {base + "/save?status=401&authenticate=Negotiate&reply=ERR%20login", "服务器回答 HTTP 401: ERR login"},
      // A long error page: its text, without markup, at most 200 characters.
      {base + "/save?status=413&reply=%3Chtml%3E%3Cbody%3E%3Ch1%3E%E6%96%87%E4%BB%B6%E5%A4%AA%E5%A4%A7%3C/h1%3E%0D%0A"
              "%3Cp%3E" + std::string(300, 'x') + "%3C/p%3E%3C/body%3E%3C/html%3E",
       "服务器回答 HTTP 413: 文件太大 " + std::string(195, 'x') + "..."}};
  for (const auto& [url, reason] : cases) {
    DialogRobot robot(L"", false, 0, L"#32770");
    EXPECT_EQ(http.UploadFile(url, path), "") << url;
    EXPECT_FALSE(http.LastUploadDelivered()) << url << ": never taken for a successful upload";
    const SeenDialog& seen = robot.Seen();
    EXPECT_EQ(WithoutReason(seen.text), Utf8ToWide("Http请求未成功,可能是目标地址不可用,请与管理员联系!")) << url;
    EXPECT_EQ(ReasonOf(seen.text).substr(0, Utf8ToWide(reason).size()), Utf8ToWide(reason))
        << url << ": " << WideToAnsi(seen.text, CP_UTF8);
    EXPECT_EQ(seen.buttons.size(), 1u) << url << ": one OK button";
    EXPECT_TRUE(http.LastUpload().reasonTold) << url;
  }
  EXPECT_EQ(FindWindowW(L"#32770", nullptr), nullptr) << "each message shown once";
}

// A redirect that turns the POST into a GET (to a login page, typically)
// never passes for a reply; 307 and 308 keep the body and are followed.
TEST_F(Http, UploadRedirects) {
  const std::string document = RandomBytes(200 * 1024);
  std::string path = LocalFile(document);
  TJustHttp http;
  // The login page exists: followed as a GET, it would answer 200.
  ASSERT_TRUE(SaveTextFile("<html><body>Please log in</body></html>", ServerFolder() + "\\files\\login.html"));
  for (const char* status : {"301", "302", "303"}) {
    std::string login = base + "/login.html?id=login" + status;
    DialogRobot robot(L"", false, 0, L"#32770");
    EXPECT_EQ(http.UploadFile(base + "/save?id=moved" + status + "&status=" + status + "&redirect=" + login, path), "");
    EXPECT_FALSE(http.LastUploadDelivered()) << status << ": the login page is no reply";
    EXPECT_EQ(robot.Seen().text, Utf8ToWide("Http请求未成功,可能是目标地址不可用,请与管理员联系!\r\n原因: 被重定向到登录页 (HTTP ") +
                                     Utf8ToWide(status) + L")");
  }
  for (const char* status : {"307", "308"}) {
    std::string id = std::string("kept") + status;
    std::string target = "/save?id=" + id + "%26reply=OK:" + status;  // relative, as servers send it
    std::string reply = http.UploadFile(base + "/save?id=first" + status + "&status=" + status + "&redirect=" + target, path);
    EXPECT_TRUE(http.LastUploadDelivered()) << status;
    EXPECT_EQ(reply, std::string("OK:") + status);
    EXPECT_TRUE(Record(id, "body") == document) << status << ": the whole body went to the new address";
  }
}

TEST_F(Http, TimeOutGivesAnEmptyReplyAndNoMessage) {
  std::string path = LocalFile("document");
  TJustHttp http;
  http.SetTimeOut(500);
  {
    DialogRobot robot(L"", false, 0, L"#32770");
    DWORD start = GetTickCount();
    EXPECT_EQ(http.UploadFile(base + "/save?delay=2500&reply=OK", path), "");
    EXPECT_LT(GetTickCount() - start, 2400u) << "the upload gave up at its time-out";
    EXPECT_FALSE(http.LastUploadDelivered());
    robot.Stop();
    EXPECT_FALSE(robot.SawDialog()) << "nothing is shown for a time-out";
  }
  http.SetTimeOut(10000);  // takes effect on the next upload
  EXPECT_EQ(http.UploadFile(base + "/save?delay=1000&reply=OK", path), "OK");
  EXPECT_TRUE(http.LastUploadDelivered());
}

// A server that stops reading must not freeze the save: with no time-out
// set, a transfer that moves no byte for the stall limit fails with its
// message and the reason; a time-out set keeps its meaning over the whole request.
TEST_F(Http, StalledServerFailsAfterTheLimit) {
  SetEnvironmentVariableW(L"NIBWORD_STALL_LIMIT_MS", L"2000");
  std::string path = LocalFile(RandomBytes(64 * 1024));
  TJustHttp http;
  {
    DialogRobot robot(L"", false, 0, L"#32770");
    DWORD start = GetTickCount();
    EXPECT_EQ(http.UploadFile(base + "/save?id=stalled&stall=20000&reply=OK", path), "");
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 1900u) << "not before the limit";
    EXPECT_LT(took, 8000u) << "soon after it";
    EXPECT_FALSE(http.LastUploadDelivered());
    EXPECT_EQ(robot.Seen().text,
              Utf8ToWide("Http请求未成功,可能是目标地址不可用,请与管理员联系!\r\n原因: 超时: 2 秒内服务器没有收发任何数据"));
  }
  // A download that never starts fails the same way, and says why.
  std::string reason;
  DWORD start = GetTickCount();
  EXPECT_FALSE(TJustHttp::DownloadToFile(base + "/notice.doc?delay=20000", work + "\\stalled.doc", {}, &reason));
  EXPECT_LT(GetTickCount() - start, 8000u);
  EXPECT_EQ(reason, Gb("超时: 2 秒内服务器没有收发任何数据"));
  // A slow server that keeps its time-out set by the page is waited for.
  http.SetTimeOut(20000);
  EXPECT_EQ(http.UploadFile(base + "/save?id=patient&stall=3000&reply=OK", path), "OK");
  EXPECT_TRUE(http.LastUploadDelivered()) << "3 s without a byte is within a 20 s time-out";
  SetEnvironmentVariableW(L"NIBWORD_STALL_LIMIT_MS", nullptr);
}

// The observer of a transfer: what the progress window is told, and its cancel.
class RecordingObserver final : public TransferObserver {
 public:
  explicit RecordingObserver(uint64_t cancelAt = 0) : cancelAt_(cancelAt) {}
  void OnProgress(const TransferProgress& progress) override {
    if (sent.empty() || sent.back() != progress.sent) sent.push_back(progress.sent);
    total = progress.sendTotal;
  }
  bool CancelRequested() override { return cancelAt_ && !sent.empty() && sent.back() >= cancelAt_; }
  std::vector<uint64_t> sent;
  uint64_t total = 0;

 private:
  uint64_t cancelAt_;
};

// The loopback's socket buffers take the first few megabytes at once: the
// file is large enough for the rest to move at the server's pace.
TEST_F(Http, ProgressIsToldAndCancelStops) {
  const std::string archive = RandomBytes(12 * 1024 * 1024);
  std::string path = LocalFile(archive);
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  THttpUploader uploader;
  RecordingObserver watching;
  uploader.SetObserver(&watching);
  UploadResult done = uploader.PostFile(base + "/save?id=watched&rate=6000000&reply=OK", file.Get(), true);
  EXPECT_TRUE(done.delivered);
  EXPECT_EQ(watching.total, archive.size());
  ASSERT_FALSE(watching.sent.empty());
  EXPECT_EQ(watching.sent.back(), archive.size()) << "the figures add up to the file's size";
  EXPECT_GE(watching.sent.size(), 4u) << "the bytes were told as they went";
  EXPECT_TRUE(Record("watched", "body") == archive);

  RecordingObserver cancelling(5 * 1024 * 1024);
  uploader.SetObserver(&cancelling);
  DialogRobot robot(L"", false, 0, L"#32770");
  UploadResult stopped = uploader.PostFile(base + "/save?id=stopped&rate=2000000&reply=OK", file.Get(), true);
  robot.Stop();
  EXPECT_FALSE(robot.SawDialog()) << "the user chose it: the caller tells it";
  EXPECT_FALSE(stopped.delivered);
  EXPECT_TRUE(stopped.cancelled);
  EXPECT_EQ(stopped.reason, Gb("用户取消"));
  EXPECT_LT(stopped.sentBytes, archive.size());
  EXPECT_EQ(Record("stopped", "body"), "") << "the server keeps no half upload";
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) *reinterpret_cast<DWORD*>(GetWindowLongPtrW(window, GWLP_USERDATA)) = GetTickCount();
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(Http, WindowMessagesFlowDuringASlowUpload) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = RecordingProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"NibRecording";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowW(L"NibRecording", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  DWORD handledAt = 0;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&handledAt));
  PostMessageW(window, WM_APP, 0, 0);  // a button press waiting in the queue
  TJustHttp http;
  std::string reply = http.UploadFile(base + "/save?delay=1500&reply=OK", LocalFile("document"));
  DWORD returnedAt = GetTickCount();
  EXPECT_EQ(reply, "OK");
  ASSERT_NE(handledAt, 0u) << "the message was processed during the upload";
  EXPECT_LT(handledAt, returnedAt - 1000) << "well before the upload returned";
  DestroyWindow(window);
}

TEST_F(Http, XmlFetch) {
  const std::string xml = Gb("<?xml version=\"1.0\" encoding=\"gb2312\"?><Root><BookMark Name=\"标题\" Text=\"通知\"/></Root>");
  Serve("fields.xml", xml);
  TXMLHttpWrap fetcher;

  EXPECT_EQ(fetcher.GetText(base + "/fields.xml"), xml);
  EXPECT_EQ(fetcher.GetText(base + "/fields.xml?type=text/xml"), xml) << "no charset: the XML declaration decides";
  // A server's error page is not the data: merged, it would fill nothing and pass for done.
  EXPECT_THROW(fetcher.GetText(base + "/no-such.xml"), ComError) << "404";
  EXPECT_THROW(fetcher.GetText(base + "/fields.xml?status=500"), ComError) << "500";
  EXPECT_EQ(fetcher.GetText(base + "/fields.xml"), xml) << "the same request object serves the next fetch";

  ComPtr<INibWord> object;
  ASSERT_EQ(TNibWord::Create(IID_INibWord, reinterpret_cast<void**>(object.GetAddressOf())), S_OK);
  BStr address = BStr::FromAnsi(base + "/fields.xml");
  EXPECT_EQ(object->SetXMLCont(2, address.Get()), S_OK);
  EXPECT_EQ(static_cast<TNibWord*>(object.Get())->Values().XMLKind, 2);
  EXPECT_EQ(static_cast<TNibWord*>(object.Get())->Values().XMLContent, xml) << "the fetched XML takes the address's place";

  BStr dead(L"http://127.0.0.1:1/fields.xml");
  EXPECT_TRUE(FAILED(object->SetXMLCont(2, dead.Get())));
  EXPECT_EQ(static_cast<TNibWord*>(object.Get())->Values().XMLContent, "http://127.0.0.1:1/fields.xml") << "a failed fetch leaves the address";
  EXPECT_EQ(static_cast<TNibWord*>(object.Get())->Settings().XMLGetType, 2) << "the object's fields were updated";
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BStr source;
  info->GetSource(source.Out());
  EXPECT_EQ(source.Wide(), L"NibWordLib.NibWord");
}

}  // namespace
}  // namespace nib::test
