// The Word driver's official-document operations: the red-header template
// around the body, the XML fill, the body font, the first page's bottom line
// and Word's insert-file command.

#include <memory>

#include "services/PageValues.h"
#include "com/BStr.h"
#include "com/ComError.h"
#include "com/ErrorInfo.h"
#include "com/StrConv.h"
#include "merge/UpdXML2Doc.h"
#include "services/Files.h"
#include "services/WindowUtil.h"
#include "services/TextUtil.h"
#include "ui/FSts.h"
#include "ui/MessageDialog.h"
#include "ui/WindowMessages.h"
#include "word/CommEdtNibWord.h"

namespace nib {
namespace {

constexpr long kNormalWindow = 0;
constexpr long kGoToBookmark = -1;
constexpr long kCharacterUnit = 1;

std::wstring BodyBookmark(const char* suffix) { return AnsiToWide(std::string("正文内容") + suffix, CP_UTF8); }

// Word's window while the document is rebuilt: 50 by 50 near the middle.
POINT TinyWindowPosition() {
  int width = GetSystemMetrics(SM_CXSCREEN);
  if (width <= 800) return {250, 180};
  if (width <= 1024) return {300, 240};
  return {350, 300};
}

// The working copy is replaced by a rebuilt one only once the new file is
// written: until then it waits under a second name.
class WorkingCopyGuard {
 public:
  explicit WorkingCopyGuard(const std::string& file) : file_(file), kept_(file + ".keep") {
    if (!MoveFileExW(AnsiToWide(file_).c_str(), AnsiToWide(kept_).c_str(), MOVEFILE_REPLACE_EXISTING))
      Fail("the working copy cannot be set aside: " + file_);
  }
  void Commit() { committed_ = true; }
  ~WorkingCopyGuard() {
    if (committed_)
      DeleteFileW(AnsiToWide(kept_).c_str());
    else
      MoveFileExW(AnsiToWide(kept_).c_str(), AnsiToWide(file_).c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  WorkingCopyGuard(const WorkingCopyGuard&) = delete;
  WorkingCopyGuard& operator=(const WorkingCopyGuard&) = delete;

 private:
  std::string file_, kept_;
  bool committed_ = false;
};

}  // namespace

// --- setters --------------------------------------------------------------------------------

STDMETHODIMP TCommEdt_NibWord::SetXMLCont(LONG getType, BSTR xmlCont) {
  return TrapToHResult([&] {
    values_->XMLKind = getType;
    values_->XMLContent = BstrToAnsi(xmlCont);
  });
}

STDMETHODIMP TCommEdt_NibWord::SetDocTmplFN(BSTR tmplFN) {
  return TrapToHResult([&] { values_->LocalTmplFN = BstrToAnsi(tmplFN); });
}

// --- the body and the template ---------------------------------------------------------------

DispObject TCommEdt_NibWord::FindBodyRange(DispObject& doc) {
  DispObject begin = TWordUtil::GetBookmarkByName(doc, BodyBookmark("B"), false);
  DispObject end = TWordUtil::GetBookmarkByName(doc, BodyBookmark("E"), false);
  if (!begin || !end) return doc.CallObject(L"Range");
  if (!InOneStory(begin, end)) return DispObject();
  long start = begin.Long(L"End") + 1, finish = end.Long(L"End") - 1;
  if (start > finish) return DispObject();
  return RangeInStory(doc, StoryOf(begin), start, finish);
}

void TCommEdt_NibWord::SaveWordViewState(WordViewState& state) {
  state.protectedDoc = WordDocNew.Long(L"ProtectionType") != -1;
  state.revisionsShown = WordDocNew.Bool(L"ShowRevisions");
  state.windowState = WordApp.app.Long(L"WindowState");
  state.zoom = WordDocNew.Object(L"ActiveWindow").Object(L"ActivePane").Object(L"View").Object(L"Zoom").Long(
      L"Percentage");
  if (state.windowState != kNormalWindow) return;
  state.left = WordApp.app.Long(L"Left");
  state.top = WordApp.app.Long(L"Top");
  state.width = WordApp.app.Long(L"Width");
  state.height = WordApp.app.Long(L"Height");
}

void TCommEdt_NibWord::RestoreWordViewState(const WordViewState& state) {
  SetDocProtect(state.protectedDoc);
  _SetShowTrack(state.revisionsShown, true);
  WordDocNew.Object(L"ActiveWindow").Object(L"ActivePane").Object(L"View").Object(L"Zoom").Put(L"Percentage",
                                                                                             state.zoom);
  SetAppWindowState(state.windowState, true);
  if (state.windowState != kNormalWindow) return;
  WordApp.app.Put(L"Width", state.width);
  WordApp.app.Put(L"Height", state.height);
  WordApp.app.Put(L"Left", state.left);
  WordApp.app.Put(L"Top", state.top);
}

// Status 1 (the template file was not found) travels as S_FALSE.
STDMETHODIMP TCommEdt_NibWord::SetUseTmpl(VARIANT_BOOL useTmpl) {
  long status = 0;
  HRESULT hr = TrapToHResult([&] { status = SwitchTemplate(useTmpl != VARIANT_FALSE); });
  return FAILED(hr) ? hr : status == 1 ? S_FALSE : S_OK;
}

// The template flag follows the document, not the request: once the rebuild
// is written the document has (or no longer has) its red header, whatever
// fails after it, and the window's caption is told the document's state. A
// remove after a half-done apply then removes it, and an apply never nests.
long TCommEdt_NibWord::SwitchTemplate(bool applying) {
  {
    if (applying == bUseTmpl) {
      Notify(2, bUseTmpl ? 0 : 1);
      return 0;
    }
    auto status = std::make_unique<TFrmSts>();
    WordViewState state;
    SaveWordViewState(state);
    status->Show();
    // The clerk is to see the status window before Word's window shrinks away.
    UpdateWindow(status->Window());
    WaitUntil(1000, [&] { return IsWindowVisible(status->Window()) != FALSE; });
    SetAppWindowState(kNormalWindow, false);
    POINT tiny = TinyWindowPosition();
    WordApp.app.Put(L"Width", 50);
    WordApp.app.Put(L"Height", 50);
    WordApp.app.Put(L"Left", static_cast<long>(tiny.x));
    WordApp.app.Put(L"Top", static_cast<long>(tiny.y));
    try {
      SetDocProtect(false);
      if (applying) {
        if (!ApplyTemplate()) {
          status.reset();
          RestoreWordViewState(state);
          MessageBoxW(nullptr, AnsiToWide("找不到模板文件", CP_UTF8).c_str(), AnsiToWide("信息提示", CP_UTF8).c_str(),
                      MB_SYSTEMMODAL | MB_ICONINFORMATION);
          values_->TmplMissing = true;
          if (values_->ControlWindow) SendMessageW(values_->ControlWindow, WM_TEMPLATE_MISSING, 0, 0);
          return 1;
        }
        values_->TmplMissing = false;
        bUseTmpl = true;
        // The rebuilt document is open again under the working copy's name.
        WaitUntil(300, [&] { return IsDocumentOf(WordDocNew, DestFN); });
        FillFromXML(WordDocNew);
        // Recorded once the fields show their data: a field's result is part of
        // the text, so filling one moves the template's bookmarks after it.
        RecordTemplateBookmarks(WordDocNew, FindBodyRange(WordDocNew));
        DispObject selection = WordApp.app.Object(L"Selection");
        selection.Call(L"GoTo", {}, {{L"What", Arg(kGoToBookmark)}, {L"Name", Arg(BodyBookmark("B"))}});
        selection.Call(L"MoveRight", {}, {{L"Unit", Arg(kCharacterUnit)}, {L"Count", Arg(1)}});
        Save();
      } else if (RemoveTemplate()) {
        bUseTmpl = false;
      }
    } catch (const ComError& e) {
      ReopenIfClosed();
      BStr message = BStr::FromAnsi(e.what()), okOnly(L"2");
      // A protection kept for want of its password has been told already.
      if (CommGUI && e.Code() != kProtectionKept) CommGUI->MyMessageDlg(message.Get(), kDlgWarning, okOnly.Get(), 0);
    }
    RestoreWordViewState(state);
    // Word's window is back as it was before the status window goes.
    WaitUntil(200, [&] { return WordApp.app.Long(L"WindowState") == state.windowState; });
    status.reset();
    Notify(2, bUseTmpl ? 0 : 1);
    return 0;
  }
}

bool TCommEdt_NibWord::ApplyTemplate() {
  BakValidBMS = TBakValidBMSRec();  // recorded anew once the template is filled
  const std::string& templateFile = values_->LocalTmplFN;
  if (TrimBlanks(templateFile).empty() || !FileExists(templateFile)) return false;
  DispObject documents = WordApp.app.Object(L"Documents");
  DispObject tmpl = documents.CallObject(L"Open", {}, {{L"FileName", Arg::Ansi(templateFile)},
                                                        {L"AddToRecentFiles", Arg(false)}});
  bClosingByProg = true;
  Save();
  WaitUntil(300, [&] { return WordDocNew.Bool(L"Saved"); });
  WordDocNew.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
  WordDocNew = DispObject();
  std::string copy = MakeTempName(DestFN, "", false, false, true, true);
  if (!CopyFileW(AnsiToWide(DestFN).c_str(), AnsiToWide(copy).c_str(), FALSE)) {
    tmpl.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
    ReopenIfClosed();
    Fail("the working copy cannot be copied: " + DestFN);
  }
  struct RemoveCopy {
    std::string file;
    ~RemoveCopy() { DeleteFileW(AnsiToWide(file).c_str()); }
  } removeCopy{copy};

  tmpl.Call(L"Activate");
  DispObject body = FindBodyRange(tmpl);
  if (!body) {
    // A template without a body: the user goes on with the document as it was.
    tmpl.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
    ReopenIfClosed();
    return false;
  }
  try {
    body.Call(L"InsertFile", {}, {{L"FileName", Arg::Ansi(copy)}});
    // The working copy is written over next: Word must have done with the
    // inserted copy and let go of the working copy it closed above.
    WaitUntil(500, [&] { return !IsFileInUse(copy) && !IsFileInUse(DestFN) && WordAnswers(WordApp.app); });
    WorkingCopyGuard guard(DestFN);
    TWordUtil::SaveDocumentAs(tmpl, DestFN);
    guard.Commit();
    tmpl.Call(L"Close", {}, {{L"SaveChanges", Arg(true)}});
  } catch (const ComError&) {
    try {
      tmpl.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
    } catch (const ComError&) {
      // Already gone; the working copy is what matters.
    }
    ReopenIfClosed();
    throw;
  }
  WordDocNew = documents.CallObject(L"Open", {}, {{L"FileName", Arg::Ansi(DestFN)}, {L"AddToRecentFiles", Arg(false)}});
  return true;
}

// The template's own bookmarks and where they sit in the rebuilt document, so
// that ChkDocValid can tell an edit of a template part from an edit of the body.
void TCommEdt_NibWord::RecordTemplateBookmarks(DispObject& document, DispObject body) {
  BakValidBMS = TBakValidBMSRec();
  if (!body) return;
  long bodyStart = body.Long(L"Start"), bodyStory = body.Long(L"StoryType");
  // Measured as the check measures it: from the end of one body bookmark to the end of the other.
  DispObject begin = TWordUtil::GetBookmarkByName(document, BodyBookmark("B"), false);
  DispObject end = TWordUtil::GetBookmarkByName(document, BodyBookmark("E"), false);
  BakValidBMS.bodyLength = static_cast<int>(end.Long(L"End") - begin.Long(L"End"));
  DispObject bookmarks = document.Object(L"Bookmarks");
  long count = bookmarks.Long(L"Count");
  for (long i = 1; i <= count; ++i) {
    DispObject bookmark = bookmarks.CallObject(L"Item", {Arg(i)});
    std::wstring name = bookmark.Text(L"Name");
    if (name == BodyBookmark("B") || name == BodyBookmark("E")) continue;
    long start = bookmark.Long(L"Start");
    // Only a bookmark of the body's own story moves with the body; one in a
    // header or a text box stays where it is whatever the body's length.
    bool before = start < bodyStart || bookmark.Long(L"StoryType") != bodyStory;
    BakValidBMS.names.push_back(WideToAnsi(name));
    BakValidBMS.positions.push_back({before ? 1 : 2, static_cast<int>(start)});
  }
}

bool TCommEdt_NibWord::RemoveTemplate() {
  DispObject documents = WordApp.app.Object(L"Documents");
  DispObject plain = documents.CallObject(L"Add", {}, {{L"Visible", Arg(true)}});
  DispObject body = FindBodyRange(WordDocNew);
  if (!body) {
    plain.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
    return false;
  }
  WordDocNew.Call(L"Activate");
  body.Call(L"Select");
  body.Call(L"Copy");
  plain.Call(L"Activate");
  plain.CallObject(L"Range").Call(L"Paste");
  bClosingByProg = true;
  WordDocNew.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
  WordDocNew = DispObject();
  // The working copy is written over next: Word must have closed it and let go of its file.
  WaitUntil(1000, [&] { return NoDocumentOpenFrom(WordApp.app, DestFN) && !IsFileInUse(DestFN); });
  try {
    WorkingCopyGuard guard(DestFN);
    TWordUtil::SaveDocumentAs(plain, DestFN);
    guard.Commit();
  } catch (const ComError&) {
    plain.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
    ReopenIfClosed();
    throw;
  }
  plain.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
  BakValidBMS = TBakValidBMSRec();
  WordDocNew = documents.CallObject(L"Open", {}, {{L"FileName", Arg::Ansi(DestFN)}, {L"AddToRecentFiles", Arg(false)}});
  return true;
}

// After a failed rebuild the user must have the working copy in front of them again.
void TCommEdt_NibWord::ReopenIfClosed() {
  if (WordDocNew) {
    try {
      WordDocNew.Text(L"Name");
      return;
    } catch (const ComError&) {
      // Closed underneath us: open it again below.
    }
  }
  WordDocNew = WordApp.app.Object(L"Documents")
                   .CallObject(L"Open", {}, {{L"FileName", Arg::Ansi(DestFN)}, {L"AddToRecentFiles", Arg(false)}});
}

bool TCommEdt_NibWord::FillFromXML(DispObject& doc) {
  TUpdXML2Doc filler;
  filler.SetCommGUI(CommGUI);
  filler.AttachDocument(doc);
  const PageValues& p = *values_;
  if (!p.IniXMLCont.empty()) return filler.Fill(p.IniXMLType, p.IniXMLCont, XMLFillResult);
  return filler.Fill(p.XMLKind, p.XMLContent, XMLFillResult);
}

VARIANT_BOOL STDMETHODCALLTYPE TCommEdt_NibWord::ChkDocValid() {
  return TWordUtil::ChkBodyBookmarks(WordDocNew, BakValidBMS, Gb("正文内容"), CommGUI) ? VARIANT_TRUE : VARIANT_FALSE;
}

// --- the body's look, the bottom line, inserting a file ----------------------------------------

STDMETHODIMP TCommEdt_NibWord::SetFontByWebPage(BSTR fontName, LONG fontSize, LONG red, LONG green, LONG blue) {
  return TrapToHResult([&] {
    DispObject body = FindBodyRange(WordDocNew);
    if (!body) return;
    DispObject font = body.Object(L"Font");
    long color = (red & 0xFF) + 256 * (green & 0xFF) + 65536 * (blue & 0xFF);
    font.Put(L"Color", color);
    font.Put(L"Size", fontSize);
    font.Put(L"Name", std::wstring(fontName ? fontName : L""));
  });
}

STDMETHODIMP TCommEdt_NibWord::SetBottomLine() {
  return TrapToHResult([&] {
    if (HWND window = FindDocWnd()) {
      WaitUntil(300, [&] { return IsWindowVisible(window) != FALSE; });
      SetForegroundWindow(window);
    }
    DispObject selection = WordApp.app.Object(L"Selection");
    selection.Call(L"HomeKey", {}, {{L"Unit", Arg(kStoryUnit)}});
    DispObject line = WordDocNew.Object(L"Shapes").CallObject(
        L"AddLine", {Arg(79.4), Arg(741.8), Arg(149.6), Arg(741.8), Arg::Omitted()});
    line.Call(L"Select");
    FormatBottomLine(WordApp.app.Object(L"Selection").Object(L"ShapeRange"));
  });
}

void TCommEdt_NibWord::FormatBottomLine(DispObject shapes) {
  auto cm = [this](double centimetres) {
    Variant points = WordApp.app.Call(L"CentimetersToPoints", {Arg(centimetres)});
    ThrowIfFailed(VariantChangeType(points.Get(), points.Get(), 0, VT_R8), "CentimetersToPoints");
    return V_R8(points.Get());
  };
  DispObject line = shapes.Object(L"Line");
  line.Put(L"Weight", 0.75);
  line.Put(L"DashStyle", 1);
  line.Put(L"Style", 1);
  line.Put(L"Transparency", 0.0);
  line.Put(L"Visible", true);
  line.Object(L"ForeColor").Put(L"RGB", 255L);
  line.Object(L"BackColor").Put(L"RGB", 0xFFFFFFL);
  line.Put(L"BeginArrowheadLength", 2);
  line.Put(L"BeginArrowheadWidth", 2);
  line.Put(L"BeginArrowheadStyle", 1);
  line.Put(L"EndArrowheadLength", 2);
  line.Put(L"EndArrowheadWidth", 2);
  line.Put(L"EndArrowheadStyle", 1);
  shapes.Put(L"LockAspectRatio", false);
  shapes.Put(L"Height", 0.55);
  shapes.Put(L"Width", 444.45);
  shapes.Put(L"Rotation", 0.0);
  shapes.Put(L"RelativeHorizontalPosition", 2);
  shapes.Put(L"RelativeVerticalPosition", 1);
  shapes.Put(L"Left", -999995.0);  // Word's "centred"
  shapes.Put(L"Top", cm(27.53));
  shapes.Put(L"LockAnchor", false);
  DispObject wrap = shapes.Object(L"WrapFormat");
  wrap.Put(L"AllowOverlap", true);
  wrap.Put(L"Side", 0);
  wrap.Put(L"DistanceTop", cm(0));
  wrap.Put(L"DistanceBottom", cm(0));
  wrap.Put(L"DistanceLeft", cm(0.32));
  wrap.Put(L"DistanceRight", cm(0.32));
  wrap.Put(L"Type", 3);
  shapes.Call(L"ZOrder", {Arg(5)});
}

STDMETHODIMP TCommEdt_NibWord::InsertFile() {
  // Word shows its own insert-file dialog; what the user picks is Word's
  // business. Through Dialogs, not Application.Run: Run runs macros, and a
  // macro named like the command (in a template, an add-in) would run instead.
  constexpr long kDialogInsertFile = 164;  // wdDialogInsertFile
  return TrapToHResult([&] {
    WordApp.app.Object(L"Dialogs").CallObject(L"Item", {Arg(kDialogInsertFile)}).Call(L"Show");
  });
}

}  // namespace nib
