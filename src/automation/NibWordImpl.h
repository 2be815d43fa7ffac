#pragma once
// TNibWord: the automation object a page creates as "NibWordLib.NibWord".
// It holds the page's settings, the one event connection and, per edit
// cycle, the Word driver.

#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <memory>
#include <string>

#include "automation/MsgLog.h"
#include "com/Dispatch.h"
#include "com/ErrorInfo.h"
#include "com/MessageFilter.h"
#include "server/Module.h"
#include "services/AdminLog.h"
#include "services/JustHttp.h"
#include "services/Trust.h"
#include "services/ThdTimer.h"
#include "services/XMLHttpWrapU.h"
#include "server/ConnectionPoint.h"
#include "server/Guids.h"
#include "server/SafeAutoObject.h"
#include "services/PageValues.h"
#include "ui/FrmUserCtrlPop.h"
#include "ui/GlobalSign.h"
#include "word/CommEdtNibWord.h"

namespace nib {

// Settings kept by the object alone (those its cycle's parts read too are in PageValues).
struct NibWordSettings {
  std::string DownURLHt;
  std::string UpURLHt;
  bool Drafting = false;
  bool ShowTrack = false;
  bool IsAdmin = false;
  int XMLGetType = 0;
  std::string XMLCont;
  std::string ProcID;
  std::string ProcID2;
  bool LogInputFiles = false;
  int ConvResult = 0;
  bool IsPrinter = false;
  int FontSize = 0;
  int HtmWidth = 715;
  std::string RevisionFN;
  double FileSizeLmt = 10000.0;
};

class TNibWord final
    : public server::TSafeAutoObject<INibWord, ICommGUI, IConnectionPointContainer, IInnerFunc, IObjectWithSite>,
                       private server::ConnectionOwner {
 public:
  // The class factory's creator.
  static HRESULT Create(REFIID iid, void** out);

  const NibWordSettings& Settings() const { return settings_; }
  // What this page's cycle shares with its driver, window and chooser.
  PageValues& Values() const { return *values_; }
  TJustHttp& Http() { return http_; }

  // INibWord
  STDMETHODIMP SetDownURL(BSTR DownURL) override;
  STDMETHODIMP SetUpURL(BSTR UpURL) override;
  STDMETHODIMP SetDestBaseFN(BSTR DestBaseFN) override;
  STDMETHODIMP SetDrafting(VARIANT_BOOL bDrafting) override;
  STDMETHODIMP SetUserName(BSTR sUserName) override;
  STDMETHODIMP SetShowTrack(VARIANT_BOOL bShowTrack) override;
  STDMETHODIMP setSucceedPrefix(BSTR sSuccPrefix) override;
  STDMETHODIMP SetIsAdmin(VARIANT_BOOL bAdmin) override;
  STDMETHODIMP SetDocTmplDLURL(BSTR sDocTmplURL) override;
  STDMETHODIMP SetXMLCont(LONG iGetType, BSTR XMLCont) override;
  STDMETHODIMP OpenFile(BSTR ProcID, BSTR ProcID2, BSTR* rtnStr) override;
  STDMETHODIMP SetIsPrinter(VARIANT_BOOL bIsPrinter) override;
  STDMETHODIMP SetHtmWidth(LONG iWidth) override;
  STDMETHODIMP SetUpURLHt(BSTR UpUrlHt) override;
  STDMETHODIMP SetDownURLHt(BSTR DownUrlHt) override;
  STDMETHODIMP OpenHtFile(BSTR* rtnStr) override;
  STDMETHODIMP IsMultTemplet(VARIANT_BOOL value) override;
  STDMETHODIMP SetDownTempletNameURL(BSTR Url) override;
  STDMETHODIMP SetMultTemplet(BSTR MultTemplet) override;
  STDMETHODIMP SetBtnSaveCloseDisp(BSTR aState) override;
  STDMETHODIMP SetFileSizeLmt(DOUBLE aFileSizeLmt) override;
  STDMETHODIMP SetExtraDispState(BSTR aDispState) override;
  STDMETHODIMP SetIniXMLCont(LONG aType, BSTR aIniXMLCont) override;
  STDMETHODIMP SetRevisionFN(BSTR aFN) override;
  STDMETHODIMP XmlUrl(BSTR XmlUrl) override;
  STDMETHODIMP SetBoInsId(BSTR BoInsId) override;
  STDMETHODIMP InvokeUseTemplate(BSTR invoType) override;
  STDMETHODIMP IsSetFont(VARIANT_BOOL FisSetFont) override;
  STDMETHODIMP put_SetFontName(BSTR Value) override;
  STDMETHODIMP put_SetFontSize(LONG Value) override;
  STDMETHODIMP SetFontColor(LONG ColorRed, LONG ColorGreen, LONG ColorBlue) override;
  STDMETHODIMP SetRevPassword(BSTR strPwd) override;
  STDMETHODIMP ReSetFontByWebPage() override;
  STDMETHODIMP get_Version(BSTR* rtnStr) override;

  // ICommGUI: messages, diagnostic files and temporary files for every part
  // of the system. These let failures through to the caller.
  STDMETHODIMP_(LONG) MyMessageDlg(BSTR Msg, LONG DlgType, BSTR Buttons, LONG HelpCtx) override;
  STDMETHODIMP WLog(BSTR sMsg, VARIANT_BOOL WTime, VARIANT_BOOL MustWrite) override;
  STDMETHODIMP WFile(BSTR sMsg, BSTR fileName, VARIANT_BOOL MustWrite) override;
  STDMETHODIMP AddTmpDirFile(LONG iType, BSTR sName) override;

  // IInnerFunc: the control window's commands.
  STDMETHODIMP ProcQuit(VARIANT_BOOL bForceQuit, BSTR* Value) override;
  STDMETHODIMP ProcSaveAndClose(BSTR* Value) override;
  STDMETHODIMP IsReadOnly(VARIANT_BOOL* Value) override;
  STDMETHODIMP ProcUserSetEdtSts(LONG ImplAppId, LONG StsItemId, LONG StsId) override;
  STDMETHODIMP ProcTest(LONG iTag, BSTR P1, BSTR P2) override;
  STDMETHODIMP getProcID(LONG ProcIdIdx, BSTR* Value) override;
  STDMETHODIMP ProcSave(VARIANT_BOOL IsHt, BSTR* Value) override;
  STDMETHODIMP InsertFile() override;
  STDMETHODIMP AccpetAllRevision_() override;

  // The edit cycle's parts, for tests that look at them.
  TFrmUserCtrlPop* ControlWindow() const { return ctrlWindow_.get(); }
  TCommEdt_NibWord* Driver() const { return driver_.Get(); }

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

  // IObjectWithSite: the page that hosts the object decides whether it may
  // use it at all, and which addresses its transfers may reach (PageTrust.cpp).
  STDMETHODIMP SetSite(IUnknown* site) override;
  STDMETHODIMP GetSite(REFIID iid, void** out) override;
  // IObjectSafety: a page that may not use the object is not scripted at all.
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD options) override;
  const TrustRule& Trust() const { return trust_; }

