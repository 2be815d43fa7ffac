#include "com/ErrorInfo.h"

#include <oleauto.h>
#include <wrl/client.h>

#include "com/StrConv.h"

using Microsoft::WRL::ComPtr;

namespace nib {

void SetComErrorInfo(const wchar_t* source, REFIID iid, const std::string& description) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(&create))) return;
  std::wstring text = AnsiToWide(description);
  create->SetSource(const_cast<LPOLESTR>(source));
  create->SetGUID(iid);
  create->SetDescription(text.data());
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
}

}  // namespace nib
