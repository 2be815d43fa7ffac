#include "services/Files.h"

#include <oleauto.h>

#include "com/ComError.h"
#include "com/Handle.h"
#include "services/TextUtil.h"
#include "services/UniqueName.h"

namespace nib {

bool LoadTextFile(std::string& text, const std::string& path) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x7FFFFFFF) return false;
  std::string content(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!content.empty() && (!ReadFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &read, nullptr) ||
                           read != content.size()))
    return false;
  text = std::move(content);
  return true;
}

bool SaveTextFile(const std::string& text, const std::string& path) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ThrowLastErrorIf(!file, ("cannot create " + path).c_str());
  DWORD written = 0;
  return WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

void StreamToByteArray(IStream* stream, VARIANT* bytes) {
  VariantInit(bytes);
  STATSTG stat{};
  ThrowIfFailed(stream->Stat(&stat, STATFLAG_NONAME), "IStream::Stat");
  ULONG size = static_cast<ULONG>(stat.cbSize.QuadPart);
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, size);
  if (!array) Fail("out of memory", E_OUTOFMEMORY);
  void* data = nullptr;
  LARGE_INTEGER start{};
  HRESULT hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
  if (SUCCEEDED(hr)) hr = SafeArrayAccessData(array, &data);
  if (SUCCEEDED(hr)) {
    ULONG read = 0;
    hr = size ? stream->Read(data, size, &read) : S_OK;
    if (SUCCEEDED(hr) && read != size) hr = E_FAIL;
    SafeArrayUnaccessData(array);
  }
  if (FAILED(hr)) {
    SafeArrayDestroy(array);
    ThrowIfFailed(hr, "reading the stream");
  }
  V_VT(bytes) = VT_ARRAY | VT_UI1;
  V_ARRAY(bytes) = array;
}

bool IsFileInUse(const std::string& path) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return !file;
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int FileAge(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  FILETIME local;
  WORD date = 0, time = 0;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &date, &time))
    return -1;
  return static_cast<int>((static_cast<DWORD>(date) << 16) | time);
}

bool FolderExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder.empty() || EndsWithChar(folder, '\\') ? folder + name : folder + "\\" + name;
}

void EmptyFolder(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(JoinPath(folder, "*.*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    std::string path = JoinPath(folder, name);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
      SetFileAttributesA(path.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      EmptyFolder(path);
      RemoveDirectoryA(path.c_str());
    } else {
      DeleteFileA(path.c_str());
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

}  // namespace

bool DeleteTree(const std::string& folder) {
  // Paths are joined explicitly rather than by changing into each folder:
  // the current directory belongs to the whole process (the page's host).
  if (folder.empty() || !FolderExists(folder)) return false;
  EmptyFolder(folder);
  std::string path = folder;
  if (path.size() > 3 && EndsWithChar(path, '\\')) path.pop_back();
  return RemoveDirectoryA(path.c_str()) != 0;
}

void DeleteHtmlAndFiles(const std::string& htmlPath) {
  DeleteFileA(htmlPath.c_str());
  std::string extension = ExtensionOfPath(htmlPath);
  std::string folder = htmlPath.substr(0, htmlPath.size() - extension.size()) + ".files";
  if (FolderExists(folder)) DeleteTree(folder);
}

std::string TempFolderPath() {
  char path[MAX_PATH + 1];
  DWORD length = GetTempPathA(MAX_PATH + 1, path);
  std::string folder(path, length <= MAX_PATH ? length : 0);
  if (!folder.empty() && !EndsWithChar(folder, '\\')) folder += '\\';
  return folder;
}

std::string MakeTempName(const std::string& source, const std::string& extension, bool newFolder, bool createFolder,
                         bool besideSource, bool unique) {
  std::string name = FileNameOfPath(source);
  std::string sourceExtension = ExtensionOfPath(name);
  std::string base = name.substr(0, name.size() - sourceExtension.size());
  std::string ext = extension.empty() ? sourceExtension : extension;
  if (!ext.empty() && ext[0] != '.') ext = "." + ext;
  if (unique) base = NewUniqueName();
  if (newFolder) {
    std::string folder = TempFolderPath() + NewUniqueName();
    if (createFolder) CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\" + base + ext;
  }
  if (besideSource) return FolderOfPath(source) + base + ext;
  return TempFolderPath() + base + ext;
}

}  // namespace nib
