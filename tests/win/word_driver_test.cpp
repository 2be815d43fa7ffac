// The Word driver against the Word double, out of process as against real
// Word: start, open, edit under protection, save, refuse foreign closes,
// the revisions-accepted copy, the Normal template guard, and quit.

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DialogRobot.h"
#include "DriverFixture.h"
#include "TestSupport.h"
#include "services/PageValues.h"
#include "com/BStr.h"
#include "com/ComError.h"
#include "com/Dispatch.h"
#include "com/StrConv.h"
#include "services/Config.h"
#include "services/Files.h"
#include "services/TextUtil.h"
#include "services/UniqueName.h"
#include "services/WindowUtil.h"
#include "word/CommEdtNibWord.h"
#include "word/WordUtil.h"
#include "word/PageMeasure.h"

using Microsoft::WRL::ComPtr;

namespace nib::test {
namespace {

std::wstring W(const char* utf8) { return Utf8ToWide(utf8); }

DWORD ProcessOfWindow(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

bool ProcessEnds(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return true;
  bool ended = WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

// The passwords of the Document.Protect calls in the doubles' call log (the argument
// list's last item), in call order.
std::vector<std::string> ProtectPasswords() {
  std::vector<std::string> passwords;
  std::istringstream log(ReadAll("c:\\doubles\\calls.log"));
  for (std::string line; std::getline(log, line);) {
    if (line.find("\tDocument.Protect\t") == std::string::npos) continue;
    std::string args = line.substr(line.find("\tDocument.Protect\t") + 19);
    args = args.substr(0, args.find('\t'));
    passwords.push_back(args.substr(args.find_last_of(", ") + 1));
  }
  return passwords;
}

class WordDriver : public DriverFixture {};

TEST_F(WordDriver, WholeCycleUnderProtection) {
  std::string doc = Fixture("notice.doc", "<text>Body</text>");
  Configure(doc);
  ASSERT_EQ(driver->setSaveTrack(VARIANT_TRUE), S_OK);
  ASSERT_EQ(driver->setTrackRev(VARIANT_TRUE), S_OK);
  EXPECT_TRUE(notes.empty()) << "nothing to show before Word runs";
  ASSERT_TRUE(Start());

  DispObject word(values->WordApplication);
  ASSERT_TRUE(word);
  EXPECT_TRUE(word.Bool(L"Visible"));
  EXPECT_EQ(word.Text(L"UserName"), W("张三"));
  EXPECT_EQ(word.Long(L"DisplayAlerts"), 0);
  HWND wordWindow = driver->AppWindow();
  ASSERT_NE(wordWindow, nullptr) << "the OpusApp window was found";
  DWORD wordProcess = ProcessOfWindow(wordWindow);
  EXPECT_NE(wordProcess, GetCurrentProcessId());
  EXPECT_EQ(driver->Document().Long(L"ProtectionType"), 0) << "protected for revisions";
  EXPECT_EQ(notes, std::vector<std::string>{"0,0,0"}) << "revisions shown and reported";
  EXPECT_EQ(driver->getTrackRev(), VARIANT_TRUE);
  EXPECT_TRUE(IsFileInUse(doc)) << "Word holds the file it has open";
  ASSERT_EQ(gui.tmpFiles.size(), 1u) << "the downloaded copy is kept for deletion at the end";
  EXPECT_TRUE(FileExists(WideToAnsi(gui.tmpFiles[0])));
  EXPECT_EQ(ReadAll(WideToAnsi(gui.tmpFiles[0])), ReadAll(driver->SourceBackup()));

  Type(L"New ");
  ASSERT_EQ(driver->SaveDoc(), VARIANT_TRUE);
  std::string saved = ReadAll(doc);
  EXPECT_EQ(AttributeOf(saved, "revision", "author"), "\xE5\xBC\xA0\xE4\xB8\x89") << "the page's user, as UTF-8";
  EXPECT_EQ(AttributeOf(saved, "protection", "type"), "<none>") << "saved unprotected";
  EXPECT_EQ(driver->Document().Long(L"ProtectionType"), 0) << "and protected again after the save";
  EXPECT_EQ(driver->getTrackRev(), VARIANT_TRUE) << "revisions shown again after the save";

  Type(L"More ");
  ASSERT_EQ(driver->SaveDoc(), VARIANT_TRUE) << "the password the driver protected with still unprotects";
  std::vector<std::string> passwords = ProtectPasswords();
  ASSERT_EQ(passwords.size(), 3u) << "at open and after each save";
  EXPECT_EQ(passwords[0].size(), 12u) << "a generated password";
  EXPECT_EQ(passwords[1], passwords[0]);
  EXPECT_EQ(passwords[2], passwords[0]);

  // Protection lifted behind the driver's back (Word raises for Unprotect on
  // an unprotected document): the save still goes through and protects again.
  driver->Document().Call(L"Unprotect", {Arg::Ansi(passwords[0])});
  Type(L"Unguarded ");
  ASSERT_EQ(driver->SaveDoc(), VARIANT_TRUE);
  EXPECT_NE(ReadAll(doc).find("Unguarded"), std::string::npos);
  EXPECT_EQ(driver->Document().Long(L"ProtectionType"), 0) << "protected again";
  EXPECT_NE(driver->getFileAge(), -1);

  word = DispObject();
  ASSERT_EQ(driver->AppQuit(), VARIANT_TRUE);
  EXPECT_FALSE(driver->Connected());
  EXPECT_TRUE(ProcessEnds(wordProcess)) << "Word quit";
  std::string log = ReadAll("c:\\doubles\\calls.log");
  size_t lastPut = log.rfind("Application.UserName");
  ASSERT_NE(lastPut, std::string::npos);
  std::string line = log.substr(lastPut, log.find('\n', lastPut) - lastPut);
  EXPECT_EQ(line.find("\xE5\xBC\xA0\xE4\xB8\x89"), std::string::npos) << "the old name was put back: " << line;
}

TEST_F(WordDriver, MissingWorkingCopyIsCreated) {
  std::string doc = work + "\\new.doc";
  Configure(doc, "");
  ASSERT_TRUE(Start(L"3"));
  EXPECT_TRUE(FileExists(doc));
  DispObject word(values->WordApplication);
  EXPECT_EQ(word.Long(L"WindowState"), 2) << "minimised for unattended work";
  EXPECT_EQ(driver->Document().Object(L"ActiveWindow").Object(L"View").Long(L"FieldShading"), 2);
  EXPECT_EQ(driver->Document().Bool(L"PrintRevisions"), false);
  EXPECT_EQ(driver->Document().Long(L"ProtectionType"), -1) << "no protection asked for";
  EXPECT_EQ(notes, std::vector<std::string>{"0,0,1"});
  ASSERT_EQ(driver->setTrackRev(VARIANT_TRUE), S_OK);
  ASSERT_EQ(driver->setTrackRev(VARIANT_FALSE), S_OK);
  EXPECT_EQ(notes, (std::vector<std::string>{"0,0,1", "0,0,0", "0,0,1"}));
  ASSERT_FALSE(gui.logs.empty());
  EXPECT_EQ(gui.logs.back(), L"in _SetShowTrack,WordDocNew.ShowRevisions=:true");
}

// Word 2007 and later caption a file of the 97-2003 format "<name> [Compatibility
// Mode] - Word": the document's window is found all the same.
TEST_F(WordDriver, DocumentWindowInCompatibilityMode) {
  std::ofstream("c:\\doubles\\control.ini") << "[word]\r\ncaption=Word\r\ncompatibility=1\r\n";
  std::string doc = Fixture("old.doc", "<text>Old format</text>");
  Configure(doc);
  ASSERT_TRUE(Start());
  HWND window = driver->FindDocWnd();
  ASSERT_NE(window, nullptr) << "found in compatibility mode";
  wchar_t caption[256] = L"";
  GetWindowTextW(window, caption, 256);
  EXPECT_EQ(std::wstring(caption), L"old.doc [Compatibility Mode] - Word");
  wchar_t windowClass[16] = L"";
  GetClassNameW(window, windowClass, 16);
  EXPECT_EQ(std::wstring(windowClass), L"OpusApp");
}

TEST_F(WordDriver, ClosesBehindItsBackAreRefused) {
  std::string doc = Fixture("letter.doc", "<text>Letter</text>");
  Configure(doc);
  ASSERT_TRUE(Start());
  HWND window = driver->FindDocWnd();
  ASSERT_NE(window, nullptr);
  wchar_t caption[256] = L"";
  GetWindowTextW(window, caption, 256);
  EXPECT_EQ(std::wstring(caption), L"letter.doc - Microsoft Word");
  {
    DialogRobot robot(L"", false, 0, L"#32770");
    PostMessageW(window, WM_CLOSE, 0, 0);  // the user closes Word's window
    for (int i = 0; i < 100 && !robot.Pressed(); ++i) DelayWithMessages(50);
    DelayWithMessages(300);
    EXPECT_EQ(robot.Seen().text, W("\r\n请不要使用这种方式来关闭文档,而使用\"关闭\"按钮来关闭!"));
    EXPECT_EQ(robot.Seen().title, W("确认"));
  }
  EXPECT_EQ(DocumentCount(), 1) << "the document stays open";
  EXPECT_EQ(driver->Document().Text(L"Name"), L"letter.doc");

  // Other documents in the same Word close freely.
  {
    std::string other = Fixture("other.doc", "<text>Other</text>");
    DispObject word(values->WordApplication);
    DispObject second = word.Object(L"Documents").CallObject(L"Open", {Arg::Ansi(other)});
    EXPECT_FALSE(second.SameObject(driver->Document().Get())) << "two documents, two identities";
    EXPECT_TRUE(driver->Document().SameObject(driver->Document().Get()));
    DialogRobot none(L"", false, 0, L"#32770");
    second.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
    none.Stop();
    EXPECT_FALSE(none.SawDialog());
    EXPECT_EQ(DocumentCount(), 1);
  }

  // The driver's own close goes through, once.
  driver->CloseDocNoSave();
  EXPECT_EQ(DocumentCount(), 0);
  driver->ReopenDoc();
  EXPECT_EQ(DocumentCount(), 1);

  // Saved under another name in Word: the save is refused with both messages.
  driver->Document().Call(L"SaveAs", {}, {{L"FileName", Arg::Ansi(work + "\\other.doc")}});
  EXPECT_EQ(driver->SaveDoc(), VARIANT_FALSE);
  ASSERT_EQ(gui.messages.size(), 2u);
  EXPECT_EQ(gui.messages[0], W("文档被非正常地关闭！\r\n程序将尝试打开源文件..."));
  EXPECT_EQ(gui.messages[1], W("\r\n无法再打开源文件，请重新打开文件进入！"));
  EXPECT_EQ(gui.buttonSets[0], L"2");
}

TEST_F(WordDriver, ProtectedDocumentsAndPasswords) {
  std::string doc = Fixture("locked.doc", "<text>Locked</text><protection type=\"0\" password=\"abc\"/>");
  Configure(doc);
  BStr wrong(L"xyz"), right(L"abc");
  ASSERT_EQ(driver->SetRvePassWord(wrong.Get()), S_OK);
  ASSERT_EQ(driver->setSaveTrack(VARIANT_TRUE), S_OK);
  ASSERT_TRUE(Start()) << "an already protected document is left as it is";
  EXPECT_EQ(driver->Document().Long(L"ProtectionType"), 0);
  EXPECT_THROW(driver->SaveDoc(), ComError) << "the wrong page password fails the save";
  EXPECT_EQ(driver->getTrackRev(), VARIANT_FALSE) << "the display was put back";
  driver->AppQuit();

  driver = TCommEdt_NibWord::Create(values);
  driver->SetICommGUI(&gui);
  Configure(doc);
  driver->SetRvePassWord(right.Get());
  driver->setSaveTrack(VARIANT_TRUE);
  ASSERT_TRUE(Start());
  Type(L"Edit ");
  EXPECT_EQ(driver->SaveDoc(), VARIANT_TRUE);
  EXPECT_EQ(ProtectPasswords().back(), "abc") << "protected again with the page's password";

  // Without protection asked for, the page's password lifts the protection.
  driver->AppQuit();
  driver = TCommEdt_NibWord::Create(values);
  driver->SetICommGUI(&gui);
  Configure(doc);
  driver->SetRvePassWord(right.Get());
  ASSERT_TRUE(Start());
  EXPECT_EQ(driver->Document().Long(L"ProtectionType"), -1);
}

TEST_F(WordDriver, RevisionCopyAndReopen) {
  std::string doc = Fixture("memo.doc", "<text>Tracked Memo</text><revision author=\"Li\">Tracked </revision>");
  Configure(doc);
  ASSERT_TRUE(Start());
  Type(L"Added ");
  driver->MakeRevisionCopy();
  EXPECT_EQ(DocumentCount(), 0) << "no document of the driver is open";
  std::string original = ReadAll(driver->OriRevisionFN), accepted = ReadAll(driver->RevisionFN);
  EXPECT_EQ(FolderOfPath(driver->OriRevisionFN), FolderOfPath(doc)) << "beside the working copy, not in C:\\";
  EXPECT_EQ(FolderOfPath(driver->RevisionFN), FolderOfPath(doc));
  EXPECT_NE(original.find("<revision"), std::string::npos) << original;
  EXPECT_EQ(accepted.find("<revision"), std::string::npos) << accepted;
  EXPECT_NE(accepted.find("Added Tracked Memo"), std::string::npos) << accepted;
  driver->ReopenDoc();
  EXPECT_EQ(DocumentCount(), 1);
  DeleteFileA(driver->OriRevisionFN.c_str());
  DeleteFileA(driver->RevisionFN.c_str());
}

TEST_F(WordDriver, NormalTemplateGuard) {
  // Unchanged: the backup goes, nothing is copied.
  Configure(Fixture("a.doc", "<text>A</text>"));
  ASSERT_TRUE(Start());
  TResotreNormalDotRec rec = driver->NormalDotBackup();
  ASSERT_TRUE(rec.valid);
  EXPECT_TRUE(FileExists(rec.BakFN));
  EXPECT_EQ(ReadScrambledRegValue(HKEY_CURRENT_USER, kKarstoKey, kNormalTmplValue), rec.NormalFN);
  DWORD type = 0;
  RegGetValueA(HKEY_CURRENT_USER, "Software\\ZR\\Karsto", kNormalTmplValue, RRF_RT_ANY, &type, nullptr, nullptr);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY)) << "kept scrambled, not as text";
  std::string original = ReadAll(rec.NormalFN);
  driver->AppQuit();
  EXPECT_FALSE(FileExists(rec.BakFN));
  EXPECT_EQ(ReadAll(rec.NormalFN), original);

  // Changed while Word ran: put back.
  auto change = [](const std::string& path) {
    std::ofstream(path, std::ios::binary) << "changed by Word";
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks{{now.dwLowDateTime, now.dwHighDateTime}};
    ticks.QuadPart += 36000000000ULL;  // an hour on
    FILETIME later{ticks.LowPart, ticks.HighPart};
    SetFileTime(file, nullptr, nullptr, &later);
    CloseHandle(file);
  };
  driver = TCommEdt_NibWord::Create(values);
  driver->SetICommGUI(&gui);
  Configure(Fixture("b.doc", "<text>B</text>"));
  ASSERT_TRUE(Start());
  rec = driver->NormalDotBackup();
  change(rec.NormalFN);
  driver->AppQuit();
  EXPECT_EQ(ReadAll(rec.NormalFN), original);
  EXPECT_FALSE(FileExists(rec.BakFN));

  // Changed and locked: the backup is kept and its place written down.
  driver = TCommEdt_NibWord::Create(values);
  driver->SetICommGUI(&gui);
  Configure(Fixture("c.doc", "<text>C</text>"));
  ASSERT_TRUE(Start());
  rec = driver->NormalDotBackup();
  change(rec.NormalFN);
  HANDLE lock = CreateFileA(rec.NormalFN.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  driver->AppQuit();
  CloseHandle(lock);
  EXPECT_TRUE(FileExists(rec.BakFN)) << "the user's template is not lost";
  ASSERT_FALSE(gui.files.empty());
  EXPECT_NE(gui.files.back().find(AnsiToWide(rec.BakFN)), std::wstring::npos);
  CopyFileA(rec.BakFN.c_str(), rec.NormalFN.c_str(), FALSE);
  DeleteFileA(rec.BakFN.c_str());
}

TEST_F(WordDriver, WordThatCannotStart) {
  std::ofstream("c:\\doubles\\control.ini") << "[create]\r\nfail=1\r\n";
  Configure(Fixture("d.doc", "<text>D</text>"));
  EXPECT_FALSE(Start());
  ASSERT_EQ(gui.messages.size(), 1u);
  EXPECT_EQ(gui.messages[0], W("\r\n不能启动Word!"));
  EXPECT_EQ(gui.types[0], 0);
  EXPECT_FALSE(driver->Connected());
  // Still here: the host process goes on.
  DeleteFileA("c:\\doubles\\control.ini");
  EXPECT_TRUE(Start()) << "a later start works";
}

TEST_F(WordDriver, MalformedDocumentFailsTheOpen) {
  std::string doc = work + "\\broken.doc";
  std::ofstream(doc, std::ios::binary) << "not a document";
  Configure(doc);
  EXPECT_FALSE(Start());
  ASSERT_EQ(gui.messages.size(), 1u);
  EXPECT_EQ(gui.messages[0], W("打开Word文档未成功!"));
  EXPECT_EQ(gui.types[0], 2);
  EXPECT_TRUE(driver->Connected()) << "connected without a document; the owner quits it";
}

}  // namespace
}  // namespace nib::test

namespace nib::test {
namespace {

class WordHelpers : public WordDriver {};

// A text longer than a form field takes, cut to what Word accepts: the double
// refuses more than 255 characters, as Word does.
// The converted page is the server's content: the browser that measures it
// is told, as a browser's host tells it, to run and fetch no active content.
TEST_F(WordHelpers, ThePageMeasuringBrowserRunsNoContent) {
  Microsoft::WRL::ComPtr<IOleClientSite> site = NewPageMeasureSite(nullptr);
  Microsoft::WRL::ComPtr<IDispatch> ambient;
  ASSERT_EQ(site.As(&ambient), S_OK) << "the browser asks its site's IDispatch for ambient properties";
  DISPPARAMS none{};
  VARIANT value;
  VariantInit(&value);
  ASSERT_EQ(ambient->Invoke(-5512 /* DISPID_AMBIENT_DLCONTROL */, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value,
                            nullptr, nullptr), S_OK);
  ASSERT_EQ(V_VT(&value), VT_I4);
  LONG flags = V_I4(&value);
  for (LONG forbidden : {0x80L /* no scripts */, 0x100L /* no Java */, 0x200L /* no ActiveX run */,
                         0x400L /* no ActiveX download */})
    EXPECT_EQ(flags & forbidden, forbidden) << std::hex << flags;
  EXPECT_EQ(flags & 0x10, 0x10) << "images load: they take room on the page";
}

TEST_F(WordHelpers, FormFieldTextsAreCutToWhatWordTakes) {
  std::string doc = Fixture("form.doc", "<text>Body</text><formfield name=\"No\" result=\"\" default=\"\"/>");
  Configure(doc);
  ASSERT_TRUE(Start());
  std::wstring chinese;
  for (int i = 0; i < 300; ++i) chinese += L'\x6587';  // 文
  std::wstring cut = TWordUtil::FormFieldText(chinese);
  EXPECT_EQ(cut, chinese.substr(0, 255));
  DispObject field = driver->Document().Object(L"FormFields").CallObject(L"Item", {Arg(L"No")});
  EXPECT_THROW(field.Put(L"Result", chinese), ComError) << "Word refuses the whole text";
  field.Put(L"Result", cut);
  field.Object(L"TextInput").Put(L"Default", cut);
  EXPECT_EQ(field.Text(L"Result"), cut);

  std::wstring pair = std::wstring(254, L'a') + L"\xD840\xDC00" + L"tail";  // a character outside the BMP at 255
  EXPECT_EQ(TWordUtil::FormFieldText(pair), std::wstring(254, L'a')) << "never half a character";
  EXPECT_EQ(TWordUtil::FormFieldText(L"short"), L"short");
}

TEST_F(WordHelpers, AttachOrStartBookmarksRangesAndShapes) {
  std::string path = Fixture("parts.doc",
                             "<text>0123456789ABCDEFGHIJ</text>"
                             "<bookmark name=\"HeadB\" start=\"0\" end=\"2\"/>"
                             "<bookmark name=\"HeadE\" start=\"8\" end=\"10\"/>"
                             "<shape name=\"Line 1\" type=\"line\" properties=\"Anchor=3;Line.ForeColor.RGB=255\"/>"
                             "<shape name=\"Line 2\" type=\"line\" properties=\"Anchor=15;Line.ForeColor.RGB=65280\"/>");
  WordServer started, attached;
  int how = 0;
  ASSERT_TRUE(TWordUtil::AttachOrStartWord(started, nullptr, how, true));
  EXPECT_EQ(how, 1) << "no cycle's Word: one of its own";
  ASSERT_TRUE(TWordUtil::AttachOrStartWord(attached, started.app.Get(), how, true));
  EXPECT_EQ(how, 2) << "the cycle's Word is used";
  EXPECT_TRUE(attached.app.SameObject(started.app.Get()));
  EXPECT_TRUE(TWordUtil::ReleaseWord(attached, false));
  EXPECT_FALSE(attached.connected);

  DispObject doc = started.app.Object(L"Documents").CallObject(L"Open", {Arg::Ansi(path)});
  DispObject begin = TWordUtil::GetBookmarkByName(doc, L"HeadB", false);
  DispObject end = TWordUtil::GetBookmarkByName(doc, L"HeadE", false);
  ASSERT_TRUE(begin && end);
  EXPECT_FALSE(TWordUtil::GetBookmarkByName(doc, L"Missing", false)) << "no bookmark, no error";
  EXPECT_EQ(TWordUtil::GetBookmarkByName(doc, L"Head", true).Text(L"Name"), L"HeadB") << "the lowest index";
  EXPECT_FALSE(TWordUtil::GetBookmarkByName(doc, L"Tail", true));

  DispObject body = TWordUtil::RangeBetweenBookmarks(doc, &begin, &end, false);
  EXPECT_EQ(body.Long(L"Start"), 2);
  EXPECT_EQ(body.Long(L"End"), 10);
  EXPECT_EQ(TWordUtil::RangeBetweenBookmarks(doc, &begin, &end, true).Long(L"End"), 9);
  EXPECT_FALSE(TWordUtil::RangeBetweenBookmarks(doc, &end, &begin, false)) << "end before start";
  EXPECT_EQ(TWordUtil::RangeBetweenBookmarks(doc, nullptr, &end, false).Long(L"Start"), 0);
  EXPECT_EQ(TWordUtil::RangeBetweenBookmarks(doc, &end, nullptr, false).Long(L"End"), 20);

  auto namesIn = [&](const std::vector<std::pair<long, long>>& spans) {
    std::vector<StorySpan> regions;
    for (auto [start, finish] : spans) regions.push_back({DispObject(), start, finish});
    std::string names;
    for (DispObject shape : TWordUtil::ShapesInRegions(doc, regions)) names += WideToAnsi(shape.Text(L"Name")) + ";";
    return names;
  };
  EXPECT_EQ(namesIn({{0, 10}}), "Line 1;");
  EXPECT_EQ(namesIn({{0, 10}, {12, 20}, {0, 20}}), "Line 1;Line 2;") << "each shape once";
  EXPECT_EQ(namesIn({{4, 14}}), "");

  std::vector<DispObject> shapes = TWordUtil::ShapesInRegions(doc, {{DispObject(), 0, 20}});
  std::vector<ShapeLine> colors = TWordUtil::SaveShapeLineColors(shapes);
  ASSERT_EQ(colors.size(), 2u);
  EXPECT_EQ(colors[0].rgb, 255);
  EXPECT_EQ(colors[1].rgb, 65280);
  for (DispObject shape : shapes) shape.Object(L"Line").Object(L"ForeColor").Put(L"RGB", 0xC1C1C1L);
  TWordUtil::RestoreShapeLineColors(colors);
  EXPECT_EQ(TWordUtil::SaveShapeLineColors(shapes)[1].rgb, 65280);

  // The body bookmarks and the recorded template bookmarks.
  TBakValidBMSRec rec;
  EXPECT_TRUE(TWordUtil::ChkBodyBookmarks(doc, rec, "Head"));
  rec.bodyLength = 8;
  rec.names = {"HeadB", "HeadE"};
  rec.positions = {{1, 0}, {2, 8}};
  EXPECT_TRUE(TWordUtil::ChkBodyBookmarks(doc, rec, "Head")) << "unchanged body: the end stays at 8";
  rec.positions = {{1, 0}, {2, 9}};
  {
    DialogRobot robot(L"OK");
    EXPECT_FALSE(TWordUtil::ChkBodyBookmarks(doc, rec, "Head"));
    EXPECT_EQ(robot.Seen().text, W("\r\n文档中的模板部分不允许修改:\r\nWord文档中的书签 HeadE 已丢失或位置发生了变化!"));
  }
  {
    DialogRobot robot(L"OK");
    EXPECT_FALSE(TWordUtil::ChkBodyBookmarks(doc, TBakValidBMSRec{}, "Body"));
    EXPECT_EQ(robot.Seen().text, W("\r\n文档中的模板部分不允许修改:\r\nWord文档中的书签 BodyB或BodyE 已丢失或位置发生了变化!"));
  }

  doc = DispObject();
  body = begin = end = DispObject();
  shapes.clear();
  colors.clear();
  HWND window = FindWindowW(L"OpusApp", nullptr);
  DWORD pid = ProcessOfWindow(window);
  EXPECT_TRUE(TWordUtil::ReleaseWord(started, true));
  EXPECT_TRUE(ProcessEnds(pid));
}

}  // namespace
}  // namespace nib::test

namespace nib::test {
namespace {

TEST_F(WordDriver, OpenVariantsAndThePageEvent) {
  // ProcID "6" with another ProcID2: the revisions are accepted at open.
  std::string doc = Fixture("gw.doc", "<text>Old New</text><revision author=\"Li\">New</revision>");
  Configure(doc);
  TestSink sink;
  values->EventSink = &sink;
  values->DestBaseFN = Gb("通知");
  driver->setTrackRev(VARIANT_TRUE);
  ASSERT_TRUE(Start(L"6", L"2"));
  EXPECT_EQ(ReadAll(doc).find("<revision"), std::string::npos) << "accepted and saved";
  EXPECT_EQ(notes, (std::vector<std::string>{"0,0,0", "0,0,1"})) << "shown at open, hidden after accepting";
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings, (std::vector<std::wstring>{L"TempletFN", W("通知"), L"b"}));
  EXPECT_EQ(sink.calls[0].types, (std::vector<VARTYPE>{VT_BSTR, VT_BSTR, VT_BSTR, VT_DISPATCH, VT_DISPATCH}));
  values->EventSink.Reset();
  values->DestBaseFN.clear();
  driver->AppQuit();

  // The red-header variant shows revisions first and protects afterwards.
  driver = TCommEdt_NibWord::Create(values);
  driver->SetICommGUI(&gui);
  notes.clear();
  driver->OnEdtStsNotify = [this](long app, long item, long sts) {
    notes.push_back(std::to_string(app) + "," + std::to_string(item) + "," + std::to_string(sts));
  };
  Configure(doc);
  driver->setSaveTrack(VARIANT_TRUE);
  ASSERT_EQ(driver->StartEdtAppAndOpenHtDoc(), VARIANT_TRUE);
  EXPECT_EQ(notes, std::vector<std::string>{"0,0,1"});
  EXPECT_EQ(driver->Document().Long(L"ProtectionType"), 0);
  std::string log = ReadAll("c:\\doubles\\calls.log");
  EXPECT_LT(log.rfind("Document.ShowRevisions"), log.rfind("Document.Protect\t")) << "display first, then protection";

  // Bringing Word forward keeps it usable from the driver.
  driver->SetAppWindowState(1, true);
  EXPECT_EQ(DispObject(values->WordApplication).Long(L"WindowState"), 1);
}

}  // namespace
}  // namespace nib::test
