// Which pages may use the object, as a browser hosts it: a test site stands in
// for the browser and tells the object its page's address. The document
// server answers under two names: "localhost", put in the local intranet zone
// for the test, and "127.0.0.1", left on the Internet zone.

#include <windows.h>
#include <objsafe.h>

#include <optional>
#include <string>
#include <vector>

#include "DialogRobot.h"
#include "FlowFixture.h"
#include "TestSupport.h"
#include "TrustSupport.h"
#include "com/BStr.h"
#include "com/ComObject.h"
#include "com/ObjectSafety.h"
#include "com/StrConv.h"
#include "services/Files.h"

namespace nib::test {
namespace {

class Trust : public FlowFixture {
 protected:
  void SetUp() override {
    FlowFixture::SetUp();
    intranet = "http://localhost:" + base.substr(base.rfind(':') + 1);
  }
  HRESULT PlaceOn(const std::string& pageAddress, bool documentRoute = false) {
    ComPtr<IObjectWithSite> withSite;
    HRESULT hr = page.As(&withSite);
    if (FAILED(hr)) return hr;
    ComPtr<PageSite> site = NewComObject<PageSite>(AnsiToWide(pageAddress), documentRoute);
    return withSite->SetSite(static_cast<IOleClientSite*>(site.Get()));
  }
  HRESULT Call(HRESULT (STDMETHODCALLTYPE INibWord::*setter)(BSTR), const std::string& value) {
    BStr text = BStr::FromAnsi(value);
    return (page.Get()->*setter)(text.Get());
  }
  HRESULT OpenRaw(const wchar_t* procID, std::wstring* result = nullptr) {
    BStr p1(procID), p2(L""), out;
    HRESULT hr = page->OpenFile(p1.Get(), p2.Get(), out.Out());
    if (result) *result = out.Wide();
    return hr;
  }
  static std::string LastDescription() {
    ComPtr<IErrorInfo> info;
    BStr description;
    if (GetErrorInfo(0, &info) == S_OK) info->GetDescription(description.Out());
    return WideToAnsi(description.Wide(), CP_UTF8);
  }
  // A cycle a failed step left open, ended as the user's 关闭 would (forced).
  void EndCycle() {
    ComPtr<IInnerFunc> inner;
    BStr ignored;
    if (ControlButton(kClose) && SUCCEEDED(page.As(&inner))) inner->ProcQuit(VARIANT_TRUE, ignored.Out());
  }
  bool Fetched(const std::string& name) { return FileExists(ServerFolder() + "\\records\\" + name + ".get"); }
  bool SafetyAccepted() {
    ComPtr<IObjectSafety> safety;
    return SUCCEEDED(page.As(&safety)) &&
           SUCCEEDED(safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3));
  }

  HRESULT PlaceInFrame(const std::string& frame, const std::string& top, FrameRoute route) {
    ComPtr<IObjectWithSite> withSite;
    HRESULT hr = page.As(&withSite);
    if (FAILED(hr)) return hr;
    ComPtr<FrameSite> site = NewComObject<FrameSite>(frame, top, route);
    return withSite->SetSite(static_cast<IOleClientSite*>(site.Get()));
  }
  // A new object in place of `page`, as a page's script creates one.
  void NewPage() {
    ComPtr<INibWord> fresh;
    ASSERT_EQ(CoCreateInstance(CLSID_NibWord, nullptr, CLSCTX_INPROC_SERVER, IID_INibWord,
                               reinterpret_cast<void**>(fresh.GetAddressOf())), S_OK);
    page.Swap(fresh);
  }

