// The portable text routines, with the edge cases their callers meet.

#include <gtest/gtest.h>

#include "services/ButtonSet.h"
#include "services/TextUtil.h"
#include "services/WebAddress.h"

namespace nib {
namespace {

TEST(TextUtil, BeforeAfterBetween) {
  EXPECT_EQ(TextBefore("Excel,XLS", ","), "Excel");
  EXPECT_EQ(TextAfter("Excel,XLS", ","), "XLS");
  EXPECT_EQ(TextBefore("no separator", ","), "");
  EXPECT_EQ(TextAfter("no separator", ","), "");
  EXPECT_EQ(TextBeforeLast("notice.final.doc", "."), "notice.final");
  EXPECT_EQ(TextBeforeLast("nodot", "."), "");

  EXPECT_EQ(TextBetween("\"C:\\Program Files\\Word\\WinWord.exe\" /n \"%1\"", "\"", "\""),
            "C:\\Program Files\\Word\\WinWord.exe");
  EXPECT_EQ(TextBetween("a[b]c[d]", "[", "]", 5), "d") << "searched from position 5";
  EXPECT_EQ(TextBetween("a[bc", "[", "]"), "bc") << "no end marker: everything after the start";
  EXPECT_EQ(TextBetween("abc", "[", "]"), "");
  EXPECT_EQ(TextBetween("", "[", "]"), "");
  // Texts far beyond 64 KB work as well.
  std::string longText(100000, 'x');
  longText += "<b>found</b>";
  EXPECT_EQ(TextBetween(longText, "<b>", "</b>"), "found");
  std::string longContent = "[" + std::string(70000, 'y') + "]";
  EXPECT_EQ(TextBetween(longContent, "[", "]").size(), 70000u);
}

TEST(TextUtil, DeleteAllBetweenStripsEveryObject) {
  std::string html = "<p>a</p><object id=1>x</object><p>b</p><object>y/object><i>";
  EXPECT_TRUE(DeleteAllBetween(html, "<object", "/object>"));
  EXPECT_EQ(html, "<p>a</p><p>b</p><i>");
  EXPECT_FALSE(DeleteAllBetween(html, "<object", "/object>"));
  std::string open = "<object never closed";
  EXPECT_FALSE(DeleteAllBetween(open, "<object", "/object>"));
  EXPECT_EQ(open, "<object never closed");
}

TEST(TextUtil, SplitText) {
  T1DimStrArr items{"stale"};
  SplitText("Excel,XLS", ",", items, true);
  EXPECT_EQ(items, (T1DimStrArr{"Excel", "XLS"}));
  SplitText("", ",", items, true);
  EXPECT_TRUE(items.empty());
  SplitText("one", ",", items, true);
  EXPECT_EQ(items, (T1DimStrArr{"one"}));
  SplitText("a,b,", ",", items, true);
  EXPECT_EQ(items, (T1DimStrArr{"a", "b", ""}));
  SplitText("t1@@t2@@t3", "@@", items, true);
  EXPECT_EQ(items, (T1DimStrArr{"t1", "t2", "t3"}));
  SplitText("aXbxc", "x", items, false);
  EXPECT_EQ(items, (T1DimStrArr{"a", "b", "c"}));
  SplitText("aXbxc", "x", items, true);
  EXPECT_EQ(items, (T1DimStrArr{"aXb", "c"}));
  // Scanning goes on at the next position, so overlapping separators each count.
  SplitText("aaa", "aa", items, true);
  EXPECT_EQ(items, (T1DimStrArr{"", "", ""}));
}

TEST(TextUtil, SmallRoutines) {
  EXPECT_EQ(PosFrom("b", "abcb", 1), 2u);
  EXPECT_EQ(PosFrom("b", "abcb", 3), 4u);
  EXPECT_EQ(PosFrom("b", "abcb", 5), 0u);
  EXPECT_EQ(PosFrom("z", "abcb", 1), 0u);
  EXPECT_TRUE(TextEquals("OK:12", "ok:12"));
  EXPECT_FALSE(TextEquals("OK", "OK "));
  EXPECT_FALSE(TextEquals("\xC1", "\xE1")) << "bytes above 127 are compared exactly";
  EXPECT_EQ(SlashToBackslash("a/b/c"), "a\\b\\c");
  std::string text = "abc.doc";
  DeleteRight(text, 4);
  EXPECT_EQ(text, "abc");
  DeleteRight(text, 9);
  EXPECT_EQ(text, "abc") << "too few characters: unchanged";
  EXPECT_EQ(TrimBlanks("  12 "), "12");
  EXPECT_EQ(TrimBlanks(" \xB7\xC2\xCB\xCE\t"), "\xB7\xC2\xCB\xCE");
  EXPECT_EQ(ChooseValue(true, 1, 2), 1);
  EXPECT_EQ(FolderOfPath("Z:\\build\\NibWordLib.dll"), "Z:\\build\\");
  EXPECT_EQ(FileNameOfPath("c:\\a\\notice.final.doc"), "notice.final.doc");
  EXPECT_EQ(ExtensionOfPath("c:\\a.b\\notice"), "");
  EXPECT_EQ(ExtensionOfPath("c:\\a\\notice.final.DOC"), ".DOC");
}

TEST(TextUtil, TryTextToInt) {
  int value = 0;
  EXPECT_TRUE(TryTextToInt(" 42 ", value));
  EXPECT_EQ(value, 42);
  EXPECT_TRUE(TryTextToInt("-7", value));
  EXPECT_EQ(value, -7);
  EXPECT_TRUE(TryTextToInt("$FF", value));
  EXPECT_EQ(value, 255);
  EXPECT_TRUE(TryTextToInt("2147483647", value));
  value = 5;
  for (const char* bad : {"", " ", "x", "12x", "2147483648", "1.5", "--1"}) {
    EXPECT_FALSE(TryTextToInt(bad, value)) << bad;
    EXPECT_EQ(value, 5) << "a failed conversion leaves the value";
  }
}

TEST(TextUtil, ArraysOfTexts) {
  T1DimStrArr names;
  AppendText(names, "Word");
  AppendText(names, "Excel");
  AppendText(names, "word");
  EXPECT_EQ(IndexOfText(names, 2, "WORD", false, 0), 0);
  EXPECT_EQ(IndexOfText(names, 2, "WORD", false, 1), 2);
  EXPECT_EQ(IndexOfText(names, 2, "WORD", true, 0), -1);
  EXPECT_EQ(IndexOfText(names, 1, "word", true, 0), -1) << "only up to the highest index";
  EXPECT_EQ(IndexOfText(names, 2, "Word", true, 7), -1);

  T2DimStrArr rows;
  AppendTextRow(rows, {"doc", "WinWord.exe", "Word"});
  AppendTextRow(rows, {"xls", "excel.exe", "Excel"});
  EXPECT_EQ(FindRow(rows, {0, 2}, false, 0, {"XLS", "excel"}), 1);
  EXPECT_EQ(FindRow(rows, {0, 2}, true, 0, {"XLS", "excel"}), -1);
  EXPECT_EQ(FindRow(rows, {1}, false, 1, {"winword.exe"}), -1);
  T2DimIntArr positions;
  AppendIntRow(positions, {3, 9});
  EXPECT_EQ(positions, (T2DimIntArr{{3, 9}}));
}

TEST(ButtonSet, TextForms) {
  EXPECT_EQ(ButtonsToText(1 << kOk), "2");
  EXPECT_EQ(ButtonsToText(0), "");
  EXPECT_EQ(ButtonsToText(1 << kYes | 1 << kNo | 1 << kHelp), "0,1,10");
  EXPECT_EQ(TextToButtons("2,word,20"), 1 << kOk);
  EXPECT_EQ(TextToButtons("0,1"), 1 << kYes | 1 << kNo);
  EXPECT_EQ(TextToButtons("2,x,3"), 1 << kOk | 1 << kCancel);
  EXPECT_EQ(TextToButtons("258"), 1 << kOk) << "only the low 8 bits count";
  EXPECT_EQ(TextToButtons(""), 0);
  EXPECT_EQ(ButtonsToText(TextToButtons("10,3,0")), "0,3,10");
}

}  // namespace
}  // namespace nib

