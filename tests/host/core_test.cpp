// Unique names, the scrambled registry form and GB2312 to Big5.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "services/Gb2Big5.h"
#include "services/Scramble.h"
#include "services/UniqueName.h"

namespace nib {
namespace {

TEST(UniqueName, Base32OfTheGuidNumber) {
  EXPECT_EQ(UniqueNameOfGuidText("{00000000-0000-0000-0000-000000000000}"), "A0000000000000000000000000");
  EXPECT_EQ(UniqueNameOfGuidText("{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}"), "HVVVVVVVVVVVVVVVVVVVVVVVVV");
  EXPECT_EQ(UniqueNameOfGuidText("{00000000-0000-0000-0000-00000000001F}"), "A000000000000000000000000V");
  EXPECT_EQ(UniqueNameOfGuidText("{20000000-0000-0000-0000-000000000000}"), "B0000000000000000000000000");
  std::string name = UniqueNameOfGuidText("{6B29FC40-CA47-1067-B31D-00DD010662DA}");
  EXPECT_EQ(name.size(), 26u);
  EXPECT_GE(name[0], 'A');
  EXPECT_LE(name[0], 'H');
  EXPECT_EQ(UniqueNameOfGuidText("6B29FC40-CA47-1067-B31D-00DD010662DA"), "");
  EXPECT_EQ(UniqueNameOfGuidText("{6B29FC40-CA47-1067-B31D-00DD010662DG}"), "");
}

TEST(Scramble, RoundTripAndRejects) {
  std::vector<std::uint8_t> random = ScrambleRandomBytes();
  ASSERT_EQ(random.size(), 512u);
  for (auto b : random) ASSERT_TRUE(b >= 1 && b <= 254);
  const std::string path = "C:\\Users\\\xD5\xC5\xC8\xFD\\AppData\\Roaming\\Microsoft\\Templates\\Normal.dot";
  std::vector<std::uint8_t> stored = ScrambleText(path, random);
  EXPECT_LT(stored.size(), kScrambleMaxStored);
  EXPECT_EQ(UnscrambleText(stored), path);
  EXPECT_EQ(UnscrambleText(ScrambleText("", random)), "");
  EXPECT_EQ(UnscrambleText(ScrambleText("odd", random)), "odd") << "an odd total keeps its last byte";
  // The text does not show in the stored bytes.
  EXPECT_EQ(std::string(stored.begin(), stored.end()).find("Normal.dot"), std::string::npos);

  EXPECT_EQ(UnscrambleText({}), "");
  EXPECT_EQ(UnscrambleText({1, 2, 3, 4}), "") << "not zlib data";
  std::vector<std::uint8_t> tooLong(kScrambleMaxStored + 1, 0x78);
  EXPECT_EQ(UnscrambleText(tooLong), "");
}

TEST(GbToBig5, TableEntriesThatMatter) {
  auto entry = [](unsigned gb) { return kGbToBig5Table[((gb >> 8) - 0xA1) * 94 + (gb & 0xFF) - 0xA1]; };
  const std::pair<unsigned, unsigned> telling[] = {
      {0xA1A2, 0xA142}, {0xA1A3, 0xA143}, {0xA3A1, 0xA149}, {0xA3B0, 0xA2AF}, {0xA3C1, 0xA2CF},
      {0xA6A1, 0xA344}, {0xA9A4, 0xA277}, {0xB0A1, 0xB0DA}, {0xB1A3, 0xAB4F}, {0xB2A2, 0xA8C3},
      {0xB9D8, 0xC3F6}, {0xB9FA, 0xB0EA}, {0xD6D0, 0xA4A4}, {0xF7A1, 0xC652}, {0xA1A1, 0x2020},
      {0xA7A1, 0x2020}, {0xA8A1, 0x2020}, {0xF7FE, 0x2020}};
  for (auto [gb, big5] : telling) EXPECT_EQ(entry(gb), big5) << std::hex << gb;
  int row7 = 0, unassigned = 0;
  for (unsigned cell = 0xA1; cell <= 0xFE; ++cell) {
    row7 += entry(0xA700 | cell) == 0x2020;
    for (unsigned row = 0xAA; row <= 0xAF; ++row) unassigned += entry(row << 8 | cell) == 0x2020;
  }
  EXPECT_EQ(row7, 94) << "no Cyrillic in Big5";
  EXPECT_EQ(unassigned, 6 * 94) << "rows 10-15 are not assigned in GB2312";
  // Hanzi whose first traditional form is missing from Big5 take the form
  // Big5 has (为 爲→為, 启 啓→啟, 众 衆→眾, 伪 僞→偽, 着→著).
  const std::pair<unsigned, unsigned> variants[] = {
      {0xCEAA, 0xACB0}, {0xC6F4, 0xB1D2}, {0xD6DA, 0xB2B3}, {0xCEB1, 0xB0B0}, {0xD7C5, 0xB5DB}};
  for (auto [gb, big5] : variants) EXPECT_EQ(entry(gb), big5) << std::hex << gb;
}

TEST(GbToBig5, Conversion) {
  // "保存并关闭", the save-and-close caption.
  EXPECT_EQ(GbToBig5("\xB1\xA3\xB4\xE6\xB2\xA2\xB9\xD8\xB1\xD5"), "\xAB\x4F\xA6\x73\xA8\xC3\xC3\xF6\xB3\xAC");
  EXPECT_EQ(GbToBig5(""), "");
  EXPECT_EQ(GbToBig5("plain ASCII\r\nline 2"), "plain ASCII\r\nline 2");
  // Row-1 punctuation converts as a pair and what follows stays aligned.
  EXPECT_EQ(GbToBig5("a\xA1\xA3" "b\xD6\xD0"), "a\xA1\x43" "b\xA4\xA4");
  // No Big5 character: two spaces, same length.
  EXPECT_EQ(GbToBig5("\xA1\xA1x"), "  x");
  // A trailing lone lead byte stays as it is.
  EXPECT_EQ(GbToBig5("ab\xB1"), "ab\xB1");
  // A lead byte not followed by a trail byte passes through alone.
  EXPECT_EQ(GbToBig5("\xB1" "A"), "\xB1" "A");
  EXPECT_EQ(GbToBig5("\xF8\xA1"), "\xF8\xA1") << "beyond GB2312's rows";
}

TEST(GbToBig5, PieceByPieceEqualsWhole) {
  const std::string text = "a\xB1\xA3\xB4\xE6x\xA1\xA1\xB2\xA2\xB9\xD8\xB1";
  const std::string whole = GbToBig5(text);
  for (size_t piece = 1; piece <= text.size(); ++piece) {
    std::string pending, big5;
    for (size_t at = 0; at < text.size(); at += piece) {
      pending += text.substr(at, piece);
      pending.erase(0, GbToBig5Append(pending, big5, false));
    }
    pending.erase(0, GbToBig5Append(pending, big5, true));
    EXPECT_EQ(big5, whole) << "pieces of " << piece;
    EXPECT_TRUE(pending.empty());
  }
}

TEST(GbToBig5, TraditionalLocales) {
  EXPECT_TRUE(IsTraditionalLocaleId(1028));
  EXPECT_TRUE(IsTraditionalLocaleId(3076));
  EXPECT_FALSE(IsTraditionalLocaleId(2052));
  EXPECT_FALSE(IsTraditionalLocaleId(0x1004)) << "Singapore writes simplified";
  EXPECT_FALSE(IsTraditionalLocaleId(0x1404)) << "only the two locales count";
  EXPECT_FALSE(IsTraditionalLocaleId(0x0409));
}

}  // namespace
}  // namespace nib
