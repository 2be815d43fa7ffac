#pragma once
// Shared helpers of the Windows test programs.

#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "com/Handle.h"

namespace nib::test {

// Single-threaded apartment for the duration of a test, as a page's thread.
class ComApartment : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  void TearDown() override { CoUninitialize(); }
};

// Windows path of a file in the build tree (Wine maps Z: to the Unix root).
std::wstring BuildPath(const std::wstring& relative);

// The default value (name empty) or a named value of a HKEY_CLASSES_ROOT key;
// "<missing>" when the key or value does not exist.
std::wstring ReadClassesRootValue(const std::wstring& key, const wchar_t* name = nullptr);
bool ClassesRootKeyExists(const std::wstring& key);

std::wstring Utf8ToWide(const std::string& utf8);

// A message's text before its reason line ("\r\n原因: ..."), and the reason
// itself (empty when the message gives none).
std::wstring WithoutReason(const std::wstring& message);
std::wstring ReasonOf(const std::wstring& message);

// A file's bytes; empty when it cannot be read.
std::string ReadAll(const std::string& path);
// The local document server's folder (files/, records/, port) in this build tree.
std::string ServerFolder();
// "http://127.0.0.1:<port>" of the running document server; empty when it is not running.
std::string ServerBase();

// Starts a program; its process handle, empty when it cannot start.
UniqueHandle StartProgram(const std::wstring& commandLine);
// Runs a program to its end and returns its exit code (-1 when it cannot start).
DWORD RunProgram(const std::wstring& commandLine);

// One call received by a TestSink.
struct SinkCall {
  DISPID id;
  std::vector<std::wstring> strings;  // the BSTR arguments, in call order
  std::vector<VARTYPE> types;         // every argument's type, in call order
  DWORD thread = 0;                   // the thread the event arrived on
};

// A page's event sink: implements INibWordEvents through IDispatch and
// records what arrives. `failWith` makes every Invoke fail, as a broken page
// handler would.
class TestSink final : public IDispatch {
 public:
  explicit TestSink(bool offerEvents = true, HRESULT failWith = S_OK) : offerEvents_(offerEvents), failWith_(failWith) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override { return --references_; }  // lives on the test's stack
  STDMETHODIMP GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

  std::vector<SinkCall> calls;
  // What the page does when an event arrives (it may call the object back).
  std::function<void(const SinkCall&)> onCall;
  ULONG References() const { return references_; }

 private:
  bool offerEvents_;
  HRESULT failWith_;
  ULONG references_ = 0;
};

}  // namespace nib::test
