// The host's answers for the ZIP writer: UTF-8 file names become GB2312/GBK
// (the OEM code page of the systems the archives are made for) through iconv.

#include <iconv.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>

#include "zip/ZipWriter.h"

namespace fs = std::filesystem;

namespace nib {
namespace {

std::string Utf8ToOem(const std::string& utf8) {
  iconv_t converter = iconv_open("CP936", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return utf8;
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(converter);
  if (result == static_cast<size_t>(-1)) return utf8;
  out.resize(out.size() - outLeft);
  return out;
}

std::uint32_t DosTimeOf(const fs::path& file) {
  std::error_code error;
  auto written = fs::last_write_time(file, error);
  if (error) return 0;
  std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written));
  std::tm local{};
  localtime_r(&seconds, &local);
  if (local.tm_year < 80) return (1 << 5 | 1) << 16;  // DOS dates start in 1980
  std::uint32_t date = static_cast<std::uint32_t>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
  std::uint32_t time = static_cast<std::uint32_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
  return date << 16 | time;
}

std::uint32_t AttributesOf(const fs::path& file) {
  // MS-DOS attributes: archive, plus read-only when nobody may write.
  std::error_code error;
  fs::perms perms = fs::status(file, error).permissions();
  bool readOnly = !error && (perms & fs::perms::owner_write) == fs::perms::none;
  return 0x20 | (readOnly ? 0x01 : 0);
}

}  // namespace

ZipPlatform NativeZipPlatform() {
  return {[](const fs::path& relative) { return Utf8ToOem(relative.generic_string()); }, AttributesOf, DosTimeOf};
}

}  // namespace nib