  ZoneMapEntry zone{L"localhost", 1};
  std::string intranet;
};

TEST_F(Trust, AnInternetPageGetsNothing) {
  for (bool documentRoute : {false, true}) {
    SCOPED_TRACE(documentRoute ? "the container document's address" : "the web browser's address");
    ComPtr<INibWord> fresh;
    ASSERT_EQ(CoCreateInstance(CLSID_NibWord, nullptr, CLSCTX_INPROC_SERVER, IID_INibWord,
                               reinterpret_cast<void**>(fresh.GetAddressOf())), S_OK);
    page.Swap(fresh);
    ASSERT_EQ(PlaceOn(base + "/page.html", documentRoute), S_OK);
    EXPECT_FALSE(SafetyAccepted()) << "the browser is told not to script the object";
    DialogRobot noDialog(L"", false, 0, L"#32770");
    EXPECT_EQ(Call(&INibWord::SetDownURL, base + "/x.doc?id=" + id), E_ACCESSDENIED);
    std::string description = LastDescription();
    EXPECT_NE(description.find("AllowedOrigins"), std::string::npos) << description;
    EXPECT_NE(description.find("\xE6\xAD\xA4\xE7\xBD\x91\xE9\xA1\xB5"), std::string::npos) << "此网页: " << description;
    BStr xml = BStr::FromAnsi(base + "/page.xml?id=" + id + "x");
    EXPECT_EQ(page->SetXMLCont(2, xml.Get()), E_ACCESSDENIED);
    std::wstring result;
    EXPECT_EQ(OpenRaw(L"3", &result), E_ACCESSDENIED);
    EXPECT_EQ(OpenRaw(L"1"), E_ACCESSDENIED);
    noDialog.Stop();
    EXPECT_FALSE(noDialog.SawDialog()) << "no dialog for a refused page";
    EXPECT_FALSE(Fetched(id) || Fetched(id + "x")) << "nothing was fetched";
    EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr) << "no Word started";
    EXPECT_TRUE(sink.calls.empty()) << "no event";
    page.Swap(fresh);
  }
}

TEST_F(Trust, AnIntranetPageRunsAWholeCycle) {
  ASSERT_EQ(PlaceOn(intranet + "/page.html"), S_OK);
  EXPECT_TRUE(SafetyAccepted());
  Serve(id + ".doc", "Body");
  ASSERT_EQ(Call(&INibWord::SetDownURL, intranet + "/" + id + ".doc"), S_OK);
  ASSERT_EQ(Call(&INibWord::SetUpURL, intranet + "/upload?id=" + id + "&reply=OK"), S_OK);
  ASSERT_EQ(Call(&INibWord::setSucceedPrefix, "OK"), S_OK);
  ASSERT_EQ(Call(&INibWord::SetDocTmplDLURL, ""), S_OK);
  std::wstring result;
  ASSERT_EQ(OpenRaw(L"3", &result), S_OK) << LastDescription();
  EXPECT_EQ(result.rfind(L"OK:", 0), 0u) << WideToAnsi(result, CP_UTF8);
  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK") << "the archive arrived";
}

