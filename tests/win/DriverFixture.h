#pragma once
// The Word driver against the Word double: a fixture with a recording
// ICommGUI, a work folder for fixture documents and the driver's notifications.

#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "services/PageValues.h"
#include "com/BStr.h"
#include "com/Dispatch.h"
#include "com/StrConv.h"
#include "services/Files.h"
#include "services/UniqueName.h"
#include "word/CommEdtNibWord.h"

namespace nib::test {

// The automation object's side of the driver's messages and files.
class RecordingGUI final : public ICommGUI {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != IID_ICommGUI) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<ICommGUI*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override { return --references; }
  STDMETHODIMP_(LONG) MyMessageDlg(BSTR text, LONG type, BSTR buttons, LONG) override {
    messages.push_back(text);
    types.push_back(type);
    buttonSets.push_back(buttons);
    return 1;
  }
  STDMETHODIMP WLog(BSTR text, VARIANT_BOOL, VARIANT_BOOL) override {
    logs.push_back(text);
    return S_OK;
  }
  STDMETHODIMP WFile(BSTR text, BSTR, VARIANT_BOOL) override {
    files.push_back(text);
    return S_OK;
  }
  STDMETHODIMP AddTmpDirFile(LONG kind, BSTR name) override {
    if (kind == 2) tmpFiles.push_back(name);
    return S_OK;
  }
  std::vector<std::wstring> messages, buttonSets, logs, files, tmpFiles;
  std::vector<LONG> types;
  ULONG references = 0;
};

// The value of attribute `name` in the first element `tag` of a document file.
inline std::string AttributeOf(const std::string& file, const std::string& tag, const std::string& name) {
  size_t element = file.find("<" + tag + " ");
  if (element == std::string::npos) return "<none>";
  size_t at = file.find(name + "=\"", element);
  if (at == std::string::npos) return "<none>";
  at += name.size() + 2;
  return file.substr(at, file.find('"', at) - at);
}

class DriverFixture : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    CreateDirectoryA("c:\\doubles", nullptr);
    DeleteFileA("c:\\doubles\\control.ini");
    DeleteFileA("c:\\doubles\\calls.log");
    work = TempFolderPath() + "nib-driver-" + NewUniqueName();
    CreateDirectoryA(work.c_str(), nullptr);
    NewDriver();
  }
  // A driver for the next cycle, the last one's Word quit.
  void NewDriver() {
    if (driver && driver->Connected()) driver->AppQuit();
    driver = TCommEdt_NibWord::Create(values);
    driver->OnEdtStsNotify = [this](long app, long item, long sts) {
      notes.push_back(std::to_string(app) + "," + std::to_string(item) + "," + std::to_string(sts));
    };
    ASSERT_EQ(driver->SetICommGUI(&gui), S_OK);
  }
  void TearDown() override {
    if (driver && driver->Connected()) driver->AppQuit();
    driver.Reset();
    DeleteFileA("c:\\doubles\\control.ini");
    DeleteTree(work);
    EXPECT_EQ(gui.references, 0u);
    ComApartment::TearDown();
  }
  std::string Fixture(const std::string& name, const std::string& inner) {
    std::string path = work + "\\" + name;
    std::ofstream(path, std::ios::binary) << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nibdoc>" << inner
                                          << "</nibdoc>\n";
    return path;
  }
  void Configure(const std::string& destFN, const char* userName = "张三") {
    BStr dest = BStr::FromAnsi(destFN), user(Utf8ToWide(userName));
    ASSERT_EQ(driver->SetDestFN(dest.Get()), S_OK);
    ASSERT_EQ(driver->SetUserName(user.Get()), S_OK);
  }
  bool Start(const wchar_t* procID = L"1", const wchar_t* procID2 = L"0") {
    BStr p1(procID), p2(procID2);
    return driver->StartEdtAppAndOpenDoc(p1.Get(), p2.Get()) == VARIANT_TRUE;
  }
  // The user types at the start of the document, through Word.
  void Type(const wchar_t* text) { driver->Document().CallObject(L"Range", {Arg(0), Arg(0)}).Put(L"Text", text); }
  long DocumentCount() {
    DispObject word(values->WordApplication);
    return word.Object(L"Documents").Long(L"Count");
  }

  std::string work;
  // What the page's object would share with its driver; kept across the
  // drivers a test makes, as one page's cycles share them.
  std::shared_ptr<PageValues> values = std::make_shared<PageValues>();
  RecordingGUI gui;
  Microsoft::WRL::ComPtr<TCommEdt_NibWord> driver;
  std::vector<std::string> notes;
};

}  // namespace nib::test
