// Registration of the DLL as Windows does it: regsvr32 and DllRegisterServer,
// the keys read back, and the DLL's class-object and unload contract.

#include <windows.h>
#include <ocidl.h>

#include "TestSupport.h"
#include "server/Guids.h"

namespace nib::test {
namespace {

constexpr wchar_t kClsidKey[] = L"CLSID\\{358ECC3E-6668-48DF-993E-0410762EAC63}";
constexpr wchar_t kTypeLibKey[] = L"TypeLib\\{68A9DA9A-8C1A-4231-807E-A3236C6241D3}";

std::wstring DllPath() { return BuildPath(L"NibWordLib.dll"); }

void ExpectRegistered() {
  const std::wstring clsid = kClsidKey;
  EXPECT_EQ(ReadClassesRootValue(clsid), L"NibWord Object");
  EXPECT_EQ(ReadClassesRootValue(clsid + L"\\InprocServer32"), DllPath());
  EXPECT_EQ(ReadClassesRootValue(clsid + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(ReadClassesRootValue(clsid + L"\\ProgID"), L"NibWordLib.NibWord");
  EXPECT_EQ(ReadClassesRootValue(clsid + L"\\Version"), L"1.0");
  EXPECT_EQ(ReadClassesRootValue(clsid + L"\\TypeLib"), L"{68A9DA9A-8C1A-4231-807E-A3236C6241D3}");
  EXPECT_EQ(ReadClassesRootValue(L"NibWordLib.NibWord"), L"NibWord Object");
  EXPECT_EQ(ReadClassesRootValue(L"NibWordLib.NibWord\\Clsid"), L"{358ECC3E-6668-48DF-993E-0410762EAC63}");
  EXPECT_EQ(ReadClassesRootValue(std::wstring(kTypeLibKey) + L"\\1.0"), L"NibWordLib Library");
  EXPECT_TRUE(ClassesRootKeyExists(L"Interface\\{29F00185-D726-4E06-83F7-5EDD6FBCC164}"))
      << "the dual interface is registered with the type library";
}

void ExpectUnregistered() {
  EXPECT_FALSE(ClassesRootKeyExists(kClsidKey));
  EXPECT_FALSE(ClassesRootKeyExists(L"NibWordLib.NibWord"));
  EXPECT_FALSE(ClassesRootKeyExists(std::wstring(kTypeLibKey) + L"\\1.0\\409"));
}

using RegisterFunction = HRESULT(WINAPI*)();

template <class Function>
Function Export(HMODULE dll, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

class Registration : public ComApartment {
 protected:
  void TearDown() override {
    // Leave the DLL registered for the tests that follow.
    RunProgram(L"regsvr32.exe /s \"" + DllPath() + L"\"");
    ComApartment::TearDown();
  }
};

TEST_F(Registration, Regsvr32RegistersAndUnregisters) {
  ASSERT_EQ(RunProgram(L"regsvr32.exe /s /u \"" + DllPath() + L"\""), 0u);
  ExpectUnregistered();
  CLSID clsid;
  EXPECT_NE(CLSIDFromProgID(L"NibWordLib.NibWord", &clsid), S_OK);

  ASSERT_EQ(RunProgram(L"regsvr32.exe /s \"" + DllPath() + L"\""), 0u);
  ExpectRegistered();
  ASSERT_EQ(CLSIDFromProgID(L"NibWordLib.NibWord", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_NibWord));
}

TEST_F(Registration, EntryPointsThroughLoadLibrary) {
  HMODULE dll = LoadLibraryW(DllPath().c_str());
  ASSERT_NE(dll, nullptr) << "LoadLibrary error " << GetLastError();
  auto unregister = Export<RegisterFunction>(dll, "DllUnregisterServer");
  auto registerServer = Export<RegisterFunction>(dll, "DllRegisterServer");
  ASSERT_NE(unregister, nullptr);
  ASSERT_NE(registerServer, nullptr);
  // The ordinals are part of the interface too.
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(1))), reinterpret_cast<void*>(unregister));
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(2))), reinterpret_cast<void*>(registerServer));

  EXPECT_EQ(unregister(), S_OK);
  ExpectUnregistered();
  EXPECT_EQ(unregister(), S_OK) << "unregistering twice is not an error";
  EXPECT_EQ(registerServer(), S_OK);
  ExpectRegistered();
  FreeLibrary(dll);
}

TEST_F(Registration, ClassObjectAndUnloading) {
  HMODULE dll = LoadLibraryW(DllPath().c_str());
  ASSERT_NE(dll, nullptr);
  using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  auto getClassObject = Export<GetClassObject>(dll, "DllGetClassObject");
  auto canUnloadNow = Export<RegisterFunction>(dll, "DllCanUnloadNow");
  ASSERT_NE(getClassObject, nullptr);
  ASSERT_NE(canUnloadNow, nullptr);

  void* wrong = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, &wrong), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(wrong, nullptr);
  void* noFactoryInterface = nullptr;
  EXPECT_EQ(getClassObject(CLSID_NibWord, IID_IDispatch, &noFactoryInterface), E_NOINTERFACE);

  EXPECT_EQ(canUnloadNow(), S_OK);
  Microsoft::WRL::ComPtr<IClassFactory> factory;
  ASSERT_EQ(getClassObject(CLSID_NibWord, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE) << "a held factory keeps the DLL";

  Microsoft::WRL::ComPtr<INibWord> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_INibWord, reinterpret_cast<void**>(object.GetAddressOf())), S_OK);
  Microsoft::WRL::ComPtr<INibWord> second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_INibWord, reinterpret_cast<void**>(second.GetAddressOf())), S_OK);
  EXPECT_NE(object.Get(), second.Get()) << "every CreateInstance makes a new object";
  Microsoft::WRL::ComPtr<IUnknown> aggregated;
  EXPECT_EQ(factory->CreateInstance(object.Get(), IID_IUnknown, reinterpret_cast<void**>(aggregated.GetAddressOf())),
            CLASS_E_NOAGGREGATION);

  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  second.Reset();
  EXPECT_EQ(canUnloadNow(), S_FALSE) << "an object is alive and the factory locked";
  object.Reset();
  EXPECT_EQ(canUnloadNow(), S_FALSE) << "the factory is still locked";
  ASSERT_EQ(getClassObject(CLSID_NibWord, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory.Reset();
  EXPECT_EQ(canUnloadNow(), S_OK);
  FreeLibrary(dll);
}

}  // namespace
}  // namespace nib::test