 private:
  template <class T, class... Args>
  friend Microsoft::WRL::ComPtr<T> NewComObject(Args&&... args);
  TNibWord();
  ~TNibWord() override;

  // ConnectionOwner
  HRESULT OnAdvise(IUnknown* sink) override;
  void OnUnadvise() override;
  IConnectionPointContainer* Container() override { return this; }

  template <class Body>
  HRESULT Boundary(Body&& body);
  // S_OK when the page may call the object; else E_ACCESSDENIED with error
  // info saying so. Nothing else happens for such a page: no fetch, no Word,
  // no event, no dialog (a hostile page could loop dialogs).
  HRESULT PageMayCall();
  void WriteDiagnosticFile(const std::string& text, const std::string& fileName, bool mustWrite);

  // Opening (OpenFlow.cpp).
  // The values each cycle starts with: the transfers' address rule, no save
  // mode yet, an empty list of temporary files.
  void StartCycleValues();
  // Refuses, told, a cycle while another object of the process has one open.
  void ClaimCycle();
  // The claim goes when no part of a cycle is left.
  void ReleaseClaimIfNoCycle();
  std::string RunOpenFile();
  void RunOpenHtFile();
  bool OpenStep(bool ht);
  bool PreOpenCheck();
  bool DownloadTo(const std::string& url, const std::string& file);
  bool DownloadTemplate();
  bool PrepareEditor();
  void RequireEditor();
  void NameUploadAttempt();
  void ShowCtrlWindow(bool place, bool ht);
  void HideButtonsForMode();
  void OnEdtStsNotify(long implAppId, long stsItemId, long stsId);
  bool ReadOnly() const;
  bool GwUpload() const;
  void Inform(const char* utf8Text, LONG dlgType);

