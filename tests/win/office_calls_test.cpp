// Office as its object-model reference describes it. First the doubles,
// switched to the harsher behaviours of real Office; then the product's own
// edit cycles against them, as a page and its user run them.

#include <windows.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "DialogRobot.h"
#include "FlowFixture.h"
#include "TestSupport.h"
#include "com/BStr.h"
#include "com/ComError.h"
#include "com/Dispatch.h"
#include "com/StrConv.h"
#include "com/Variant.h"
#include "services/Files.h"
#include "services/UniqueName.h"
#include "services/WindowUtil.h"

namespace nib::test {
namespace {

using Microsoft::WRL::ComPtr;

constexpr CLSID kExcel = {0x00024500, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr CLSID kPowerPoint = {0x91493441, 0x5A91, 0x11CF, {0x87, 0x00, 0x00, 0xAA, 0x00, 0x60, 0x26, 0x3B}};
constexpr HRESULT kPasswordIncorrect = static_cast<HRESULT>(0x800A156D);
constexpr HRESULT kLocaleRefused = static_cast<HRESULT>(0x80028018);
constexpr int kInsertFileButton = 7;  // 引入正文

void Control(const std::string& ini) {
  CreateDirectoryA("c:\\doubles", nullptr);
  std::ofstream("c:\\doubles\\control.ini", std::ios::binary) << ini;
}
std::string CallLog() { return ReadAll("c:\\doubles\\calls.log"); }

// The log's lines that hold `text`.
std::vector<std::string> LinesWith(const std::string& log, const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < log.size();) {
    size_t end = log.find('\n', at);
    std::string line = log.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (line.find(text) != std::string::npos) lines.push_back(line);
    at = end == std::string::npos ? log.size() : end + 1;
  }
  return lines;
}

DispObject Start(const CLSID& type) {
  ComPtr<IDispatch> app;
  HRESULT hr = CoCreateInstance(type, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&app));
  EXPECT_EQ(hr, S_OK) << "the double starts";
  return DispObject(app);
}

void QuitQuietly(DispObject& app) {
  try {
    app.Call(L"Quit");
  } catch (const ComError&) {
  }
}

// Watches for a window captioned `title` (a dialog of Office's own) while a
// step runs; closes it so that a failing product does not hang the test.
class DialogWatch {
 public:
  explicit DialogWatch(const wchar_t* title) : title_(title), thread_([this] { Run(); }) {}
  ~DialogWatch() { Stop(); }
  bool Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  void Run() {
    while (!stop_) {
      if (HWND dialog = FindWindowW(nullptr, title_)) {
        seen_ = true;
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      }
      Sleep(20);
    }
  }
  const wchar_t* title_;
  std::atomic<bool> stop_{false}, seen_{false};
  std::thread thread_;
};

class OfficeReference : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    CreateDirectoryA("c:\\doubles", nullptr);
    DeleteFileA("c:\\doubles\\control.ini");
    DeleteFileA("c:\\doubles\\calls.log");
    work = TempFolderPath() + "nib-reference-" + NewUniqueName();
    CreateDirectoryA(work.c_str(), nullptr);
  }
  void TearDown() override {
    DeleteFileA("c:\\doubles\\control.ini");
    DeleteTree(work);
    ComApartment::TearDown();
  }
  std::string Fixture(const std::string& name, const std::string& inner) {
    std::string path = work + "\\" + name;
    std::ofstream(path, std::ios::binary) << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nibdoc>" << inner
                                          << "</nibdoc>\n";
    return path;
  }
  DispObject OpenIn(DispObject& word, const std::string& path) {
    return word.Object(L"Documents").CallObject(L"Open", {Arg::Ansi(path)});
  }
  std::string work;
};

