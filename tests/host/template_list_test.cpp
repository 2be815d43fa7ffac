#include "ui/TemplateList.h"

#include <gtest/gtest.h>

namespace nib {
namespace {

std::vector<std::string> Names(const std::vector<TemplateEntry>& entries) {
  std::vector<std::string> names;
  for (const TemplateEntry& entry : entries) names.push_back(entry.name);
  return names;
}

TEST(TemplateList, LargestKeyFirstAndEqualKeysKeepTheirOrder) {
  auto entries = TemplateEntries("2**b.doc##B@@1**a.doc##A@@3**c.doc##C@@2**d.doc##D");
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"c.doc", "b.doc", "d.doc", "a.doc"}));
  EXPECT_EQ(entries[0].value, "C");
  EXPECT_EQ(entries[0].segment, "3**c.doc##C");
}

TEST(TemplateList, NamesValuesAndWhatIsListed) {
  auto entries = TemplateEntries("1**notice.doc##http://x/t?id=1##more@@2no-markers@@3**plain.txt##v");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "plain.txt");
  EXPECT_FALSE(IsListedTemplate(entries[0]));
  EXPECT_EQ(entries[1].name, "2no-markers") << "no \"**\": from the start; no \"##\": to the end";
  EXPECT_EQ(entries[1].value, "2no-markers") << "no \"##\": the whole segment";
  EXPECT_EQ(entries[2].value, "http://x/t?id=1##more") << "after the first \"##\"";
  EXPECT_TRUE(IsListedTemplate(entries[2]));
  EXPECT_FALSE(IsListedTemplate(TemplateEntry{"", "a.DOC", ""})) << "the extension is compared exactly";
}

TEST(TemplateList, ARepeatedLastSegmentIsListedOnce) {
  EXPECT_EQ(TemplateEntries("1**a.doc##A@@1**a.doc##A").size(), 1u);
  EXPECT_EQ(TemplateEntries("1**a.doc##A@@2**b.doc##B@@2**b.doc##B").size(), 2u);
  EXPECT_EQ(TemplateEntries("1**a.doc##A").size(), 1u);
}

}  // namespace
}  // namespace nib
