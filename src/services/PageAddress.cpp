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
constexpr GUID kContainerDispatch = {0xB722BE00, 0x4E68, 0x101B, {0xA2, 0xBC, 0x00, 0xAA, 0x00, 0x40, 0x47, 0x70}};
// SID_SHTMLWindow is IHTMLWindow2's own identifier.
constexpr IID kHtmlWindow2 = {0x332C4427, 0x26CB, 0x11D0, {0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19}};

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

// An object property read by name, for hosts that answer IDispatch only.
ComPtr<IDispatch> ObjectByName(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = 0;
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return nullptr;
  DISPPARAMS none{};
  Variant value;
  if (FAILED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value.Get(), nullptr,
                            nullptr)) ||
      value.Type() != VT_DISPATCH || !V_DISPATCH(value.Get()))
    return nullptr;
  return ComPtr<IDispatch>(V_DISPATCH(value.Get()));
}

ComPtr<IServiceProvider> ServicesOf(IUnknown* site) {
  ComPtr<IServiceProvider> services;
  if (FAILED(site->QueryInterface(IID_PPV_ARGS(&services)))) return nullptr;
  return services;
}

template <class Interface>
ComPtr<Interface> Service(IServiceProvider* services, REFGUID service, REFIID iid) {
  ComPtr<Interface> object;
  if (!services || FAILED(services->QueryService(service, iid, reinterpret_cast<void**>(object.GetAddressOf()))))
    return nullptr;
  return object;
}

std::optional<std::string> BrowserAddress(IServiceProvider* services) {
  if (auto browser = Service<IWebBrowser2>(services, kWebBrowserApp, kWebBrowser2)) {
    BStr url;
    if (SUCCEEDED(browser->get_LocationURL(url.Out()))) return Text(url);
  }
  if (auto dispatch = Service<IDispatch>(services, kWebBrowserApp, IID_IDispatch))
    return PropertyByName(dispatch.Get(), L"LocationURL");
  return std::nullopt;
}

// A document's URL, through IHTMLDocument2 or its "URL" property.
std::optional<std::string> UrlOfDocument(IUnknown* document) {
  if (!document) return std::nullopt;
  ComPtr<IHTMLDocument2> html;
  if (SUCCEEDED(document->QueryInterface(kHtmlDocument2, reinterpret_cast<void**>(html.GetAddressOf())))) {
    BStr url;
    if (SUCCEEDED(html->get_URL(url.Out()))) return Text(url);
  }
  ComPtr<IDispatch> dispatch;
  if (SUCCEEDED(document->QueryInterface(IID_PPV_ARGS(&dispatch)))) return PropertyByName(dispatch.Get(), L"URL");
  return std::nullopt;
}

std::optional<std::string> ContainerAddress(IUnknown* site) {
  ComPtr<IOleClientSite> client;
  ComPtr<IOleContainer> container;
  if (FAILED(site->QueryInterface(IID_PPV_ARGS(&client))) || FAILED(client->GetContainer(&container)) || !container)
    return std::nullopt;
  return UrlOfDocument(container.Get());
}

std::optional<std::string> WindowDocumentAddress(IServiceProvider* services) {
  if (auto window = Service<IHTMLWindow2>(services, kHtmlWindow2, kHtmlWindow2)) {
    ComPtr<IHTMLDocument2> document;
    if (SUCCEEDED(window->get_document(&document)) && document) return UrlOfDocument(document.Get());
  }
  if (auto dispatch = Service<IDispatch>(services, kHtmlWindow2, IID_IDispatch))
    if (ComPtr<IDispatch> document = ObjectByName(dispatch.Get(), L"document")) return UrlOfDocument(document.Get());
  return std::nullopt;
}

}  // namespace

PageAddresses PageAddressesOf(IUnknown* site) {
  PageAddresses page;
  if (!site) return page;
  ComPtr<IServiceProvider> services = ServicesOf(site);
  page.document = ContainerAddress(site);
  if (!page.document) page.document = UrlOfDocument(Service<IDispatch>(services.Get(), kContainerDispatch, IID_IDispatch).Get());
  if (!page.document) page.document = WindowDocumentAddress(services.Get());
  page.top = BrowserAddress(services.Get());
  return page;
}

}  // namespace nib
