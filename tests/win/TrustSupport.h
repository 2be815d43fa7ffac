#pragma once
// What stands in for the browser and the administrator in the trust tests: a
// page's site that tells the object the page's address (as a browser's site
// does), the administrator's allowed origins, and Internet Explorer's zone
// map for one host name.

#include <windows.h>
#include <oleidl.h>
#include <servprov.h>

#include <string>
#include <vector>

#include "com/ComObject.h"
#include "com/StrConv.h"

namespace nib::test {

// The administrator's allowed origins while the test runs.
class AllowedOrigins {
 public:
  explicit AllowedOrigins(const std::vector<std::string>& origins) {
    std::wstring list;
    for (const std::string& origin : origins) list += AnsiToWide(origin) + L'\0';
    list += L'\0';
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\NibWordLib", 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                    nullptr, &key_, nullptr);
    if (key_)
      RegSetValueExW(key_, L"AllowedOrigins", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.data()),
                     static_cast<DWORD>(list.size() * sizeof(wchar_t)));
  }
  ~AllowedOrigins() {
    if (!key_) return;
    RegDeleteValueW(key_, L"AllowedOrigins");
    RegCloseKey(key_);
  }
  AllowedOrigins(const AllowedOrigins&) = delete;
  AllowedOrigins& operator=(const AllowedOrigins&) = delete;

 private:
  HKEY key_ = nullptr;
};

// `host` in a zone (1: local intranet, 2: trusted sites) for http while the test runs.
class ZoneMapEntry {
 public:
  ZoneMapEntry(const std::wstring& host, DWORD zone) {
    path_ = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\" + host;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
      RegSetValueExW(key, L"http", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zone), sizeof zone);
      RegCloseKey(key);
    }
  }
  ~ZoneMapEntry() { RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str()); }
  ZoneMapEntry(const ZoneMapEntry&) = delete;
  ZoneMapEntry& operator=(const ZoneMapEntry&) = delete;

 private:
  std::wstring path_;
};

// An object with one property, read through IDispatch by name, as hosts
// that answer IDispatch only give it.
template <class... More>
class OneProperty : public ComObject<IDispatch, More...> {
 public:
  explicit OneProperty(const wchar_t* name) : name_(name) {}
  STDMETHODIMP GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count != 1 || _wcsicmp(names[0], name_) != 0) return DISP_E_UNKNOWNNAME;
    ids[0] = 1;
    return S_OK;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
    if (id != 1 || !(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
    return Answer(result);
  }

 protected:
  virtual HRESULT Answer(VARIANT* result) = 0;

 private:
  const wchar_t* name_;
};

// A text property: the web browser's LocationURL, or the container document's URL.
class AddressProperty final : public OneProperty<IOleContainer> {
 public:
  AddressProperty(const wchar_t* name, std::wstring value) : OneProperty(name), value_(std::move(value)) {}
  // IOleContainer: the document as a site's container.
  STDMETHODIMP ParseDisplayName(IBindCtx*, LPOLESTR, ULONG*, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP EnumObjects(DWORD, IEnumUnknown**) override { return E_NOTIMPL; }
  STDMETHODIMP LockContainer(BOOL) override { return S_OK; }

 protected:
  HRESULT Answer(VARIANT* result) override {
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocString(value_.c_str());
    return S_OK;
  }

 private:
  std::wstring value_;
};

// An object property: a browser window's "document".
class ObjectProperty final : public OneProperty<> {
 public:
  ObjectProperty(const wchar_t* name, Microsoft::WRL::ComPtr<IDispatch> value)
      : OneProperty(name), value_(std::move(value)) {}

 protected:
  HRESULT Answer(VARIANT* result) override {
    V_VT(result) = VT_DISPATCH;
    return value_.CopyTo(&V_DISPATCH(result));
  }

 private:
  Microsoft::WRL::ComPtr<IDispatch> value_;
};

// The site a browser gives the control of a page at `address`: through its
// service provider (the web browser route) or, with `documentRoute`, only
// through the client site's container document.
class PageSite final : public ComObject<IOleClientSite, IServiceProvider> {
 public:
  PageSite(std::wstring address, bool documentRoute) : documentRoute_(documentRoute) {
    browser_ = NewComObject<AddressProperty>(L"LocationURL", address);
    document_ = NewComObject<AddressProperty>(L"URL", address);
  }
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    return document_.CopyTo(container);
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
  STDMETHODIMP QueryService(REFGUID service, REFIID iid, void** out) override {
    *out = nullptr;
    constexpr GUID kWebBrowserApp = {0x0002DF05, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    if (documentRoute_ || service != kWebBrowserApp) return E_NOINTERFACE;
    return browser_->QueryInterface(iid, out);
  }

 protected:
  void* FindInterface(REFIID iid) override {
    if (documentRoute_ && iid == __uuidof(IServiceProvider)) return nullptr;
    return ComObject<IOleClientSite, IServiceProvider>::FindInterface(iid);
  }

 private:
  bool documentRoute_;
  Microsoft::WRL::ComPtr<AddressProperty> browser_, document_;
};

// How a browser's site tells a control its own document (a frame's page).
enum class FrameRoute { kContainer, kContainerDispatch, kHtmlWindow };

// The site a browser gives a control created in a frame: the web browser
// service answers the top page's address, as a real browser's does for every
// frame; only the route named answers the frame's own document.
class FrameSite final : public ComObject<IOleClientSite, IServiceProvider> {
 public:
  FrameSite(const std::string& frame, const std::string& top, FrameRoute route) : route_(route) {
    browser_ = NewComObject<AddressProperty>(L"LocationURL", AnsiToWide(top));
    document_ = NewComObject<AddressProperty>(L"URL", AnsiToWide(frame));
    window_ = NewComObject<ObjectProperty>(L"document", Microsoft::WRL::ComPtr<IDispatch>(document_.Get()));
  }
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    *container = nullptr;
    return route_ == FrameRoute::kContainer ? document_.CopyTo(container) : E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
  STDMETHODIMP QueryService(REFGUID service, REFIID iid, void** out) override {
    *out = nullptr;
    constexpr GUID kWebBrowserApp = {0x0002DF05, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    constexpr GUID kContainerDispatch = {0xB722BE00, 0x4E68, 0x101B, {0xA2, 0xBC, 0x00, 0xAA, 0x00, 0x40, 0x47, 0x70}};
    constexpr GUID kHtmlWindow = {0x332C4427, 0x26CB, 0x11D0, {0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19}};
    if (service == kWebBrowserApp) return browser_->QueryInterface(iid, out);
    if (service == kContainerDispatch && route_ == FrameRoute::kContainerDispatch)
      return document_->QueryInterface(iid, out);
    if (service == kHtmlWindow && route_ == FrameRoute::kHtmlWindow) return window_->QueryInterface(iid, out);
    return E_NOINTERFACE;
  }

 private:
  FrameRoute route_;
  Microsoft::WRL::ComPtr<AddressProperty> browser_, document_;
  Microsoft::WRL::ComPtr<ObjectProperty> window_;
};

// `text` percent-encoded for a query value.
inline std::string QueryText(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      char code[4];
      wsprintfA(code, "%%%02X", c);
      out += code;
    }
  }
  return out;
}

}  // namespace nib::test