TEST_F(OfficeReference, RunRunsMacrosNotWordCommands) {
  DispObject word = Start(kWord);
  try {
    word.Call(L"Run", {Arg(L"InsertFile")});
    ADD_FAILURE() << "Run reached a built-in command";
  } catch (const ComError& e) {
    EXPECT_NE(std::string(e.what()).find("Unable to run the specified macro"), std::string::npos) << e.what();
  }
  // The insert-file dialog is Word's dialog 164, modal while it is shown.
  DialogRobot robot(L"#2", false, 0, L"#32770");
  EXPECT_EQ(LongOf(word.Object(L"Dialogs").CallObject(L"Item", {Arg(164)}).Call(L"Show")), 0) << "cancelled";
  EXPECT_EQ(robot.Seen().title, L"Insert File");
  QuitQuietly(word);
}

TEST_F(OfficeReference, SignedInAccountNamesRevisionsUnlessLocalUserInfo) {
  Control("[word]\r\nsignedin=Office Account\r\n");
  std::string path = Fixture("signed.doc", "<text>Body</text><protection type=\"0\" password=\"\"/>");
  DispObject word = Start(kWord);
  word.Put(L"UserName", L"Zhang");
  DispObject document = OpenIn(word, path);
  document.CallObject(L"Range", {Arg(0), Arg(0)}).Put(L"Text", L"A ");
  EXPECT_EQ(document.Object(L"Revisions").CallObject(L"Item", {Arg(1)}).Text(L"Author"), L"Office Account");
  DispObject options = word.Object(L"Options");
  EXPECT_FALSE(options.Bool(L"UseLocalUserInfo"));
  options.Put(L"UseLocalUserInfo", true);
  document.CallObject(L"Range", {Arg(0), Arg(0)}).Put(L"Text", L"B ");
  EXPECT_EQ(document.Object(L"Revisions").CallObject(L"Item", {Arg(2)}).Text(L"Author"), L"Zhang");
  EXPECT_EQ(word.Text(L"Version"), L"16.0");
  QuitQuietly(word);

  Control("[word]\r\nsignedin=Office Account\r\nversion=14\r\n");
  word = Start(kWord);
  word.Put(L"UserName", L"Zhang");
  EXPECT_EQ(word.Text(L"Version"), L"14.0");
  try {
    word.Object(L"Options").Bool(L"UseLocalUserInfo");
    ADD_FAILURE() << "Word 2010 has no UseLocalUserInfo";
  } catch (const ComError& e) {
    EXPECT_EQ(e.Code(), DISP_E_UNKNOWNNAME) << e.what();
  }
  document = OpenIn(word, path);
  document.CallObject(L"Range", {Arg(0), Arg(0)}).Put(L"Text", L"C ");
  EXPECT_EQ(document.Object(L"Revisions").CallObject(L"Item", {Arg(1)}).Text(L"Author"), L"Zhang")
      << "Word 2010 knows no account";
  QuitQuietly(word);
}

TEST_F(OfficeReference, UnprotectWithoutThePasswordAsksForIt) {
  std::string path = Fixture("locked.doc", "<text>Body</text><protection type=\"0\" password=\"secret\"/>");
  DispObject word = Start(kWord);
  DispObject document = OpenIn(word, path);
  try {
    document.Call(L"Unprotect", {Arg(L"wrong")});
    ADD_FAILURE() << "a wrong password is refused";
  } catch (const ComError& e) {
    EXPECT_EQ(e.Code(), kPasswordIncorrect) << e.what();
  }
  {
    DialogRobot robot(L"#2", false, 0, L"#32770");
    EXPECT_THROW(document.Call(L"Unprotect"), ComError) << "the dialog cancelled";
    EXPECT_EQ(robot.Seen().title, L"Unprotect Document") << "no password: Word asks in its dialog";
  }
  EXPECT_EQ(document.Long(L"ProtectionType"), 0);
  document.Call(L"Unprotect", {Arg(L"secret")});
  EXPECT_EQ(document.Long(L"ProtectionType"), -1);
  QuitQuietly(word);
}

TEST_F(OfficeReference, FormFieldTextsAreAtMost255Characters) {
  std::string path = Fixture("form.doc", "<text>Body</text><formfield name=\"No\" result=\"\" default=\"\"/>");
  DispObject word = Start(kWord);
  DispObject field = OpenIn(word, path).Object(L"FormFields").CallObject(L"Item", {Arg(L"No")});
  std::wstring longest(255, L'x'), tooLong(256, L'x');
  field.Put(L"Result", longest);
  field.Object(L"TextInput").Put(L"Default", longest);
  EXPECT_THROW(field.Put(L"Result", tooLong), ComError);
  EXPECT_THROW(field.Object(L"TextInput").Put(L"Default", tooLong), ComError);
  QuitQuietly(word);
}

