// Whole edit cycles as a page and its user run them: the registered object,
// the local document server, the Word double, the control window's buttons.

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "DialogRobot.h"
#include "TestSupport.h"
#include "com/BStr.h"
#include "com/Dispatch.h"
#include "com/StrConv.h"
#include "server/Guids.h"
#include "services/Files.h"
#include "services/UniqueName.h"
#include "services/WindowUtil.h"

using Microsoft::WRL::ComPtr;

namespace nib::test {
namespace {

constexpr CLSID kWord = {0x000209FF, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

std::wstring W(const char* utf8) { return Utf8ToWide(utf8); }

// The button of the control window with this design index, found as a user
// finds it: on the screen.
HWND ControlButton(int index) {
  HWND window = FindWindowW(L"TFrmUserCtrlPop", nullptr);
  HWND toolbar = window ? FindWindowExW(window, nullptr, L"TToolBar", nullptr) : nullptr;
  return toolbar ? GetDlgItem(toolbar, 100 + index) : nullptr;
}

class Flow : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    base = ServerBase();
    ASSERT_FALSE(base.empty()) << "the document server fixture is running";
    id = "flow-" + NewUniqueName().substr(0, 8);
    ASSERT_EQ(CoCreateInstance(CLSID_NibWord, nullptr, CLSCTX_INPROC_SERVER, IID_INibWord,
                               reinterpret_cast<void**>(page.GetAddressOf())),
              S_OK);
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(page.As(&container), S_OK);
    ASSERT_EQ(container->FindConnectionPoint(DIID_INibWordEvents, &point), S_OK);
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
  }
  void TearDown() override {
    if (point) point->Unadvise(cookie);
    point.Reset();
    page.Reset();
    EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr) << "no Word left running";
    EXPECT_EQ(FindWindowW(L"TFrmUserCtrlPop", nullptr), nullptr) << "no control window left";
    ComApartment::TearDown();
  }
  void Serve(const std::string& name, const std::string& utf8Text) {
    std::string content = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nibdoc><text>" + utf8Text + "</text></nibdoc>\n";
    ASSERT_TRUE(SaveTextFile(content, ServerFolder() + "\\files\\" + name));
  }
  void Set(HRESULT (STDMETHODCALLTYPE INibWord::*setter)(BSTR), const std::string& utf8) {
    BStr value(W(utf8.c_str()));
    ASSERT_EQ((page.Get()->*setter)(value.Get()), S_OK);
  }
  // A page's usual configuration: download, upload with this test's record id.
  void Configure(const std::string& document, const std::string& uploadQuery = "") {
    Set(&INibWord::SetDownURL, base + "/" + document);
    Set(&INibWord::SetUpURL, base + "/upload?id=" + id + uploadQuery);
    Set(&INibWord::setSucceedPrefix, "OK");
    Set(&INibWord::SetDestBaseFN, "通知1.doc");
    Set(&INibWord::SetUserName, "张三");
  }
  std::wstring Open(const wchar_t* procID, const wchar_t* procID2 = L"") {
    BStr p1(procID), p2(procID2), result;
    HRESULT hr = page->OpenFile(p1.Get(), p2.Get(), result.Out());
    if (FAILED(hr)) {
      ComPtr<IErrorInfo> info;
      BStr description;
      if (GetErrorInfo(0, &info) == S_OK) info->GetDescription(description.Out());
      ADD_FAILURE() << "OpenFile failed: " << WideToAnsi(description.Wide(), CP_UTF8);
    }
    return result.Wide();
  }
  std::string Uploaded(const char* part) { return ReadAll(ServerFolder() + "\\records\\" + id + "." + part); }

  std::string base, id;
  ComPtr<INibWord> page;
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  TestSink sink;
};

TEST_F(Flow, UnattendedOpenConvertsAndUploads) {
  Serve("unattended.doc", "Body of the notice");
  Configure("unattended.doc", "&reply=OK");
  std::wstring result = Open(L"3");
  EXPECT_EQ(result.rfind(L"OK:", 0), 0u) << "the conversion's number follows: " << result;
  std::string body = Uploaded("body");
  ASSERT_FALSE(body.empty()) << "the archive arrived";
  EXPECT_EQ(body.substr(0, 2), "PK");
  EXPECT_NE(body.find(".htm"), std::string::npos) << "the HTML page is in the archive";
  EXPECT_NE(body.find(".doc"), std::string::npos) << "and the document itself";
  EXPECT_NE(Uploaded("meta").find("id=" + id), std::string::npos);
  ASSERT_EQ(sink.calls.size(), 1u) << "the unattended mode reports through its result only";
  EXPECT_EQ(sink.calls[0].strings[0], L"TempletFN") << "the open itself is reported";
}

TEST_F(Flow, EditAndSaveAndCloseWithTheButton) {
  Serve("edit.doc", "Body");
  Configure("edit.doc", "&reply=OK%20saved");
  ASSERT_EQ(page->SetShowTrack(VARIANT_TRUE), S_OK);
  EXPECT_EQ(Open(L"1"), L"");
  HWND saveAndClose = ControlButton(0);
  ASSERT_NE(saveAndClose, nullptr) << "the control window is up";
  EXPECT_TRUE(IsWindowEnabled(saveAndClose));
  sink.calls.clear();  // the open's TempletFN

  // The user types in Word.
  ComPtr<IUnknown> running;
  ASSERT_EQ(GetActiveObject(kWord, nullptr, &running), S_OK);
  ComPtr<IDispatch> word;
  ASSERT_EQ(running.As(&word), S_OK);
  DispObject document = DispObject(word).Object(L"ActiveDocument");
  document.CallObject(L"Range", {Arg(0), Arg(0)}).Put(L"Text", L"Edited ");
  EXPECT_EQ(document.Long(L"ProtectionType"), 0) << "changes can only be revisions";
  document = DispObject();
  running.Reset();
  word.Reset();

  SendMessageW(saveAndClose, BM_CLICK, 0, 0);
  std::string query = Uploaded("meta");
  EXPECT_NE(query.find("isSave=SaveAndClose"), std::string::npos) << query;
  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK");
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings[0], L"quit");
  EXPECT_EQ(sink.calls[0].strings[1], L"Save");
  EXPECT_EQ(ControlButton(0), nullptr) << "the cycle ended";
}

TEST_F(Flow, OpenRefusals) {
  Configure("missing.doc");
  {
    DialogRobot robot(L"OK");
    EXPECT_EQ(Open(L"1"), L"");
    EXPECT_EQ(robot.Seen().text, W("\r\n不能正确下载目标文档! \r\n") + W((base + "/missing.doc").c_str()));
  }
  ASSERT_EQ(page->SetDrafting(VARIANT_TRUE), S_OK);
  {
    DialogRobot robot(L"OK");
    EXPECT_EQ(Open(L"2"), L"");
    EXPECT_EQ(robot.Seen().text, W("\r\n只读状态下不能起草文档!"));
  }
  ASSERT_EQ(page->SetDrafting(VARIANT_FALSE), S_OK);
  {
    DialogRobot robot(L"OK");
    EXPECT_EQ(Open(L"6", L"0"), L"");
    EXPECT_EQ(robot.Seen().text, W("\r\n打印时必须提供模板的下载地址!"));
  }
}

}  // namespace
}  // namespace nib::test
