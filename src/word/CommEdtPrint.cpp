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

// The red header's rule, in the main text or in a header.
DispObject HeaderRule(DispObject& doc) {
  for (bool header : {false, true}) {
    try {
      DispObject shapes = header ? HeaderFooterShapes(doc) : doc.Object(L"Shapes");
      return shapes.CallObject(L"Item", {Arg(kHeaderRule)});
    } catch (const ComError&) {
      // Not there.
    }
  }
  return DispObject();
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

// A region is a start bookmark ending in "F" and its partner in the same
// story (the main text, a header, a text box); a pair split over two stories
// or with the partner before the start is none.
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
    if (!start || !end || !InOneStory(start, end) || end.Long(L"Start") < start.Long(L"End")) continue;
    ToPrtBak.regions.push_back({StoryOf(start), start.Long(L"Start"), end.Long(L"End")});
  }
  ToPrtBak.shapes = TWordUtil::SaveShapeLineColors(TWordUtil::ShapesInRegions(WordDocNew, ToPrtBak.regions));
  ToPrtBak.runColors.clear();
  for (const StorySpan& region : ToPrtBak.regions) RecordColorRuns(region, ToPrtBak.runColors);
  for (long i = 1; i <= count; ++i) {
    DispObject bookmark = bookmarks.CallObject(L"Item", {Arg(i)});
    if (IsDataBookmark(bookmark.Text(L"Name")))
      RecordColorRuns({StoryOf(bookmark), bookmark.Long(L"Start"), bookmark.Long(L"End")}, ToPrtBak.runColors);
  }
  ToPrtBak.saved = true;
}

// A red header may mix colours (a red title over a black rule text): Word
// answers 9999999 for such a range, so it is halved until each part has one
// colour. The calls grow with the number of runs, not with the text's length.
void TCommEdt_NibWord::RecordColorRuns(const StorySpan& span, std::vector<ColorRun>& runs) {
  if (span.start >= span.end) return;
  long color = LongOf(RangeOf(WordDocNew, span).Object(L"Font").Get(L"Color"));
  if (color != kColorUndefined || span.end - span.start == 1) {
    ColorRun* last = runs.empty() ? nullptr : &runs.back();
    if (last && last->span.story.Get() == span.story.Get() && last->span.end == span.start && last->color == color)
      last->span.end = span.end;  // one run continued
    else
      runs.push_back({span, color});
    return;
  }
  long middle = span.start + (span.end - span.start) / 2;
  RecordColorRuns({span.story, span.start, middle}, runs);
  RecordColorRuns({span.story, middle, span.end}, runs);
}

DispObject TCommEdt_NibWord::RegionRange(size_t index) { return RangeOf(WordDocNew, ToPrtBak.regions[index]); }

void TCommEdt_NibWord::ColorDataBookmarks(long color) {
  DispObject active = WordApp.app.Object(L"ActiveDocument");
  DispObject bookmarks = active.Object(L"Bookmarks");
  long count = bookmarks.Long(L"Count");
  // Through each bookmark's own range: selecting it would move the user's
  // selection, and into a header for a bookmark there.
  for (long i = 1; i <= count; ++i) {
    DispObject bookmark = bookmarks.CallObject(L"Item", {Arg(i)});
    if (!IsDataBookmark(bookmark.Text(L"Name"))) continue;
    bookmark.Object(L"Range").Object(L"Font").Put(L"Color", color);
  }
}

void TCommEdt_NibWord::EnterPrintMode() {
  CollectPrintRegions();
  // The rule's own colour is read before the region shapes are whitened: it
  // may be one of them, and leaving print mode gives it this colour back.
  DispObject rule = HeaderRule(WordDocNew);
  if (rule) LineArr = {{WideToAnsi(kHeaderRule), std::to_string(LongOf(rule.Object(L"Line").Object(L"ForeColor").Get(L"RGB")))}};
  for (ShapeLine shape : ToPrtBak.shapes) SetLineColor(shape.shape, kWhite);
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
  TWordUtil::RestoreShapeLineColors(ToPrtBak.shapes);
  if (DispObject rule = HeaderRule(WordDocNew)) {
    int color = 0;
    if (!LineArr.empty() && LineArr.back().size() > 1) TryTextToInt(LineArr.back()[1], color);
    SetLineColor(rule, color);
  }
  // Every run gets its own colour back, the data bookmarks' too.
  for (const ColorRun& run : ToPrtBak.runColors) {
    try {
      RangeOf(WordDocNew, run.span).Object(L"Font").Put(L"Color", run.color);
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
