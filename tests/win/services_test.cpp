// The Windows service routines against a real registry, real files and real
// windows under Wine: temporary names and files, cleanup with files still in
// use, configuration and registry reads, the threaded timer and the waits.

#include <windows.h>

#include <atomic>
#include <fstream>
#include <optional>
#include <thread>

#include "TestSupport.h"
#include "com/ComError.h"
#include "com/Handle.h"
#include "services/Config.h"
#include "services/Files.h"
#include "services/TextUtil.h"
#include "services/ThdTimer.h"
#include "services/TmpFilesMgr.h"
#include "services/UniqueName.h"
#include "services/WindowUtil.h"

namespace nib::test {
namespace {

void Touch(const std::string& path, const std::string& content = "x") {
  std::ofstream(path, std::ios::binary) << content;
}

class Services : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    work = TempFolderPath() + "nib-services-" + NewUniqueName();
    ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr));
  }
  void TearDown() override {
    DeleteTree(work);
    ComApartment::TearDown();
  }
  std::string work;
};

TEST_F(Services, TempNames) {
  std::string temp = TempFolderPath();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '\\');
  std::string name = NewUniqueName();
  EXPECT_EQ(name.size(), 26u);
  EXPECT_TRUE(name[0] >= 'A' && name[0] <= 'H') << name;
  EXPECT_NE(NewUniqueName(), name);

  EXPECT_EQ(MakeTempName("c:\\a\\notice.final.doc", "", false, false, false, false), temp + "notice.final.doc");
  EXPECT_EQ(MakeTempName("c:\\a\\notice.final.doc", "htm", false, false, true, false), "c:\\a\\notice.final.htm");
  EXPECT_EQ(MakeTempName("c:\\a\\notice.doc", ".Qoz", false, false, true, false), "c:\\a\\notice.Qoz");
  std::string unique = MakeTempName("", ".doc", false, false, false, true);
  EXPECT_EQ(unique.size(), temp.size() + 26 + 4) << unique;
  std::string inFolder = MakeTempName("\xCD\xA8\xD6\xAA" "1", ".doc", true, true, false, false);
  EXPECT_EQ(FileNameOfPath(inFolder), "\xCD\xA8\xD6\xAA" "1.doc");
  EXPECT_TRUE(FolderExists(FolderOfPath(inFolder))) << "created when asked";
  EXPECT_EQ(FolderOfPath(FolderOfPath(inFolder).substr(0, FolderOfPath(inFolder).size() - 1)), temp);
  DeleteTree(FolderOfPath(inFolder));
  std::string notCreated = MakeTempName("x.doc", "", true, false, false, false);
  EXPECT_FALSE(FolderExists(FolderOfPath(notCreated)));
}

