// A whole edit cycle on a traditional-Chinese system (code page 950, run with
// LC_ALL=zh_TW.UTF-8 and zh_HK.UTF-8): names whose Big5 bytes hold "\" as a
// trail byte reach the server intact, and the user reads traditional text.
// Also run on the simplified system: names with characters neither code page holds.

#include <windows.h>

#include <string>
#include <vector>

#include "DialogRobot.h"
#include "FlowFixture.h"
#include "TestSupport.h"
#include "com/BStr.h"
#include "com/StrConv.h"
#include "services/Files.h"
#include "services/TextUtil.h"

namespace nib::test {
namespace {

std::wstring FromBig5(const std::string& bytes) {
  int length = MultiByteToWideChar(950, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(950, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), length);
  return wide;
}

// The entry names of a ZIP archive, from its central directory.
std::vector<std::string> EntryNames(const std::string& archive) {
  std::vector<std::string> names;
  for (size_t at = archive.find("PK\x01\x02"); at != std::string::npos && at + 46 <= archive.size();
       at = archive.find("PK\x01\x02", at + 4)) {
    auto byte = [&](size_t offset) { return static_cast<unsigned char>(archive[at + offset]); };
    size_t length = byte(28) | byte(29) << 8;
    if (at + 46 + length > archive.size()) break;
    names.push_back(archive.substr(at + 46, length));
  }
  return names;
}

std::wstring Caption(HWND window) {
  wchar_t text[256] = L"";
  GetWindowTextW(window, text, 256);
  return text;
}

class Traditional : public FlowFixture {};

TEST_F(Traditional, WholeCycleKeepsBig5NamesAndShowsTraditionalText) {
  ASSERT_EQ(GetACP(), 950u) << "run with LC_ALL=zh_TW.UTF-8 or zh_HK.UTF-8";
  SetAnsiCodePage(GetACP());  // this program's own path routines, as the DLL's when it loads
  Serve("big5.doc", "Body");
  Configure("big5.doc", "&reply=NO");
  Set(&INibWord::SetDestBaseFN, "許功蓋通知.doc");  // Big5 A9 5C / A5 5C / BB 5C: "\" as trail bytes
  Set(&INibWord::SetUserName, "張三");
  EXPECT_EQ(Open(L"1"), L"");
  HWND window = FindWindowW(L"TFrmUserCtrlPop", nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(Caption(window), W("文檔編輯控制窗口"));
  EXPECT_EQ(Caption(ControlButton(kSaveAndClose)), W("保存並關閉"));
  EXPECT_EQ(Caption(ControlButton(kClose)), W("關閉"));
  std::string workingCopy = TypeInWord(L"Edited ");
  EXPECT_EQ(FromBig5(FileNameOfPath(workingCopy)), W("許功蓋通知.doc")) << "the working copy keeps the name";
  {
    DispObject word = RunningWord();
    ASSERT_TRUE(word);
    EXPECT_EQ(word.Text(L"UserName"), W("張三"));
  }

  // Refused first: the message reads in traditional characters.
  SeenDialog refused = PressExpectingDialog(kSaveAndClose);
  // The message as users know it, then why, both in traditional characters.
  EXPECT_EQ(refused.text, W("\r\n文件上傳未成功,請稍後再試!\r\n原因: 服務器回答: NO"));

  Set(&INibWord::SetUpURL, base + "/upload?id=" + id + "&reply=OK");
  {
    // 保存 (the page's save without closing): its plain success message too.
    DialogRobot saved(L"", false, 0, L"#32770");
    Microsoft::WRL::ComPtr<IInnerFunc> inner;
    ASSERT_EQ(page.As(&inner), S_OK);
    BStr ignored;
    EXPECT_EQ(inner->ProcSave(VARIANT_FALSE, ignored.Out()), S_OK);
    EXPECT_EQ(saved.Seen().text, W("保存成功!")) << "read in the Big5 code page, not as GB2312 bytes";
  }
  SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);
  std::string archive = Uploaded("body");
  ASSERT_EQ(archive.substr(0, 2), "PK");
  std::vector<std::string> names = EntryNames(archive);
  ASSERT_FALSE(names.empty());
  bool page = false;
  for (const std::string& name : names) {
    std::wstring wide = FromBig5(name);
    EXPECT_EQ(wide.rfind(W("許功蓋通知"), 0), 0u) << "every entry keeps the whole name: " << WideToAnsi(wide, CP_UTF8);
    EXPECT_EQ(wide.find(L'\\'), std::wstring::npos) << "entry folders are separated by /: " << WideToAnsi(wide, CP_UTF8);
    page = page || wide == W("許功蓋通知.htm");
  }
  EXPECT_TRUE(page) << "the page itself is in the archive";
  EXPECT_EQ(ControlButton(kClose), nullptr) << "the cycle ended";
  EXPECT_FALSE(FileExists(workingCopy)) << "nothing is left behind";
  EXPECT_FALSE(FolderExists(FolderOfPath(workingCopy)));
}

// A name with characters the system's code page cannot hold (an emoji, a
// hanzi of CJK Extension B, outside GBK and Big5): each becomes "_" in the
// working copy, the page and the archive, and the cycle runs.
class CodePage : public FlowFixture {};

TEST_F(CodePage, CharactersOutsideItBecomeUnderscores) {
  SetAnsiCodePage(GetACP());
  Serve("outside.doc", "Body");
  Configure("outside.doc", "&reply=OK");
  BStr name(W("通知") + L"\xD83D\xDE00\xD840\xDC00.doc");  // U+1F600, U+20000
  ASSERT_EQ(page->SetDestBaseFN(name.Get()), S_OK);
  std::wstring result = Open(L"3");
  EXPECT_EQ(result.rfind(L"OK:", 0), 0u) << WideToAnsi(result, CP_UTF8);
  std::vector<std::string> names = EntryNames(Uploaded("body"));
  ASSERT_FALSE(names.empty());
  bool page = false;
  for (const std::string& entry : names) {
    std::wstring wide = AnsiToWide(entry, GetACP());
    EXPECT_EQ(wide.rfind(W("通知__"), 0), 0u) << WideToAnsi(wide, CP_UTF8);
    page = page || wide == W("通知__.htm");
  }
  EXPECT_TRUE(page) << "the page is in the archive under the name Windows took";
}

}  // namespace
}  // namespace nib::test