TEST_F(OfficeReference, BackgroundPrintingRendersAfterTheCallReturned) {
  std::string path = Fixture("print.doc", "<text>HEAD BODY</text><font start=\"0\" end=\"4\" attribute=\"Color\" value=\"255\"/>");
  DispObject word = Start(kWord);
  DispObject document = OpenIn(word, path);
  document.Call(L"PrintOut");
  document.CallObject(L"Range", {Arg(0), Arg(4)}).Object(L"Font").Put(L"Color", 16777215L);
  DelayWithMessages(800);
  std::vector<std::string> rendered = LinesWith(CallLog(), "PrintOut.colours");
  ASSERT_EQ(rendered.size(), 1u);
  EXPECT_NE(rendered[0].find("0-4=16777215;"), std::string::npos) << "the colours as they were at rendering: "
                                                                   << rendered[0];
  document.Call(L"PrintOut", {}, {{L"Background", Arg(false)}});
  document.CallObject(L"Range", {Arg(0), Arg(4)}).Object(L"Font").Put(L"Color", 0L);
  rendered = LinesWith(CallLog(), "PrintOut.colours");
  ASSERT_EQ(rendered.size(), 2u) << "printed before the call returned";
  EXPECT_EQ(rendered[1].find("0-4=0;"), std::string::npos) << rendered[1];
  QuitQuietly(word);
}

TEST_F(OfficeReference, OpenedFilesRunTheirMacrosUnlessForbidden) {
  std::string path = Fixture("macro.doc", "<text>Body</text><macro name=\"AutoOpen\"/>");
  DispObject word = Start(kWord);
  EXPECT_EQ(word.Long(L"AutomationSecurity"), 1) << "msoAutomationSecurityLow for a Word started by automation";
  OpenIn(word, path).Call(L"Close");
  EXPECT_EQ(LinesWith(CallLog(), "<macro>\tAutoOpen in macro.doc\tran").size(), 1u) << CallLog();
  word.Put(L"AutomationSecurity", 3L);
  OpenIn(word, path).Call(L"Close");
  EXPECT_EQ(LinesWith(CallLog(), "<macro>\tAutoOpen in macro.doc\tdisabled").size(), 1u) << CallLog();
  QuitQuietly(word);
}

TEST_F(OfficeReference, EnglishExcelAnswersOnlyUsEnglish) {
  Control("[excel]\r\nenglish=1\r\n");
  DispObject excel = Start(kExcel);
  LPOLESTR name = const_cast<LPOLESTR>(L"Visible");
  DISPID id = 0;
  EXPECT_EQ(excel.Get()->GetIDsOfNames(IID_NULL, &name, 1, 2052, &id), kLocaleRefused);
  ASSERT_EQ(excel.Get()->GetIDsOfNames(IID_NULL, &name, 1, 1033, &id), S_OK);
  DISPPARAMS none{};
  Variant value;
  EXPECT_EQ(excel.Get()->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value.Get(), nullptr,
                                nullptr),
            kLocaleRefused);
  EXPECT_FALSE(excel.Bool(L"Visible")) << "1033 is answered";
  EXPECT_NE(CallLog().find("Application.Visible\t\tok\tlcid=1033"), std::string::npos) << "the log shows the locale";
  QuitQuietly(excel);
}

TEST_F(OfficeReference, ExcelAsksAboutLinksUnlessTold) {
  Control("[excel]\r\nlinks=1\r\n");
  std::string path = Fixture("linked.xls", "<text>Sheet</text>");
  DispObject excel = Start(kExcel);
  {
    DialogRobot robot(L"", false, 0, L"#32770");
    excel.Object(L"Workbooks").CallObject(L"Open", {Arg::Ansi(path)}).Call(L"Close");
    EXPECT_EQ(robot.Seen().title, L"Microsoft Excel") << "UpdateLinks omitted: the user is asked";
  }
  DialogRobot none(L"", false, 0, L"#32770");
  excel.Object(L"Workbooks").CallObject(L"Open", {Arg::Ansi(path), Arg(0)}).Call(L"Close");
  none.Stop();
  EXPECT_FALSE(none.SawDialog());
  QuitQuietly(excel);
}