  // Saving, uploading and quitting (SaveFlow.cpp).
  std::string SaveAndClose();
  void Fire(const std::string& p1, const std::string& p2, const std::string& p3, const Arg& p4, const Arg& p5);
  std::string SaveAndCloseTold();
  template <class SaveSteps>
  std::string SaveFailureTold(SaveSteps&& steps);
  std::string Save(bool isHt);
  std::string SaveForPage();
  std::string SaveRedHeader();
  bool UploadRedHeaderCopy(const std::string& local);
  void RestoreRevisions(const std::string& local);
  bool SaveInWord();
  void Quit(bool forceQuit);
  template <class Command>
  HRESULT CommandBoundary(BSTR* value, Command&& command);
  template <class Step>
  bool WatchingForWord(Step&& step);
  [[noreturn]] void FailWordGone();
  void SetEdtSts(LONG implAppId, LONG stsItemId, LONG stsId);
  std::string ConvertForUpload(const std::string& file);
  bool UploadWithSaveMode(const std::string& file);
  bool UploadHt(const std::string& file);
  bool ReplyIsSuccess(const std::string& reply) const;
  void SetControlsEnabled(bool enabled);
  void RegisterUploadFile(const std::string& file);
  void ShowTestModeMessage();
  void ShowUploadFailed();
  void ShowSaveFailed(const ComError& error);
  void InformWithPath(const char* utf8Text, const std::string& path);
  void EndCycle();
  void CloseCycleParts(bool quitWord);
  // Word died under the cycle: the window goes, Word is not asked for
  // anything more and the working copy is kept.
  void EndCycleWithoutWord();
  void AbandonCycle() noexcept;
  // The object's start-up state: logger, HTTP component and dialog timer.
  void Initialise();

  server::LiveObjectCount liveCount_;
  Microsoft::WRL::ComPtr<server::SingleConnectionPoint> eventPoint_;
  Microsoft::WRL::ComPtr<IDispatch> pageSink_;
  TLoger loger_;
  NibWordSettings settings_;
  TJustHttp http_;
  std::string cycleId_;  // sent with each upload of the cycle, with the attempt's number
  int uploadAttempt_ = 0;
  std::unique_ptr<TXMLHttpWrap> xmlFetcher_;
  Microsoft::WRL::ComPtr<TCommEdt_NibWord> driver_;
  std::unique_ptr<TFrmUserCtrlPop> ctrlWindow_;
  bool reachedDriverOpen_ = false;
  // The unattended open's own save (mode "3"): its outcome is the open's
  // answer, not an event. A retry the user makes later is told as any save.
  bool unattendedSave_ = false;
  bool SaveIsTold() const { return settings_.ProcID != "3" || !unattendedSave_; }
  // Retries Word's rejected calls while a cycle runs.
  std::unique_ptr<ScopedMessageFilter> messageFilter_;
  // Word saved the working copy since the server last took it.
  bool unsentEdit_ = false;
  TThdTimerEvent dialogTimer_;
  std::shared_ptr<PageValues> values_ = std::make_shared<PageValues>();
  // The cycle's kind while one is open (true: the red-header document).
  std::unique_ptr<TGlobalSign> htMode_;
  Microsoft::WRL::ComPtr<IUnknown> site_;
  TrustRule trust_ = TrustRule::ForProgram();
};

template <class Body>
HRESULT TNibWord::Boundary(Body&& body) {
  // Every error that reaches the page is also in the administrators' log.
  return TrapToErrorInfo(server::kProgId, IID_INibWord, [&] {
    try {
      body();
    } catch (const ComError& e) {
      AdminLogError("a call of the object", e.Code(), e.what());
      throw;
    }
  });
}

}  // namespace nib
