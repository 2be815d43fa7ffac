// The Word driver's print mode for paper that already carries the red
// header: the template parts print white, the data bookmarks grey.

#include "automation/ProcessValues.h"
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
constexpr long kBlack = 0;
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
      if (on)
        EnterPrintMode();
      else
        LeavePrintMode();
      if (HWND window = FindDocWnd()) {
        DelayWithMessages(300);
        SetForegroundWindow(window);
      }
      bPrintMode = on;
    } catch (const ComError&) {
      SetDocProtect(wasProtected);
      Notify(1, on ? 0 : 1);
      throw;
    }
    SetDocProtect(wasProtected);
    Notify(1, on ? 0 : 1);
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
  ToPrtBak.regionColors.clear();
  for (size_t i = 0; i < ToPrtBak.regions.size(); ++i) {
    long color = 0;
    try {
      color = LongOf(RegionRange(i).Object(L"Font").Get(L"Color"));
    } catch (const ComError&) {
      color = 0;
    }
    ToPrtBak.regionColors.push_back({static_cast<int>(i), static_cast<int>(color)});
  }
  ToPrtBak.saved = true;
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
  auto savedColor = [this](size_t index) {
    return index < ToPrtBak.regionColors.size() && ToPrtBak.regionColors[index].size() > 1
               ? static_cast<long>(ToPrtBak.regionColors[index][1])
               : 0L;
  };
  for (size_t i = 0; i < ToPrtBak.regions.size(); ++i) {
    try {
      DispObject range = RegionRange(i);
      // The third region takes the second's colour, and brings the data
      // bookmarks back to black: the templates put the data there.
      if (i == 2) {
        range.Object(L"Font").Put(L"Color", savedColor(1));
        ColorDataBookmarks(kBlack);
      } else {
        range.Object(L"Font").Put(L"Color", savedColor(i));
      }
    } catch (const ComError&) {
      // As when entering: region by region.
    }
  }
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
      WordDocNew.Call(L"PrintOut");
      status = 0;
    } catch (const ComError&) {
      Message("\r\n对不起,打印机不能正常工作!", kDlgWarning);
    }
    if (shown) _SetShowTrack(true, false);
  });
  return FAILED(hr) ? hr : status == 0 ? S_OK : S_FALSE;
}

}  // namespace nib
