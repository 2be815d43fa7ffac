#pragma once
// TWordUtil: recurring Word automation tasks shared by the Word driver, the
// XML filler and the Office converter: starting or attaching to Word,
// guarding Word's Normal template, bookmarks and the ranges between them.

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <string>
#include <vector>

#include "NibWordLib.h"
#include "services/TextUtil.h"
#include "com/Dispatch.h"
#include "com/EventSink.h"

namespace nib {

inline constexpr CLSID kWordClass = {0x000209FF, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID kWordApplicationEvents = {
    0x000209FE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr DISPID kDocumentBeforeCloseId = 6;

// A connection to one Word instance: its Application and, when asked, its events.
struct WordServer {
  DispObject app;
  EventConnection events;
  DISPID documentBeforeClose = kDocumentBeforeCloseId;  // as the editor's type information names it
  bool connected = false;

  // A new, private editor (never one already running): Word or WPS Writer,
  // as ChooseEditor decides; `onEvent` receives its application events when
  // given and the editor has them.
  void ConnectNew(EventHandler onEvent = nullptr);
  void ConnectTo(DispObject running, EventHandler onEvent = nullptr);
  void Disconnect();
};

// The backup of Word's Normal template taken while the system drives Word.
struct TResotreNormalDotRec {
  bool valid = false;
  bool exists = false;
  std::string NormalFN;
  std::string BakFN;
  int FileAge = 0;
};

// Template bookmarks recorded when a template was applied, checked later
// against the document (kind 1: before the body, its start must stay; other
// kinds: after the body, its start moves with the body's length).
struct TBakValidBMSRec {
  int bodyLength = 0;
  T1DimStrArr names;
  T2DimIntArr positions;  // per name: kind, start
};

// Word, Excel and PowerPoint open files with their macros enabled when asked
// by automation (AutomationSecurity = msoAutomationSecurityLow). Documents
// come from a server and templates from the page's address: nothing in them
// may run. Sets msoAutomationSecurityForceDisable; an Office that has no such
// member (Word 2000) goes on without it, any other failure throws.
void ForbidMacros(DispObject& application);

// What the driver's waits look for, each a cheap call that throws while Word
// is not there yet (see docs/office-calls.md, "Waits").
// Word answers a call (it no longer refuses them while starting or busy).
bool WordAnswers(DispObject& application);
// `document` is open under the file `path` (its FullName answers that path).
bool IsDocumentOf(DispObject& document, const std::string& path);
// No document of `application` is open from `path`.
bool NoDocumentOpenFrom(DispObject& application, const std::string& path);
inline constexpr long kForceDisableMacros = 3;  // msoAutomationSecurityForceDisable

// The major version number of an Office application (Application.Version,
// "16.0"); 0 when it cannot be read.
long OfficeVersion(DispObject& application);

// A member the server does not have (an older Office): GetIDsOfNames refused the name.
bool IsMissingMember(HRESULT hr);
// Runs `call`, a nicety or a safeguard another way covers: an application
// (the editor, Excel, PowerPoint) without the member (`member`, as
// "View.FieldShading") has it skipped with a line in the administrators' log;
// any other failure is thrown.
void OptionalMember(const char* member, const std::function<void()>& call);

// Word numbers the characters of each story (the main text, each header and
// footer, each text box) from 0, and Document.Range addresses the main text
// only: a position means something only with the story it counts in.
inline constexpr long kMainTextStory = 1;  // wdMainTextStory
inline constexpr long kStoryUnit = 6;      // wdStory, for Range.Expand

// Positions in one story. `story` is a range of that story, empty for the
// main text (reached through Document.Range, as Word 2000 already did).
struct StorySpan {
  DispObject story;
  long start = 0, end = 0;
};

// The story `bookmark` is in, as StorySpan keeps it: empty for the main text.
DispObject StoryOf(DispObject& bookmark);
// The range from `start` to `end` of `story` (StorySpan's), counted in that story.
DispObject RangeInStory(DispObject& doc, const DispObject& story, long start, long end);
inline DispObject RangeOf(DispObject& doc, const StorySpan& span) {
  return RangeInStory(doc, span.story, span.start, span.end);
}
// The two bookmarks are in one story, so that their positions compare.
bool InOneStory(DispObject& first, DispObject& second);
// A range of every story beside the main text that a field may be in: each
// text box, each section's headers and footers.
std::vector<DispObject> StoriesBesideMainText(DispObject& doc);
// Document.Shapes holds the shapes anchored in the main text only; those of
// every header and footer are in any HeaderFooter's Shapes.
DispObject HeaderFooterShapes(DispObject& doc);

// A shape and the line colour it had.
struct ShapeLine {
  DispObject shape;
  long rgb = 0;
};

class TWordUtil {
 public:
  // Document.SaveAs to `path`, not added to the recent files. A ".doc" name is
  // written as Word 97-2003 explicitly: without a format, Word 2007 and later
  // write a new document in their own default (.docx) whatever the name says.
  static void SaveDocumentAs(DispObject& document, const std::string& path);
  // how: 1 started, 2 attached to `cycleWord`, the Word of the running edit
  // cycle (when there is one). Never the Word the running-object table names:
  // that may be the user's own, with documents of their own. False (and the
  // message when `showMsg`) on any error.
  static bool AttachOrStartWord(WordServer& server, IDispatch* cycleWord, int& how, bool showMsg);
  static bool ReleaseWord(WordServer& server, bool quit);
  // With no application, a Word of its own is started and quit; empty on errors.
  static std::string GetNormalTmplFN(DispObject* app);
  static void BackupNormalDot(TResotreNormalDotRec& rec);
  // Puts the template back when Word changed it. When that fails three times
  // the backup is kept, and `gui` (when given) is told where it is.
  static void RestoreNormalDot(const TResotreNormalDotRec& rec, ICommGUI* gui = nullptr);
  // Word takes at most 255 characters for a text form field's result and
  // default text ("The string length is limited to 255 characters") and
  // refuses a longer one: the text cut to fit, never inside a character that
  // takes two UTF-16 units.
  static constexpr size_t kFormFieldTextLimit = 255;
  static std::wstring FormFieldText(const std::wstring& text);
  // By exact name, or the first (lowest index) whose name starts with `name`;
  // an empty object when there is none. Never raises.
  static DispObject GetBookmarkByName(DispObject& doc, const std::wstring& name, bool byPrefix);
  // From the end of `from` (or its story's start) to the end of `to` (or
  // its story's end), one less with `endMinusOne`; empty when start > end or
  // when the two are in different stories. With neither, the main text.
  static DispObject RangeBetweenBookmarks(DispObject& doc, DispObject* from, DispObject* to, bool endMinusOne);
  // The shapes (main text's and headers') whose anchors lie inside one of `regions`.
  static std::vector<DispObject> ShapesInRegions(DispObject& doc, const std::vector<StorySpan>& regions);
  // Each shape's line colour (Line.ForeColor.RGB); shapes without a line (pictures) are left out.
  static std::vector<ShapeLine> SaveShapeLineColors(const std::vector<DispObject>& shapes);
  static void RestoreShapeLineColors(const std::vector<ShapeLine>& lines);
  // The body bookmarks stem+"B" and stem+"E" and the recorded template
  // bookmarks are where they belong; otherwise the fault is shown and false.
  // A failure is told through `gui` (the object's ICommGUI) when there is one.
  static bool ChkBodyBookmarks(DispObject& doc, const TBakValidBMSRec& rec, const std::string& stem,
                               ICommGUI* gui = nullptr);
};

// Where Word's Normal template path is kept between runs (scrambled).
inline constexpr char kKarstoKey[] = "\\Software\\ZR\\Karsto\\";
inline constexpr char kNormalTmplValue[] = "WordNormalTmplFN";

}  // namespace nib
