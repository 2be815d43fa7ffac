// What the setters store, each object its own; the members that act
// (InvokeUseTemplate, ReSetFontByWebPage, SetXMLCont); the diagnostic
// switches; and each object's own event sink.

#include <windows.h>
#include <ocidl.h>

#include <fstream>
#include <string>

#include "TestSupport.h"
#include "services/Events.h"
#include "automation/NibWordImpl.h"
#include "services/PageValues.h"
#include "services/Switches.h"
#include "com/BStr.h"
#include "com/StrConv.h"
#include "server/Guids.h"
#include "services/TmpFilesMgr.h"
#include "ui/WindowMessages.h"

using Microsoft::WRL::ComPtr;

namespace nib::test {
namespace {

ComPtr<INibWord> NewObject() {
  ComPtr<INibWord> object;
  EXPECT_EQ(TNibWord::Create(IID_INibWord, reinterpret_cast<void**>(object.GetAddressOf())), S_OK);
  return object;
}

const NibWordSettings& SettingsOf(const ComPtr<INibWord>& object) {
  return static_cast<TNibWord*>(object.Get())->Settings();
}

PageValues& ValuesOf(const ComPtr<INibWord>& object) { return static_cast<TNibWord*>(object.Get())->Values(); }

BStr Text(const char* utf8) { return BStr(Utf8ToWide(utf8)); }

void WriteFileText(const char* path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
}

std::string ReadFileText(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

class Settings : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    CreateDirectoryA("c:\\tmp", nullptr);
    DeleteFileA(kSwitchFile);
  }
  void TearDown() override {
    DeleteFileA(kSwitchFile);
    ComApartment::TearDown();
  }
};

TEST_F(Settings, SettersStoreWhatThePageGave) {
  ComPtr<INibWord> object = NewObject();
  const NibWordSettings& settings = SettingsOf(object);
  EXPECT_EQ(settings.HtmWidth, 715);
  EXPECT_EQ(settings.FileSizeLmt, 10000.0);

  EXPECT_EQ(object->SetDownURL(Text("http://127.0.0.1/get?id=1").Get()), S_OK);
  EXPECT_EQ(object->SetUpURL(Text("http://127.0.0.1/put?id=1").Get()), S_OK);
  EXPECT_EQ(object->SetDestBaseFN(Text("通知1").Get()), S_OK);
  EXPECT_EQ(object->SetUserName(Text("  a ").Get()), S_OK);
  EXPECT_EQ(object->setSucceedPrefix(Text("OK").Get()), S_OK);
  EXPECT_EQ(object->SetDocTmplDLURL(Text("http://127.0.0.1/tmpl").Get()), S_OK);
  EXPECT_EQ(object->SetIsPrinter(VARIANT_TRUE), S_OK);
  EXPECT_EQ(object->SetHtmWidth(-3), S_OK);
  EXPECT_EQ(object->SetUpURLHt(Text("up-ht").Get()), S_OK);
  EXPECT_EQ(object->SetDownURLHt(Text("down-ht").Get()), S_OK);
  EXPECT_EQ(object->IsMultTemplet(VARIANT_TRUE), S_OK);
  EXPECT_EQ(object->SetDownTempletNameURL(Text("names").Get()), S_OK);
  EXPECT_EQ(object->SetMultTemplet(Text("a**b@@c").Get()), S_OK);
  EXPECT_EQ(object->SetBtnSaveCloseDisp(Text("T").Get()), S_OK);
  EXPECT_EQ(object->SetFileSizeLmt(0.5), S_OK);
  EXPECT_EQ(object->SetExtraDispState(Text("ExtraState_1").Get()), S_OK);
  EXPECT_EQ(object->SetIniXMLCont(1, Text("<Root/>").Get()), S_OK);
  EXPECT_EQ(object->SetRevisionFN(Text("c:\\r.doc").Get()), S_OK);
  EXPECT_EQ(object->XmlUrl(Text("xml-url").Get()), S_OK);
  EXPECT_EQ(object->SetBoInsId(Text("  12 ").Get()), S_OK);
  EXPECT_EQ(object->IsSetFont(VARIANT_TRUE), S_OK);
  EXPECT_EQ(object->put_SetFontName(Text(" \t仿宋_GB2312 ").Get()), S_OK);
  EXPECT_EQ(object->put_SetFontSize(0), S_OK);
  EXPECT_EQ(object->SetFontColor(255, -1, 0), S_OK);
  EXPECT_EQ(object->SetRevPassword(Text("pw").Get()), S_OK);

  const PageValues& process = ValuesOf(object);
  EXPECT_EQ(process.DownURL, "http://127.0.0.1/get?id=1");
  EXPECT_EQ(process.UpURL, "http://127.0.0.1/put?id=1");
  EXPECT_EQ(process.UpURLBase, "http://127.0.0.1/put?id=1");
  EXPECT_EQ(process.DestBaseFN, Gb("通知1")) << "stored as GB2312 bytes";
  EXPECT_EQ(process.UserName, "  a ") << "the user name is not trimmed";
  EXPECT_EQ(process.SucceedPrefix, "OK");
  EXPECT_EQ(process.DocTmplDLURL, "http://127.0.0.1/tmpl");
  EXPECT_TRUE(process.IsMultTemplet);
  EXPECT_EQ(process.DownTempletNameURL, "names");
  EXPECT_EQ(process.MultTemplet, "a**b@@c");
  EXPECT_EQ(process.BtnSaveCloseDisp, "T");
  EXPECT_EQ(process.ExtraDispState, "ExtraState_1");
  EXPECT_EQ(process.IniXMLType, 1);
  EXPECT_EQ(process.IniXMLCont, "<Root/>");
  EXPECT_EQ(process.XmlUrl, "xml-url");
  EXPECT_EQ(process.BoInsId, "12");
  EXPECT_TRUE(process.IsSetFont);
  EXPECT_EQ(process.FontName, Gb("仿宋_GB2312"));
  EXPECT_EQ(process.FontColorR, 255);
  EXPECT_EQ(process.FontColorG, -1);
  EXPECT_EQ(process.FontColorB, 0);
  EXPECT_EQ(process.RevPassword, "pw");

  EXPECT_TRUE(settings.IsPrinter);
  EXPECT_EQ(settings.HtmWidth, -3) << "no setter validates";
  EXPECT_EQ(settings.UpURLHt, "up-ht");
  EXPECT_EQ(settings.DownURLHt, "down-ht");
  EXPECT_EQ(settings.FileSizeLmt, 0.5);
  EXPECT_EQ(settings.RevisionFN, "c:\\r.doc");
  EXPECT_EQ(settings.FontSize, 0);

  EXPECT_EQ(object->SetUpURL(Text("").Get()), S_OK);
  EXPECT_EQ(process.UpURL, "");
  EXPECT_EQ(process.UpURLBase, "");
}

TEST_F(Settings, BooleansTakeAnyNonZeroValue) {
  ComPtr<INibWord> object = NewObject();
  const NibWordSettings& settings = SettingsOf(object);
  for (VARIANT_BOOL value : {VARIANT_BOOL(-1), VARIANT_BOOL(1), VARIANT_BOOL(2)}) {
    object->SetDrafting(VARIANT_FALSE);
    object->SetDrafting(value);
    EXPECT_TRUE(settings.Drafting) << value;
    object->SetShowTrack(value);
    EXPECT_TRUE(settings.ShowTrack) << value;
    object->SetIsAdmin(value);
    EXPECT_TRUE(settings.IsAdmin) << value;
  }
  object->SetDrafting(VARIANT_FALSE);
  object->SetShowTrack(VARIANT_FALSE);
  object->SetIsAdmin(VARIANT_FALSE);
  EXPECT_FALSE(settings.Drafting);
  EXPECT_FALSE(settings.ShowTrack);
  EXPECT_FALSE(settings.IsAdmin);
}

// Two pages of one process (two tabs, two frames): neither sees the other's settings.
TEST_F(Settings, EachObjectKeepsItsOwnSettings) {
  ComPtr<INibWord> first = NewObject();
  first->SetBtnSaveCloseDisp(Text("T").Get());
  first->SetExtraDispState(Text("ExtraState_1").Get());
  first->SetIniXMLCont(1, Text("<a/>").Get());
  first->SetDownURL(Text("first").Get());
  first->SetUpURL(Text("first-up").Get());
  first->SetHtmWidth(100);

  ComPtr<INibWord> second = NewObject();
  second->SetUpURL(Text("second-up").Get());
  EXPECT_EQ(ValuesOf(second).BtnSaveCloseDisp, "K");
  EXPECT_EQ(ValuesOf(second).ExtraDispState, "NoUse");
  EXPECT_EQ(ValuesOf(second).IniXMLCont, "");
  EXPECT_EQ(ValuesOf(second).DownURL, "") << "a new object starts from the defaults";
  EXPECT_EQ(ValuesOf(first).DownURL, "first");
  EXPECT_EQ(ValuesOf(first).UpURL, "first-up") << "the second page's setter left the first's alone";
  EXPECT_EQ(ValuesOf(first).BtnSaveCloseDisp, "T");
  EXPECT_EQ(SettingsOf(first).HtmWidth, 100);
  EXPECT_EQ(SettingsOf(second).HtmWidth, 715);
}

TEST_F(Settings, InvokeUseTemplatePostsToTheControlWindow) {
  ComPtr<INibWord> object = NewObject();
  EXPECT_EQ(object->InvokeUseTemplate(Text("ht").Get()), S_OK) << "no control window: nothing to do";
  EXPECT_EQ(WM_INVOKETMPL_HT, 1328u);
  EXPECT_EQ(WM_INVOKETMPL_TMP, 1327u);
}

TEST_F(Settings, ReSetFontByWebPageNeedsAnOpenDocument) {
  ComPtr<INibWord> object = NewObject();
  object->IsSetFont(VARIANT_FALSE);
  EXPECT_EQ(object->ReSetFontByWebPage(), S_OK) << "nothing to do while fonts are not used";
  object->IsSetFont(VARIANT_TRUE);
  EXPECT_TRUE(FAILED(object->ReSetFontByWebPage()));
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BStr source;
  info->GetSource(source.Out());
  EXPECT_EQ(source.Wide(), L"NibWordLib.NibWord");
  object->IsSetFont(VARIANT_FALSE);
}

TEST_F(Settings, SetXmlContStoresAndLogsTheXml) {
  constexpr char kLog[] = "c:\\tmp\\FLog_ContXML.xml";
  ComPtr<INibWord> object = NewObject();
  const std::string xml = Gb("<Root><BookMark Name=\"标题\" Text=\"通知\"/></Root>");
  BStr wideXml(AnsiToWide(xml));

  DeleteFileA(kLog);
  EXPECT_EQ(object->SetXMLCont(1, wideXml.Get()), S_OK);
  EXPECT_EQ(SettingsOf(object).XMLGetType, 1);
  EXPECT_EQ(SettingsOf(object).XMLCont, xml);
  EXPECT_EQ(ValuesOf(object).XMLKind, 1);
  EXPECT_EQ(ValuesOf(object).XMLContent, xml);
  EXPECT_FALSE(FileExists(kLog)) << "no switch file: no copy";

  // LogInputFile alone is not enough: the copy is written only when logging is enabled too.
  WriteFileText(kSwitchFile, "[NibWordLib]\r\nLogInputFile=1\r\n");
  object = NewObject();
  EXPECT_EQ(object->SetXMLCont(1, wideXml.Get()), S_OK);
  EXPECT_FALSE(FileExists(kLog));

  WriteFileText(kSwitchFile, "[NibWordLib]\r\nLogInputFile=1\r\nNibWord=1\r\n");
  object = NewObject();
  EXPECT_EQ(object->SetXMLCont(1, wideXml.Get()), S_OK);
  EXPECT_EQ(ReadFileText(kLog), xml) << "the XML exactly as passed";
  DeleteFileA(kLog);

  EXPECT_EQ(object->SetXMLCont(7, Text("x").Get()), S_OK) << "other kinds are stored and handed on";
  EXPECT_EQ(ValuesOf(object).XMLKind, 7);
}

TEST_F(Settings, CommGuiFilesAndTemporaryFiles) {
  constexpr char kFile[] = "c:\\tmp\\nib-wfile.txt";
  ComPtr<INibWord> object = NewObject();
  ComPtr<ICommGUI> gui;
  ASSERT_EQ(object.As(&gui), S_OK);
  const std::string text = Gb("文档内容\r\n");
  BStr message(AnsiToWide(text)), path(L"c:\\tmp\\nib-wfile.txt");

  DeleteFileA(kFile);
  EXPECT_EQ(gui->WLog(message.Get(), VARIANT_TRUE, VARIANT_TRUE), S_OK);
  EXPECT_EQ(gui->WFile(message.Get(), path.Get(), VARIANT_FALSE), S_OK);
  EXPECT_FALSE(FileExists(kFile)) << "logging is off: only a must-write file is written";
  EXPECT_EQ(gui->WFile(message.Get(), path.Get(), VARIANT_TRUE), S_OK);
  EXPECT_EQ(ReadFileText(kFile), text) << "the text as ANSI, no line break added";
  BStr shorter(L"x");
  EXPECT_EQ(gui->WFile(shorter.Get(), path.Get(), VARIANT_TRUE), S_OK);
  EXPECT_EQ(ReadFileText(kFile), "x") << "an existing file is replaced";
  DeleteFileA(kFile);

  WriteFileText(kSwitchFile, "[NibWordLib]\r\nNibWord=1\r\n");
  object = NewObject();  // the switch is read when the object starts
  gui.Reset();
  ASSERT_EQ(object.As(&gui), S_OK);
  EXPECT_EQ(gui->WFile(message.Get(), path.Get(), VARIANT_FALSE), S_OK);
  EXPECT_TRUE(FileExists(kFile));
  DeleteFileA(kFile);
  BStr unwritable(L"c:\\tmp\\no\\such\\folder\\f.txt");
  EXPECT_EQ(gui->WFile(message.Get(), unwritable.Get(), VARIANT_TRUE), S_OK) << "silently writes nothing";

  // Temporary files registered through ICommGUI land in the object's own list.
  BStr lower(L"c:\\tmp\\a.doc"), upper(L"C:\\TMP\\A.DOC"), folder(L"c:\\tmp\\dl");
  EXPECT_EQ(gui->AddTmpDirFile(2, lower.Get()), S_OK);
  EXPECT_EQ(gui->AddTmpDirFile(2, upper.Get()), S_OK);
  EXPECT_EQ(gui->AddTmpDirFile(1, folder.Get()), S_OK);
  EXPECT_EQ(gui->AddTmpDirFile(5, folder.Get()), S_OK);
  EXPECT_EQ(ValuesOf(object).TmpFiles->Files(), (T1DimStrArr{"c:\\tmp\\a.doc"}));
  EXPECT_EQ(ValuesOf(object).TmpFiles->Folders(), (T1DimStrArr{"c:\\tmp\\dl"}));
  ComPtr<INibWord> other = NewObject();
  EXPECT_TRUE(ValuesOf(other).TmpFiles->Files().empty()) << "another page's object has a list of its own";
  EXPECT_EQ(ValuesOf(object).TmpFiles->Files().size(), 1u) << "and creating it left this list alone";
}

TEST_F(Settings, DiagnosticSwitchesAreReadEveryTime) {
  EXPECT_FALSE(SwitchIsOn("NoClearTmpFiles")) << "missing file: every switch off";
  WriteFileText(kSwitchFile, "[NibWordLib]\r\nNoClearTmpFiles=1\r\nNoULFile=yes\r\n");
  EXPECT_TRUE(SwitchIsOn("NoClearTmpFiles"));
  EXPECT_FALSE(SwitchIsOn("NoULFile")) << "only \"1\" is on";
  EXPECT_FALSE(NoUploadMode());
  WriteFileText("c:\\tmp\\DoLog.txt", "[NibWordLib]\r\nNoClearTmpFiles=0\r\nNoULFile=1\r\n");
  EXPECT_FALSE(SwitchIsOn("NoClearTmpFiles")) << "\"c:\\tmp\\DoLog.txt\" is the same file";
  EXPECT_TRUE(NoUploadMode());
}

TEST_F(Settings, NoUploadFallsBackToTheFileBesideTheRegisteredDll) {
  // The registered DLL is this build tree's NibWordLib.dll.
  const std::wstring besideDll = BuildPath(L"DoLog.txt");
  WriteFileText(kSwitchFile, "[Other]\r\nNoULFile=1\r\n");
  EXPECT_FALSE(NoUploadMode());
  {
    std::ofstream file(besideDll.c_str(), std::ios::binary | std::ios::trunc);
    file << "[NibWordLib]\r\nNoULFile=1\r\n";
  }
  EXPECT_TRUE(NoUploadMode());
  DeleteFileW(besideDll.c_str());
  EXPECT_FALSE(NoUploadMode());
}

TEST_F(Settings, EachObjectsEventsGoToItsOwnSink) {
  ComPtr<INibWord> first = NewObject(), second = NewObject();
  auto pointOf = [](const ComPtr<INibWord>& object) {
    ComPtr<IConnectionPointContainer> container;
    object.As(&container);
    ComPtr<IConnectionPoint> point;
    container->FindConnectionPoint(DIID_INibWordEvents, &point);
    return point;
  };
  // The second page's handler fails: the event still counts as delivered.
  TestSink firstSink, secondSink(true, E_FAIL);
  DWORD firstCookie = 0, secondCookie = 0;
  ASSERT_EQ(pointOf(first)->Advise(&firstSink, &firstCookie), S_OK);
  ASSERT_EQ(pointOf(second)->Advise(&secondSink, &secondCookie), S_OK);
  VARIANT a, empty;
  VariantInit(&empty);
  a.vt = VT_BSTR;
  BStr textA(L"a");
  a.bstrVal = textA.Get();
  FireOnEventStart(ValuesOf(first).EventSink.Get(), "quit", "Save", "12", a, a);
  ASSERT_EQ(firstSink.calls.size(), 1u);
  EXPECT_EQ(firstSink.calls[0].id, 201);
  EXPECT_EQ(firstSink.calls[0].strings, (std::vector<std::wstring>{L"quit", L"Save", L"12", L"a", L"a"}));
  EXPECT_TRUE(secondSink.calls.empty()) << "the other page heard nothing";

  FireOnEventStart(ValuesOf(second).EventSink.Get(), "quit", "NoSave", "", empty, empty);
  EXPECT_EQ(firstSink.calls.size(), 1u);
  ASSERT_EQ(secondSink.calls.size(), 1u);
  EXPECT_EQ(secondSink.calls[0].types, (std::vector<VARTYPE>{VT_BSTR, VT_BSTR, VT_BSTR, VT_EMPTY, VT_EMPTY}));
  ComPtr<IDispatch> forwarder = ValuesOf(second).EventSink;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(forwarder->Invoke(201, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK)
      << "the forwarding sink hides the handler's failure";
  forwarder.Reset();

  EXPECT_EQ(pointOf(second)->Unadvise(secondCookie), S_OK);
  EXPECT_FALSE(ValuesOf(second).EventSink) << "disconnecting empties the object's sink";
  EXPECT_TRUE(ValuesOf(first).EventSink) << "and only that object's";
  EXPECT_EQ(pointOf(first)->Unadvise(firstCookie), S_OK);
}

}  // namespace
}  // namespace nib::test
