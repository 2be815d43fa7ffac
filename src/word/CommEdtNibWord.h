#pragma once
// TCommEdt_NibWord: the Word driver of one edit cycle. It starts a private
// Word, opens the working copy, keeps it under revision tracking and, when
// asked, protected so that only revisions are possible, refuses closes made
// behind its back, saves, and quits Word leaving its user name and Normal
// template as it found them.
//
// ICommEdt and ICommEdt_Word are in-module vtable interfaces. Their members
// that answer a Boolean report the failures they are meant to report by
// their result; other failures (a Word call that fails while saving or
// quitting) are thrown to the caller as ComError. Members answering an
// HRESULT trap everything.

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "NibWordLib.h"
#include "server/SafeAutoObject.h"
#include "services/PageValues.h"
#include "word/WordUtil.h"

namespace nib {

// State-change report to the owner: (ImplAppId, StsItemId, StsId).
using EdtStsNotify = std::function<void(long implAppId, long stsItemId, long stsId)>;

// SetDocProtect refused to lift a protection whose password nobody gave; the
// user has been told, the document is as it came.
inline constexpr HRESULT kProtectionKept = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0226);


class TCommEdtBase {
 public:
  EdtStsNotify OnEdtStsNotify;

 protected:
  bool bAppConnected = false;
  std::string DestFN;
  HWND hAppWnd = nullptr;
  // Not owned: the automation object owns the driver, and a reference back
  // would keep both alive after the page let go of the object.
  ICommGUI* CommGUI = nullptr;
};

class TCommEdt_NibWord final : public server::TSafeIntfObject<ICommEdt_Word, ICommEdt>, public TCommEdtBase {
 public:
  // `values`: those of the page whose cycle this driver runs (a driver of its
  // own when none is given).
  static Microsoft::WRL::ComPtr<TCommEdt_NibWord> Create(std::shared_ptr<PageValues> values = nullptr);
  PageValues& Values() const { return *values_; }

  // The red-header save's copies, named by MakeRevisionCopy: the untouched
  // working copy (with its revisions) and the copy with every revision
  // accepted, which is uploaded.
  std::string OriRevisionFN;
  std::string RevisionFN;

  // ICommEdt
  VARIANT_BOOL STDMETHODCALLTYPE StartEdtAppAndOpenDoc(BSTR ProcID, BSTR ProcID2) override;
  STDMETHODIMP SetDestFN(BSTR DestFN) override;
  VARIANT_BOOL STDMETHODCALLTYPE AppQuit() override;
  VARIANT_BOOL STDMETHODCALLTYPE SaveDoc() override;
  VARIANT_BOOL STDMETHODCALLTYPE getSaved() override;
  LONG STDMETHODCALLTYPE getFileAge() override;
  STDMETHODIMP SetDocSaveToSerOK(VARIANT_BOOL bSaveOK) override;
  STDMETHODIMP SetICommGUI(ICommGUI* CommGUI) override;
  VARIANT_BOOL STDMETHODCALLTYPE StartEdtAppAndOpenHtDoc() override;

  // ICommEdt_Word
  STDMETHODIMP SetUserName(BSTR sUserName) override;
  STDMETHODIMP setTrackRev(VARIANT_BOOL bTrackRev) override;
  VARIANT_BOOL STDMETHODCALLTYPE getTrackRev() override;
  STDMETHODIMP SetXMLCont(LONG iGetType, BSTR XMLCont) override;
  STDMETHODIMP SetPrintMode(VARIANT_BOOL bPrintMode) override;
  VARIANT_BOOL STDMETHODCALLTYPE ChkDocValid() override;
  STDMETHODIMP setSaveTrack(VARIANT_BOOL bSaveTrack) override;
  BSTR STDMETHODCALLTYPE procQozerOnHtmlConvtOK(BSTR HtmlFN) override;
  STDMETHODIMP SetDocTmplFN(BSTR sTmplFN) override;
  STDMETHODIMP SetUseTmpl(VARIANT_BOOL bUseTmpl) override;
  STDMETHODIMP SetIsPrinter(VARIANT_BOOL bIsPrinter) override;
  STDMETHODIMP PrintDoc(VARIANT_BOOL HideRedHeader) override;
  STDMETHODIMP SetHtmWidth(LONG iWidth) override;
  STDMETHODIMP SetBottomLine() override;
  STDMETHODIMP InsertFile() override;
  STDMETHODIMP SetFontByWebPage(BSTR FontName, LONG FontSize, LONG FontColorR, LONG FontColorG,
                                LONG FontColorB) override;
  STDMETHODIMP SetRvePassWord(BSTR StrPassWord) override;

  // Called by the automation object directly for its save workflow.
  void MakeRevisionCopy();
  // The untouched copy of the working copy (with its revisions) was written by
  // the last MakeRevisionCopy: from then on Word's document is no longer the
  // working copy, and only that copy can give it back.
  bool RevisionCopyMade() const { return revisionCopyMade_; }
  void ReopenDoc();
  void CloseDocNoSave();
  // Leaves Word running with the document as the user has it, no longer
  // watched: for an end of the page's object in the middle of a cycle, and for
  // a Word that is gone. Never quits Word, never throws.
  void LetGo() noexcept;

