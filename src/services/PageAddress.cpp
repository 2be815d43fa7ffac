#include "services/PageAddress.h"

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <oleidl.h>
#include <servprov.h>
#include <wrl/client.h>

#include "com/BStr.h"
#include "com/StrConv.h"
#include "com/Variant.h"

namespace nib {
namespace {

using Microsoft::WRL::ComPtr;

// Our own identifiers: mingw's import libraries do not hold every one.
constexpr GUID kWebBrowserApp = {0x0002DF05, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kWebBrowser2 = {0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};
constexpr IID kHtmlDocument2 = {0x332C4425, 0x26CB, 0x11D0, {0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19}};

std::optional<std::string> Text(BStr& text) {
  if (!text.Get() || !*text.Get()) return std::nullopt;
  return WideToAnsi(text.Wide());
}

// A property read by name, for hosts that answer IDispatch only.
std::optional<std::string> PropertyByName(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = 0;
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return std::nullopt;
  DISPPARAMS none{};
  Variant value;
  if (FAILED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value.Get(), nullptr,
                            nullptr)))
    return std::nullopt;
  if (value.Type() != VT_BSTR) return std::nullopt;
  BStr text(V_BSTR(value.Get()) ? V_BSTR(value.Get()) : L"");
  return Text(text);
}

std::optional<std::string> BrowserAddress(IUnknown* site) {
  ComPtr<IServiceProvider> services;
  if (FAILED(site->QueryInterface(IID_PPV_ARGS(&services)))) return std::nullopt;
  ComPtr<IWebBrowser2> browser;
  if (SUCCEEDED(services->QueryService(kWebBrowserApp, kWebBrowser2, reinterpret_cast<void**>(browser.GetAddressOf()))) &&
      browser) {
    BStr url;
    if (SUCCEEDED(browser->get_LocationURL(url.Out()))) return Text(url);
  }
  ComPtr<IDispatch> dispatch;
  if (SUCCEEDED(services->QueryService(kWebBrowserApp, IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf()))) &&
      dispatch)
    return PropertyByName(dispatch.Get(), L"LocationURL");
  return std::nullopt;
}

std::optional<std::string> DocumentAddress(IUnknown* site) {
  ComPtr<IOleClientSite> client;
  ComPtr<IOleContainer> container;
  if (FAILED(site->QueryInterface(IID_PPV_ARGS(&client))) || FAILED(client->GetContainer(&container)) || !container)
    return std::nullopt;
  ComPtr<IHTMLDocument2> document;
  if (SUCCEEDED(container->QueryInterface(kHtmlDocument2, reinterpret_cast<void**>(document.GetAddressOf())))) {
    BStr url;
    if (SUCCEEDED(document->get_URL(url.Out()))) return Text(url);
  }
  ComPtr<IDispatch> dispatch;
  if (SUCCEEDED(container->QueryInterface(IID_PPV_ARGS(&dispatch)))) return PropertyByName(dispatch.Get(), L"URL");
  return std::nullopt;
}

}  // namespace

std::optional<std::string> PageAddressOf(IUnknown* site) {
  if (!site) return std::nullopt;
  if (auto address = BrowserAddress(site)) return address;
  return DocumentAddress(site);
}

}  // namespace nib