TEST_F(OfficeReference, PowerPoint2013HasNoWebPageFormat) {
  Control("[powerpoint]\r\nsavehtml=0\r\n");
  std::string path = Fixture("deck.ppt", "<text>Slide</text>");
  DispObject powerPoint = Start(kPowerPoint);
  DispObject deck = powerPoint.Object(L"Presentations").CallObject(L"Open", {Arg::Ansi(path)});
  EXPECT_THROW(deck.Call(L"SaveAs", {Arg::Ansi(work + "\\deck.htm"), Arg(12)}), ComError);
  deck.Call(L"SaveAs", {Arg::Ansi(work + "\\deck2.ppt"), Arg(1)});
  QuitQuietly(powerPoint);
}

// --- the product's cycles ------------------------------------------------------------------

class OfficeFlow : public FlowFixture {
 protected:
  void SetUp() override {
    CreateDirectoryA("c:\\doubles", nullptr);
    DeleteFileA("c:\\doubles\\control.ini");
    DeleteFileA("c:\\doubles\\calls.log");
    FlowFixture::SetUp();
  }
  void TearDown() override {
    FlowFixture::TearDown();
    DeleteFileA("c:\\doubles\\control.ini");
  }
  // The user types in the cycle's Word; the document's revisions' authors after it.
  std::vector<std::wstring> TypeAndReadAuthors(const wchar_t* text) {
    TypeInWord(text);
    std::vector<std::wstring> authors;
    DispObject revisions = RunningWord().Object(L"ActiveDocument").Object(L"Revisions");
    for (long i = 1, count = revisions.Long(L"Count"); i <= count; ++i)
      authors.push_back(revisions.CallObject(L"Item", {Arg(i)}).Text(L"Author"));
    return authors;
  }
  void SaveAndClose() {
    sink.calls.clear();
    SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);
    EXPECT_EQ(Uploaded("body").substr(0, 2), "PK") << "converted and uploaded";
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].strings[1], L"Save");
  }
};

TEST_F(OfficeFlow, RevisionsCarryThePageUserWhenAnAccountIsSignedIn) {
  Control("[word]\r\nsignedin=Office Account\r\n");
  Serve("signed.doc", "Body");
  Configure("signed.doc", "&reply=OK");
  EXPECT_EQ(Open(L"1"), L"");
  ASSERT_NE(ControlButton(kSaveAndClose), nullptr);
  EXPECT_EQ(TypeAndReadAuthors(L"Edited "), std::vector<std::wstring>{W("张三")});
  SaveAndClose();

  std::string log = CallLog();
  std::vector<std::string> option = LinesWith(log, "Options.UseLocalUserInfo\t=");
  ASSERT_EQ(option.size(), 2u) << log;
  EXPECT_NE(option[0].find("= True\tok"), std::string::npos) << "set for the cycle: " << option[0];
  EXPECT_NE(option[1].find("= False\tok"), std::string::npos) << "given back at quit: " << option[1];
  EXPECT_LT(log.find("Options.UseLocalUserInfo\t= False"), log.find("Application.Quit")) << log;
  // Every call the cycle made went out in US English.
  for (const std::string& line : LinesWith(log, "\tlcid="))
    EXPECT_NE(line.find("\tlcid=1033\t"), std::string::npos) << line;
}

TEST_F(OfficeFlow, RevisionsCarryThePageUserOnWord2010) {
  Control("[word]\r\nsignedin=Office Account\r\nversion=14\r\n");
  Serve("word2010.doc", "Body");
  Configure("word2010.doc", "&reply=OK");
  EXPECT_EQ(Open(L"1"), L"");
  ASSERT_NE(ControlButton(kSaveAndClose), nullptr);
  EXPECT_EQ(TypeAndReadAuthors(L"Edited "), std::vector<std::wstring>{W("张三")});
  SaveAndClose();
  EXPECT_TRUE(LinesWith(CallLog(), "UseLocalUserInfo").empty()) << "not asked of Word 2010";
}

