#include "word/WordUtil.h"

#include "com/BStr.h"
#include "com/ComError.h"
#include "com/StrConv.h"
#include "services/Config.h"
#include "services/Files.h"
#include "services/Locale.h"
#include "services/WindowUtil.h"
#include "ui/MessageDialog.h"

namespace nib {

void WordServer::ConnectNew(EventHandler onEvent) {
  Microsoft::WRL::ComPtr<IDispatch> application;
  ThrowIfFailed(CoCreateInstance(kWordClass, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&application)),
                "starting Word");
  ConnectTo(DispObject(application), std::move(onEvent));
}

void WordServer::ConnectTo(DispObject running, EventHandler onEvent) {
  app = std::move(running);
  if (onEvent) events = EventConnection(app.Get(), kWordApplicationEvents, std::move(onEvent));
  connected = true;
}

void WordServer::Disconnect() {
  events.Disconnect();
  app = DispObject();
  connected = false;
}

bool TWordUtil::AttachOrStartWord(WordServer& server, int& how, bool showMsg) {
  try {
    Microsoft::WRL::ComPtr<IUnknown> running;
    HRESULT hr = GetActiveObject(kWordClass, nullptr, &running);
    if (hr == MK_E_UNAVAILABLE) {
      how = 1;
      server.ConnectNew();
    } else {
      how = 2;
      ThrowIfFailed(hr, "finding the running Word");
      Microsoft::WRL::ComPtr<IDispatch> application;
      ThrowIfFailed(running.As(&application), "reaching the running Word");
      server.ConnectTo(DispObject(application));
    }
    return true;
  } catch (const ComError&) {
    if (showMsg) ShowMessageDialog(UiText(Gb("\r\n不能启动Word !")), kDlgInformation, 1u << kOk, 0);
    return false;
  }
}

bool TWordUtil::ReleaseWord(WordServer& server, bool quit) {
  if (!server.connected) return true;
  try {
    if (quit) server.app.Call(L"Quit");
    server.Disconnect();
    return true;
  } catch (const ComError&) {
    return false;
  }
}

std::string TWordUtil::GetNormalTmplFN(DispObject* app) {
  try {
    if (app) return WideToAnsi(app->Object(L"NormalTemplate").Text(L"FullName"));
    WordServer own;
    own.ConnectNew();
    std::string name = WideToAnsi(own.app.Object(L"NormalTemplate").Text(L"FullName"));
    own.app.Call(L"Quit", {}, {{L"SaveChanges", Arg(false)}});
    own.Disconnect();
    return name;
  } catch (const ComError&) {
    return "";
  }
}

void TWordUtil::BackupNormalDot(TResotreNormalDotRec& rec) {
  rec = TResotreNormalDotRec{};
  rec.NormalFN = ReadScrambledRegValue(HKEY_CURRENT_USER, kKarstoKey, kNormalTmplValue);
  if (rec.NormalFN.empty() || !FileExists(rec.NormalFN)) {
    rec.NormalFN = GetNormalTmplFN(nullptr);
    WriteScrambledRegValue(HKEY_CURRENT_USER, rec.NormalFN, kKarstoKey, kNormalTmplValue);
    DelayWithMessages(200);
  }
  rec.exists = !rec.NormalFN.empty() && FileExists(rec.NormalFN);
  rec.valid = rec.exists && !IsFileInUse(rec.NormalFN);
  if (!rec.valid) return;
  rec.BakFN = MakeTempName(rec.NormalFN, "", false, false, true, true);
  rec.valid = CopyFileW(AnsiToWide(rec.NormalFN).c_str(), AnsiToWide(rec.BakFN).c_str(), TRUE) != FALSE;
  if (rec.valid) rec.FileAge = FileAge(rec.NormalFN);
}

void TWordUtil::RestoreNormalDot(const TResotreNormalDotRec& rec, ICommGUI* gui) {
  if (!rec.valid) return;
  bool restored = true;
  if (FileAge(rec.NormalFN) != rec.FileAge) {
    restored = false;
    for (int attempt = 0; attempt < 3 && !restored; ++attempt) {
      restored = CopyFileW(AnsiToWide(rec.BakFN).c_str(), AnsiToWide(rec.NormalFN).c_str(), FALSE) != FALSE;
      if (!restored) Sleep(100);
    }
  }
  if (!restored) {
    // Deleting the backup now would lose the user's own Normal template.
    if (gui) {
      BStr text = BStr::FromAnsi("Normal template not restored; its backup is kept at " + rec.BakFN);
      BStr file = BStr::FromAnsi("NormalDot.txt");
      gui->WFile(text.Get(), file.Get(), VARIANT_TRUE);
    }
    return;
  }
  if (!rec.BakFN.empty()) DeleteFileW(AnsiToWide(rec.BakFN).c_str());
}

DispObject TWordUtil::GetBookmarkByName(DispObject& doc, const std::wstring& name, bool byPrefix) {
  try {
    DispObject bookmarks = doc.Object(L"Bookmarks");
    if (!byPrefix) return bookmarks.CallObject(L"Item", {Arg(name)});
    long count = bookmarks.Long(L"Count");
    for (long i = 1; i <= count; ++i) {
      DispObject bookmark = bookmarks.CallObject(L"Item", {Arg(i)});
      if (bookmark.Text(L"Name").rfind(name, 0) == 0) return bookmark;
    }
  } catch (const ComError&) {
  }
  return DispObject();
}

DispObject TWordUtil::RangeBetweenBookmarks(DispObject& doc, DispObject* from, DispObject* to, bool endMinusOne) {
  long start = from && *from ? from->Long(L"End") : 0;
  long end = to && *to ? to->Long(L"End") : doc.CallObject(L"Range").Long(L"End");
  if (endMinusOne) --end;
  if (start > end) return DispObject();
  return doc.CallObject(L"Range", {Arg(start), Arg(end)});
}

}  // namespace nib
