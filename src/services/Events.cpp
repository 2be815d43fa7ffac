#include "services/Events.h"

#include "services/AdminLog.h"
#include "com/BStr.h"
#include "com/ComObject.h"

using Microsoft::WRL::ComPtr;

namespace nib {
namespace {

class ForwardingSink final : public ComObject<IDispatch> {
 public:
  explicit ForwardingSink(ComPtr<IDispatch> target) : target_(std::move(target)) {}

  STDMETHODIMP GetTypeInfoCount(UINT* count) override { return target_->GetTypeInfoCount(count); }
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
    return target_->GetTypeInfo(index, lcid, info);
  }
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
    return target_->GetIDsOfNames(iid, names, count, lcid, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override {
    target_->Invoke(id, iid, lcid, flags, params, result, exception, argError);
    return S_OK;
  }

 private:
  ComPtr<IDispatch> target_;
};

}  // namespace

ComPtr<IDispatch> MakeForwardingSink(ComPtr<IDispatch> pageSink) {
  return NewComObject<ForwardingSink>(std::move(pageSink));
}

void FireOnEventStart(IDispatch* pageSink, const std::string& p1, const std::string& p2, const std::string& p3,
                      const VARIANT& p4, const VARIANT& p5) {
  ComPtr<IDispatch> sink = pageSink;  // held: the handler may let go of the object that fired
  if (!sink) return;
  AdminLog("event OnEventStart(" + p1 + ", " + p2 + ", " + p3 + ")");
  BStr b1 = BStr::FromAnsi(p1), b2 = BStr::FromAnsi(p2), b3 = BStr::FromAnsi(p3);
  // Positional arguments travel in reverse order.
  VARIANT args[5];
  args[4].vt = VT_BSTR;
  args[4].bstrVal = b1.Get();
  args[3].vt = VT_BSTR;
  args[3].bstrVal = b2.Get();
  args[2].vt = VT_BSTR;
  args[2].bstrVal = b3.Get();
  args[1] = p4;
  args[0] = p5;
  DISPPARAMS params{args, nullptr, 5, 0};
  sink->Invoke(kOnEventStartId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

}  // namespace nib
