// The converter's table of document types.

#include <gtest/gtest.h>

#include "convert/DocTypes.h"

namespace nib {
namespace {

TEST(DocTypes, TheDefaultTableAndLookups) {
  std::vector<DocType> table;
  EXPECT_EQ(ParseDocExtFiles(kDefaultDocExtFiles, table), "OK");
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[1].app, "Word");
  EXPECT_EQ(table[1].extension, "Doc");
  EXPECT_EQ(FindDocType(table, "doc"), 1);
  EXPECT_EQ(FindDocType(table, "DOC"), 1);
  EXPECT_EQ(FindDocType(table, "xls"), 0);
  EXPECT_EQ(FindDocType(table, "Ppt"), 2);
  EXPECT_EQ(FindDocType(table, "docx"), -1);
  EXPECT_EQ(FindDocType(table, "xlsx"), -1);
  EXPECT_EQ(FindDocType(table, ""), -1);
}

TEST(DocTypes, SeveralExtensionsNamesOnlyAndFaults) {
  std::vector<DocType> table;
  EXPECT_EQ(ParseDocExtFiles("word,doc,rtf;Excel", table), "OK") << "names ignore case; a name alone adds nothing";
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[1].extension, "rtf");
  EXPECT_EQ(ParseDocExtFiles("Word,doc;;Excel,xls;", table), "OK") << "empty entries name nothing";
  EXPECT_EQ(table.size(), 2u);
  EXPECT_EQ(ParseDocExtFiles("Word,doc;Visio,vsd;Excel,xls", table), "ER:Visio");
  ASSERT_EQ(table.size(), 1u) << "the pairs before the fault stay";
  EXPECT_EQ(table[0].extension, "doc");
  EXPECT_EQ(ParseDocExtFiles("", table), "OK");
  EXPECT_TRUE(table.empty());
}

}  // namespace
}  // namespace nib
