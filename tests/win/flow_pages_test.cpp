// Two pages of one office system open in one browser process: in two tabs
// (each its own thread and apartment) or in two frames of one page (one
// thread). Page A opens its document for editing and the user types; page B
// configures its own document, and perhaps tries to open it. A's edit must
// reach A's address only, A's page alone must hear of it, on A's thread, and
// nothing may be left running or in the temporary folder when both go.

#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <set>
#include <string>
#include <thread>

#include "DialogRobot.h"
#include "FlowFixture.h"
#include "TestSupport.h"
#include "com/BStr.h"
#include "com/StrConv.h"
#include "services/Files.h"
#include "services/TextUtil.h"

namespace nib::test {
namespace {

// A browser tab: a thread with its own single-threaded apartment that runs
// the steps it is given, pumping its messages in between.
class Tab {
 public:
  Tab() : done_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    thread_ = std::thread([this] { Loop(); });
    WaitForSingleObject(done_.Get(), 10000);  // the thread's queue exists
  }
  ~Tab() {
    PostThreadMessageW(id_, WM_QUIT, 0, 0);
    thread_.join();
  }
  DWORD Id() const { return id_; }
  // Runs `step` on the tab's thread; this thread's windows keep answering meanwhile.
  void Run(const std::function<void()>& step) {
    const std::function<void()>* posted = &step;
    ASSERT_TRUE(PostThreadMessageW(id_, WM_APP, 0, reinterpret_cast<LPARAM>(posted)));
    DWORD start = GetTickCount();
    HANDLE done = done_.Get();
    while (MsgWaitForMultipleObjects(1, &done, FALSE, 1000, QS_ALLINPUT) != WAIT_OBJECT_0) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      if (GetTickCount() - start > 120000) {
        ADD_FAILURE() << "the tab's step did not end";
        return;
      }
    }
  }

 private:
  void Loop() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    id_ = GetCurrentThreadId();
    SetEvent(done_.Get());
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (message.hwnd == nullptr && message.message == WM_APP) {
        (*reinterpret_cast<const std::function<void()>*>(message.lParam))();
        SetEvent(done_.Get());
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    CoUninitialize();
  }

  UniqueHandle done_;
  DWORD id_ = 0;
  std::thread thread_;
};

// Page B: its object, its sink and its own record name on the server.
struct SecondPage {
  ComPtr<INibWord> object;
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  TestSink sink;
  std::string id;

  void Create() {
    ASSERT_EQ(CoCreateInstance(CLSID_NibWord, nullptr, CLSCTX_INPROC_SERVER, IID_INibWord,
                               reinterpret_cast<void**>(object.GetAddressOf())), S_OK);
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(object.As(&container), S_OK);
    ASSERT_EQ(container->FindConnectionPoint(DIID_INibWordEvents, &point), S_OK);
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
  }
  void Set(HRESULT (STDMETHODCALLTYPE INibWord::*setter)(BSTR), const std::string& utf8) {
    BStr value(Utf8ToWide(utf8));
    EXPECT_EQ((object.Get()->*setter)(value.Get()), S_OK);
  }
  void Configure(const std::string& base) {
    Set(&INibWord::SetDownURL, base + "/" + id + ".doc?id=" + id + "-get");
    Set(&INibWord::SetUpURL, base + "/upload?id=" + id + "&reply=OK");
    Set(&INibWord::setSucceedPrefix, "OK");
    Set(&INibWord::SetDestBaseFN, "第二.doc");
    Set(&INibWord::SetUserName, "李四");
  }
  HRESULT Open(const wchar_t* procID, std::wstring* result, std::wstring* error) {
    BStr p1(procID), p2(L""), out;
    HRESULT hr = object->OpenFile(p1.Get(), p2.Get(), out.Out());
    *result = out.Wide();
    ComPtr<IErrorInfo> info;
    BStr description;
    if (FAILED(hr) && GetErrorInfo(0, &info) == S_OK) info->GetDescription(description.Out());
    *error = description.Wide();
    return hr;
  }
  void Release() {
    if (point) point->Unadvise(cookie);
    point.Reset();
    object.Reset();
  }
};

BOOL CALLBACK CountWordWindow(HWND window, LPARAM counted) {
  wchar_t name[32] = L"";
  GetClassNameW(window, name, 32);
  if (std::wstring(name) == L"OpusApp") ++*reinterpret_cast<int*>(counted);
  return TRUE;
}

