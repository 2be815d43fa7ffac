// The ZIP writer's archives, read back by the tools the server side uses
// (Info-ZIP's unzip and Python's zipfile).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "zip/ZipWriter.h"

namespace fs = std::filesystem;

namespace nib {
namespace {

std::string Shell(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return "cannot run " + command;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int status = pclose(pipe);
  return output + (status == 0 ? "" : "[exit " + std::to_string(status) + "]");
}

void WriteFile(const fs::path& path, const std::string& data) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << data;
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(generator());
  return data;
}

// Python's view of an archive: one line per entry, name method size internal external.
std::string PythonListing(const fs::path& archive) {
  return Shell("python3 -c \"import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1])\nassert z.testzip() is None\n"
             "for i in z.infolist(): print(i.filename.encode('cp437').decode('gbk'), i.compress_type, i.file_size, "
             "i.internal_attr, i.external_attr)\" " +
             archive.string());
}

class ZipWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("nibzip-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "page");
  }
  void TearDown() override { fs::remove_all(root); }
  int Pack(const fs::path& folder, const fs::path& archive) {
    ZipWriter writer;
    writer.SetRootFolder(folder);
    writer.AddMask("*.*");
    writer.SetRelativePaths(true);
    writer.SetArchiveName(archive);
    return writer.Pack();
  }
  fs::path root;
};

TEST_F(ZipWriterTest, ConvertedPageWithItsFolder) {
  std::string html;
  for (int i = 0; i < 400; ++i) html += "<p>Line " + std::to_string(i) + " of the notice</p>\r\n";
  WriteFile(root / "page/notice.htm", html);
  WriteFile(root / "page/notice.files/image001.png", RandomBytes(3000, 1));
  fs::create_directories(root / "page/empty.files");
  WriteFile(root / "page/\xE9\x80\x9A\xE7\x9F\xA5.txt", "tiny");  // "通知.txt"

  fs::path archive = root / "notice.Qoz";
  EXPECT_EQ(Pack(root / "page", archive), 3);
  EXPECT_NE(Shell("unzip -t " + archive.string()).find("No errors detected"), std::string::npos);
  std::string listing = PythonListing(archive);
  // Files of the root first, then each subfolder; no entry for a folder, empty or not.
  EXPECT_EQ(listing,
            "notice.htm 8 " + std::to_string(html.size()) + " 1 32\n"
            "\xE9\x80\x9A\xE7\x9F\xA5.txt 0 4 1 32\n"
            "notice.files/image001.png 0 3000 0 32\n")
      << "a small file and random bytes do not shrink: stored; text marked 1, binary 0; names in GBK";
  EXPECT_EQ(Shell("cd " + root.string() + " && mkdir out && cd out && unzip -q ../notice.Qoz && cmp notice.htm ../page/notice.htm"
                " && cmp notice.files/image001.png ../page/notice.files/image001.png && echo same"),
            "same\n");
}

TEST_F(ZipWriterTest, EmptyFolderAndArchiveInsideItsRoot) {
  fs::path archive = root / "page/inside.Qoz";
  EXPECT_EQ(Pack(root / "page", archive), 0) << "no files: an archive of no entries";
  EXPECT_EQ(PythonListing(archive), "");
  WriteFile(root / "page/a.htm", std::string(5000, 'a'));
  EXPECT_EQ(Pack(root / "page", archive), 1) << "the archive itself is never packed";
  EXPECT_EQ(PythonListing(archive), "a.htm 8 5000 1 32\n");
}

TEST_F(ZipWriterTest, BinaryTextRuleAndBigFolder) {
  std::string gbText;
  while (gbText.size() < 4000) gbText += "\xCD\xA8\xD6\xAA";  // GB2312 only: bytes above 127
  EXPECT_EQ(ZipInternalAttribute(reinterpret_cast<const std::uint8_t*>(gbText.data()), gbText.size()), 0);
  std::string mixed(400, 'a');
  mixed += std::string(100, '\x01');
  EXPECT_EQ(ZipInternalAttribute(reinterpret_cast<const std::uint8_t*>(mixed.data()), mixed.size()), 1)
      << "400/4 >= 100";
  mixed += '\x01';
  EXPECT_EQ(ZipInternalAttribute(reinterpret_cast<const std::uint8_t*>(mixed.data()), mixed.size()), 0);

  // A 5 MB page folder round-trips through unzip.
  std::string html;
  while (html.size() < 2 * 1024 * 1024) html += "<tr><td>\xCD\xA8\xD6\xAA</td><td>row</td></tr>\r\n";
  WriteFile(root / "page/big.htm", html);
  for (int i = 0; i < 15; ++i)
    WriteFile(root / "page/big.files" / ("image" + std::to_string(i) + ".jpg"), RandomBytes(200 * 1024, 10 + i));
  fs::path archive = root / "big.Qoz";
  EXPECT_EQ(Pack(root / "page", archive), 16);
  EXPECT_LT(fs::file_size(archive), 5u * 1024 * 1024);
  EXPECT_EQ(Shell("cd " + root.string() + " && mkdir out && cd out && unzip -q ../big.Qoz && diff -r . ../page && echo same"),
            "same\n");
}

TEST_F(ZipWriterTest, WildcardsAndFailures) {
  EXPECT_TRUE(WildcardMatch("*.*", "README"));
  EXPECT_TRUE(WildcardMatch("*.htm", "Notice.HTM"));
  EXPECT_FALSE(WildcardMatch("*.htm", "notice.html"));
  EXPECT_TRUE(WildcardMatch("image0??.png", "image001.png"));
  ZipWriter writer;
  writer.SetRootFolder(root / "page");
  writer.AddMask("*.*");
  writer.SetArchiveName(root / "missing-folder/a.zip");
  EXPECT_THROW(writer.Pack(), std::runtime_error) << "an archive that cannot be written is an error";
}

}  // namespace
}  // namespace nib
