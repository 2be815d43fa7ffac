// Office files to HTML archives, through the Office doubles as through Office.

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DialogRobot.h"
#include "TestSupport.h"
#include "com/ComError.h"
#include "com/Handle.h"
#include "com/StrConv.h"
#include "convert/MSDocConvter.h"
#include "services/Files.h"
#include "services/UniqueName.h"

namespace nib::test {
namespace {

// The entry names of a ZIP archive, from its central directory.
std::vector<std::string> ZipEntryNames(const std::string& archive) {
  std::string data = ReadAll(archive);
  std::vector<std::string> names;
  size_t end = data.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos || end + 22 > data.size()) return names;
  auto u16 = [&](size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(data[at])) |
                                     static_cast<unsigned>(static_cast<unsigned char>(data[at + 1])) << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  size_t entry = u32(end + 16);
  for (unsigned i = 0, count = u16(end + 10); i < count && entry + 46 <= data.size(); ++i) {
    unsigned nameLength = u16(entry + 28), extra = u16(entry + 30), comment = u16(entry + 32);
    names.push_back(data.substr(entry + 46, nameLength));
    entry += 46 + nameLength + extra + comment;
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool OfficeWindowGone(const wchar_t* windowClass) {
  for (int i = 0; i < 100; ++i) {
    if (!FindWindowW(windowClass, nullptr)) return true;
    Sleep(100);
  }
  return false;
}

class Conversion : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    CreateDirectoryA("c:\\doubles", nullptr);
    DeleteFileA("c:\\doubles\\control.ini");
    work = TempFolderPath() + "nib-convert-" + NewUniqueName();
    CreateDirectoryA(work.c_str(), nullptr);
  }
  void TearDown() override {
    DeleteFileA("c:\\doubles\\control.ini");
    DeleteTree(work);
    ComApartment::TearDown();
  }
  std::string Fixture(const std::string& name, const std::string& text = "Body") {
    std::string path = work + "\\" + name;
    std::ofstream(path, std::ios::binary) << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nibdoc><text>" << text
                                          << "</text><revision author=\"Li\">Body</revision></nibdoc>\n";
    return path;
  }
  std::string work;
};

TEST_F(Conversion, WordDocumentBecomesAnArchiveBesideIt) {
  std::string source = Fixture("report.DOC");
  TMSDocConvter converter;
  std::vector<std::string> seen;
  converter.OnHtmlConvtOK = [&](const std::string& html) {
    seen.push_back(html);
    EXPECT_TRUE(FileExists(html)) << "the page exists while the handler rewrites it";
    EXPECT_EQ(ReadAll(html).find("<revision"), std::string::npos);
  };
  std::string archive = converter.Convert(source, true, true);
  EXPECT_EQ(archive, work + "\\report.Qoz");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], work + "\\report.htm");
  EXPECT_FALSE(FileExists(work + "\\report.htm")) << "the page is removed after packing";
  EXPECT_FALSE(FolderExists(work + "\\report.files"));
  std::vector<std::string> entries = ZipEntryNames(archive);
  ASSERT_GE(entries.size(), 3u);
  EXPECT_NE(std::find(entries.begin(), entries.end(), "report.DOC"), entries.end()) << "the document itself";
  EXPECT_NE(std::find(entries.begin(), entries.end(), "report.htm"), entries.end());
  EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const std::string& e) {
    return e.rfind("report.files/", 0) == 0;
  })) << "supporting files with relative paths";
  EXPECT_TRUE(OfficeWindowGone(L"OpusApp")) << "the Word it started is quit";
}