// An intranet page's addresses on the Internet zone, directly or behind a
// redirect, are refused at the step that uses them, with that step's message.
TEST_F(Trust, AddressesAndRedirectHopsOutsideTheRuleAreRefused) {
  ASSERT_EQ(PlaceOn(intranet + "/page.html"), S_OK);
  Serve(id + ".doc", "Body");

  // The XML fetch, directly and through a redirect.
  BStr direct = BStr::FromAnsi(base + "/page.xml?id=" + id + "-xml1");
  EXPECT_TRUE(FAILED(page->SetXMLCont(2, direct.Get())));
  BStr hop = BStr::FromAnsi(intranet + "/page.xml?redirect=" + QueryText(base + "/page.xml?id=" + id + "-xml2"));
  EXPECT_TRUE(FAILED(page->SetXMLCont(2, hop.Get())));
  EXPECT_FALSE(Fetched(id + "-xml1") || Fetched(id + "-xml2")) << "neither Internet address was asked";
  BStr fine = BStr::FromAnsi(intranet + "/page.xml");
  EXPECT_EQ(page->SetXMLCont(2, fine.Get()), S_OK) << "the page's own server is reachable";
  BStr noXml(L"");
  ASSERT_EQ(page->SetXMLCont(0, noXml.Get()), S_OK);

  // The download behind a redirect: the open fails with the download's message.
  for (const char* status : {"302", "307"}) {
    SCOPED_TRACE(status);
    std::string name = id + "-dl" + status;
    ASSERT_EQ(Call(&INibWord::SetDownURL, intranet + "/" + id + ".doc?status=" + status + "&redirect=" +
                                              QueryText(base + "/" + id + ".doc?id=" + name)), S_OK);
    DialogRobot told(L"");
    std::wstring result;
    EXPECT_EQ(OpenRaw(L"1", &result), S_OK);
    EXPECT_NE(told.Seen().text.find(W("不能正确下载目标文档")), std::wstring::npos) << WideToAnsi(told.Seen().text, CP_UTF8);
    EXPECT_FALSE(Fetched(name)) << "the hop to the Internet zone was not followed";
    EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr);
  }

  // The upload, directly and behind a 307 that would keep the body.
  ASSERT_EQ(Call(&INibWord::SetDownURL, intranet + "/" + id + ".doc"), S_OK);
  ASSERT_EQ(Call(&INibWord::setSucceedPrefix, "OK"), S_OK);
  for (const std::string& upload : {base + "/upload?id=" + id + "-up1",
                                    intranet + "/upload?id=" + id + "-up0&status=307&redirect=" +
                                        QueryText(base + "/upload?id=" + id + "-up2")}) {
    SCOPED_TRACE(upload);
    ASSERT_EQ(Call(&INibWord::SetUpURL, upload), S_OK);
    DialogRobot transport(L"", false, 0, L"#32770");
    DialogRobot failed(L"");
    std::wstring result;
    OpenRaw(L"3", &result);
    EXPECT_EQ(transport.Seen().text, W("Http请求未成功,可能是目标地址不可用,请与管理员联系!\r\n原因: 目标地址不在允许访问的范围内"));
    EXPECT_NE(result.rfind(L"OK:", 0), 0u) << "a refused upload is no success";
    failed.Stop();
    EndCycle();
  }
  EXPECT_EQ(ReadAll(ServerFolder() + "\\records\\" + id + "-up1.body"), "") << "nothing sent to the Internet zone";
  EXPECT_EQ(ReadAll(ServerFolder() + "\\records\\" + id + "-up2.body"), "") << "nor behind the redirect";
}

TEST_F(Trust, WithTheAdministratorsListOnlyListedPagesRun) {
  AllowedOrigins list({intranet});
  ASSERT_EQ(PlaceOn("http://localhost:1/page.html"), S_OK);
  EXPECT_EQ(Call(&INibWord::SetUserName, "x"), E_ACCESSDENIED) << "an intranet page the list does not name";
  ASSERT_EQ(PlaceOn(intranet + "/page.html"), S_OK) << "a new site is judged afresh";
  EXPECT_EQ(Call(&INibWord::SetUserName, "x"), S_OK);
  BStr listed = BStr::FromAnsi(intranet + "/page.xml");
  EXPECT_EQ(page->SetXMLCont(2, listed.Get()), S_OK);
  BStr unlisted = BStr::FromAnsi("http://localhost:1/page.xml");
  EXPECT_TRUE(FAILED(page->SetXMLCont(2, unlisted.Get()))) << "the list holds the transfers too";
  BStr noXml(L"");
  ASSERT_EQ(page->SetXMLCont(0, noXml.Get()), S_OK);
}

