#include "word/WordUtil.h"

#include <algorithm>
#include <cwchar>

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

bool IsMissingMember(HRESULT hr) { return hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND; }

void ForbidMacros(DispObject& application) {
  try {
    application.Put(L"AutomationSecurity", kForceDisableMacros);
  } catch (const ComError& e) {
    if (!IsMissingMember(e.Code())) throw;
  }
}

long OfficeVersion(DispObject& application) {
  try {
    return std::wcstol(application.Text(L"Version").c_str(), nullptr, 10);
  } catch (const ComError&) {
    return 0;  // reported by value: callers treat an unknown version as an old one
  }
}

bool WordAnswers(DispObject& application) {
  application.Text(L"Name");
  return true;
}

bool IsDocumentOf(DispObject& document, const std::string& path) {
  return TextEquals(WideToAnsi(document.Text(L"FullName")), path);
}

bool NoDocumentOpenFrom(DispObject& application, const std::string& path) {
  DispObject documents = application.Object(L"Documents");
  long count = documents.Long(L"Count");
  for (long i = 1; i <= count; ++i) {
    DispObject document = documents.CallObject(L"Item", {Arg(i)});
    if (IsDocumentOf(document, path)) return false;
  }
  return true;
}

bool TWordUtil::AttachOrStartWord(WordServer& server, IDispatch* cycleWord, int& how, bool showMsg) {
  try {
    if (cycleWord) {
      // The cycle's Word forbade macros when it started.
      how = 2;
      server.ConnectTo(DispObject(Microsoft::WRL::ComPtr<IDispatch>(cycleWord)));
    } else {
      how = 1;
      server.ConnectNew();
      ForbidMacros(server.app);
    }
    return true;
  } catch (const ComError&) {
    // A Word started but refusing the macro setting is not used, and not left running.
    if (how == 1) ReleaseWord(server, true);
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
    WaitUntil(200, [&] { return ReadScrambledRegValue(HKEY_CURRENT_USER, kKarstoKey, kNormalTmplValue) == rec.NormalFN; });
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

void TWordUtil::SaveDocumentAs(DispObject& document, const std::string& path) {
  constexpr long kFormatDocument = 0;  // wdFormatDocument: Word 97-2003
  bool oldFormat = path.size() >= 4 && _stricmp(path.c_str() + path.size() - 4, ".doc") == 0;
  if (oldFormat)
    document.Call(L"SaveAs", {},
                  {{L"FileName", Arg::Ansi(path)}, {L"FileFormat", Arg(kFormatDocument)}, {L"AddToRecentFiles", Arg(false)}});
  else
    document.Call(L"SaveAs", {}, {{L"FileName", Arg::Ansi(path)}, {L"AddToRecentFiles", Arg(false)}});
}

std::wstring TWordUtil::FormFieldText(const std::wstring& text) {
  if (text.size() <= kFormFieldTextLimit) return text;
  size_t cut = kFormFieldTextLimit;
  if (IS_HIGH_SURROGATE(text[cut - 1])) --cut;  // the pair stays whole, outside
  return text.substr(0, cut);
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

namespace {

// A shape has a line when its Line can be read; shapes such as pictures have none.
bool LineOf(DispObject& shape, DispObject& line) {
  try {
    line = shape.Object(L"Line");
    return true;
  } catch (const ComError&) {
    return false;
  }
}

}  // namespace

std::string TWordUtil::ShapeNamesInRanges(DispObject& doc, const T2DimIntArr& regions) {
  T1DimStrArr names;
  DispObject shapes = doc.Object(L"Shapes");
  DispObject selection = doc.Object(L"Application").Object(L"Selection");
  long count = shapes.Long(L"Count");
  for (long i = 1; i <= count; ++i) {
    DispObject shape = shapes.CallObject(L"Item", {Arg(i)});
    shape.Call(L"Select");
    long start = selection.Long(L"Start"), end = selection.Long(L"End");
    std::string name = WideToAnsi(shape.Text(L"Name"));
    for (const std::vector<int>& region : regions) {
      if (region.size() < 2 || start < region[0] || region[1] < end) continue;
      if (IndexOfText(names, static_cast<int>(names.size()) - 1, name, true) < 0) AppendText(names, name);
    }
  }
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : "\r\n") + name;
  return joined;
}

DispObject TWordUtil::getShapeRangeByShapeNames(DispObject& doc, const std::string& names) {
  T1DimStrArr lines;
  SplitText(ReplaceChar(names, '\r', '\n'), "\n", lines, true);
  std::vector<std::wstring> items;
  for (const std::string& line : lines)
    if (!line.empty()) items.push_back(AnsiToWide(line));
  if (items.empty()) return DispObject();
  try {
    return doc.Object(L"Shapes").CallObject(L"Range", {Arg::TextArray(items)});
  } catch (const ComError& e) {
    std::wstring text = AnsiToWide(Gb("在getShapeRangeByShapeNames中发生错误: ") + e.what());
    MessageBoxW(nullptr, text.c_str(), L"", MB_OK);
    return DispObject();
  }
}

T2DimStrArr TWordUtil::SaveShapeLineColors(DispObject* range) {
  T2DimStrArr colors;
  if (!range || !*range) return colors;
  long count = range->Long(L"Count");
  for (long i = 1; i <= count; ++i) {
    DispObject shape = range->CallObject(L"Item", {Arg(i)}), line;
    if (!LineOf(shape, line)) continue;
    long rgb = LongOf(line.Object(L"ForeColor").Get(L"RGB"));
    AppendTextRow(colors, {WideToAnsi(shape.Text(L"Name")), std::to_string(rgb)});
  }
  return colors;
}

void TWordUtil::RestoreShapeLineColors(DispObject& range, const T2DimStrArr& colors) {
  size_t count = std::min(static_cast<size_t>(std::max(range.Long(L"Count"), 0L)), colors.size());
  for (size_t i = 0; i < count; ++i) {
    DispObject shape = range.CallObject(L"Item", {Arg::Ansi(colors[i][0])}), line;
    int rgb = 0;
    if (LineOf(shape, line) && TryTextToInt(colors[i][1], rgb)) line.Object(L"ForeColor").Put(L"RGB", rgb);
  }
}

namespace {

[[noreturn]] void TemplatePartChanged(const std::string& bookmarks) {
  Fail(Gb("文档中的模板部分不允许修改:\r\nWord文档中的书签 ") + bookmarks + Gb(" 已丢失或位置发生了变化!"));
}

}  // namespace

bool TWordUtil::ChkBodyBookmarks(DispObject& doc, const TBakValidBMSRec& rec, const std::string& stem, ICommGUI* gui) {
  try {
    DispObject begin = GetBookmarkByName(doc, AnsiToWide(stem + "B"), false);
    DispObject end = GetBookmarkByName(doc, AnsiToWide(stem + "E"), false);
    if (!begin || !end) TemplatePartChanged(stem + Gb("B或") + stem + "E");
    DispObject body = RangeBetweenBookmarks(doc, &begin, &end, false);
    if (!body) TemplatePartChanged(stem + Gb("B或") + stem + "E");
    long length = body.Long(L"End") - body.Long(L"Start");
    for (size_t i = 0; i < rec.names.size() && i < rec.positions.size(); ++i) {
      DispObject bookmark = GetBookmarkByName(doc, AnsiToWide(rec.names[i]), false);
      const std::vector<int>& recorded = rec.positions[i];
      if (!bookmark || recorded.size() < 2) TemplatePartChanged(rec.names[i]);
      long expected = recorded[0] == 1 ? recorded[1] : recorded[1] + length - rec.bodyLength;
      if (bookmark.Long(L"Start") != expected) TemplatePartChanged(rec.names[i]);
    }
    return true;
  } catch (const ComError& e) {
    std::string text = UiText("\r\n" + std::string(e.what()));
    if (!gui) {
      ShowMessageDialog(text, kDlgInformation, 1u << kOk, 0);
      return false;
    }
    BStr message = BStr::FromAnsi(text), okOnly(L"2");
    gui->MyMessageDlg(message.Get(), kDlgInformation, okOnly.Get(), 0);
    return false;
  }
}

}  // namespace nib
