#include "word/PageMeasure.h"

#include <windows.h>
#include <exdisp.h>
#include <ole2.h>

#include "com/BStr.h"
#include "com/ComObject.h"
#include "com/StrConv.h"
#include "services/WindowUtil.h"

using Microsoft::WRL::ComPtr;

namespace nib {
namespace {

// The body element's dispatch interface and the two properties read from it.
constexpr IID kDispHtmlBody = {0x3050F507, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};
constexpr DISPID kScrollWidthId = static_cast<DISPID>(0x80010422);
constexpr DISPID kScrollHeightId = static_cast<DISPID>(0x80010421);
constexpr DWORD kBodyWaitMs = 15000;
// A browser that is not busy and holds no document this long after the
// navigation has given up on it (a browser without an HTML engine does so).
constexpr DWORD kAbandonedNavigationMs = 1000;
// DISPID_AMBIENT_DLCONTROL and its DLCTL_* flags (mshtmdid.h, mshtml's headers).
constexpr DISPID kAmbientDownloadControl = -5512;
constexpr LONG kDlImages = 0x10, kNoScripts = 0x80, kNoJava = 0x100, kNoRunActiveX = 0x200, kNoDownloadActiveX = 0x400,
               kNoBehaviors = 0x8000, kNoFrameDownload = 0x80000, kSilent = 0x40000000;
constexpr LONG kPageMayDo =
    kDlImages | kNoScripts | kNoJava | kNoRunActiveX | kNoDownloadActiveX | kNoBehaviors | kNoFrameDownload | kSilent;

// The least a WebBrowser control needs from its container to lay out a page
// in place: the window it lives in. Its ambient properties (IDispatch) say
// what the page may do: the converted page is the server's content, loaded
// from a local path, so it runs no script, no Java and no ActiveX control,
// and downloads none; images still load, as they take room on the page.
class BrowserSite final : public ComObject<IOleClientSite, IOleInPlaceSite, IDispatch> {
 public:
  explicit BrowserSite(HWND window) : window_(window) {}
  // IDispatch: the ambient properties
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (id != kAmbientDownloadControl || !(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
    V_VT(result) = VT_I4;
    V_I4(result) = kPageMayDo;
    return S_OK;
  }
  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    *container = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
  // IOleWindow
  STDMETHODIMP GetWindow(HWND* window) override {
    *window = window_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    *frame = nullptr;
    *document = nullptr;
    GetClientRect(window_, position);
    *clip = *position;
    info->fMDIApp = FALSE;
    info->hwndFrame = window_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

 private:
  void* FindInterface(REFIID iid) override {
    if (iid == IID_IOleWindow) return static_cast<IOleInPlaceSite*>(this);
    if (iid == IID_IUnknown) return static_cast<IOleClientSite*>(this);
    return ComObject::FindInterface(iid);
  }
  HWND window_;
};

long ReadLong(IDispatch* object, DISPID id) {
  DISPPARAMS none{};
  VARIANT value;
  VariantInit(&value);
  long result = -1;
  if (SUCCEEDED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr,
                               nullptr)) &&
      SUCCEEDED(VariantChangeType(&value, &value, 0, VT_I4)))
    result = V_I4(&value);
  VariantClear(&value);
  return result;
}

// The page's body once the browser has it, waiting while it loads.
ComPtr<IDispatch> WaitForBody(IWebBrowser2* browser) {
  DWORD start = GetTickCount(), idleSince = start;
  for (;;) {
    ComPtr<IDispatch> document, body;
    VARIANT_BOOL busy = VARIANT_FALSE;
    if (FAILED(browser->get_Busy(&busy))) busy = VARIANT_FALSE;
    bool hasDocument = SUCCEEDED(browser->get_Document(&document)) && document;
    if (busy || hasDocument) idleSince = GetTickCount();
    if (TicksSince(idleSince) >= kAbandonedNavigationMs) return nullptr;
    if (hasDocument) {
      ComPtr<IDispatch> element;
      DISPID bodyId = DISPID_UNKNOWN;
      LPOLESTR name = const_cast<LPOLESTR>(L"body");
      DISPPARAMS none{};
      VARIANT value;
      VariantInit(&value);
      if (SUCCEEDED(document->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &bodyId)) &&
          SUCCEEDED(document->Invoke(bodyId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value,
                                     nullptr, nullptr)) &&
          V_VT(&value) == VT_DISPATCH && V_DISPATCH(&value) &&
          SUCCEEDED(V_DISPATCH(&value)->QueryInterface(kDispHtmlBody, reinterpret_cast<void**>(body.GetAddressOf())))) {
        VariantClear(&value);
        return body;
      }
      VariantClear(&value);
    }
    if (TicksSince(start) >= kBodyWaitMs) return nullptr;
    DelayWithMessages(50);
  }
}

}  // namespace

ComPtr<IOleClientSite> NewPageMeasureSite(HWND window) {
  ComPtr<BrowserSite> site = NewComObject<BrowserSite>(window);
  ComPtr<IOleClientSite> client;
  site.As(&client);
  return client;
}

// A browser that cannot make an HTML document (no HTML engine installed, or
// one the system has disabled) still navigates, and never shows a body: the
// measurement would wait out its whole limit for nothing.
bool HtmlDocumentsCanBeMade() {
  constexpr CLSID kHtmlDocument = {0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};
  ComPtr<IUnknown> document;
  return SUCCEEDED(CoCreateInstance(kHtmlDocument, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&document)));
}

long MeasurePageHeight(const std::string& htmlFile, int width) {
  if (!HtmlDocumentsCanBeMade()) return -1;  // nothing here can measure the page
  ComPtr<IWebBrowser2> browser;
  if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&browser))))
    return -1;  // no browser on this machine: nothing to measure with
  ComPtr<IOleObject> ole;
  if (FAILED(browser.As(&ole))) return -1;
  HWND form = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP | WS_CLIPCHILDREN, 0, 0, width, 600,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!form) return -1;
  auto site = NewComObject<BrowserSite>(form);
  long height = -1;
  RECT area;
  GetClientRect(form, &area);
  if (SUCCEEDED(ole->SetClientSite(site.Get())) &&
      SUCCEEDED(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.Get(), 0, form, &area))) {
    BStr url(AnsiToWide(htmlFile));
    VARIANT empty;
    VariantInit(&empty);
    if (SUCCEEDED(browser->Navigate(url.Get(), &empty, &empty, &empty, &empty))) {
      ShowWindow(form, SW_SHOWMINNOACTIVE);
      DelayWithMessages(300);
      if (ComPtr<IDispatch> body = WaitForBody(browser.Get())) {
        ReadLong(body.Get(), kScrollWidthId);
        height = ReadLong(body.Get(), kScrollHeightId);
      }
    }
  }
  ole->Close(OLECLOSE_NOSAVE);
  Sleep(100);
  browser->Stop();
  ole->SetClientSite(nullptr);
  DestroyWindow(form);
  return height;
}

}  // namespace nib
