// The Word double driven the way the product drives Word: out of process,
// by member name, with its window, its event and its files.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <vector>

#include "TestSupport.h"
#include "com/ComError.h"
#include "com/Dispatch.h"
#include "word/WordUtil.h"
#include "com/BStr.h"
#include "com/StrConv.h"
#include "com/Variant.h"
#include "services/Files.h"
#include "services/WindowUtil.h"
#include "services/UniqueName.h"

using Microsoft::WRL::ComPtr;

namespace nib::test {
namespace {

constexpr CLSID kWord = {0x000209FF, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kAppEvents = {0x000209FE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct CallError {
  HRESULT hr;
  std::wstring text;
};

// One late-bound call by name; named arguments as name=value pairs.
Variant Call(IDispatch* object, const wchar_t* name, WORD kind, std::vector<VARIANT> args = {},
             std::vector<const wchar_t*> argNames = {}) {
  std::vector<LPOLESTR> names{const_cast<LPOLESTR>(name)};
  for (const wchar_t* n : argNames) names.push_back(const_cast<LPOLESTR>(n));
  std::vector<DISPID> ids(names.size());
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), 0, ids.data());
  if (FAILED(hr)) throw CallError{hr, L"unknown name"};
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  std::vector<DISPID> namedIds(ids.begin() + 1, ids.end());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (!namedIds.empty()) {
    // Named arguments: the names' order is the order of rgvarg.
    std::reverse(namedIds.begin(), namedIds.end());
    params.rgdispidNamedArgs = namedIds.data();
    params.cNamedArgs = static_cast<UINT>(namedIds.size());
  }
  if (kind == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  Variant result;
  EXCEPINFO exception{};
  hr = object->Invoke(ids[0], IID_NULL, 0, kind, &params, kind == DISPATCH_PROPERTYPUT ? nullptr : result.Get(),
                      &exception, nullptr);
  if (FAILED(hr)) {
    std::wstring text = exception.bstrDescription ? exception.bstrDescription : L"";
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
    throw CallError{hr, text};
  }
  return result;
}

VARIANT Text(BSTR text) {
  VARIANT v;
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = text;
  return v;
}
VARIANT Long(long value) {
  VARIANT v;
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}
VARIANT Missing() {
  VARIANT v;
  V_VT(&v) = VT_ERROR;
  V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
  return v;
}

std::wstring StringOf(Variant& v) {
  return V_VT(v.Get()) == VT_BSTR ? std::wstring(V_BSTR(v.Get()), SysStringLen(V_BSTR(v.Get()))) : L"<not text>";
}
ComPtr<IDispatch> ObjectOf(Variant& v) {
  return V_VT(v.Get()) == VT_DISPATCH ? ComPtr<IDispatch>(V_DISPATCH(v.Get())) : nullptr;
}

// The product's close watcher: cancels the close while `refuse` is set.
class CloseWatcher final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kAppEvents) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override { return --references; }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    if (id != 6 || params->cArgs != 2) return S_OK;
    ++closes;
    if (V_VT(&params->rgvarg[0]) == (VT_BOOL | VT_BYREF) && refuse) *V_BOOLREF(&params->rgvarg[0]) = VARIANT_TRUE;
    return S_OK;
  }
  bool refuse = true;
  int closes = 0;
  ULONG references = 0;
};

class WordDouble : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    CreateDirectoryA("c:\\doubles", nullptr);
    DeleteFileA("c:\\doubles\\control.ini");
    work = TempFolderPath() + "nib-word-" + NewUniqueName();
    CreateDirectoryA(work.c_str(), nullptr);
  }
  void TearDown() override {
    DeleteFileA("c:\\doubles\\control.ini");
    DeleteTree(work);
    ComApartment::TearDown();
  }
  ComPtr<IDispatch> StartWord() {
    ComPtr<IDispatch> word;
    auto start = std::chrono::steady_clock::now();
    HRESULT hr = CoCreateInstance(kWord, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(word.GetAddressOf()));
    EXPECT_EQ(hr, S_OK) << "starting the Word double";
    std::printf("Word double started in %lld ms\n", static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                        std::chrono::steady_clock::now() - start).count()));
    return word;
  }
  std::string Fixture(const std::string& name, const std::string& utf8Text) {
    std::string path = work + "\\" + name;
    std::ofstream(path, std::ios::binary) << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nibdoc><text>" << utf8Text
                                          << "</text></nibdoc>\n";
    return path;
  }
  // Documents.Open of a file, as the driver opens the working copy.
  ComPtr<IDispatch> Open(IDispatch* word, const std::string& file) {
    Variant documents = Call(word, L"Documents", DISPATCH_PROPERTYGET);
    BStr path(AnsiToWide(file));
    Variant opened = Call(ObjectOf(documents).Get(), L"Open", DISPATCH_METHOD, {Text(path.Get())});
    return ObjectOf(opened);
  }
  std::string work;
};

