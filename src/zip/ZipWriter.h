#pragma once
// Packs a folder into a ZIP archive the way the upload needs it: every file
// under the root, recursively, with names relative to the root ("/" between
// folders, OEM code page), deflated at level 6 or stored when deflating does
// not shrink the file. Folders get no entries of their own. Portable.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace nib {

// What the platform tells about a file: its name in the OEM code page, its
// attributes and its time stamp in MS-DOS form.
struct ZipPlatform {
  std::function<std::string(const std::filesystem::path& relative)> oemName;
  std::function<std::uint32_t(const std::filesystem::path& file)> attributes;
  std::function<std::uint32_t(const std::filesystem::path& file)> dosTime;  // date << 16 | time
};
// The platform's own answers (Windows or the host).
ZipPlatform NativeZipPlatform();

class ZipWriter {
 public:
  explicit ZipWriter(ZipPlatform platform = NativeZipPlatform()) : platform_(std::move(platform)) {}

  // A trailing separator is added when missing.
  void SetRootFolder(const std::filesystem::path& root) { root_ = root; }
  void AddMask(std::string mask) { masks_.push_back(std::move(mask)); }
  // Relative paths also switch on storing paths and recursing.
  void SetRelativePaths(bool on) { relativePaths_ = on; }
  void SetArchiveName(const std::filesystem::path& archive) { archive_ = archive; }
  void SetCompressionLevel(int level) { level_ = level; }
  // Extensions (with dot, case ignored) whose files are always stored.
  void SetNeverCompressed(std::vector<std::string> extensions) { neverCompressed_ = std::move(extensions); }

  // Writes the archive; returns the number of files packed. Throws
  // std::runtime_error when the archive cannot be written or a file read.
  int Pack();

 private:
  std::vector<std::filesystem::path> CollectFiles() const;
  bool Matches(const std::filesystem::path& file) const;
  bool NeverCompressed(const std::filesystem::path& file) const;

  ZipPlatform platform_;
  std::filesystem::path root_;
  std::vector<std::string> masks_;
  bool relativePaths_ = false;
  std::filesystem::path archive_;
  int level_ = 6;
  std::vector<std::string> neverCompressed_;
};

// Case-insensitive "*" and "?" matching of a file name.
bool WildcardMatch(std::string_view mask, std::string_view name);
// 1 (text) or 0 (binary): text when the bytes 7-127, divided by 4, are at
// least as many as all other bytes.
std::uint16_t ZipInternalAttribute(const std::uint8_t* data, size_t size);

}  // namespace nib