TEST_F(Services, FilesAndTrees) {
  std::string file = work + "\\held.doc";
  Touch(file, "content");
  EXPECT_FALSE(IsFileInUse(file));
  EXPECT_TRUE(IsFileInUse(work + "\\missing.doc")) << "a missing file counts as in use";
  {
    // Word holds the document open for writing: it is in use, yet readable.
    UniqueHandle word(CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(word);
    EXPECT_TRUE(IsFileInUse(file));
    std::string text;
    EXPECT_TRUE(LoadTextFile(text, file));
    EXPECT_EQ(text, "content");
  }
  std::string text = "keep";
  EXPECT_FALSE(LoadTextFile(text, work + "\\missing.doc"));
  EXPECT_EQ(text, "keep");
  EXPECT_TRUE(SaveTextFile("\xCD\xA8\xD6\xAA", work + "\\saved.txt"));
  EXPECT_TRUE(LoadTextFile(text, work + "\\saved.txt"));
  EXPECT_EQ(text, "\xCD\xA8\xD6\xAA");
  EXPECT_THROW(SaveTextFile("x", work + "\\no\\such\\folder.txt"), ComError);

  // A tree with nested folders and a read-only file; the current directory is left alone.
  std::string tree = work + "\\page.files";
  CreateDirectoryA(tree.c_str(), nullptr);
  CreateDirectoryA((tree + "\\deep").c_str(), nullptr);
  CreateDirectoryA((tree + "\\empty").c_str(), nullptr);
  Touch(tree + "\\image001.png");
  Touch(tree + "\\deep\\a.css");
  SetFileAttributesA((tree + "\\deep\\a.css").c_str(), FILE_ATTRIBUTE_READONLY);
  char before[MAX_PATH], after[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, before);
  EXPECT_TRUE(DeleteTree(tree + "\\"));
  GetCurrentDirectoryA(MAX_PATH, after);
  EXPECT_STREQ(after, before);
  EXPECT_FALSE(FolderExists(tree));
  EXPECT_FALSE(DeleteTree(tree)) << "a missing folder gives false, no exception";
  EXPECT_FALSE(DeleteTree(""));

  Touch(work + "\\page.htm");
  CreateDirectoryA((work + "\\page.files").c_str(), nullptr);
  Touch(work + "\\page.files\\image001.png");
  Touch(work + "\\other.htm");
  DeleteHtmlAndFiles(work + "\\page.htm");
  EXPECT_FALSE(FileExists(work + "\\page.htm"));
  EXPECT_FALSE(FolderExists(work + "\\page.files"));
  DeleteHtmlAndFiles(work + "\\other.htm");
  EXPECT_FALSE(FileExists(work + "\\other.htm")) << "no .files folder: only the file";
}

TEST_F(Services, StreamToByteArrayTakesTheWholeStream) {
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  const char raw[] = "\xCD\xA8\xD6\xAA\0binary";
  const std::string body(raw, sizeof raw - 1);
  stream->Write(body.data(), static_cast<ULONG>(body.size()), nullptr);  // the position is now at the end
  VARIANT bytes;
  StreamToByteArray(stream, &bytes);
  ASSERT_EQ(V_VT(&bytes), VT_ARRAY | VT_UI1);
  LONG lower = -1, upper = -1;
  SafeArrayGetLBound(V_ARRAY(&bytes), 1, &lower);
  SafeArrayGetUBound(V_ARRAY(&bytes), 1, &upper);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, static_cast<LONG>(body.size()) - 1);
  void* data = nullptr;
  SafeArrayAccessData(V_ARRAY(&bytes), &data);
  EXPECT_EQ(std::string(static_cast<const char*>(data), body.size()), body) << "read from position 0, bytes as they are";
  SafeArrayUnaccessData(V_ARRAY(&bytes));
  VariantClear(&bytes);
  stream->Release();
}

