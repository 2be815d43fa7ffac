// Windows' answers for the ZIP writer: names in the OEM code page, the file
// system's attributes and time stamp.

#include <windows.h>

#include "com/Handle.h"
#include "com/StrConv.h"
#include "zip/ZipWriter.h"

namespace fs = std::filesystem;

namespace nib {
namespace {

std::uint32_t DosTimeOf(const fs::path& file) {
  UniqueHandle handle(CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  FILETIME written, local;
  WORD date = 0, time = 0;
  if (handle && GetFileTime(handle.Get(), nullptr, nullptr, &written) && FileTimeToLocalFileTime(&written, &local))
    FileTimeToDosDateTime(&local, &date, &time);
  return static_cast<std::uint32_t>(date) << 16 | time;
}

std::uint32_t AttributesOf(const fs::path& file) {
  DWORD attributes = GetFileAttributesW(file.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
}

}  // namespace

ZipPlatform NativeZipPlatform() {
  return {[](const fs::path& relative) { return WideToAnsi(relative.wstring(), CP_OEMCP); }, AttributesOf, DosTimeOf};
}

}  // namespace nib
