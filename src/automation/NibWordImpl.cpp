#include "automation/NibWordImpl.h"

#include "NibVersion.h"

#include "services/Events.h"
#include "services/PageValues.h"
#include "services/Switches.h"
#include "com/BStr.h"
#include "com/ErrorInfo.h"
#include "com/StrConv.h"
#include "server/Module.h"
#include "services/AdminLog.h"
#include "services/ButtonSet.h"
#include "services/TextUtil.h"
#include "automation/EditCycleClaim.h"
#include "services/TmpFilesMgr.h"
#include "services/XMLHttpWrapU.h"
#include "ui/MessageDialog.h"
#include "ui/WindowMessages.h"

using Microsoft::WRL::ComPtr;

namespace nib {
namespace {



std::string Ansi(BSTR text) { return BstrToAnsi(text); }

// The dialog timer's tick, on the timer's thread: once per arming, lift our
// message dialog above Word, which usually owns the foreground while the
// user edits.
void BringDialogToFront(TThreadedTimer& timer) {
  HWND dialog = FindWindowW(kMessageDialogClass, nullptr);
  if (!dialog) return;  // not shown yet: the next tick looks again
  timer.SetEnabled(false);
  SetForegroundWindow(dialog);
}

}  // namespace

HRESULT TNibWord::Create(REFIID iid, void** out) {
  ComPtr<TNibWord> object;
  try {
    object = NewComObject<TNibWord>();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return object->QueryInterface(iid, out);
}

TNibWord::TNibWord() : TSafeAutoObject(CLSID_NibWord) {
  eventPoint_ = NewComObject<server::SingleConnectionPoint>(DIID_INibWordEvents,
                                                            static_cast<server::ConnectionOwner*>(this));
  dialogTimer_.Timer().SetOnTimer(BringDialogToFront);
  Initialise();
}

void TNibWord::Initialise() {
  loger_ = TLoger();
  loger_.SetName("NibWordLib.NibWord");
  http_ = TJustHttp();
  dialogTimer_.Timer().SetEnabled(false);
}

TNibWord::~TNibWord() {
  ctrlWindow_.reset();
  ReleaseEditCycle(this);
  // The page went away (closed, navigated) in the middle of a cycle: Word
  // keeps the user's document and asks its own "save changes?" when closed,
  // and the working copy stays on disk. Nothing typed is thrown away.
  if (driver_) {
    driver_->LetGo();
    driver_->SetICommGUI(nullptr);
  }
  driver_.Reset();
  eventPoint_->Detach();
}


void TNibWord::WriteDiagnosticFile(const std::string& text, const std::string& fileName, bool mustWrite) {
  loger_.WriteFile(text, fileName, mustWrite);
}

// --- settings stored for the next edit cycle -------------------------------

STDMETHODIMP TNibWord::SetDownURL(BSTR DownURL) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().DownURL = Ansi(DownURL);
  return S_OK;
}

STDMETHODIMP TNibWord::SetUpURL(BSTR UpURL) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  // UpURLBase keeps the page's address: uploads append their save mode to UpURL.
  Values().UpURL = Values().UpURLBase = Ansi(UpURL);
  return S_OK;
}

STDMETHODIMP TNibWord::SetDestBaseFN(BSTR DestBaseFN) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  // The name of the working copy, its page and the archive's entries.
  Values().DestBaseFN = DestBaseFN ? FileNameToAnsi(std::wstring_view(DestBaseFN, SysStringLen(DestBaseFN))) : "";
  return S_OK;
}

STDMETHODIMP TNibWord::SetDrafting(VARIANT_BOOL bDrafting) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  settings_.Drafting = bDrafting != 0;
  return S_OK;
}

STDMETHODIMP TNibWord::SetUserName(BSTR sUserName) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().UserName = Ansi(sUserName);
  return S_OK;
}

STDMETHODIMP TNibWord::SetShowTrack(VARIANT_BOOL bShowTrack) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  settings_.ShowTrack = bShowTrack != 0;
  return S_OK;
}

STDMETHODIMP TNibWord::setSucceedPrefix(BSTR sSuccPrefix) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().SucceedPrefix = Ansi(sSuccPrefix);
  return S_OK;
}

STDMETHODIMP TNibWord::SetIsAdmin(VARIANT_BOOL bAdmin) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  settings_.IsAdmin = bAdmin != 0;
  return S_OK;
}

STDMETHODIMP TNibWord::SetDocTmplDLURL(BSTR sDocTmplURL) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().DocTmplDLURL = Ansi(sDocTmplURL);
  ++Values().DocTmplDLURLSets;
  return S_OK;
}

