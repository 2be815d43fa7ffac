#include <gtest/gtest.h>

#include "services/TextUtil.h"

namespace nib {
namespace {

TEST(TextUtil, TrimBlanksRemovesControlCharactersAndSpacesOnly) {
  EXPECT_EQ(TrimBlanks("  12 "), "12");
  EXPECT_EQ(TrimBlanks("\t\r\n a b \x01"), "a b");
  EXPECT_EQ(TrimBlanks(""), "");
  EXPECT_EQ(TrimBlanks("   "), "");
  // GB2312 bytes are all above 127 and never count as blanks.
  EXPECT_EQ(TrimBlanks(" \xB7\xC2\xCB\xCE "), "\xB7\xC2\xCB\xCE");
}

TEST(TextUtil, TextEqualsIgnoresAsciiCaseOnly) {
  EXPECT_TRUE(TextEquals("OK:12", "ok:12"));
  EXPECT_FALSE(TextEquals("OK", "OK "));
  EXPECT_TRUE(TextEquals("", ""));
  EXPECT_FALSE(TextEquals("\xC1", "\xE1")) << "bytes above 127 are compared exactly";
}

TEST(TextUtil, FolderOfPathKeepsTheTrailingSeparator) {
  EXPECT_EQ(FolderOfPath("Z:\\build\\win64\\NibWordLib.dll"), "Z:\\build\\win64\\");
  EXPECT_EQ(FolderOfPath("c:NibWordLib.dll"), "c:");
  EXPECT_EQ(FolderOfPath("NibWordLib.dll"), "");
}

}  // namespace
}  // namespace nib
