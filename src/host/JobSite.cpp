#include "host/JobSite.h"

#include <windows.h>
#include <oaidl.h>
#include <servprov.h>

#include "com/ComObject.h"
#include "com/StrConv.h"

namespace nib::host {
namespace {

constexpr GUID kWebBrowserApp = {0x0002DF05, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DISPID kLocationUrl = 1;

// Answers the web-browser service with itself: an object whose LocationURL
// is the job's address (read by name, as the object reads a browser's).
class JobSite final : public ComObject<IServiceProvider, IDispatch> {
 public:
  explicit JobSite(std::wstring address) : address_(std::move(address)) {}

  STDMETHODIMP QueryService(REFGUID service, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (service != kWebBrowserApp || iid != IID_IDispatch) return E_NOINTERFACE;
    return QueryInterface(iid, out);
  }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids || count != 1) return E_INVALIDARG;
    if (_wcsicmp(names[0], L"LocationURL") != 0) return DISP_E_UNKNOWNNAME;
    ids[0] = kLocationUrl;
    return S_OK;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (id != kLocationUrl || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    if (!result) return E_POINTER;
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocString(address_.c_str());
    return V_BSTR(result) ? S_OK : E_OUTOFMEMORY;
  }

 protected:
  void* FindInterface(REFIID iid) override {
    if (iid == IID_IUnknown) return static_cast<IServiceProvider*>(this);
    return ComObject<IServiceProvider, IDispatch>::FindInterface(iid);
  }

 private:
  std::wstring address_;
};

}  // namespace

Microsoft::WRL::ComPtr<IUnknown> NewJobSite(const std::string& jobAddress) {
  Microsoft::WRL::ComPtr<JobSite> site = NewComObject<JobSite>(AnsiToWide(jobAddress, CP_UTF8));
  Microsoft::WRL::ComPtr<IUnknown> unknown;
  site.As(&unknown);
  return unknown;
}

}  // namespace nib::host