// A control in a frame: the frame's own document is the page, judged as any
// page is, and the top page must pass too. The browser's LocationURL (the top
// page) never stands for the frame.
TEST_F(Trust, AFrameIsJudgedByItsOwnAddressAndByTheTopPage) {
  struct Case {
    const char* story;
    std::string frame, top;
    bool listed;  // the administrator's list names only the intranet server
    std::string refused;  // empty: the frame's page may use the object
  };
  const std::string unlisted = "http://localhost:1/frame.html";
  const Case cases[] = {
      {"an Internet widget in an intranet page", base + "/widget.html", intranet + "/page.html", false,
       base + "/widget.html"},
      {"an intranet frame in an Internet page", intranet + "/frame.html", base + "/page.html", false,
       base + "/page.html"},
      {"a same-origin frame", intranet + "/frame.html", intranet + "/page.html", false, ""},
      {"an unlisted frame in a listed page", unlisted, intranet + "/page.html", true, unlisted},
      {"a listed frame in a listed page", intranet + "/frame.html", intranet + "/page.html", true, ""},
  };
  for (const Case& c : cases) {
    std::optional<AllowedOrigins> list;
    if (c.listed) list.emplace(std::vector<std::string>{intranet});
    for (FrameRoute route : {FrameRoute::kContainer, FrameRoute::kContainerDispatch, FrameRoute::kHtmlWindow}) {
      SCOPED_TRACE(std::string(c.story) + ", route " + std::to_string(static_cast<int>(route)));
      NewPage();
      ASSERT_EQ(PlaceInFrame(c.frame, c.top, route), S_OK);
      HRESULT hr = Call(&INibWord::SetUserName, "x");
      if (c.refused.empty()) {
        EXPECT_EQ(hr, S_OK);
        EXPECT_TRUE(SafetyAccepted());
        continue;
      }
      EXPECT_EQ(hr, E_ACCESSDENIED);
      std::string description = LastDescription();
      EXPECT_NE(description.find(c.refused), std::string::npos) << "names the refused address: " << description;
      EXPECT_FALSE(SafetyAccepted());
      EXPECT_EQ(OpenRaw(L"1"), E_ACCESSDENIED);
    }
  }
  EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr) << "no refused frame started Word";
}

// A trusted frame runs a whole cycle, its transfers held to its own rule.
TEST_F(Trust, ASameOriginFrameRunsAWholeCycle) {
  ASSERT_EQ(PlaceInFrame(intranet + "/frame.html", intranet + "/page.html", FrameRoute::kContainerDispatch), S_OK);
  BStr internetXml = BStr::FromAnsi(base + "/page.xml?id=" + id + "-fx");
  EXPECT_TRUE(FAILED(page->SetXMLCont(2, internetXml.Get()))) << "an Internet address stays out of reach";
  EXPECT_FALSE(Fetched(id + "-fx"));
  Serve(id + ".doc", "Body");
  ASSERT_EQ(Call(&INibWord::SetDownURL, intranet + "/" + id + ".doc"), S_OK);
  ASSERT_EQ(Call(&INibWord::SetUpURL, intranet + "/upload?id=" + id + "&reply=OK"), S_OK);
  ASSERT_EQ(Call(&INibWord::setSucceedPrefix, "OK"), S_OK);
  std::wstring result;
  ASSERT_EQ(OpenRaw(L"3", &result), S_OK) << LastDescription();
  EXPECT_EQ(result.rfind(L"OK:", 0), 0u) << WideToAnsi(result, CP_UTF8);
  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK") << "the archive arrived";
}

// Field data with a document type: refused as bad data, nothing expanded or fetched.
TEST_F(Trust, XmlDataWithADocumentTypeIsRefused) {
  Serve(id + ".doc", "Body");
  Configure(id + ".doc");
  for (std::string xml : {std::string("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x \"expanded\">]>"
                          "<r><BookMark Name=\"a\" Text=\"&x;\"/></r>"),
                          "<?xml version=\"1.0\"?><!DOCTYPE r SYSTEM \"" + intranet + "/r.dtd?id=" + id +
                              "-dtd\"><r><BookMark Name=\"a\" Text=\"b\"/></r>"}) {
    SCOPED_TRACE(xml);
    BStr data = BStr::FromAnsi(xml);
    ASSERT_EQ(page->SetIniXMLCont(1, data.Get()), S_OK);
    DialogRobot told(L"");
    EXPECT_EQ(Open(L"1"), L"");
    EXPECT_NE(told.Seen().text.find(W("不能载入指定的XML内容")), std::wstring::npos)
        << WideToAnsi(told.Seen().text, CP_UTF8);
    EndCycle();
  }
  BStr none(L"");
  ASSERT_EQ(page->SetIniXMLCont(0, none.Get()), S_OK);
  EXPECT_FALSE(Fetched(id + "-dtd")) << "the external document type was not fetched";
}

}  // namespace
}  // namespace nib::test
