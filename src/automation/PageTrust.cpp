// TNibWord's site: the page that hosts the object, as a browser gives it to
// its controls. A page the organisation does not trust gets nothing from the
// object; a trusted page's transfers are held to the same rule.

#include "automation/NibWordImpl.h"
#include "com/StrConv.h"
#include "services/Locale.h"
#include "services/PageAddress.h"

namespace nib {

STDMETHODIMP TNibWord::SetSite(IUnknown* site) {
  // Each new site is judged afresh; none (the host letting go) keeps the last
  // judgement, so a refused page cannot clear its refusal by leaving.
  site_ = site;
  if (!site) return S_OK;
  PageAddresses page = PageAddressesOf(site);
  if (page.document)
    trust_ = TrustRule::ForPage(*page.document, page.top);
  else if (page.top)
    trust_ = TrustRule::ForPage(*page.top);  // a host that tells only the browser's address
  else
    trust_ = TrustRule::ForProgram();
  http_.SetAddressRule(trust_.AsAddressRule());
  return S_OK;
}

STDMETHODIMP TNibWord::GetSite(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!site_) return E_FAIL;
  return site_->QueryInterface(iid, out);
}

STDMETHODIMP TNibWord::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD options) {
  if (!trust_.PageTrusted()) return E_FAIL;
  return server::TSafeAutoObject<INibWord, ICommGUI, IConnectionPointContainer, IInnerFunc,
                                 IObjectWithSite>::SetInterfaceSafetyOptions(iid, mask, options);
}

HRESULT TNibWord::PageMayCall() {
  if (trust_.PageTrusted()) return S_OK;
  // The refused address is told: in a frame it may be the top page's.
  SetComErrorInfo(server::kProgId, IID_INibWord,
                  UiText(Gb("此网页无权使用 NibWordLib 控件。如需使用，请管理员将本网站加入 "
                            "HKLM\\Software\\NibWordLib 下的 AllowedOrigins 列表，"
                            "或将其加入本地 Intranet 或受信任的站点区域。") +
                         "\r\n" + Gb("被拒绝的地址: ") + trust_.RefusedAddress()));
  return E_ACCESSDENIED;
}

}  // namespace nib
