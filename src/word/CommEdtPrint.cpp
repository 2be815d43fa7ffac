// The Word driver's print mode for paper that already carries the red
// header: the template parts print white, the data bookmarks grey.

#include "services/PageValues.h"
#include "com/BStr.h"
#include "com/ComError.h"
#include "com/ErrorInfo.h"
#include "com/StrConv.h"
#include "services/Locale.h"
#include "services/TextUtil.h"
#include "services/WindowUtil.h"
#include "ui/MessageDialog.h"
#include "word/CommEdtNibWord.h"

namespace nib {
namespace {

constexpr long kWhite = 0xFFFFFF;
constexpr long kGrey = 0xC1C1C1;
// What Word answers for the colour of a range whose characters differ.
constexpr long kColorUndefined = 9999999;
constexpr wchar_t kHeaderRule[] = L"Line 50";
constexpr const char* kDataBookmarks[] = {"wenjianbianhao", "nigaoren", "miji", "huanji"};

bool IsDataBookmark(const std::wstring& name) {
  std::string lower = WideToAnsi(name);
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  for (const char* data : kDataBookmarks)
    if (lower == data) return true;
  return false;
}

// The end partner of a region's start bookmark: the first capital "B" made
// an "E"; none without a "B".
std::wstring PartnerName(std::wstring name) {
  size_t b = name.find(L'B');
  if (b == std::wstring::npos) return L"";
  name[b] = L'E';
  return name;
}

DispObject HeaderRule(DispObject& doc) {
  try {
    return doc.Object(L"Shapes").CallObject(L"Item", {Arg(kHeaderRule)});
  } catch (const ComError&) {
    return DispObject();
  }
}

void SetLineColor(DispObject& shape, long rgb) { shape.Object(L"Line").Object(L"ForeColor").Put(L"RGB", rgb); }

}  // namespace

STDMETHODIMP TCommEdt_NibWord::SetPrintMode(VARIANT_BOOL printMode) {
  return TrapToHResult([&] {
    bool on = printMode != VARIANT_FALSE;
    bool wasProtected = WordDocNew.Long(L"ProtectionType") != -1;
    try {
      SetDocProtect(false);
      if (on) {
        try {
          EnterPrintMode();
        } catch (const ComError&) {
          // Half-whitened is worse than not at all: the parts coloured so far go back.
          LeavePrintMode();
          throw;
        }
      } else {
        LeavePrintMode();
      }
      bPrintMode = on;
      if (HWND window = FindDocWnd()) {
        WaitUntil(300, [&] { return IsWindowVisible(window) != FALSE; });
        SetForegroundWindow(window);
      }
    } catch (const ComError&) {
      SetDocProtect(wasProtected);
      Notify(1, bPrintMode ? 0 : 1);  // the caption tells the state the document is in
      throw;
    }
    SetDocProtect(wasProtected);
    Notify(1, bPrintMode ? 0 : 1);
  });
}

void TCommEdt_NibWord::CollectPrintRegions() {
  ToPrtBak.regions.clear();
  DispObject bookmarks = WordDocNew.Object(L"Bookmarks");
  long count = bookmarks.Long(L"Count");
  for (long i = 1; i <= count; ++i) {
    std::wstring name = bookmarks.CallObject(L"Item", {Arg(i)}).Text(L"Name");
    if (name.empty() || towupper(name.back()) != L'F') continue;
    DispObject start = TWordUtil::GetBookmarkByName(WordDocNew, name, false);
    std::wstring partnerName = PartnerName(name);
    DispObject end = partnerName.empty() ? DispObject() : TWordUtil::GetBookmarkByName(WordDocNew, partnerName, false);
    if (!start || !end || end.Long(L"Start") < start.Long(L"End")) continue;
    ToPrtBak.regions.push_back({static_cast<int>(start.Long(L"Start")), static_cast<int>(end.Long(L"End"))});
  }
  std::string names = TWordUtil::ShapeNamesInRanges(WordDocNew, ToPrtBak.regions);
  ToPrtBak.shapes = TWordUtil::getShapeRangeByShapeNames(WordDocNew, names);
  ToPrtBak.shapeColors = TWordUtil::SaveShapeLineColors(&ToPrtBak.shapes);
  ToPrtBak.runColors.clear();
  for (const std::vector<int>& region : ToPrtBak.regions) RecordColorRuns(region[0], region[1], ToPrtBak.runColors);
  for (long i = 1; i <= count; ++i) {
    DispObject bookmark = bookmarks.CallObject(L"Item", {Arg(i)});
    if (IsDataBookmark(bookmark.Text(L"Name")))
      RecordColorRuns(bookmark.Long(L"Start"), bookmark.Long(L"End"), ToPrtBak.runColors);
  }
  ToPrtBak.saved = true;
}

// A red header may mix colours (a red title over a black rule text): Word
// answers 9999999 for such a range, so it is halved until each part has one
// colour. The calls grow with the number of runs, not with the text's length.
void TCommEdt_NibWord::RecordColorRuns(long start, long end, T2DimIntArr& runs) {
  if (start >= end) return;
  long color = LongOf(WordDocNew.CallObject(L"Range", {Arg(start), Arg(end)}).Object(L"Font").Get(L"Color"));
  if (color != kColorUndefined || end - start == 1) {
    if (!runs.empty() && runs.back()[1] == start && runs.back()[2] == color)
      runs.back()[1] = static_cast<int>(end);  // one run continued
    else
      runs.push_back({static_cast<int>(start), static_cast<int>(end), static_cast<int>(color)});
    return;
  }
  long middle = start + (end - start) / 2;
  RecordColorRuns(start, middle, runs);
  RecordColorRuns(middle, end, runs);
}

DispObject TCommEdt_NibWord::RegionRange(size_t index) {
  const std::vector<int>& region = ToPrtBak.regions[index];
  return WordDocNew.CallObject(L"Range", {Arg(region[0]), Arg(region[1])});
}

void TCommEdt_NibWord::ColorDataBookmarks(long color) {
  DispObject active = WordApp.app.Object(L"ActiveDocument");
  DispObject bookmarks = active.Object(L"Bookmarks");
  DispObject selection = WordApp.app.Object(L"Selection");
  long count = bookmarks.Long(L"Count");
  for (long i = 1; i <= count; ++i) {
    DispObject bookmark = bookmarks.CallObject(L"Item", {Arg(i)});
    if (!IsDataBookmark(bookmark.Text(L"Name"))) continue;
    bookmark.Call(L"Select");
    selection.Object(L"Font").Put(L"Color", color);
  }
}

void TCommEdt_NibWord::EnterPrintMode() {
  CollectPrintRegions();
  // The rule's own colour is read before the region shapes are whitened: it
  // may be one of them, and leaving print mode gives it this colour back.
  DispObject rule = HeaderRule(WordDocNew);
  if (rule) LineArr = {{WideToAnsi(kHeaderRule), std::to_string(LongOf(rule.Object(L"Line").Object(L"ForeColor").Get(L"RGB")))}};
  if (ToPrtBak.shapes) ToPrtBak.shapes.Object(L"Line").Object(L"ForeColor").Put(L"RGB", kWhite);
  if (rule) SetLineColor(rule, kWhite);
  for (size_t i = 0; i < ToPrtBak.regions.size(); ++i) {
    try {
      RegionRange(i).Object(L"Font").Put(L"Color", kWhite);
    } catch (const ComError&) {
      // One region that cannot be coloured does not keep the others printable.
    }
  }
  ColorDataBookmarks(kGrey);
}

void TCommEdt_NibWord::LeavePrintMode() {
  if (!ToPrtBak.saved) return;
  if (ToPrtBak.shapes) TWordUtil::RestoreShapeLineColors(ToPrtBak.shapes, ToPrtBak.shapeColors);
  if (DispObject rule = HeaderRule(WordDocNew)) {
    int color = 0;
    if (!LineArr.empty() && LineArr.back().size() > 1) TryTextToInt(LineArr.back()[1], color);
    SetLineColor(rule, color);
  }
  // Every run gets its own colour back, the data bookmarks' too.
  for (const std::vector<int>& run : ToPrtBak.runColors) {
    try {
      WordDocNew.CallObject(L"Range", {Arg(run[0]), Arg(run[1])}).Object(L"Font").Put(L"Color", static_cast<long>(run[2]));
    } catch (const ComError&) {
      // As when entering: run by run.
    }
  }
}

void TCommEdt_NibWord::WithPrintModeLifted(const std::function<void()>& save) {
  if (!bPrintMode) {
    save();
    return;
  }
  LeavePrintMode();
  try {
    save();
  } catch (const ComError&) {
    EnterPrintMode();
    throw;
  }
  EnterPrintMode();
  // What is on disk is the document; the white is only the screen's.
  WordDocNew.Put(L"Saved", true);
}

STDMETHODIMP TCommEdt_NibWord::PrintDoc(VARIANT_BOOL hideRedHeader) {
  if (!WordDocNew) return S_FALSE;  // status 1: no document
  long status = 1;
  HRESULT hr = TrapToHResult([&] {
    bool shown = WordDocNew.Bool(L"ShowRevisions");
    _SetShowTrack(false, false);
    try {
      bool hide = hideRedHeader != VARIANT_FALSE;
      if (hide != bPrintMode) ThrowIfFailed(SetPrintMode(hide ? VARIANT_TRUE : VARIANT_FALSE), "SetPrintMode");
      // In the foreground: with Background omitted Word follows the user's
      // option, returns before the pages are rendered, and the template's own
      // colours, given back right after this, would be printed.
      WordDocNew.Call(L"PrintOut", {}, {{L"Background", Arg(false)}});
      status = 0;
    } catch (const ComError&) {
      Message("\r\n对不起,打印机不能正常工作!", kDlgWarning);
    }
    if (shown) _SetShowTrack(true, false);
  });
  return FAILED(hr) ? hr : status == 0 ? S_OK : S_FALSE;
}

}  // namespace nib
