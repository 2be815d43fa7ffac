// The multi-template description checks that decide whether the chooser is offered.

#include <gtest/gtest.h>

#include <string>

#include "ui/TemplateCheck.h"

namespace nib {
namespace {

const std::string kOne = "1**notice.doc##http://server/t1";
const std::string kTwo = "2**letter.doc##http://server/t2";

TEST(TemplateCheck, WellFormedDescriptionsPass) {
  EXPECT_EQ(CheckTemplateDescription(kOne), TemplateCheck::kOk);
  EXPECT_EQ(CheckTemplateDescription(kOne + "@@" + kTwo), TemplateCheck::kOk);
  EXPECT_EQ(CheckTemplateDescription(kOne + "@@" + kTwo + "@@3**memo.doc##v3"), TemplateCheck::kOk);
  // "[B@" is allowed inside a value, followed by digits as in a Java object's name.
  EXPECT_EQ(CheckTemplateDescription("1**a.doc##[B@1f3d"), TemplateCheck::kOk);
  EXPECT_EQ(CheckTemplateDescription("1**a.doc##x[B@123@@2**b.doc##y"), TemplateCheck::kOk);
  // The checks look at markers and keys only: a name without ".doc" passes here and
  // is left out by the chooser's list.
  EXPECT_EQ(CheckTemplateDescription("1**notice.txt##v"), TemplateCheck::kOk);
  // A "**" that ends the text has no name to check.
  EXPECT_TRUE(TemplateSegmentsOk("1##**"));
}

TEST(TemplateCheck, EmptyAndBlankDescriptions) {
  EXPECT_EQ(CheckTemplateDescription(""), TemplateCheck::kEmpty);
  EXPECT_EQ(CheckTemplateDescription("  \t "), TemplateCheck::kEmpty);
}

TEST(TemplateCheck, SegmentFaults) {
  EXPECT_EQ(CheckTemplateDescription("1** notice.doc##v"), TemplateCheck::kSegmentFault) << "blank after **";
  EXPECT_EQ(CheckTemplateDescription("1**##v"), TemplateCheck::kSegmentFault) << "no name between the markers";
  EXPECT_EQ(CheckTemplateDescription("a**notice.doc##v"), TemplateCheck::kSegmentFault) << "key without digit";
  EXPECT_EQ(CheckTemplateDescription("1notice.doc"), TemplateCheck::kSegmentFault) << "markers missing";
  EXPECT_EQ(CheckTemplateDescription(kOne + "@@" + kTwo + "@@x**c.doc##v"), TemplateCheck::kSegmentFault);
  EXPECT_EQ(CheckTemplateDescription(kOne + "@@" + kTwo + "@@"), TemplateCheck::kSegmentFault) << "empty last segment";
  EXPECT_EQ(CheckTemplateDescription(kOne + "@@@" + kTwo), TemplateCheck::kSegmentFault)
      << "three @ are two overlapping separators with an empty segment between";
}

TEST(TemplateCheck, OneSeparatorSkipsTheSegmentsButNotTheCharacters) {
  // With a single separator the segments are not examined ...
  std::string letterKey = kOne + "@@b**letter.doc##v";
  EXPECT_TRUE(TemplateSegmentsOk(letterKey));
  // ... but a separator must be followed by a digit.
  EXPECT_EQ(CheckTemplateDescription(letterKey), TemplateCheck::kCharacterFault);
}

TEST(TemplateCheck, CharacterFaults) {
  EXPECT_FALSE(TemplateCharactersOk("1**a.doc##v@x")) << "a lone @";
  EXPECT_FALSE(TemplateCharactersOk("1**a.doc##vw@x")) << "a lone @ at an odd position";
  EXPECT_FALSE(TemplateCharactersOk("1**a.doc##[B@@2**b.doc##y")) << "separator at an odd position right after [B";
  EXPECT_FALSE(TemplateCharactersOk("1**a.doc##v@")) << "trailing @";
  // Without a digit key or without both markers only a trailing "##" is accepted.
  EXPECT_TRUE(TemplateCharactersOk("x@@y##"));
  EXPECT_FALSE(TemplateCharactersOk("x@@y"));
  EXPECT_FALSE(TemplateCharactersOk("1**a.doc"));
}

TEST(TemplateCheck, TooManySeparatorsAreRefused) {
  std::string hundred = kOne;
  for (int i = 0; i < kMaxTemplateSeparators; ++i) hundred += "@@" + kTwo;
  EXPECT_EQ(CheckTemplateDescription(hundred), TemplateCheck::kOk) << "100 separators are within capacity";
  EXPECT_EQ(CheckTemplateDescription(hundred + "@@" + kTwo), TemplateCheck::kSegmentFault)
      << "the 101st separator is refused, not cut off";
}

}  // namespace
}  // namespace nib