  // Internal steps, public for the template and print features.
  void _SetShowTrack(bool show, bool notify);
  // Lifting a protection whose password the driver does not hold throws
  // ComError kProtectionKept after telling the user.
  void SetDocProtect(bool protect);
  std::string GetProtectPwd();
  bool ChkDocIsMine();
  void SetAppWindowState(long state, bool force);
  HWND FindDocWnd();

  // What the tests and the owner may look at.
  HWND AppWindow() const { return hAppWnd; }
  bool Connected() const { return bAppConnected; }
  DispObject& Document() { return WordDocNew; }
  const std::string& SourceBackup() const { return SrcBakFN; }
  const TResotreNormalDotRec& NormalDotBackup() const { return NormalDotRec; }
  const std::string& HeaderText() const { return XMLFillResult; }

 private:
  template <class T, class... Args>
  friend Microsoft::WRL::ComPtr<T> NewComObject(Args&&... args);
  TCommEdt_NibWord() = default;
  ~TCommEdt_NibWord() override;

  struct WordViewState {
    bool protectedDoc = false, revisionsShown = false;
    long windowState = 0, zoom = 100, left = 0, top = 0, width = 0, height = 0;
  };
  // The template and body operations.
  long SwitchTemplate(bool applying);
  DispObject FindBodyRange(DispObject& doc);
  void SaveWordViewState(WordViewState& state);
  void RestoreWordViewState(const WordViewState& state);
  bool ApplyTemplate();
  bool RemoveTemplate();
  void RecordTemplateBookmarks(DispObject& document, DispObject body);
  void ReopenIfClosed();
  bool FillFromXML(DispObject& doc);
  void FormatBottomLine(DispObject shapes);
  // Print mode.
  // Each region and run is held with its story: a red header may be in a
  // text box or a page header as well as in the main text.
  struct ColorRun {
    StorySpan span;
    long color = 0;
  };
  void CollectPrintRegions();
  DispObject RegionRange(size_t index);
  void ColorDataBookmarks(long color);
  void EnterPrintMode();
  void LeavePrintMode();
  void RecordColorRuns(const StorySpan& span, std::vector<ColorRun>& runs);
  // Runs `save` with the template parts in their own colours: the white of
  // print mode exists only on the screen and the printer, never in a file.
  void WithPrintModeLifted(const std::function<void()>& save);

  bool ConnectWordApp();
  void ApplyUserName(const std::string& name);
  void UseLocalUserInfo();
  void RestoreLocalUserInfo();
  // The protection the mode asks for at open; a document protected with a
  // password nobody gave stays protected (the user is told).
  void ApplyOpenProtection();
  void TellProtectionKept();
  void BackupSrcDoc();
  bool OpenWordDoc();
  void OnWordEvent(DISPID id, DISPPARAMS& params);
  void WordAppDocumentBeforeClose(IDispatch* doc, VARIANT_BOOL* cancel);
  void Notify(long item, long sts);
  LONG Message(const char* utf8Text, LONG dlgType);
  void Log(const std::string& text);
  HWND FindWordWindow(const std::wstring& document = L"");
  // Finds Word's window again; true when it is on the screen.
  bool WordWindowShown();
  void Save();

  bool bClosingByProg = false;
  std::string OldUserName;
  // Word's Options.UseLocalUserInfo as found at start, when the driver set it.
  std::optional<bool> OldUseLocalUserInfo;
  bool protectionKeptTold_ = false;
  bool bSettingUserName = false;
  std::string ProcID;
  std::string ProcID2;
  bool bPrintMode = false;
  bool bSaveTrack = false;
  std::string ProtectPwd;
  bool bTrackRev = false;
  std::string UserName;
  std::string RevPassWord;
  std::string SrcBakFN;
  bool bIsPrinter = false;
  bool bUseTmpl = false;
  int HtmWidth = 715;
  WordServer WordApp;
  DispObject WordDocNew;
  TResotreNormalDotRec NormalDotRec;
  std::string XMLFillResult;  // the red-header text of the last fill
  TBakValidBMSRec BakValidBMS;
  // What print mode changed, to be given back when it is left.
  struct TToPrtBakRec {
    bool saved = false;
    std::vector<StorySpan> regions;
    std::vector<ColorRun> runColors;  // each run of one colour, regions and data bookmarks, as they were
    std::vector<ShapeLine> shapes;    // the shapes inside the regions, with their line colours
  } ToPrtBak;
  T2DimStrArr LineArr;  // ("Line 50", decimal colour)
  bool revisionCopyMade_ = false;
  std::shared_ptr<PageValues> values_ = std::make_shared<PageValues>();
};

}  // namespace nib