// Unprotect without the password would open Word's password dialog in a Word
// the user may not see, and hold the page until someone answers it.
TEST_F(OfficeFlow, PasswordProtectedDocumentIsToldAndKeptAsItCame) {
  ServeDocument("locked.doc", "<text>Body</text><protection type=\"0\" password=\"server-secret\"/>");
  Configure("locked.doc", "&reply=OK");
  DialogWatch passwordDialog(L"Unprotect Document");
  std::wstring result;
  SeenDialog told;
  {
    DialogRobot robot(L"");
    result = Open(L"1");
    told = robot.Seen();
  }
  EXPECT_EQ(result, L"");
  EXPECT_NE(told.text.find(W("页面没有提供密码")), std::wstring::npos) << WideToAnsi(told.text, CP_UTF8);
  ASSERT_NE(ControlButton(kSaveAndClose), nullptr) << "the cycle goes on";
  std::string workingCopy = TypeInWord(L"Edited ");
  EXPECT_EQ(RunningWord().Object(L"ActiveDocument").Long(L"ProtectionType"), 0) << "still protected";
  std::vector<std::wstring> toldOnSave;
  {
    DialogCatcher others;  // whatever the save tells, answered
    SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);
    toldOnSave = others.Texts();
  }
  for (const std::wstring& text : toldOnSave) ADD_FAILURE() << "told on saving: " << WideToAnsi(text, CP_UTF8);
  EXPECT_FALSE(passwordDialog.Stop()) << "no password dialog was ever shown";
  EXPECT_TRUE(LinesWith(CallLog(), "Document.Unprotect").empty()) << CallLog();
  std::string uploaded = Uploaded("body");
  EXPECT_EQ(uploaded.substr(0, 2), "PK") << "the save went through; Office's refusals: "
                                        << ::testing::PrintToString(LinesWith(CallLog(), "\terror: "));
}

TEST_F(OfficeFlow, ImportBodyShowsWordsInsertFileDialog) {
  Serve("import.doc", "Body");
  Configure("import.doc", "&reply=OK");
  EXPECT_EQ(Open(L"1"), L"");
  HWND import = ControlButton(kInsertFileButton);
  ASSERT_NE(import, nullptr);
  ASSERT_TRUE(IsWindowEnabled(import));
  {
    DialogRobot robot(L"#2", false, 0, L"#32770");
    SendMessageW(import, BM_CLICK, 0, 0);
    EXPECT_EQ(robot.Seen().title, L"Insert File") << "Word's insert-file dialog came";
  }
  std::string log = CallLog();
  EXPECT_FALSE(LinesWith(log, "Dialogs.Item\t164\tok").empty()) << log;
  EXPECT_FALSE(LinesWith(log, "Dialog.Show\t").empty()) << log;
  EXPECT_TRUE(LinesWith(log, "Application.Run\t").empty()) << "no macro run for it: " << log;
  SaveAndClose();
}

TEST_F(OfficeFlow, MacroDocumentRunsNothing) {
  ServeDocument("macro.doc", "<text>Body</text><macro name=\"AutoOpen\"/>");
  Configure("macro.doc", "&reply=OK");
  EXPECT_EQ(Open(L"1"), L"");
  ASSERT_NE(ControlButton(kSaveAndClose), nullptr);
  SaveAndClose();
  std::string log = CallLog();
  EXPECT_FALSE(LinesWith(log, "<macro>\tAutoOpen in").empty()) << "the macro document was opened: " << log;
  EXPECT_TRUE(LinesWith(log, "\tran\t").empty()) << "no macro ran: " << log;
  size_t forbidden = log.find("Application.AutomationSecurity\t= 3\tok");
  ASSERT_NE(forbidden, std::string::npos) << log;
  EXPECT_LT(forbidden, log.find("Documents.Open\t")) << "before the first document";
}

}  // namespace
}  // namespace nib::test