TEST_F(Services, CleanupWaitsForFilesInUse) {
  TTmpFilesMgr manager;
  std::string held = work + "\\held.doc", free = work + "\\FREE.doc", never = work + "\\never.doc";
  std::string missingFolder = work + "\\gone", folder = work + "\\download";
  Touch(held);
  Touch(free);
  CreateDirectoryA(folder.c_str(), nullptr);
  Touch(folder + "\\inner.doc");
  manager.Add(TTmpFilesMgr::kFile, held);
  manager.Add(TTmpFilesMgr::kFile, free);
  manager.Add(TTmpFilesMgr::kFile, work + "\\free.doc");  // same file, other case
  manager.Add(TTmpFilesMgr::kFile, never);                 // never created
  manager.Add(TTmpFilesMgr::kFolder, missingFolder);       // never created
  manager.Add(TTmpFilesMgr::kFolder, folder);
  manager.Add(3, work + "\\ignored");
  EXPECT_EQ(manager.Files().size(), 3u);
  EXPECT_EQ(manager.Folders().size(), 2u);

  // Word lets go of the document 400 ms into the cleanup, and of a file in
  // the folder 300 ms after that.
  HANDLE word = CreateFileA(held.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE inner = CreateFileA((folder + "\\inner.doc").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(word, INVALID_HANDLE_VALUE);
  ASSERT_NE(inner, INVALID_HANDLE_VALUE);
  std::thread release([word, inner] {
    Sleep(400);
    CloseHandle(word);
    Sleep(300);
    CloseHandle(inner);
  });
  DWORD start = GetTickCount();
  manager.Cleanup(1000, 50);
  DWORD elapsed = GetTickCount() - start;
  release.join();
  EXPECT_FALSE(FileExists(held)) << "retried, then deleted once released";
  EXPECT_FALSE(FileExists(free));
  EXPECT_FALSE(FolderExists(folder)) << "retried until its file was released; a missing folder does not stop it";
  EXPECT_GE(elapsed, 650u) << "it waited for both releases";
  EXPECT_EQ(manager.Files().size(), 3u) << "the lists stay";

  // A file held past the time-out stays, and the cleanup goes on.
  Touch(held);
  HANDLE kept = CreateFileA(held.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  TTmpFilesMgr second;
  second.Add(TTmpFilesMgr::kFile, held);
  second.Add(TTmpFilesMgr::kFile, free);
  Touch(free);
  second.Cleanup(300, 50);
  EXPECT_TRUE(FileExists(held));
  EXPECT_FALSE(FileExists(free));
  CloseHandle(kept);

  // Reset forgets the entries; the files stay on disk.
  Touch(free);
  TTmpFilesMgr third;
  third.Add(TTmpFilesMgr::kFile, free);
  third.Reset();
  third.Cleanup(1000, 200);
  EXPECT_TRUE(FileExists(free));
}

TEST_F(Services, ConfigurationAndRegistry) {
  std::string ini = work + "\\settings.ini";
  Touch(ini, "[NibWordLib]\r\nName=\xCD\xA8\xD6\xAA\r\nCount=12\r\nFlag=1\r\nBad=x\r\n");
  ConfigValue value = std::string("untouched");
  ReadIniValue(ini, "string", "NibWordLib", value, "0", "Name");
  EXPECT_EQ(std::get<std::string>(value), "\xCD\xA8\xD6\xAA");
  ReadIniValue(ini, "Integer", "NibWordLib", value, "0", "Count");
  EXPECT_EQ(std::get<int>(value), 12);
  ReadIniValue(ini, "BOOLEAN", "NibWordLib", value, "0", "Flag");
  EXPECT_EQ(std::get<bool>(value), true);
  ReadIniValue(ini, "Integer", "NibWordLib", value, "7", "Missing");
  EXPECT_EQ(std::get<int>(value), 7) << "the default, converted";
  value = std::string("untouched");
  ReadIniValue(ini, "Float", "NibWordLib", value, "0", "Count");
  EXPECT_EQ(std::get<std::string>(value), "untouched") << "unknown type name";
  ReadIniValue(ini, "Integer", "NibWordLib", value, "0", "Bad");
  EXPECT_EQ(std::get<std::string>(value), "untouched") << "errors are swallowed";
  EXPECT_EQ(ReadIniString(work + "\\none.ini", "NibWordLib", "Name", "0"), "0");

  const std::string key = "Software\\NibWordLibTest\\" + NewUniqueName();
  HKEY handle;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr), 0);
  DWORD number = 42;
  RegSetValueExA(handle, "Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), sizeof number);
  RegSetValueExA(handle, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 4);
  RegSetValueExA(handle, "Empty", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  RegSetValueExA(handle, "Binary", 0, REG_BINARY, reinterpret_cast<const BYTE*>("abc"), 3);
  RegCloseKey(handle);
  EXPECT_TRUE(ReadRegValue(HKEY_CURRENT_USER, key, "String", value, "Text"));
  EXPECT_EQ(std::get<std::string>(value), "abc");
  EXPECT_TRUE(ReadRegValue(HKEY_CURRENT_USER, key, "integer", value, "Number"));
  EXPECT_EQ(std::get<int>(value), 42);
  EXPECT_TRUE(ReadRegValue(HKEY_CURRENT_USER, key, "Anything", value, "Number")) << "stored type";
  EXPECT_EQ(std::get<int>(value), 42);
  for (const char* missing : {"Missing", "Empty", "Binary"}) {
    EXPECT_FALSE(ReadRegValue(HKEY_CURRENT_USER, key, "String", value, missing)) << missing;
    EXPECT_EQ(std::get<std::string>(value), "RDErrRD") << missing;
  }
  EXPECT_FALSE(ReadRegValue(HKEY_CURRENT_USER, key + "\\nokey", "String", value, "Text"));

  const std::string templatePath = "C:\\users\\\xD5\xC5\xC8\xFD\\Templates\\Normal.dot";
  WriteScrambledRegValue(HKEY_CURRENT_USER, templatePath, key, "WordNormalTmplFN");
  EXPECT_EQ(ReadScrambledRegValue(HKEY_CURRENT_USER, key, "WordNormalTmplFN"), templatePath);
  EXPECT_FALSE(ReadRegValue(HKEY_CURRENT_USER, key, "String", value, "WordNormalTmplFN")) << "stored as binary";
  EXPECT_EQ(ReadScrambledRegValue(HKEY_CURRENT_USER, key, "Binary"), "") << "not a scrambled value";
  EXPECT_EQ(ReadScrambledRegValue(HKEY_CURRENT_USER, key, "Missing"), "");
  RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());

  // The program registered for a document type.
  const std::string extension = ".nib" + NewUniqueName().substr(0, 6);
  const std::string fileType = "NibTest.Document" + extension;
  HKEY classKey;
  RegCreateKeyExA(HKEY_CLASSES_ROOT, extension.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &classKey, nullptr);
  RegSetValueExA(classKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(fileType.c_str()),
                 static_cast<DWORD>(fileType.size() + 1));
  RegCloseKey(classKey);
  const std::string command = "\"C:\\Program Files\\Microsoft Office\\Office\\WINWORD.EXE\" /n /dde";
  RegCreateKeyExA(HKEY_CLASSES_ROOT, (fileType + "\\Shell\\Open\\Command").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                  &classKey, nullptr);
  RegSetValueExA(classKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                 static_cast<DWORD>(command.size() + 1));
  RegCloseKey(classKey);
  EXPECT_EQ(AppOfExtension(extension, false), "WINWORD.EXE");
  EXPECT_EQ(AppOfExtension(extension, true), "C:\\Program Files\\Microsoft Office\\Office\\WINWORD.EXE");
  EXPECT_EQ(AppOfExtension(".nibnone", false), "");
  RegDeleteTreeA(HKEY_CLASSES_ROOT, extension.c_str());
  RegDeleteTreeA(HKEY_CLASSES_ROOT, fileType.c_str());

  EXPECT_NE(ServerPathOfProgID("NibWordLib.NibWord").find("NibWordLib.dll"), std::string::npos);
  EXPECT_EQ(ServerPathOfProgID("{358ECC3E-6668-48DF-993E-0410762EAC63}"), ServerPathOfProgID("NibWordLib.NibWord"));
  EXPECT_EQ(ServerPathOfProgID("No.Such.Server"), "");
}

TEST_F(Services, WaitsAndWindows) {
  HWND window = CreateWindowExA(0, "STATIC", "nib-find-me", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(FindWindowLoose("Static", "nib-find-me"), window);
  EXPECT_EQ(FindWindowLoose("NoSuchClass", "nib-find-me"), window) << "falls back to the title";
  EXPECT_EQ(FindWindowLoose("NoSuchClass", "no such title"), nullptr);

  // Posted messages are dispatched inside the wait, even a 0 ms one.
  static std::atomic<int> timerTicks{0};
  timerTicks = 0;
  struct Tick {
    static void CALLBACK Count(HWND, UINT, UINT_PTR, DWORD) { ++timerTicks; }
  };
  UINT_PTR timer = SetTimer(nullptr, 0, 50, Tick::Count);
  DWORD start = GetTickCount();
  DelayWithMessages(300);
  EXPECT_GE(GetTickCount() - start, 300u);
  EXPECT_GE(timerTicks.load(), 2) << "timers ran during the wait";
  KillTimer(nullptr, timer);
  PostMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"renamed"));
  ProcessMessages();
  DelayWithMessages(0);
  EXPECT_TRUE(PeekMessageW(nullptr, nullptr, 0, 0, PM_NOREMOVE) == FALSE) << "the queue was emptied";
  DestroyWindow(window);

  // The host's thread is told to end in the middle of a wait: the wait ends
  // and the quit stays for the host's own loop.
  PostQuitMessage(7);
  start = GetTickCount();
  DelayWithMessages(2000);
  EXPECT_LT(GetTickCount() - start, 1000u) << "nothing is waited for on a thread that ends";
  MSG quit{};
  ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit is still there";
  EXPECT_EQ(quit.wParam, 7u);
}

TEST(ThreadedTimer, TicksOnItsOwnThreadOnlyWhileEnabled) {
  std::atomic<int> ticks{0};
  std::atomic<DWORD> tickThread{0};
  std::optional<TThreadedTimer> timer(std::in_place);
  EXPECT_FALSE(timer->Enabled());
  EXPECT_EQ(timer->Interval(), 1000u);
  timer->SetOnTimer([&](TThreadedTimer& sender) {
    ++ticks;
    tickThread = GetCurrentThreadId();
    if (ticks == 3) sender.SetEnabled(false);
  });
  timer->SetInterval(20);
  Sleep(1100);  // the first sleep still runs at the old interval
  EXPECT_EQ(ticks.load(), 0) << "disabled: no tick";
  timer->SetEnabled(true);
  Sleep(400);  // the page's thread is blocked, as in a modal loop
  EXPECT_EQ(ticks.load(), 3) << "the handler disabled the timer on its third tick";
  EXPECT_NE(tickThread.load(), GetCurrentThreadId());
  timer->SetInterval(5000);
  Sleep(50);
  DWORD start = GetTickCount();
  timer.reset();
  EXPECT_LT(GetTickCount() - start, 2000u) << "destruction does not wait out a 5 s sleep";
}

}  // namespace
}  // namespace nib::test
