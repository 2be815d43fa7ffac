#include "word/WordUtil.h"

#include <algorithm>
#include <cwchar>

#include "com/BStr.h"
#include "com/ComError.h"
#include "com/StrConv.h"
#include "services/AdminLog.h"
#include "services/Config.h"
#include "services/Files.h"
#include "services/Locale.h"
#include "services/WindowUtil.h"
#include "ui/MessageDialog.h"
#include "word/Editor.h"

namespace nib {

void WordServer::ConnectNew(EventHandler onEvent) {
  std::optional<Editor> editor = ChooseEditor();
  if (!editor) Fail(NoEditorText(), kNoEditorInstalled);
  Microsoft::WRL::ComPtr<IDispatch> application;
  ThrowIfFailed(CoCreateInstance(editor->clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&application)),
                ("starting " + editor->name).c_str());
  ConnectTo(DispObject(application), std::move(onEvent));
}

// Without events the cycle still works: only the closes the user makes in
// the editor itself are not refused.
void WordServer::ConnectTo(DispObject running, EventHandler onEvent) {
  app = std::move(running);
  if (onEvent) {
    if (std::optional<ApplicationEvents> found = FindApplicationEvents(app.Get())) {
      documentBeforeClose = found->documentBeforeClose;
      events = EventConnection(app.Get(), found->iid, std::move(onEvent));
    } else {
      AdminLog("the editor offers no application events: closes made in it are not refused");
    }
  }
  connected = true;
}

void WordServer::Disconnect() {
  events.Disconnect();
  app = DispObject();
  connected = false;
}

bool IsMissingMember(HRESULT hr) { return hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND; }

void OptionalMember(const char* member, const std::function<void()>& call) {
  try {
    call();
  } catch (const ComError& e) {
    if (!IsMissingMember(e.Code())) throw;
    AdminLog(std::string("the application has no ") + member + ": skipped");
  }
}

void ForbidMacros(DispObject& application) {
  OptionalMember("Application.AutomationSecurity",
                 [&] { application.Put(L"AutomationSecurity", kForceDisableMacros); });
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

DispObject StoryOf(DispObject& bookmark) {
  if (bookmark.Long(L"StoryType") == kMainTextStory) return DispObject();
  return bookmark.Object(L"Range");
}

DispObject RangeInStory(DispObject& doc, const DispObject& story, long start, long end) {
  if (!story) return doc.CallObject(L"Range", {Arg(start), Arg(end)});
  DispObject range = DispObject(story).Object(L"Duplicate");
  range.Call(L"SetRange", {Arg(start), Arg(end)});
  return range;
}

// Two headers (or two text boxes) have the same story type and each its own
// numbering: whether the second lies in the first one's story is asked of Word.
bool InOneStory(DispObject& first, DispObject& second) {
  long type = first.Long(L"StoryType");
  if (type != second.Long(L"StoryType")) return false;
  if (type == kMainTextStory) return true;
  DispObject story = first.Object(L"Range");
  story.Call(L"Expand", {Arg(kStoryUnit)});
  return BoolOf(second.Object(L"Range").Call(L"InRange", {Arg(story.Get())}));
}

std::vector<DispObject> StoriesBesideMainText(DispObject& doc) {
  // wdTextFrameStory, then the even, primary and first-page headers and footers.
  constexpr long kStoryTypes[] = {5, 6, 7, 8, 9, 10, 11};
  std::vector<DispObject> ranges;
  DispObject stories = doc.Object(L"StoryRanges");
  for (long type : kStoryTypes) {
    DispObject story;
    try {
      story = stories.CallObject(L"Item", {Arg(type)});
    } catch (const ComError&) {
      continue;  // the document has no story of this type
    }
    // The next text box, or the next section's header of the same kind.
    for (int guard = 0; story && guard < 1000; ++guard) {
      ranges.push_back(story);
      story = DispObject::From(story.Get(L"NextStoryRange"));
    }
  }
  return ranges;
}

DispObject HeaderFooterShapes(DispObject& doc) {
  return doc.Object(L"Sections").CallObject(L"Item", {Arg(1L)}).CallObject(L"Headers", {Arg(1L)}).Object(L"Shapes");
}

DispObject TWordUtil::RangeBetweenBookmarks(DispObject& doc, DispObject* from, DispObject* to, bool endMinusOne) {
  bool hasFrom = from && *from, hasTo = to && *to;
  if (hasFrom && hasTo && !InOneStory(*from, *to)) return DispObject();
  DispObject story = hasFrom ? StoryOf(*from) : hasTo ? StoryOf(*to) : DispObject();
  long start = hasFrom ? from->Long(L"End") : 0;
  long end = 0;
  if (hasTo) {
    end = to->Long(L"End");
  } else if (story) {
    DispObject whole = story.Object(L"Duplicate");
    whole.Call(L"Expand", {Arg(kStoryUnit)});
    end = whole.Long(L"End");
  } else {
    end = doc.CallObject(L"Range").Long(L"End");
  }
  if (endMinusOne) --end;
  if (start > end) return DispObject();
  return RangeInStory(doc, story, start, end);
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

void AddShapesAnchoredIn(DispObject& doc, DispObject shapes, const std::vector<StorySpan>& regions,
                         std::vector<DispObject>& found) {
  long count = shapes.Long(L"Count");
  for (long i = 1; i <= count; ++i) {
    DispObject shape = shapes.CallObject(L"Item", {Arg(i)});
    // Shape.Anchor: unlike selecting the shape, it leaves the user's selection and view where they are.
    DispObject anchor = shape.Object(L"Anchor");
    long at = anchor.Long(L"Start");
    for (const StorySpan& region : regions) {
      if (at < region.start || at > region.end) continue;
      // Outside the main text the same numbers may be another story's: Word tells.
      if (region.story && !BoolOf(anchor.Call(L"InRange", {Arg(RangeOf(doc, region).Get())}))) continue;
      found.push_back(shape);
      break;
    }
  }
}

}  // namespace

std::vector<DispObject> TWordUtil::ShapesInRegions(DispObject& doc, const std::vector<StorySpan>& regions) {
  std::vector<DispObject> found;
  std::vector<StorySpan> mainText, others;
  for (const StorySpan& region : regions) (region.story ? others : mainText).push_back(region);
  if (!mainText.empty()) AddShapesAnchoredIn(doc, doc.Object(L"Shapes"), mainText, found);
  if (!others.empty()) AddShapesAnchoredIn(doc, HeaderFooterShapes(doc), others, found);
  return found;
}

std::vector<ShapeLine> TWordUtil::SaveShapeLineColors(const std::vector<DispObject>& shapes) {
  std::vector<ShapeLine> lines;
  for (DispObject shape : shapes) {
    DispObject line;
    if (!LineOf(shape, line)) continue;
    lines.push_back({shape, LongOf(line.Object(L"ForeColor").Get(L"RGB"))});
  }
  return lines;
}

void TWordUtil::RestoreShapeLineColors(const std::vector<ShapeLine>& lines) {
  for (ShapeLine saved : lines) {
    DispObject line;
    if (LineOf(saved.shape, line)) line.Object(L"ForeColor").Put(L"RGB", saved.rgb);
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