STDMETHODIMP TNibWord::SetIsPrinter(VARIANT_BOOL bIsPrinter) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  settings_.IsPrinter = bIsPrinter != 0;
  return S_OK;
}

STDMETHODIMP TNibWord::SetHtmWidth(LONG iWidth) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  settings_.HtmWidth = iWidth;
  return S_OK;
}

STDMETHODIMP TNibWord::SetUpURLHt(BSTR UpUrlHt) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  settings_.UpURLHt = Ansi(UpUrlHt);
  return S_OK;
}

STDMETHODIMP TNibWord::SetDownURLHt(BSTR DownUrlHt) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  settings_.DownURLHt = Ansi(DownUrlHt);
  return S_OK;
}

STDMETHODIMP TNibWord::IsMultTemplet(VARIANT_BOOL value) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().IsMultTemplet = value != 0;
  return S_OK;
}

STDMETHODIMP TNibWord::SetDownTempletNameURL(BSTR Url) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().DownTempletNameURL = Ansi(Url);
  return S_OK;
}

STDMETHODIMP TNibWord::SetMultTemplet(BSTR MultTemplet) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().MultTemplet = Ansi(MultTemplet);
  return S_OK;
}

STDMETHODIMP TNibWord::SetBtnSaveCloseDisp(BSTR aState) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().BtnSaveCloseDisp = Ansi(aState);
  return S_OK;
}

STDMETHODIMP TNibWord::SetFileSizeLmt(DOUBLE aFileSizeLmt) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  settings_.FileSizeLmt = aFileSizeLmt;
  return S_OK;
}

STDMETHODIMP TNibWord::SetExtraDispState(BSTR aDispState) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().ExtraDispState = Ansi(aDispState);
  return S_OK;
}

STDMETHODIMP TNibWord::SetIniXMLCont(LONG aType, BSTR aIniXMLCont) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().IniXMLType = aType;
  Values().IniXMLCont = Ansi(aIniXMLCont);
  return S_OK;
}

STDMETHODIMP TNibWord::SetRevisionFN(BSTR aFN) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  settings_.RevisionFN = Ansi(aFN);
  return S_OK;
}

STDMETHODIMP TNibWord::XmlUrl(BSTR XmlUrl) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().XmlUrl = Ansi(XmlUrl);
  return S_OK;
}

STDMETHODIMP TNibWord::SetBoInsId(BSTR BoInsId) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().BoInsId = TrimBlanks(Ansi(BoInsId));
  return S_OK;
}

STDMETHODIMP TNibWord::IsSetFont(VARIANT_BOOL FisSetFont) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().IsSetFont = FisSetFont != 0;
  return S_OK;
}

STDMETHODIMP TNibWord::put_SetFontName(BSTR Value) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().FontName = TrimBlanks(Ansi(Value));
  return S_OK;
}

STDMETHODIMP TNibWord::put_SetFontSize(LONG Value) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  settings_.FontSize = Value;
  return S_OK;
}

STDMETHODIMP TNibWord::SetFontColor(LONG ColorRed, LONG ColorGreen, LONG ColorBlue) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  PageValues& values = Values();
  values.FontColorR = ColorRed;
  values.FontColorG = ColorGreen;
  values.FontColorB = ColorBlue;
  return S_OK;
}

STDMETHODIMP TNibWord::SetRevPassword(BSTR strPwd) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  Values().RevPassword = Ansi(strPwd);
  return S_OK;
}

// --- members that act ---------------------------------------------------------

STDMETHODIMP TNibWord::SetXMLCont(LONG iGetType, BSTR XMLCont) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  return Boundary([&] {
    settings_.XMLGetType = iGetType;
    settings_.XMLCont = Ansi(XMLCont);
    if (SwitchIsOn("LogInputFile")) WriteDiagnosticFile(settings_.XMLCont, kXmlLogFile, false);
    PageValues& values = Values();
    values.XMLKind = iGetType;
    values.XMLContent = settings_.XMLCont;
    if (iGetType == 2) {
      xmlFetcher_ = std::make_unique<TXMLHttpWrap>();
      xmlFetcher_->SetAddressRule(trust_.AsAddressRule());
      values.XMLContent = xmlFetcher_->GetText(settings_.XMLCont);
    }
  });
}