TEST_F(WordDouble, ApplicationPropertiesWindowAndQuit) {
  ComPtr<IDispatch> word = StartWord();
  ASSERT_TRUE(word);
  VARIANT yes;
  V_VT(&yes) = VT_BOOL;
  V_BOOL(&yes) = VARIANT_TRUE;
  Call(word.Get(), L"visible", DISPATCH_PROPERTYPUT, {yes});  // names ignore case
  BStr user(Utf8ToWide("张三"));
  Call(word.Get(), L"UserName", DISPATCH_PROPERTYPUT, {Text(user.Get())});
  Variant name = Call(word.Get(), L"UserName", DISPATCH_PROPERTYGET);
  EXPECT_EQ(StringOf(name), Utf8ToWide("张三"));
  Variant points = Call(word.Get(), L"CentimetersToPoints", DISPATCH_METHOD, {Long(1)});
  EXPECT_NEAR(V_R8(points.Get()), 28.35, 0.01);

  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 50; ++i) Call(word.Get(), L"Visible", DISPATCH_PROPERTYGET);
  std::printf("cross-process call: %.2f ms\n",
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / 50);

  HWND window = FindWindowW(L"OpusApp", L"Microsoft Word");
  ASSERT_NE(window, nullptr) << "the main window, no document yet";
  EXPECT_TRUE(IsWindowVisible(window));
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  EXPECT_NE(pid, GetCurrentProcessId()) << "out of process";

  ComPtr<IUnknown> active;
  ASSERT_EQ(GetActiveObject(kWord, nullptr, &active), S_OK);
  ComPtr<IUnknown> identity;
  word.As(&identity);
  EXPECT_EQ(active.Get(), identity.Get()) << "the running-object table holds this instance";

  EXPECT_THROW(Call(word.Get(), L"NoSuchMember", DISPATCH_METHOD), CallError);
  try {
    Call(word.Get(), L"UserName", DISPATCH_PROPERTYGET, {}, {L"NoSuchArgument"});
    ADD_FAILURE() << "an unknown argument name is refused";
  } catch (const CallError& e) {
    EXPECT_EQ(e.hr, DISP_E_UNKNOWNNAME);
  }

  ComPtr<IDispatch> second = StartWord();
  DWORD secondPid = 0;
  HWND secondWindow = nullptr;
  for (HWND w = FindWindowW(L"OpusApp", nullptr); w; w = FindWindowExW(nullptr, w, L"OpusApp", nullptr)) {
    DWORD p;
    GetWindowThreadProcessId(w, &p);
    if (p != pid) secondPid = p, secondWindow = w;
  }
  EXPECT_NE(secondPid, 0u) << "each creator gets a private instance, a process of its own";
  (void)secondWindow;
  Call(second.Get(), L"Quit", DISPATCH_METHOD);
  second.Reset();

  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  Call(word.Get(), L"Quit", DISPATCH_METHOD, {Long(0)}, {L"SaveChanges"});
  word.Reset();
  active.Reset();
  identity.Reset();
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0) << "Quit ends the process";
  CloseHandle(process);
}

TEST_F(WordDouble, DocumentsEventsAndFiles) {
  std::string fixture = Fixture("\xCD\xA8\xD6\xAA.doc", "First paragraph&#13;\xE7\xAC\xAC\xE4\xBA\x8C\xE6\xAE\xB5");
  ComPtr<IDispatch> word = StartWord();
  ASSERT_TRUE(word);
  Variant documentsValue = Call(word.Get(), L"Documents", DISPATCH_PROPERTYGET);
  ComPtr<IDispatch> documents = ObjectOf(documentsValue);
  ASSERT_TRUE(documents);

  BStr path(AnsiToWide(fixture));
  VARIANT no;
  V_VT(&no) = VT_BOOL;
  V_BOOL(&no) = VARIANT_FALSE;
  Variant opened = Call(documents.Get(), L"Open", DISPATCH_METHOD, {Text(path.Get()), no}, {L"FileName", L"AddToRecentFiles"});
  ComPtr<IDispatch> document = ObjectOf(opened);
  ASSERT_TRUE(document);
  Variant name = Call(document.Get(), L"Name", DISPATCH_PROPERTYGET);
  EXPECT_EQ(StringOf(name), Utf8ToWide("通知.doc"));
  Variant fullName = Call(document.Get(), L"FullName", DISPATCH_PROPERTYGET);
  EXPECT_EQ(StringOf(fullName), path.Wide());
  Variant text = Call(document.Get(), L"Text", DISPATCH_PROPERTYGET);
  EXPECT_EQ(StringOf(text), Utf8ToWide("First paragraph\r第二段"));
  EXPECT_NE(FindWindowW(L"OpusApp", Utf8ToWide("通知.doc - Microsoft Word").c_str()), nullptr)
      << "the caption follows the active document";

  // A close behind the system's back is refused; once allowed it goes through.
  CloseWatcher watcher;
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(word.As(&container), S_OK);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(kAppEvents, &point), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(&watcher, &cookie), S_OK);
  HWND window = FindWindowW(L"OpusApp", nullptr);
  // The user closes the window. Posted: the event calls back into this thread,
  // which must keep dispatching meanwhile, as the page's thread does.
  PostMessageW(window, WM_CLOSE, 0, 0);
  for (int waited = 0; watcher.closes == 0 && waited < 5000; waited += 50) DelayWithMessages(50);
  EXPECT_EQ(watcher.closes, 1) << "DocumentBeforeClose arrived";
  Variant stillOpen = Call(word.Get(), L"ActiveDocument", DISPATCH_PROPERTYGET);
  EXPECT_TRUE(ObjectOf(stillOpen)) << "the cancel flag was honoured";

  // Save as HTML: the page and its supporting-files folder.
  std::string html = work + "\\page.htm";
  BStr htmlPath(AnsiToWide(html));
  Call(document.Get(), L"SaveAs", DISPATCH_METHOD, {Text(htmlPath.Get()), Long(8)}, {L"FileName", L"FileFormat"});
  EXPECT_TRUE(FileExists(html));
  EXPECT_TRUE(FileExists(work + "\\page.files\\filelist.xml"));
  std::string page;
  LoadTextFile(page, html);
  EXPECT_NE(page.find("\xE7\xAC\xAC\xE4\xBA\x8C\xE6\xAE\xB5"), std::string::npos) << "the text is on the page";

  watcher.refuse = false;
  Call(document.Get(), L"Close", DISPATCH_METHOD, {Long(0)}, {L"SaveChanges"});
  EXPECT_EQ(watcher.closes, 2);
  EXPECT_THROW(Call(word.Get(), L"ActiveDocument", DISPATCH_PROPERTYGET), CallError) << "no document is open now";
  EXPECT_EQ(point->Unadvise(cookie), S_OK);

  // Failures a test injects, and bad input.
  std::ofstream("c:\\doubles\\control.ini") << "[fail]\r\nDocuments.Open=Word cannot open this document.\r\n";
  try {
    Call(documents.Get(), L"Open", DISPATCH_METHOD, {Text(path.Get())});
    ADD_FAILURE() << "the injected failure arrives";
  } catch (const CallError& e) {
    EXPECT_EQ(e.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(e.text, L"Word cannot open this document.");
  }
  DeleteFileA("c:\\doubles\\control.ini");
  BStr missing(AnsiToWide(work + "\\missing.doc"));
  EXPECT_THROW(Call(documents.Get(), L"Open", DISPATCH_METHOD, {Text(missing.Get())}), CallError);
  std::ofstream(work + "\\bad.doc") << "not a document";
  BStr bad(AnsiToWide(work + "\\bad.doc"));
  EXPECT_THROW(Call(documents.Get(), L"Open", DISPATCH_METHOD, {Text(bad.Get())}), CallError);
  try {
    Call(documents.Get(), L"Open", DISPATCH_METHOD, {Missing()});
    ADD_FAILURE() << "FileName is required";
  } catch (const CallError& e) {
    EXPECT_EQ(e.hr, DISP_E_PARAMNOTFOUND);
  }

  // Add, then SaveAs in the double's own format: a test can read the file back.
  Variant added = Call(documents.Get(), L"Add", DISPATCH_METHOD);
  ComPtr<IDispatch> fresh = ObjectOf(added);
  BStr body(L"new & <text>");
  Call(fresh.Get(), L"Text", DISPATCH_PROPERTYPUT, {Text(body.Get())});
  BStr freshPath(AnsiToWide(work + "\\fresh.doc"));
  Call(fresh.Get(), L"SaveAs", DISPATCH_METHOD, {Text(freshPath.Get())});
  std::string saved;
  LoadTextFile(saved, work + "\\fresh.doc");
  EXPECT_NE(saved.find("<text>new &amp; &lt;text&gt;</text>"), std::string::npos) << saved;

  std::string log;
  LoadTextFile(log, "c:\\doubles\\calls.log");
  size_t open = log.find("Documents.Open");
  ASSERT_NE(open, std::string::npos) << "calls are logged";
  std::string line = log.substr(open, log.find('\n', open) - open);
  size_t time = line.find_last_of('\t');
  EXPECT_EQ(line.size() - time, 14u) << "with the time of the call: " << line;  // tab, hh:mm:ss.mmm, CR
  EXPECT_EQ(line[time + 3], ':');
  Call(word.Get(), L"Quit", DISPATCH_METHOD);
}


