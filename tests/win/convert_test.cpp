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

}  // namespace
}  // namespace nib::test