STDMETHODIMP TNibWord::OpenFile(BSTR ProcID, BSTR ProcID2, BSTR* rtnStr) {
  if (!rtnStr) return E_POINTER;
  *rtnStr = nullptr;
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  return Boundary([&] {
    settings_.ProcID = Ansi(ProcID);
    settings_.ProcID2 = Ansi(ProcID2);
    *rtnStr = BStr::FromAnsi(RunOpenFile()).Detach();
  });
}

STDMETHODIMP TNibWord::OpenHtFile(BSTR* rtnStr) {
  if (!rtnStr) return E_POINTER;
  *rtnStr = nullptr;
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  return Boundary([&] {
    RunOpenHtFile();
    *rtnStr = BStr::FromAnsi("").Detach();
  });
}

STDMETHODIMP TNibWord::InvokeUseTemplate(BSTR invoType) {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  // Posted, not sent: the page's call returns before the control window acts.
  std::string kind = Ansi(invoType);
  HWND window = ctrlWindow_ ? ctrlWindow_->Window() : nullptr;
  if (!window) return S_OK;
  if (kind == "ht")
    PostMessageW(window, WM_INVOKETMPL_HT, 0, 0);
  else if (kind == "tmp")
    PostMessageW(window, WM_INVOKETMPL_TMP, 0, 0);
  return S_OK;
}

STDMETHODIMP TNibWord::ReSetFontByWebPage() {
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  return Boundary([&] {
    const PageValues& values = Values();
    if (!values.IsSetFont) return;
    if (!driver_) Fail("ReSetFontByWebPage: no document is open");
    ICommEdt_Word* word = driver_.Get();
    BStr fontName = BStr::FromAnsi(values.FontName);
    ThrowIfFailed(word->SetFontByWebPage(fontName.Get(), settings_.FontSize, values.FontColorR,
                                         values.FontColorG, values.FontColorB),
                  "SetFontByWebPage");
  });
}

STDMETHODIMP TNibWord::get_Version(BSTR* rtnStr) {
  if (!rtnStr) return E_POINTER;
  *rtnStr = nullptr;
  if (HRESULT refused = PageMayCall(); FAILED(refused)) return refused;
  return Boundary([&] { *rtnStr = BStr::FromAnsi(NIB_VERSION_TEXT).Detach(); });
}

// --- ICommGUI -----------------------------------------------------------------

STDMETHODIMP_(LONG) TNibWord::MyMessageDlg(BSTR Msg, LONG DlgType, BSTR Buttons, LONG HelpCtx) {
  AdminLog("told the user: " + Ansi(Msg));
  // Armed before the modal loop starts; the tick finds the dialog once shown.
  TThreadedTimer& timer = dialogTimer_.Timer();
  timer.SetEnabled(false);
  timer.SetInterval(200);
  timer.SetEnabled(true);
  LONG result = ShowMessageDialog(Ansi(Msg), DlgType, TextToButtons(Ansi(Buttons)), HelpCtx);
  timer.SetEnabled(false);  // answered before the tick came: nothing left to lift
  return result;
}

// The parts' own notes go to the administrators' log (the time is always
// stamped there, and the policy alone decides whether it is written).
STDMETHODIMP TNibWord::WLog(BSTR sMsg, VARIANT_BOOL, VARIANT_BOOL) {
  AdminLog(Ansi(sMsg));
  return S_OK;
}

STDMETHODIMP TNibWord::WFile(BSTR sMsg, BSTR fileName, VARIANT_BOOL MustWrite) {
  WriteDiagnosticFile(Ansi(sMsg), Ansi(fileName), MustWrite != 0);
  return S_OK;
}

STDMETHODIMP TNibWord::AddTmpDirFile(LONG iType, BSTR sName) {
  Values().TmpFiles->Add(iType, Ansi(sName));
  return S_OK;
}

// --- events -------------------------------------------------------------------

STDMETHODIMP TNibWord::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (points) *points = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP TNibWord::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (iid != DIID_INibWordEvents) return CONNECT_E_NOCONNECTION;
  return eventPoint_.CopyTo(point);
}

HRESULT TNibWord::OnAdvise(IUnknown* sink) {
  ComPtr<IDispatch> events;
  HRESULT hr = sink->QueryInterface(DIID_INibWordEvents, reinterpret_cast<void**>(events.GetAddressOf()));
  if (FAILED(hr)) return hr;
  pageSink_ = events;
  Values().EventSink = MakeForwardingSink(events);
  return S_OK;
}

void TNibWord::OnUnadvise() {
  pageSink_.Reset();
  Values().EventSink.Reset();
}

}  // namespace nib
