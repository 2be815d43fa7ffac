// Whole cycles against a server that keeps its visitor's login in a session
// cookie: the document's download opens the session, and the XML fetch and
// the upload are taken only with it, as the page's own requests would be.

#include <windows.h>

#include <string>

#include "DialogRobot.h"
#include "FlowFixture.h"
#include "TestSupport.h"
#include "com/BStr.h"
#include "com/StrConv.h"
#include "services/Files.h"

namespace nib::test {
namespace {

class Session : public FlowFixture {
 protected:
  HRESULT FetchXml(const std::string& address) {
    BStr url = BStr::FromAnsi(address);
    return page->SetXMLCont(2, url.Get());
  }
  std::string Refused() { return ReadAll(ServerFolder() + "\\records\\" + id + ".refused"); }
};

TEST_F(Session, EveryTransferCarriesTheDownloadsSession) {
  Serve("session.doc", "Body");
  Configure("session.doc?session=" + id, "&guard=" + id + "&reply=OK");
  EXPECT_TRUE(FAILED(FetchXml(base + "/page.xml?guard=" + id))) << "no session yet: the server refuses the XML";

  EXPECT_EQ(Open(L"1"), L"");
  EXPECT_EQ(FetchXml(base + "/page.xml?guard=" + id), S_OK) << "the download logged the page in";
  ASSERT_FALSE(TypeInWord(L"Typed by the user ").empty());
  sink.calls.clear();
  SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);

  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK") << "the upload arrived: " << Refused();
  EXPECT_NE(Uploaded("meta").find("Cookie: nib_" + id + "="), std::string::npos) << Uploaded("meta");
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings[1], L"Save");
  EXPECT_EQ(ControlButton(kSaveAndClose), nullptr) << "the cycle ended";
}

// A session that ran out sends the upload to the login page. With an empty
// success prefix any reply would do, so the login page must never be read as one.
TEST_F(Session, ALoginRedirectIsAFailedUploadAndNothingIsLost) {
  Serve("expired.doc", "Body");
  Configure("expired.doc", "&guard=" + id + "&reply=OK");
  Set(&INibWord::setSucceedPrefix, "");
  EXPECT_EQ(Open(L"1"), L"");
  std::string workingCopy = TypeInWord(L"Typed by the user ");
  ASSERT_FALSE(workingCopy.empty());
  sink.calls.clear();
  {
    DialogRobot transport(L"", false, 0, L"#32770");
    SeenDialog failed = PressExpectingDialog(kSaveAndClose);
    EXPECT_EQ(transport.Seen().text,
              W("Http请求未成功,可能是目标地址不可用,请与管理员联系!\r\n原因: 被重定向到登录页 (HTTP 302)"));
    EXPECT_EQ(failed.text, W("\r\n文件上传未成功,请稍后再试!")) << "the reason was told once, first";
  }
  EXPECT_FALSE(Refused().empty()) << "the server was asked and refused";
  EXPECT_EQ(Uploaded("body"), "") << "nothing stored on the server";
  EXPECT_TRUE(sink.calls.empty()) << "the page is not told of a save";
  EXPECT_NE(FindWindowW(L"OpusApp", nullptr), nullptr) << "Word stays open";
  EXPECT_TRUE(IsWindowEnabled(ControlButton(kSaveAndClose))) << "the user can try again";
  EXPECT_NE(ReadAll(workingCopy).find("Typed by the user"), std::string::npos) << "the edit is in the working copy";

  // The user logs in again: a request of the page's process opens the session.
  ASSERT_EQ(FetchXml(base + "/page.xml?session=" + id), S_OK);
  SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);
  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK");
  // The retry names its cycle and counts itself: the server can tell it from a new save.
  std::string meta = Uploaded("meta");
  size_t cycle = meta.find("X-NibWord-Cycle: ");
  ASSERT_NE(cycle, std::string::npos) << meta;
  EXPECT_NE(Refused().find(meta.substr(cycle, meta.find('\n', cycle) - cycle)), std::string::npos)
      << "the same cycle as the refused attempt: " << Refused();
  EXPECT_NE(Refused().find("X-NibWord-Attempt: 1\n"), std::string::npos);
  EXPECT_NE(meta.find("X-NibWord-Attempt: 2\n"), std::string::npos) << meta;
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings[1], L"Save");
}

}  // namespace
}  // namespace nib::test
