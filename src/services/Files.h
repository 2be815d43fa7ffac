#pragma once
// File and folder routines. Paths are ANSI texts. They report failure by
// value unless said otherwise.

#include <windows.h>
#include <objidl.h>
#include <oaidl.h>

#include <string>

namespace nib {

// Reads all bytes of an existing file (shared deny-none: Word may hold it).
bool LoadTextFile(std::string& text, const std::string& path);
// Creates or truncates the file and writes the bytes. Throws ComError when
// the file cannot be created; false when the write fails.
bool SaveTextFile(const std::string& text, const std::string& path);
// The whole stream from position 0 as a VT_ARRAY|VT_UI1 variant (bounds 0..size-1).
void StreamToByteArray(IStream* stream, VARIANT* bytes);
// True when the file cannot be opened for writing without sharing: held by
// another program, or not there at all.
bool IsFileInUse(const std::string& path);
// Deletes the folder with all files and subfolders. Leaves the process's
// current directory alone; a missing folder gives false.
bool DeleteTree(const std::string& folder);
// Deletes an HTML file and the folder of its supporting files (same path,
// extension ".files").
void DeleteHtmlAndFiles(const std::string& htmlPath);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// The file's last-write time as a DOS date and time (local, 2-second steps); -1 when missing.
int FileAge(const std::string& path);

// The system temporary folder with a trailing "\".
std::string TempFolderPath();
// A temporary path (see the flags) for a copy of `source` with `extension`
// (the source's own when empty).
std::string MakeTempName(const std::string& source, const std::string& extension, bool newFolder, bool createFolder,
                         bool besideSource, bool unique);

}  // namespace nib
