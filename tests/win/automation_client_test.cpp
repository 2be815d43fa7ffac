// The object as a client sees it through COM: created from the registry by
// its ProgID, scripting safety, its one event connection, error info.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "com/BStr.h"
#include "com/ObjectSafety.h"
#include "server/Guids.h"

using Microsoft::WRL::ComPtr;

namespace nib::test {
namespace {

class Client : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"NibWordLib.NibWord", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_INibWord,
                               reinterpret_cast<void**>(object.GetAddressOf())),
              S_OK);
  }
  void TearDown() override {
    object.Reset();
    ComApartment::TearDown();
  }
  ComPtr<IConnectionPoint> EventPoint(INibWord* target) {
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(target->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.GetAddressOf())), S_OK);
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(DIID_INibWordEvents, &point), S_OK);
    return point;
  }
  ComPtr<INibWord> object;
};

// The version a page reads is the DLL's own, through the vtable and by name.
TEST_F(Client, VersionIsTheDllsOwn) {
  BStr version;
  ASSERT_EQ(object->get_Version(version.Out()), S_OK);
  std::wstring dll = BuildPath(L"NibWordLib.dll");
  DWORD ignored = 0, size = GetFileVersionInfoSizeW(dll.c_str(), &ignored);
  ASSERT_GT(size, 0u) << "the DLL has a version resource";
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(dll.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  std::wstring expected = std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                          std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                          std::to_wstring(HIWORD(fixed->dwFileVersionLS));
  EXPECT_EQ(version.Wide(), expected);

  LPOLESTR name[] = {const_cast<LPOLESTR>(L"Version")};
  DISPID id = 0;
  ASSERT_EQ(object->GetIDsOfNames(IID_NULL, name, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 234) << "a DISPID of its own, after the 33 first members";
  DISPPARAMS none{};
  VARIANT value;
  VariantInit(&value);
  ASSERT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr), S_OK);
  ASSERT_EQ(V_VT(&value), VT_BSTR);
  EXPECT_EQ(std::wstring(V_BSTR(&value)), expected);
  VariantClear(&value);
}

TEST_F(Client, ObjectSafety) {
  ComPtr<IObjectSafety> safety;
  ASSERT_EQ(object.As(&safety), S_OK);
  DWORD supported = 99, enabled = 99;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, nullptr), E_POINTER);
  for (const IID& iid : {IID_IDispatch, IID_INibWord}) {
    supported = enabled = 0;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(iid, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, 3u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(iid, 3, 3), S_OK);
  }
  supported = enabled = 99;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPersistStream, &supported, &enabled), E_NOINTERFACE);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistStream, 3, 3), E_NOINTERFACE);
}

TEST_F(Client, OneEventSinkAtATime) {
  ComPtr<IConnectionPoint> point = EventPoint(object.Get());
  ASSERT_TRUE(point);
  IID iid;
  EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualIID(iid, DIID_INibWordEvents));
  ComPtr<IConnectionPointContainer> container;
  EXPECT_EQ(point->GetConnectionPointContainer(&container), S_OK);
  ComPtr<IConnectionPoint> other;
  EXPECT_EQ(container->FindConnectionPoint(IID_IPropertyNotifySink, &other), CONNECT_E_NOCONNECTION);

  TestSink notEvents(false);
  DWORD cookie = 0;
  EXPECT_EQ(point->Advise(&notEvents, &cookie), CONNECT_E_CANNOTCONNECT) << "a sink without INibWordEvents";
  EXPECT_EQ(notEvents.References(), 0u) << "the refused sink is not kept";

  TestSink first, second;
  ASSERT_EQ(point->Advise(&first, &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  DWORD secondCookie = 0;
  EXPECT_EQ(point->Advise(&second, &secondCookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(secondCookie, 0u);
  EXPECT_EQ(point->Unadvise(cookie + 1), CONNECT_E_NOCONNECTION);
  EXPECT_GT(first.References(), 0u) << "the first sink stays connected";
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(first.References(), 0u) << "disconnecting lets go of the sink";
  EXPECT_EQ(point->Advise(&second, &secondCookie), S_OK) << "free again after Unadvise";
  EXPECT_EQ(point->Unadvise(secondCookie), S_OK);
}

TEST_F(Client, FailingMemberReportsErrorInfo) {
  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(object.As(&support), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_INibWord), S_OK);

  ASSERT_EQ(object->IsSetFont(VARIANT_TRUE), S_OK);
  HRESULT hr = object->ReSetFontByWebPage();  // no document is open
  EXPECT_TRUE(FAILED(hr));
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BStr source, description;
  GUID guid;
  info->GetSource(source.Out());
  info->GetDescription(description.Out());
  info->GetGUID(&guid);
  EXPECT_EQ(source.Wide(), L"NibWordLib.NibWord");
  EXPECT_TRUE(IsEqualGUID(guid, IID_INibWord));
  EXPECT_NE(description.Wide().find(L"ReSetFontByWebPage"), std::wstring::npos) << "description: " << description.Ansi();

  // The same through IDispatch, as a script engine calls it.
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(object.As(&dispatch), S_OK);
  DISPPARAMS params{nullptr, nullptr, 0, 0};
  VARIANT returned;
  VariantInit(&returned);
  EXCEPINFO exception{};
  hr = dispatch->Invoke(0xE9, IID_NULL, 0, DISPATCH_METHOD, &params, &returned, &exception, nullptr);
  EXPECT_EQ(hr, DISP_E_EXCEPTION);
  EXPECT_STREQ(exception.bstrSource, L"NibWordLib.NibWord");
  EXPECT_TRUE(FAILED(exception.scode));
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  VariantClear(&returned);

  // The object stays usable after a failure.
  BStr url(L"http://127.0.0.1/doc");
  EXPECT_EQ(object->SetDownURL(url.Get()), S_OK);
}

TEST_F(Client, WriteOnlyFontProperties) {
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(object.As(&dispatch), S_OK);
  LPOLESTR name = const_cast<LPOLESTR>(L"SetFontName");
  DISPID id = 0;
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 229);
  BStr font(L"宋体");
  VARIANT value;
  value.vt = VT_BSTR;
  value.bstrVal = font.Get();
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS put{&value, &named, 1, 1};
  EXPECT_EQ(dispatch->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  VARIANT read;
  VariantInit(&read);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_TRUE(FAILED(dispatch->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &read, nullptr, nullptr)))
      << "the font properties cannot be read";
  VariantClear(&read);
}

}  // namespace
}  // namespace nib::test