constexpr CLSID kExcel = {0x00024500, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr CLSID kPowerPoint = {0x91493441, 0x5A91, 0x11CF, {0x87, 0x00, 0x00, 0xAA, 0x00, 0x60, 0x26, 0x3B}};

TEST_F(WordDouble, ExcelAndPowerPointSaveTheirHtml) {
  struct Case {
    const CLSID* clsid;
    const wchar_t* collection;
    const char* file;
    long htmlFormat;
  };
  for (const Case& c : {Case{&kExcel, L"Workbooks", "book.xls", 44}, Case{&kPowerPoint, L"Presentations", "slides.ppt", 12}}) {
    std::string source = Fixture(c.file, "sheet &amp; slide");
    ComPtr<IDispatch> app;
    ASSERT_EQ(CoCreateInstance(*c.clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(app.GetAddressOf())),
              S_OK)
        << c.file;
    Variant collectionValue = Call(app.Get(), c.collection, DISPATCH_PROPERTYGET);
    ComPtr<IDispatch> collection = ObjectOf(collectionValue);
    ASSERT_TRUE(collection);
    BStr path(AnsiToWide(source));
    Variant opened = Call(collection.Get(), L"Open", DISPATCH_METHOD, {Text(path.Get())});
    ComPtr<IDispatch> file = ObjectOf(opened);
    ASSERT_TRUE(file);
    std::string html = source + ".htm";
    BStr htmlPath(AnsiToWide(html));
    Call(file.Get(), L"SaveAs", DISPATCH_METHOD, {Text(htmlPath.Get()), Long(c.htmlFormat)});
    EXPECT_TRUE(FileExists(html)) << html;
    EXPECT_TRUE(FolderExists(work + "\\" + c.file + ".files")) << "the supporting-files folder";
    Call(file.Get(), L"Close", DISPATCH_METHOD);
    Call(app.Get(), L"Quit", DISPATCH_METHOD);
  }
}


long LongOf(Variant& v) {
  VARIANT number;
  VariantInit(&number);
  VariantChangeType(&number, v.Get(), 0, VT_I4);
  return V_I4(&number);
}

TEST_F(WordDouble, ProtectionRevisionsVariablesAndViews) {
  std::string fixture = Fixture("draft.doc", "Dear all,&#13;the meeting is on Monday.");
  ComPtr<IDispatch> word = StartWord();
  ASSERT_TRUE(word);
  BStr user(Utf8ToWide("李四"));
  Call(word.Get(), L"UserName", DISPATCH_PROPERTYPUT, {Text(user.Get())});
  ComPtr<IDispatch> document = Open(word.Get(), fixture);
  ASSERT_TRUE(document);

  Variant none = Call(document.Get(), L"ProtectionType", DISPATCH_PROPERTYGET);
  EXPECT_EQ(LongOf(none), -1);
  BStr password(L"pw");
  Call(document.Get(), L"Protect", DISPATCH_METHOD, {Long(0), Missing(), Text(password.Get())},
       {L"Type", L"NoReset", L"Password"});
  Variant protectedType = Call(document.Get(), L"ProtectionType", DISPATCH_PROPERTYGET);
  EXPECT_EQ(LongOf(protectedType), 0);

  // An edit under protection becomes a revision by the application's user.
  Variant rangeValue = Call(document.Get(), L"Range", DISPATCH_METHOD, {Long(28), Long(34)});
  ComPtr<IDispatch> range = ObjectOf(rangeValue);
  Variant word6 = Call(range.Get(), L"Text", DISPATCH_PROPERTYGET);
  EXPECT_EQ(StringOf(word6), L"Monday");
  BStr tuesday(L"Tuesday");
  Call(range.Get(), L"Text", DISPATCH_PROPERTYPUT, {Text(tuesday.Get())});
  Variant revisionsValue = Call(document.Get(), L"Revisions", DISPATCH_PROPERTYGET);
  ComPtr<IDispatch> revisions = ObjectOf(revisionsValue);
  Variant count = Call(revisions.Get(), L"Count", DISPATCH_PROPERTYGET);
  EXPECT_EQ(LongOf(count), 1);
  Variant firstValue = Call(revisions.Get(), L"Item", DISPATCH_METHOD, {Long(1)});
  Variant author = Call(ObjectOf(firstValue).Get(), L"Author", DISPATCH_PROPERTYGET);
  EXPECT_EQ(StringOf(author), Utf8ToWide("李四"));
  EXPECT_THROW(Call(document.Get(), L"AcceptAllRevisions", DISPATCH_METHOD), CallError) << "not while protected";

  BStr wrong(L"nope");
  try {
    Call(document.Get(), L"Unprotect", DISPATCH_METHOD, {Text(wrong.Get())});
    ADD_FAILURE() << "a wrong password must fail";
  } catch (const CallError& e) {
    EXPECT_NE(e.text.find(L"password"), std::wstring::npos) << e.text;
  }

  // Variables, views, and the file that keeps them.
  Variant variablesValue = Call(document.Get(), L"Variables", DISPATCH_PROPERTYGET);
  ComPtr<IDispatch> variables = ObjectOf(variablesValue);
  BStr title(L"Title"), notice(Utf8ToWide("关于开会的通知"));
  Call(variables.Get(), L"Add", DISPATCH_METHOD, {Text(title.Get()), Text(notice.Get())});
  Variant itemValue = Call(variables.Get(), L"Item", DISPATCH_METHOD, {Text(title.Get())});
  Variant value = Call(ObjectOf(itemValue).Get(), L"Value", DISPATCH_PROPERTYGET);
  EXPECT_EQ(StringOf(value), Utf8ToWide("关于开会的通知"));
  BStr other(L"Other");
  EXPECT_THROW(Call(variables.Get(), L"Item", DISPATCH_METHOD, {Text(other.Get())}), CallError);

  Variant windowValue = Call(document.Get(), L"ActiveWindow", DISPATCH_PROPERTYGET);
  Variant viewValue = Call(ObjectOf(windowValue).Get(), L"View", DISPATCH_PROPERTYGET);
  Call(ObjectOf(viewValue).Get(), L"FieldShading", DISPATCH_PROPERTYPUT, {Long(2)});
  Variant shading = Call(ObjectOf(viewValue).Get(), L"FieldShading", DISPATCH_PROPERTYGET);
  EXPECT_EQ(LongOf(shading), 2);
  Variant paneValue = Call(ObjectOf(windowValue).Get(), L"ActivePane", DISPATCH_PROPERTYGET);
  Variant paneView = Call(ObjectOf(paneValue).Get(), L"View", DISPATCH_PROPERTYGET);
  Variant zoomValue = Call(ObjectOf(paneView).Get(), L"Zoom", DISPATCH_PROPERTYGET);
  Call(ObjectOf(zoomValue).Get(), L"Percentage", DISPATCH_PROPERTYPUT, {Long(50)});
  Variant percentage = Call(ObjectOf(zoomValue).Get(), L"Percentage", DISPATCH_PROPERTYGET);
  EXPECT_EQ(LongOf(percentage), 50);

  Call(document.Get(), L"Save", DISPATCH_METHOD);
  std::string saved;
  LoadTextFile(saved, fixture);
  EXPECT_NE(saved.find("the meeting is on Tuesday."), std::string::npos) << saved;
  EXPECT_NE(saved.find("<protection type=\"0\" password=\"pw\"/>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<revision author=\"\xE6\x9D\x8E\xE5\x9B\x9B\">Tuesday</revision>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<variable name=\"Title\">"), std::string::npos) << saved;

  Call(document.Get(), L"Unprotect", DISPATCH_METHOD, {Text(password.Get())});
  Call(document.Get(), L"AcceptAllRevisions", DISPATCH_METHOD);
  Variant afterValue = Call(document.Get(), L"Revisions", DISPATCH_PROPERTYGET);
  Variant after = Call(ObjectOf(afterValue).Get(), L"Count", DISPATCH_PROPERTYGET);
  EXPECT_EQ(LongOf(after), 0);

  Variant normalValue = Call(word.Get(), L"NormalTemplate", DISPATCH_PROPERTYGET);
  Variant normalPath = Call(ObjectOf(normalValue).Get(), L"FullName", DISPATCH_PROPERTYGET);
  EXPECT_TRUE(FileExists(WideToAnsi(StringOf(normalPath)))) << "Normal.dot is a real file";
  Call(word.Get(), L"Quit", DISPATCH_METHOD);
}


TEST_F(WordDouble, BookmarksFieldsAndFormFields) {
  std::string path = work + "\\template.doc";
  std::ofstream(path, std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nibdoc><text>Head|Body|Tail</text>\n"
         "<bookmark name=\"\xE6\xAD\xA3\xE6\x96\x87\xE5\x86\x85\xE5\xAE\xB9" "B\" start=\"5\" end=\"5\"/>\n"
         "<bookmark name=\"Tail\" start=\"10\" end=\"14\"/>\n"
         "<variable name=\"Title\">Notice</variable>\n"
         "<field code=\" DOCVARIABLE Title \" result=\"\"/>\n"
         "<formfield name=\"Number\" result=\"\" default=\"\"/>\n</nibdoc>\n";
  ComPtr<IDispatch> word = StartWord();
  ASSERT_TRUE(word);
  ComPtr<IDispatch> document = Open(word.Get(), path);
  ASSERT_TRUE(document);

  Variant bookmarksValue = Call(document.Get(), L"Bookmarks", DISPATCH_PROPERTYGET);
  ComPtr<IDispatch> bookmarks = ObjectOf(bookmarksValue);
  Variant count = Call(bookmarks.Get(), L"Count", DISPATCH_PROPERTYGET);
  EXPECT_EQ(LongOf(count), 2);
  BStr bodyName(Utf8ToWide("正文内容B"));
  Variant body = Call(bookmarks.Get(), L"Item", DISPATCH_METHOD, {Text(bodyName.Get())});
  Variant bodyStart = Call(ObjectOf(body).Get(), L"Start", DISPATCH_PROPERTYGET);
  EXPECT_EQ(LongOf(bodyStart), 5);
  // Word's document collection is alphabetical: "Tail" before "正文内容B" whatever their places.
  Variant tail = Call(bookmarks.Get(), L"Item", DISPATCH_METHOD, {Long(1)});
  Variant tailRange = Call(ObjectOf(tail).Get(), L"Range", DISPATCH_PROPERTYGET);
  Variant tailText = Call(ObjectOf(tailRange).Get(), L"Text", DISPATCH_PROPERTYGET);
  EXPECT_EQ(StringOf(tailText), L"Tail");
  BStr missing(L"Nowhere");
  EXPECT_THROW(Call(bookmarks.Get(), L"Item", DISPATCH_METHOD, {Text(missing.Get())}), CallError);

  // The selection goes to a bookmark, moves right, and goes home.
  Variant selectionValue = Call(word.Get(), L"Selection", DISPATCH_PROPERTYGET);
  ComPtr<IDispatch> selection = ObjectOf(selectionValue);
  BStr tailName(L"Tail");
  Call(selection.Get(), L"GoTo", DISPATCH_METHOD, {Long(-1), Text(tailName.Get())}, {L"What", L"Name"});
  Variant selectionStart = Call(selection.Get(), L"Start", DISPATCH_PROPERTYGET);
  Variant selectionEnd = Call(selection.Get(), L"End", DISPATCH_PROPERTYGET);
  EXPECT_EQ(LongOf(selectionStart), 10);
  EXPECT_EQ(LongOf(selectionEnd), 14);
  Call(selection.Get(), L"HomeKey", DISPATCH_METHOD, {Long(6)});
  Call(selection.Get(), L"MoveRight", DISPATCH_METHOD, {Long(1), Long(4), Long(1)}, {L"Unit", L"Count", L"Extend"});
  Variant selectedRange = Call(selection.Get(), L"Range", DISPATCH_PROPERTYGET);
  Variant selectedText = Call(ObjectOf(selectedRange).Get(), L"Text", DISPATCH_PROPERTYGET);
  EXPECT_EQ(StringOf(selectedText), L"Head");
  BStr nowhere(L"Nowhere");
  EXPECT_THROW(Call(selection.Get(), L"GoTo", DISPATCH_METHOD, {Long(-1), Text(nowhere.Get())}, {L"What", L"Name"}),
               CallError);

  // Inserting before a bookmark moves it along.
  Variant head = Call(document.Get(), L"Range", DISPATCH_METHOD, {Long(0), Long(4)});
  BStr longer(L"Header");
  Call(ObjectOf(head).Get(), L"Text", DISPATCH_PROPERTYPUT, {Text(longer.Get())});
  Variant tailStart = Call(ObjectOf(tail).Get(), L"Start", DISPATCH_PROPERTYGET);
  EXPECT_EQ(LongOf(tailStart), 12);

  Variant fieldsValue = Call(document.Get(), L"Fields", DISPATCH_PROPERTYGET);
  Variant field = Call(ObjectOf(fieldsValue).Get(), L"Item", DISPATCH_METHOD, {Long(1)});
  Call(ObjectOf(field).Get(), L"Update", DISPATCH_METHOD);
  Variant resultRange = Call(ObjectOf(field).Get(), L"Result", DISPATCH_PROPERTYGET);
  Variant shown = Call(ObjectOf(resultRange).Get(), L"Text", DISPATCH_PROPERTYGET);
  EXPECT_EQ(StringOf(shown), L"Notice") << "a DOCVARIABLE field shows its variable after Update";

  Variant formFieldsValue = Call(document.Get(), L"FormFields", DISPATCH_PROPERTYGET);
  BStr number(L"Number"), value(L"2026-12");
  Variant formField = Call(ObjectOf(formFieldsValue).Get(), L"Item", DISPATCH_METHOD, {Text(number.Get())});
  Call(ObjectOf(formField).Get(), L"Result", DISPATCH_PROPERTYPUT, {Text(value.Get())});
  Variant input = Call(ObjectOf(formField).Get(), L"TextInput", DISPATCH_PROPERTYGET);
  Call(ObjectOf(input).Get(), L"Default", DISPATCH_PROPERTYPUT, {Text(value.Get())});
  Call(document.Get(), L"Save", DISPATCH_METHOD);
  std::string saved;
  LoadTextFile(saved, path);
  EXPECT_NE(saved.find("<formfield name=\"Number\" result=\"2026-12\" default=\"2026-12\"/>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<field code=\" DOCVARIABLE Title \" result=\"Notice\"/>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<bookmark name=\"Tail\" start=\"12\" end=\"16\"/>"), std::string::npos) << saved;
  Call(word.Get(), L"Quit", DISPATCH_METHOD);
}


// Where Word is stricter than a forgiving double would be.
TEST_F(WordDouble, StrictAsWord) {
  std::string path = work + "\\strict.doc";
  std::ofstream(path, std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nibdoc><text>zeta alpha mid</text>\n"
         "<bookmark name=\"zeta\" start=\"0\" end=\"4\"/>\n<bookmark name=\"Alpha\" start=\"5\" end=\"10\"/>\n"
         "<bookmark name=\"mid\" start=\"11\" end=\"14\"/>\n"
         "<formfield name=\"Text\" result=\"\" default=\"\"/>\n"
         "<formfield name=\"Urgent\" type=\"checkbox\" result=\"0\"/>\n"
         "<formfield name=\"Kind\" type=\"dropdown\" entries=\"Notice|Report\" result=\"Notice\"/>\n</nibdoc>\n";
  std::ofstream("c:\\doubles\\control.ini") << "[word]\ncaption=Word\n";
  ComPtr<IDispatch> word = StartWord();
  ASSERT_TRUE(word);
  ComPtr<IDispatch> document = Open(word.Get(), path);
  ASSERT_TRUE(document);

  // Bookmarks(i) of the document: alphabetical, case ignored.
  Variant bookmarksValue = Call(document.Get(), L"Bookmarks", DISPATCH_PROPERTYGET);
  ComPtr<IDispatch> bookmarks = ObjectOf(bookmarksValue);
  std::vector<std::wstring> names;
  for (long i = 1; i <= 3; ++i) {
    Variant item = Call(bookmarks.Get(), L"Item", DISPATCH_METHOD, {Long(i)});
    Variant name = Call(ObjectOf(item).Get(), L"Name", DISPATCH_PROPERTYGET);
    names.push_back(StringOf(name));
  }
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"mid", L"zeta"}));
  // A range's own collection is by place.
  Variant whole = Call(document.Get(), L"Range", DISPATCH_METHOD, {Long(0), Long(14)});
  Variant rangeMarks = Call(ObjectOf(whole).Get(), L"Bookmarks", DISPATCH_PROPERTYGET);
  Variant firstPlaced = Call(ObjectOf(rangeMarks).Get(), L"Item", DISPATCH_METHOD, {Long(1)});
  Variant firstName = Call(ObjectOf(firstPlaced).Get(), L"Name", DISPATCH_PROPERTYGET);
  EXPECT_EQ(StringOf(firstName), L"zeta");

  // Unprotect of a document that is not protected raises.
  EXPECT_THROW(Call(document.Get(), L"Unprotect", DISPATCH_METHOD, {Missing()}), CallError);

  // A document variable's value cannot be a zero-length string, added or set.
  Variant variablesValue = Call(document.Get(), L"Variables", DISPATCH_PROPERTYGET);
  ComPtr<IDispatch> variables = ObjectOf(variablesValue);
  BStr empty(L""), named(L"Empty"), some(L"x");
  EXPECT_THROW(Call(variables.Get(), L"Add", DISPATCH_METHOD, {Text(named.Get()), Text(empty.Get())}), CallError);
  Variant variable = Call(variables.Get(), L"Add", DISPATCH_METHOD, {Text(named.Get()), Text(some.Get())});
  EXPECT_THROW(Call(ObjectOf(variable).Get(), L"Value", DISPATCH_PROPERTYPUT, {Text(empty.Get())}), CallError);

  // Form fields have kinds; the wrong kind's object is not valid and raises when used.
  Variant formFieldsValue = Call(document.Get(), L"FormFields", DISPATCH_PROPERTYGET);
  ComPtr<IDispatch> formFields = ObjectOf(formFieldsValue);
  auto field = [&](const wchar_t* name) {
    BStr key(name);
    Variant item = Call(formFields.Get(), L"Item", DISPATCH_METHOD, {Text(key.Get())});
    return ObjectOf(item);
  };
  ComPtr<IDispatch> urgent = field(L"Urgent"), kind = field(L"Kind"), text = field(L"Text");
  Variant urgentType = Call(urgent.Get(), L"Type", DISPATCH_PROPERTYGET);
  Variant kindType = Call(kind.Get(), L"Type", DISPATCH_PROPERTYGET);
  Variant textType = Call(text.Get(), L"Type", DISPATCH_PROPERTYGET);
  EXPECT_EQ(LongOf(urgentType), 71);
  EXPECT_EQ(LongOf(kindType), 83);
  EXPECT_EQ(LongOf(textType), 70);
  Variant input = Call(urgent.Get(), L"TextInput", DISPATCH_PROPERTYGET);
  Variant valid = Call(ObjectOf(input).Get(), L"Valid", DISPATCH_PROPERTYGET);
  EXPECT_EQ(V_BOOL(valid.Get()), VARIANT_FALSE) << "asking does not fail";
  BStr something(L"x");
  EXPECT_THROW(Call(ObjectOf(input).Get(), L"Default", DISPATCH_PROPERTYPUT, {Text(something.Get())}), CallError);
  EXPECT_THROW(Call(urgent.Get(), L"Result", DISPATCH_PROPERTYPUT, {Text(something.Get())}), CallError);
  Variant box = Call(urgent.Get(), L"CheckBox", DISPATCH_PROPERTYGET);
  VARIANT ticked;
  V_VT(&ticked) = VT_BOOL;
  V_BOOL(&ticked) = VARIANT_TRUE;
  Call(ObjectOf(box).Get(), L"Value", DISPATCH_PROPERTYPUT, {ticked});
  Variant list = Call(kind.Get(), L"DropDown", DISPATCH_PROPERTYGET);
  Call(ObjectOf(list).Get(), L"Value", DISPATCH_PROPERTYPUT, {Long(2)});
  EXPECT_THROW(Call(ObjectOf(list).Get(), L"Value", DISPATCH_PROPERTYPUT, {Long(3)}), CallError);
  Call(document.Get(), L"Save", DISPATCH_METHOD);
  std::string saved;
  LoadTextFile(saved, path);
  EXPECT_NE(saved.find("<formfield name=\"Urgent\" result=\"1\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("<formfield name=\"Kind\" result=\"Report\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("<format name=\"doc\"/>"), std::string::npos) << "an opened .doc keeps its format";

  // Captions of Word 2013 and later, and the application's caption as automation sets it.
  HWND window = FindWindowW(L"OpusApp", L"strict.doc - Word");
  EXPECT_NE(window, nullptr) << "the caption style the test chose";
  Variant caption = Call(word.Get(), L"Caption", DISPATCH_PROPERTYGET);
  EXPECT_EQ(StringOf(caption), L"Word");
  BStr marked(L"Marked");
  Call(word.Get(), L"Caption", DISPATCH_PROPERTYPUT, {Text(marked.Get())});
  EXPECT_EQ(FindWindowW(L"OpusApp", L"strict.doc - Marked"), window);

  // A new document saved without a format is written in Word's default, whatever the name says.
  Variant documents = Call(word.Get(), L"Documents", DISPATCH_PROPERTYGET);
  Variant added = Call(ObjectOf(documents).Get(), L"Add", DISPATCH_METHOD);
  std::string fresh = work + "\\new.doc", old = work + "\\old.doc";
  BStr freshName(AnsiToWide(fresh)), oldName(AnsiToWide(old));
  Call(ObjectOf(added).Get(), L"SaveAs", DISPATCH_METHOD, {Text(freshName.Get())});
  std::string written;
  LoadTextFile(written, fresh);
  EXPECT_NE(written.find("<format name=\"docx\"/>"), std::string::npos) << written;
  Call(ObjectOf(added).Get(), L"SaveAs", DISPATCH_METHOD, {Text(oldName.Get()), Long(0)}, {L"FileName", L"FileFormat"});
  LoadTextFile(written, old);
  EXPECT_NE(written.find("<format name=\"doc\"/>"), std::string::npos) << "wdFormatDocument: Word 97-2003";
  Call(word.Get(), L"Quit", DISPATCH_METHOD);
}