int WordWindows() {
  int count = 0;
  EnumWindows(CountWordWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

struct Layout {
  bool ownThread;  // two tabs; else two frames of one page
  bool secondOpens;
};

class TwoPages : public FlowFixture, public ::testing::WithParamInterface<Layout> {
 protected:
  void SetUp() override {
    FlowFixture::SetUp();
    if (GetParam().ownThread) tab = std::make_unique<Tab>();
    second.id = id + "-b";
  }
  void TearDown() override {
    OnSecond([&] { second.Release(); });
    tab.reset();
    FlowFixture::TearDown();
  }
  // Runs `step` where page B lives: its tab's thread, or this one.
  void OnSecond(const std::function<void()>& step) {
    if (tab)
      tab->Run(step);
    else
      step();
  }
  bool Fetched(const std::string& name) { return FileExists(ServerFolder() + "\\records\\" + name + ".get"); }
  std::string UploadedTo(const std::string& record) { return ReadAll(ServerFolder() + "\\records\\" + record + ".body"); }

  std::unique_ptr<Tab> tab;
  SecondPage second;
};

TEST_P(TwoPages, EachPageKeepsItsOwnCycle) {
  const std::set<std::string> before = TemporaryEntries();
  Serve(id + ".doc", "Page A's document");
  Serve(second.id + ".doc", "Page B's document");
  Configure(id + ".doc", "&reply=OK");
  EXPECT_EQ(Open(L"1"), L"");
  std::string workingCopy = TypeInWord(L"Typed in A ");
  ASSERT_FALSE(workingCopy.empty());

  OnSecond([&] {
    second.Create();
    second.Configure(base);
    BStr redHeader(L"ht");
    EXPECT_EQ(second.object->InvokeUseTemplate(redHeader.Get()), S_OK) << "B has no cycle: nothing to do";
  });
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  wchar_t caption[32] = L"";
  GetWindowTextW(ControlButton(kUseTemplate), caption, 32);
  EXPECT_EQ(std::wstring(caption), W("套用模板")) << "B's template request did not reach A's window";
  if (GetParam().secondOpens) {
    std::wstring result, error;
    HRESULT hr = S_OK;
    {
      DialogRobot told(L"");
      OnSecond([&] { hr = second.Open(L"1", &result, &error); });
      EXPECT_NE(told.Seen().text.find(W("已有一个文档正在编辑")), std::wstring::npos)
          << "the clerk is told once: " << WideToAnsi(told.Seen().text, CP_UTF8);
    }
    EXPECT_TRUE(FAILED(hr)) << "the open is refused";
    EXPECT_NE(error.find(W("已有一个文档正在编辑")), std::wstring::npos) << WideToAnsi(error, CP_UTF8);
    EXPECT_EQ(result, L"");
    EXPECT_FALSE(Fetched(second.id + "-get")) << "B's document was not fetched";
    EXPECT_EQ(WordWindows(), 1) << "no second Word";
    EXPECT_NE(ControlButton(kSaveAndClose), nullptr) << "A's cycle goes on";
  }

  sink.calls.clear();
  SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);
  EXPECT_EQ(ControlButton(kSaveAndClose), nullptr) << "A's cycle ended";
  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK") << "A's edit reached A's address";
  EXPECT_EQ(UploadedTo(second.id), "") << "nothing reached B's address";
  ASSERT_EQ(sink.calls.size(), 1u) << "A's page heard of its save";
  EXPECT_EQ(sink.calls[0].strings[0], L"quit");
  EXPECT_EQ(sink.calls[0].strings[1], L"Save");
  EXPECT_EQ(sink.calls[0].thread, GetCurrentThreadId()) << "on A's own thread";
  EXPECT_TRUE(second.sink.calls.empty()) << "B's page heard nothing of A's cycle";
  EXPECT_FALSE(FolderExists(FolderOfPath(workingCopy))) << "A's working copy was cleaned up";

  if (GetParam().secondOpens) {
    // With A's cycle ended, B runs its own, unattended.
    std::wstring result, error;
    OnSecond([&] { EXPECT_EQ(second.Open(L"3", &result, &error), S_OK) << WideToAnsi(error, CP_UTF8); });
    EXPECT_EQ(result.rfind(L"OK:", 0), 0u) << WideToAnsi(result, CP_UTF8);
    EXPECT_EQ(UploadedTo(second.id).substr(0, 2), "PK") << "B's document reached B's address";
  }
  OnSecond([&] { second.Release(); });
  point->Unadvise(cookie);
  point.Reset();
  page.Reset();
  EXPECT_EQ(WordWindows(), 0) << "no Word left running";
  std::set<std::string> left;
  for (const std::string& name : TemporaryEntries())
    if (!before.count(name)) left.insert(name);
  EXPECT_TRUE(left.empty()) << "left in the temporary folder: " << (left.empty() ? "" : *left.begin());
}

INSTANTIATE_TEST_SUITE_P(Layouts, TwoPages,
                         ::testing::Values(Layout{true, false}, Layout{true, true}, Layout{false, false},
                                           Layout{false, true}),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                           return std::string(info.param.ownThread ? "Tabs" : "Frames") +
                                  (info.param.secondOpens ? "_SecondOpens" : "_SecondSetsOnly");
                         });

// A Word that refuses to quit at the end of a cycle still ends the cycle:
// another page may open its document.
class CycleEnd : public FlowFixture {};

TEST_F(CycleEnd, AWordThatRefusesToQuitStillEndsTheCycle) {
  Serve(id + ".doc", "First document");
  Configure(id + ".doc", "&reply=OK");
  EXPECT_EQ(Open(L"1"), L"");
  DispObject stubborn = RunningWord();
  ASSERT_TRUE(SaveTextFile("[fail]\r\nApplication.Quit=Word is busy.\r\n", "c:\\doubles\\control.ini"));
  {
    DialogCatcher dialogs;
    SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);
  }
  DeleteFileA("c:\\doubles\\control.ini");
  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK");
  EXPECT_EQ(ControlButton(kSaveAndClose), nullptr) << "the cycle ended";
  SecondPage other;  // another page of the process
  other.id = id + "-b";
  Serve(other.id + ".doc", "Next document");
  other.Create();
  other.Configure(base);
  std::wstring result, error;
  HRESULT hr = S_OK;
  {
    DialogCatcher refusal;  // answers a refusal, were there one
    hr = other.Open(L"3", &result, &error);
  }
  EXPECT_EQ(hr, S_OK) << "the next document opens: " << WideToAnsi(error, CP_UTF8);
  EXPECT_EQ(result.rfind(L"OK:", 0), 0u) << WideToAnsi(result, CP_UTF8);
  other.Release();
  if (stubborn) stubborn.Call(L"Quit", {}, {{L"SaveChanges", Arg(false)}});
}

}  // namespace
}  // namespace nib::test