TEST_F(Conversion, HeldSourcesAreConvertedFromACopy) {
  std::string source = Fixture("held.doc");
  HANDLE held = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  TMSDocConvter converter;
  std::string archive = converter.Convert(source, true, true);
  CloseHandle(held);
  ASSERT_FALSE(archive.empty());
  EXPECT_NE(FolderOfPath(archive), FolderOfPath(source)) << "packed beside the copy";
  EXPECT_TRUE(FileExists(archive));
  EXPECT_FALSE(FileExists(FolderOfPath(archive) + "held.doc")) << "the copy is gone afterwards";
  EXPECT_TRUE(FileExists(source));
  DeleteTree(FolderOfPath(archive));

  // Held so that not even a copy can be read: nothing, and no message.
  HANDLE locked = CreateFileA(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(converter.Convert(source, true, true), "");
  CloseHandle(locked);
}

TEST_F(Conversion, UnsupportedExtensionsAreRefused) {
  std::string source = Fixture("new.docx");
  TMSDocConvter converter;
  {
    DialogRobot robot(L"OK");
    EXPECT_EQ(converter.Convert(source, true, true), "");
    EXPECT_EQ(robot.Seen().text, Utf8ToWide("\r\n不支持对扩展名为 docx 的文件进行MHT转换!"));
  }
  DialogRobot none(L"OK");
  EXPECT_EQ(converter.Convert(Fixture("sheet.xlsx"), false, true), "");
  none.Stop();
  EXPECT_FALSE(none.SawDialog()) << "quiet when asked to be";
}

TEST_F(Conversion, ExcelAndPowerPointSaveTheirPages) {
  TMSDocConvter converter;
  int converted = 0;
  converter.OnHtmlConvtOK = [&](const std::string&) { ++converted; };
  for (const char* name : {"book.xls", "deck.ppt"}) {
    std::string archive = converter.Convert(Fixture(name), true, true);
    ASSERT_FALSE(archive.empty()) << name;
    std::vector<std::string> entries = ZipEntryNames(archive);
    std::string base = std::string(name).substr(0, 4);
    EXPECT_NE(std::find(entries.begin(), entries.end(), base + ".htm"), entries.end()) << name;
    EXPECT_EQ(std::find(entries.begin(), entries.end(), name), entries.end()) << "packed from a folder of its own";
  }
  EXPECT_EQ(converted, 0) << "only the Word conversion hands the page over";
}

TEST_F(Conversion, OfficeFailures) {
  std::string source = Fixture("fails.doc");
  std::ofstream("c:\\doubles\\control.ini") << "[fail]\r\nDocument.SaveAs=Disk full\r\n";
  TMSDocConvter converter;
  try {
    converter.Convert(source, true, true);
    ADD_FAILURE() << "the failing call reaches the caller";
  } catch (const ComError& e) {
    EXPECT_NE(std::string(e.what()).find("Disk full"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(OfficeWindowGone(L"OpusApp")) << "Word is released on the way out";

  std::ofstream("c:\\doubles\\control.ini") << "[create]\r\nfail=1\r\n";
  DialogRobot robot(L"OK");
  EXPECT_EQ(converter.Convert(Fixture("book.xls"), true, true), "");
  EXPECT_EQ(robot.Seen().text, Utf8ToWide("\r\n不能启动Excel !"));
}

// The process of the double that logged `member` (the log line's first field); null when none did.
UniqueHandle ProcessThatLogged(const std::string& log, const std::string& member) {
  size_t at = log.find("\t" + member + "\t");
  if (at == std::string::npos) return UniqueHandle();
  size_t line = log.rfind('\n', at);
  line = line == std::string::npos ? 0 : line + 1;
  DWORD pid = static_cast<DWORD>(std::stoul(log.substr(line, at - line)));
  return UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, pid));
}

// A file of the doubles' format that holds a macro run when it is opened.
std::string MacroFile(const std::string& folder, const std::string& name) {
  std::string path = folder + "\\" + name;
  std::ofstream(path, std::ios::binary) << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nibdoc><text>Body</text>"
                                        << "<macro name=\"AutoOpen\"/></nibdoc>\n";
  return path;
}

// An English Excel on a Chinese system refuses every call in another locale
// than 1033, and a workbook with links asks how to update them unless told:
// the conversion speaks US English, updates nothing, and completes.
TEST_F(Conversion, EnglishExcelWithLinksConverts) {
  DeleteFileA("c:\\doubles\\calls.log");
  std::ofstream("c:\\doubles\\control.ini") << "[excel]\r\nenglish=1\r\nlinks=1\r\n";
  TMSDocConvter converter;
  // A link prompt would hold the conversion: the robot would find it and answer.
  DialogRobot prompt(L"", false, 0, L"#32770");
  std::string archive = converter.Convert(Fixture("linked.xls"), true, true);
  prompt.Stop();
  EXPECT_FALSE(prompt.SawDialog()) << "no link prompt: " << WideToAnsi(prompt.Seen().text, CP_UTF8);
  ASSERT_FALSE(archive.empty()) << "the conversion completed";
  std::vector<std::string> entries = ZipEntryNames(archive);
  EXPECT_NE(std::find(entries.begin(), entries.end(), "linked.htm"), entries.end());
  std::string log = ReadAll("c:\\doubles\\calls.log");
  EXPECT_EQ(log.find("locale refused"), std::string::npos) << log;
  EXPECT_NE(log.find("Workbooks.Open\t"), std::string::npos) << log;
  std::string open = log.substr(log.find("Workbooks.Open\t"));
  open = open.substr(0, open.find('\n'));
  EXPECT_NE(open.find("linked.xls, 0, True\tok\tlcid=1033"), std::string::npos) << "links not updated, read-only: " << open;
  EXPECT_NE(log.find("Application.DisplayAlerts\t= False\tok"), std::string::npos) << log;
  EXPECT_LT(log.find("Application.AutomationSecurity\t= 3\tok"), log.find("Workbooks.Open\t")) << log;
}

// PowerPoint 2013 and later have no web-page format: the conversion fails with
// PowerPoint's own text, at once, and leaves no PowerPoint running.
TEST_F(Conversion, PowerPointWithoutWebPagesFailsAndQuits) {
  DeleteFileA("c:\\doubles\\calls.log");
  std::ofstream("c:\\doubles\\control.ini") << "[powerpoint]\r\nsavehtml=0\r\n";
  TMSDocConvter converter;
  DWORD start = GetTickCount();
  try {
    converter.Convert(Fixture("slides.ppt"), true, true);
    ADD_FAILURE() << "a presentation PowerPoint cannot save as a page is not converted";
  } catch (const ComError& e) {
    EXPECT_NE(std::string(e.what()).find("Invalid enumeration value"), std::string::npos) << e.what();
  }
  EXPECT_LT(GetTickCount() - start, 20000u) << "nothing waited";
  std::string log = ReadAll("c:\\doubles\\calls.log");
  UniqueHandle powerPoint = ProcessThatLogged(log, "Presentation.SaveAs");
  ASSERT_TRUE(powerPoint) << "PowerPoint was asked: " << log;
  EXPECT_EQ(WaitForSingleObject(powerPoint.Get(), 10000), WAIT_OBJECT_0) << "PowerPoint has ended";
  EXPECT_NE(log.find("Presentation.Close\t"), std::string::npos) << log;
  EXPECT_FALSE(FileExists(work + "\\slides.Qoz"));
}

// A document, workbook or presentation holding a macro is converted without it running.
TEST_F(Conversion, MacrosDoNotRun) {
  DeleteFileA("c:\\doubles\\calls.log");
  TMSDocConvter converter;
  for (const char* name : {"macro.doc", "macro.xls", "macro.ppt"})
    EXPECT_FALSE(converter.Convert(MacroFile(work, name), true, true).empty()) << name;
  std::string log = ReadAll("c:\\doubles\\calls.log");
  for (const char* name : {"macro.doc", "macro.xls", "macro.ppt"})
    EXPECT_NE(log.find(std::string("<macro>\tAutoOpen in ") + name + "\tdisabled"), std::string::npos) << name << log;
  EXPECT_EQ(log.find("\tran\t"), std::string::npos) << "no macro ran: " << log;
}

}  // namespace
}  // namespace nib::test