TEST_F(WordDouble, ShapesKeepTheirLineFormat) {
  std::string fixture = Fixture("lines.doc", "page one");
  ComPtr<IDispatch> word = StartWord();
  ASSERT_TRUE(word);
  ComPtr<IDispatch> document = Open(word.Get(), fixture);
  ASSERT_TRUE(document);
  Variant shapesValue = Call(document.Get(), L"Shapes", DISPATCH_PROPERTYGET);
  ComPtr<IDispatch> shapes = ObjectOf(shapesValue);
  Variant added = Call(shapes.Get(), L"AddLine", DISPATCH_METHOD, {Long(90), Long(200), Long(505), Long(200)});
  ComPtr<IDispatch> line = ObjectOf(added);
  ASSERT_TRUE(line);
  BStr name(L"Line 50");
  Call(line.Get(), L"Name", DISPATCH_PROPERTYPUT, {Text(name.Get())});
  Variant width = Call(line.Get(), L"Width", DISPATCH_PROPERTYGET);
  EXPECT_EQ(StringOf(width), L"415");
  Variant formatValue = Call(line.Get(), L"Line", DISPATCH_PROPERTYGET);
  Call(ObjectOf(formatValue).Get(), L"Weight", DISPATCH_PROPERTYPUT, {Long(2)});
  Variant colorValue = Call(ObjectOf(formatValue).Get(), L"ForeColor", DISPATCH_PROPERTYGET);
  Call(ObjectOf(colorValue).Get(), L"RGB", DISPATCH_PROPERTYPUT, {Long(0xC1C1C1)});

  Variant found = Call(shapes.Get(), L"Item", DISPATCH_METHOD, {Text(name.Get())});
  Variant foundLine = Call(ObjectOf(found).Get(), L"Line", DISPATCH_PROPERTYGET);
  Variant foundColor = Call(ObjectOf(foundLine).Get(), L"ForeColor", DISPATCH_PROPERTYGET);
  Variant rgb = Call(ObjectOf(foundColor).Get(), L"RGB", DISPATCH_PROPERTYGET);
  EXPECT_EQ(LongOf(rgb), 0xC1C1C1) << "the shape found by name has the colour set";
  Call(document.Get(), L"Save", DISPATCH_METHOD);
  std::string saved;
  LoadTextFile(saved, fixture);
  EXPECT_NE(saved.find("<shape name=\"Line 50\" type=\"line\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("Line.ForeColor.RGB=12698049"), std::string::npos) << saved;
  Call(word.Get(), L"Quit", DISPATCH_METHOD);
}

// Each story numbers its characters from 0, as in Word: Document.Range and
// Document.Shapes are the main text's, a header's bookmark, shapes and
// fields are reached through that header, and selecting a shape anchored
// there moves the selection into it.
TEST_F(WordDouble, StoriesNumberTheirOwnCharacters) {
  std::string fixture = work + "\\stories.doc";
  std::ofstream(fixture, std::ios::binary)
      << "<nibdoc><text>Body text</text><story type=\"10\">Header</story>"
         "<bookmark name=\"H\" start=\"0\" end=\"6\" story=\"1\"/>"
         "<shape name=\"Line 50\" type=\"line\" properties=\"Anchor=2\" anchorstory=\"1\"/>"
         "<shape name=\"Line 9\" type=\"line\" properties=\"Anchor=1\"/></nibdoc>";
  ComPtr<IDispatch> word = StartWord();
  ASSERT_TRUE(word);
  DispObject document(Open(word.Get(), fixture));
  EXPECT_EQ(document.CallObject(L"Range", {Arg(0L), Arg(6L)}).Text(L"Text"), L"Body t") << "the main text only";
  DispObject mark = document.Object(L"Bookmarks").CallObject(L"Item", {Arg(L"H")});
  EXPECT_EQ(mark.Long(L"StoryType"), 10);
  DispObject header = mark.Object(L"Range");
  EXPECT_EQ(header.Text(L"Text"), L"Header");
  EXPECT_FALSE(BoolOf(header.Call(L"InRange", {Arg(document.CallObject(L"Range").Get())})))
      << "the same numbers in another story are elsewhere";
  EXPECT_EQ(document.Object(L"StoryRanges").CallObject(L"Item", {Arg(10L)}).Text(L"Text"), L"Header");
  EXPECT_THROW(document.Object(L"StoryRanges").CallObject(L"Item", {Arg(7L)}), ComError) << "no primary header";
  EXPECT_EQ(document.Object(L"Shapes").Long(L"Count"), 1) << "the main text's shapes only";
  DispObject headerShape = HeaderFooterShapes(document).CallObject(L"Item", {Arg(1L)});
  EXPECT_EQ(headerShape.Text(L"Name"), L"Line 50");
  EXPECT_EQ(headerShape.Object(L"Anchor").Long(L"StoryType"), 10);
  headerShape.Call(L"Select");
  DispObject selection = DispObject(word).Object(L"Selection");
  EXPECT_EQ(selection.Long(L"StoryType"), 10) << "the selection went into the header";
  EXPECT_EQ(selection.Long(L"Start"), 2);
  DispObject(word).Call(L"Quit");
}

TEST_F(WordDouble, ACrashedDoubleIsAFailedCallNotAHang) {
  ComPtr<IDispatch> word = StartWord();
  ASSERT_TRUE(word);
  Call(word.Get(), L"Visible", DISPATCH_PROPERTYGET);
  DWORD pid = 0;
  for (HWND w = FindWindowW(L"OpusApp", nullptr); w && !pid; w = FindWindowExW(nullptr, w, L"OpusApp", nullptr))
    GetWindowThreadProcessId(w, &pid);
  ASSERT_NE(pid, 0u);
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  ASSERT_NE(process, nullptr);
  TerminateProcess(process, 3);
  WaitForSingleObject(process, 5000);
  CloseHandle(process);
  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(Call(word.Get(), L"Visible", DISPATCH_PROPERTYGET), CallError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << "the call came back";
}

TEST_F(WordDouble, PrintOutIsRecordedAndMacrosFail) {
  std::string fixture = Fixture("print.doc", "to be printed");
  ComPtr<IDispatch> word = StartWord();
  ASSERT_TRUE(word);
  ComPtr<IDispatch> document = Open(word.Get(), fixture);
  ASSERT_TRUE(document);
  VARIANT no;
  V_VT(&no) = VT_BOOL;
  V_BOOL(&no) = VARIANT_FALSE;
  Call(document.Get(), L"PrintOut", DISPATCH_METHOD, {no}, {L"Background"});
  std::string log;
  LoadTextFile(log, "c:\\doubles\\calls.log");
  EXPECT_NE(log.find("Document.PrintOut\tFalse"), std::string::npos) << "the arguments are recorded";
  EXPECT_NE(log.find("Document.PrintOut.text\tto be printed"), std::string::npos) << "and what would print";
  BStr macro(L"InsertFileMacro");
  EXPECT_THROW(Call(word.Get(), L"Run", DISPATCH_METHOD, {Text(macro.Get())}), CallError);
  Call(word.Get(), L"Quit", DISPATCH_METHOD);
}

// The settle switches: a Word that shows what it did a moment later (still
// starting, its window not yet up, a closed file not yet let go of), for the
// system's waits to be tested against.
TEST_F(WordDouble, SettleSwitchesDelayWhatWordShows) {
  std::string file = Fixture("settle.doc", "Body"), other = Fixture("other.doc", "Other");
  std::ofstream("c:\\doubles\\control.ini") << "[settle]\r\nstart=600\r\nwindow=400\r\nrelease=500\r\n";
  ComPtr<IDispatch> raw = StartWord();
  ASSERT_TRUE(raw);
  LPOLESTR name = const_cast<LPOLESTR>(L"Name");
  DISPID id = 0;
  ASSERT_EQ(raw->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
  DISPPARAMS none{};
  Variant answer;
  EXPECT_EQ(raw->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, answer.Get(), nullptr, nullptr),
            RPC_E_SERVERCALL_RETRYLATER) << "a Word still starting refuses calls";
  DispObject word(raw);
  EXPECT_TRUE(WaitUntil(3000, [&] { return WordAnswers(word); })) << "and answers once started";

  word.Put(L"Visible", true);
  HWND window = FindWindowW(L"OpusApp", nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindowVisible(window)) << "the window is not up at once";
  EXPECT_TRUE(WaitUntil(3000, [&] { return IsWindowVisible(window) != FALSE; })) << "but a moment later";

  DispObject documents = word.Object(L"Documents");
  DispObject first = documents.CallObject(L"Open", {Arg::Ansi(file)});
  DispObject second = documents.CallObject(L"Open", {Arg::Ansi(other)});
  EXPECT_THROW(second.Call(L"SaveAs", {Arg::Ansi(file)}), ComError) << "no SaveAs onto a file Word holds";
  first.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
  EXPECT_TRUE(IsFileInUse(file)) << "a closed document's file is let go of a moment later";
  EXPECT_THROW(second.Call(L"SaveAs", {Arg::Ansi(file)}), ComError);
  EXPECT_TRUE(WaitUntil(3000, [&] { return !IsFileInUse(file); }));
  second.Call(L"SaveAs", {Arg::Ansi(file)});
  EXPECT_TRUE(IsDocumentOf(second, file));
  word.Call(L"Quit");
}

}  // namespace
}  // namespace nib::test