namespace nib {
namespace {

// Sets the code page for one test and gives the previous one back.
struct CodePageFor {
  explicit CodePageFor(unsigned codePage) : previous(AnsiCodePage()) { SetAnsiCodePage(codePage); }
  ~CodePageFor() { SetAnsiCodePage(previous); }
  unsigned previous;
};

// "許功蓋通知.doc" in Big5: each of the first three characters ends in 0x5C ("\").
const std::string kBig5Name = "\xB3\x5C\xA5\x5C\xBB\x5C\xB3\x71\xAA\xBE.doc";
// "乗俓" in GBK, both with the trail byte 0x5C, and "癨" (B0 5C).
const std::string kGbkName = "\x81\x5C\x81\x5C\xB0\x5C.doc";

TEST(TextUtil, DoubleBytePathsKeepTheirNames) {
  for (auto [codePage, name] : {std::pair{950u, kBig5Name}, std::pair{936u, kGbkName}}) {
    CodePageFor cp(codePage);
    std::string path = "C:\\Temp\\AB12\\" + name;
    EXPECT_EQ(FileNameOfPath(path), name) << codePage;
    EXPECT_EQ(FolderOfPath(path), "C:\\Temp\\AB12\\") << codePage;
    EXPECT_EQ(ExtensionOfPath(path), ".doc") << codePage;
    EXPECT_EQ(ExtensionOfPath(name.substr(0, name.size() - 4)), "") << "no dot: no extension, " << codePage;
    EXPECT_EQ(ReplaceChar("AB12\\" + name, '\\', '/'), "AB12/" + name) << "the ZIP entry name, " << codePage;
    EXPECT_EQ(TextBeforeLast(path, "\\"), "C:\\Temp\\AB12") << codePage;
    EXPECT_FALSE(EndsWithChar(name.substr(0, 2), '\\', codePage)) << "a trail byte is no separator";
    EXPECT_TRUE(EndsWithChar(name.substr(0, 2) + "\\", '\\', codePage));
    T1DimStrArr parts;
    SplitText(name + "\\x", "\\", parts, true);
    EXPECT_EQ(parts, (T1DimStrArr{name, "x"})) << codePage;
  }
  // Big5 trail bytes 0x40 to 0x7E include "@": "一" (A4 40) before a separator "@@".
  CodePageFor big5(950);
  T1DimStrArr segments;
  SplitText("1**\xA4\x40.doc##a@@2**b.doc##c", "@@", segments, true);
  EXPECT_EQ(segments, (T1DimStrArr{"1**\xA4\x40.doc##a", "2**b.doc##c"}));
  EXPECT_EQ(PosFrom("@", "\xA4\x40@", 1), 3u) << "the trail byte is skipped";
  EXPECT_EQ(TextAfter("\xA4\x40:rest", ":"), "rest");
}

TEST(TextUtil, SingleByteCodePagesSplitAnywhere) {
  CodePageFor western(1252);
  EXPECT_EQ(FileNameOfPath("C:\\a\\\xB3\\b.doc"), "b.doc") << "no double-byte rules in 1252";
  EXPECT_FALSE(IsLeadByte(0xB3, 1252));
  EXPECT_TRUE(IsLeadByte(0xB3, 950));
  EXPECT_TRUE(IsLeadByte(0x81, 936));
  EXPECT_FALSE(IsLeadByte(0x80, 936));
}

}  // namespace
}  // namespace nib

namespace nib {
namespace {

TEST(TextUtil, OnlyWebAddressesAreTransferred) {
  for (const char* web : {"http://oa.example/doc?id=1", "HTTPS://oa.example/x", " http://127.0.0.1:8080/"})
    EXPECT_TRUE(IsWebAddress(web)) << web;
  for (const char* other : {"file:///C:/Users/a/secret.doc", "\\\\server\\share\\secret.doc", "C:\\secret.doc",
                            "ftp://127.0.0.1:9/y", "javascript:alert(1)", "http:", "https:/", "", "mhtml:x"})
    EXPECT_FALSE(IsWebAddress(other)) << other;
}

}  // namespace
}  // namespace nib
