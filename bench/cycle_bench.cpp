// What the clerk waits for against the work it takes, side by side:
//   - the whole unattended cycle (OpenFile "3" to "OK:n") against the sum of its
//     parts done alone: download, Word open/save/HTML/quit, pack, upload;
//   - 套用模板 pressed until the window shows the template applied, against the
//     Word calls that apply it made directly;
//   - 保存并关闭 pressed until the page hears quit/Save, against the save,
//     conversion, pack and upload done directly.
//   cycle_bench <base url> <document name> <template name> <work folder>
// Prints the seconds of each as name=value.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "com/BStr.h"
#include "com/ComError.h"
#include "com/Dispatch.h"
#include "com/StrConv.h"
#include "convert/Qozer.h"
#include "server/Guids.h"
#include "services/Files.h"
#include "services/JustHttp.h"
#include "word/WordUtil.h"

using Microsoft::WRL::ComPtr;

namespace {

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <class Action>
double Timed(Action&& action) {
  double start = Now();
  action();
  return Now() - start;
}

// The parts as a caller of Word and the HTTP component would do them, no waits.
void Parts(const std::string& base, const std::string& document, const std::string& work) {
  std::string local = work + "\\part.doc", html = work + "\\part.htm", archive = work + "\\part.Qoz";
  double download = Timed([&] {
    if (!nib::TJustHttp::DownloadToFile(base + "/" + document, local)) throw nib::ComError("download failed", E_FAIL);
  });
  double word = Timed([&] {
    nib::WordServer server;
    server.ConnectNew();
    nib::DispObject opened = server.app.Object(L"Documents").CallObject(L"Open", {nib::Arg::Ansi(local)});
    opened.Call(L"SaveAs", {}, {{L"FileName", nib::Arg::Ansi(html)}, {L"FileFormat", nib::Arg(8)}});
    opened.Call(L"Close", {}, {{L"SaveChanges", nib::Arg(false)}});
    opened = nib::DispObject();
    server.app.Call(L"Quit");
    server.Disconnect();
  });
  double pack = Timed([&] { nib::PackHtmlFolder(html, archive); });
  double upload = Timed([&] {
    nib::TJustHttp http;
    http.UploadFile(base + "/upload?id=bench-parts&reply=OK", archive);
    if (!http.LastUploadDelivered()) throw nib::ComError("upload failed", E_FAIL);
  });
  std::printf("download=%.3f word=%.3f pack=%.3f upload=%.3f\n", download, word, pack, upload);
}

// A page's object set up for `document`, and for `templateName` when given.
ComPtr<INibWord> NewPage(const std::string& base, const std::string& document, const std::string& templateName = "") {
  ComPtr<INibWord> page;
  nib::ThrowIfFailed(CoCreateInstance(CLSID_NibWord, nullptr, CLSCTX_INPROC_SERVER, IID_INibWord,
                                      reinterpret_cast<void**>(page.GetAddressOf())),
                     "creating the object");
  auto set = [&](HRESULT (STDMETHODCALLTYPE INibWord::*setter)(BSTR), const std::string& value) {
    nib::BStr text = nib::BStr::FromAnsi(value);
    nib::ThrowIfFailed((page.Get()->*setter)(text.Get()), "configuring");
  };
  set(&INibWord::SetDownURL, base + "/" + document);
  set(&INibWord::SetUpURL, base + "/upload?id=bench-page&reply=OK");
  set(&INibWord::setSucceedPrefix, "OK");
  set(&INibWord::SetDocTmplDLURL, templateName.empty() ? "" : base + "/" + templateName);
  // Templates are offered for official documents.
  if (!templateName.empty()) nib::ThrowIfFailed(page->SetIsPrinter(VARIANT_TRUE), "configuring");
  return page;
}

void Whole(const std::string& base, const std::string& document) {
  ComPtr<INibWord> page = NewPage(base, document);
  nib::BStr three(L"3"), none(L""), result;
  double whole = Timed([&] { nib::ThrowIfFailed(page->OpenFile(three.Get(), none.Get(), result.Out()), "OpenFile"); });
  std::printf("result=%s whole=%.3f\n", nib::WideToAnsi(result.Wide()).c_str(), whole);
}

HWND Button(int index) {
  HWND window = FindWindowW(L"TFrmUserCtrlPop", nullptr);
  HWND toolbar = window ? FindWindowExW(window, nullptr, L"TToolBar", nullptr) : nullptr;
  if (!toolbar) throw nib::ComError("no control window", E_FAIL);
  return GetDlgItem(toolbar, 100 + index);
}

// Answers "在套用模板前是否先保存正文？" with 否, as the clerk who saved already does.
class NoToTheQuestion {
 public:
  NoToTheQuestion()
      : thread_([this] {
          while (!stop_) {
            if (HWND box = FindWindowW(L"#32770", nullptr)) PostMessageW(box, WM_COMMAND, IDNO, 0);
            Sleep(2);
          }
        }) {}
  ~NoToTheQuestion() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The clerk's two presses, each timed until the window (or the page) shows its outcome.
void Clerk(const std::string& base, const std::string& document, const std::string& templateName) {
  ComPtr<INibWord> page = NewPage(base, document, templateName);
  nib::BStr one(L"1"), none(L""), result;
  nib::ThrowIfFailed(page->OpenFile(one.Get(), none.Get(), result.Out()), "OpenFile");
  double apply;
  {
    NoToTheQuestion no;
    apply = Timed([&] { SendMessageW(Button(3), BM_CLICK, 0, 0); });
  }
  wchar_t caption[32] = L"";
  GetWindowTextW(Button(3), caption, 32);
  if (std::wstring(caption) == nib::AnsiToWide("套用模板", CP_UTF8)) throw nib::ComError("the template was not applied", E_FAIL);
  SendMessageW(Button(3), BM_CLICK, 0, 0);  // removed again: 保存并关闭 is offered without a template
  double save = Timed([&] { SendMessageW(Button(0), BM_CLICK, 0, 0); });
  if (FindWindowW(L"TFrmUserCtrlPop", nullptr)) throw nib::ComError("the cycle did not end", E_FAIL);
  std::printf("template_clerk=%.3f save_clerk=%.3f\n", apply, save);
}

using nib::Arg;
using nib::DispObject;

// The revisions display as the driver switches it (its four calls).
void HideRevisions(DispObject& document) {
  document.Bool(L"ShowRevisions");
  document.Put(L"ShowRevisions", false);
  document.Put(L"PrintRevisions", false);
  document.Bool(L"ShowRevisions");
}

DispObject Zoom(DispObject& document) {
  return document.Object(L"ActiveWindow").Object(L"ActivePane").Object(L"View").Object(L"Zoom");
}

// Word's window found by its caption, as the driver finds it.
void FindByCaption(DispObject& app) {
  std::wstring own = app.Text(L"Caption");
  app.Put(L"Caption", std::wstring(L"NibWordLib bench"));
  FindWindowW(L"OpusApp", L"NibWordLib bench");
  app.Put(L"Caption", own);
}

// The same Word calls as 套用模板 and 保存并关闭 make (the double's call log of
// the clerk's presses, in order), made directly one after another: what the
// presses cost beyond them is the system's own (its waits among it).
void TemplateCalls(const std::string& base, const std::string& document, const std::string& templateName,
                   const std::string& work) {
  std::string local = work + "\\tmpl-work.doc", tmpl = work + "\\tmpl.doc", copy = work + "\\tmpl-copy.doc";
  if (!nib::TJustHttp::DownloadToFile(base + "/" + document, local) ||
      !nib::TJustHttp::DownloadToFile(base + "/" + templateName, tmpl))
    throw nib::ComError("download failed", E_FAIL);
  nib::WordServer server;
  server.ConnectNew();
  DispObject& app = server.app;
  app.Put(L"Visible", true);
  DispObject documents = app.Object(L"Documents");
  DispObject working = documents.CallObject(L"Open", {Arg::Ansi(local)});
  const std::wstring password = L"BENCH";
  working.Call(L"Protect", {Arg(0), Arg::Omitted(), Arg(password)});  // as the cycle opens it, revisions only
  const std::string begin = nib::Gb("正文内容B"), end = nib::Gb("正文内容E");
  auto bookmarkEnd = [](DispObject& doc, const std::string& name) {
    return doc.Object(L"Bookmarks").CallObject(L"Item", {Arg::Ansi(name)}).Long(L"End");
  };
  double calls = Timed([&] {
    // The view as it was, then Word made small while the template goes in.
    working.Long(L"ProtectionType");
    working.Bool(L"ShowRevisions");
    long state = app.Long(L"WindowState");
    long zoom = Zoom(working).Long(L"Percentage");
    app.Put(L"WindowState", 0L);
    app.Call(L"Activate");
    for (const wchar_t* size : {L"Width", L"Height", L"Left", L"Top"}) app.Put(size, 50L);
    working.Long(L"ProtectionType");
    working.Call(L"Unprotect", {Arg(password)});
    DispObject t = app.Object(L"Documents").CallObject(L"Open", {}, {{L"FileName", Arg::Ansi(tmpl)}, {L"AddToRecentFiles", Arg(false)}});
    working.Call(L"Save");
    working.Bool(L"Saved");
    working.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
    CopyFileW(nib::AnsiToWide(local).c_str(), nib::AnsiToWide(copy).c_str(), FALSE);
    t.Call(L"Activate");
    long bodyStart = bookmarkEnd(t, begin), bodyEnd = bookmarkEnd(t, end);
    DispObject body = t.CallObject(L"Range", {Arg(bodyStart), Arg(bodyEnd - 1)});
    body.Call(L"InsertFile", {}, {{L"FileName", Arg::Ansi(copy)}});
    app.Text(L"Name");
    MoveFileExW(nib::AnsiToWide(local).c_str(), nib::AnsiToWide(local + ".keep").c_str(), MOVEFILE_REPLACE_EXISTING);
    t.Call(L"SaveAs", {}, {{L"FileName", Arg::Ansi(local)}, {L"FileFormat", Arg(0)}, {L"AddToRecentFiles", Arg(false)}});
    DeleteFileW(nib::AnsiToWide(local + ".keep").c_str());
    t.Call(L"Close", {}, {{L"SaveChanges", Arg(true)}});
    working = app.Object(L"Documents").CallObject(L"Open", {}, {{L"FileName", Arg::Ansi(local)}, {L"AddToRecentFiles", Arg(false)}});
    working.Text(L"FullName");
    // The fill looks for the document's fields (none here), then the body and the template's bookmarks.
    working.Object(L"Application");
    working.Call(L"Activate");
    bodyStart = bookmarkEnd(working, begin);
    bodyEnd = bookmarkEnd(working, end);
    working.CallObject(L"Range", {Arg(bodyStart), Arg(bodyEnd - 1)}).Long(L"Start");
    bookmarkEnd(working, begin);
    bookmarkEnd(working, end);
    DispObject bookmarks = working.Object(L"Bookmarks");
    long count = bookmarks.Long(L"Count");
    for (long k = 1; k <= count; ++k) bookmarks.CallObject(L"Item", {Arg(k)}).Text(L"Name");
    DispObject selection = app.Object(L"Selection");
    selection.Call(L"GoTo", {}, {{L"What", Arg(-1)}, {L"Name", Arg::Ansi(begin)}});
    selection.Call(L"MoveRight", {}, {{L"Unit", Arg(1)}, {L"Count", Arg(1)}});
    working.Call(L"Save");
    // The view given back.
    working.Long(L"ProtectionType");
    working.Call(L"Protect", {Arg(0), Arg::Omitted(), Arg(password)});
    HideRevisions(working);
    Zoom(working).Put(L"Percentage", zoom);
    app.Put(L"WindowState", state);
    app.Call(L"Activate");
    FindByCaption(app);
    app.Long(L"WindowState");
    HideRevisions(working);
  });
  std::string html = work + "\\save.htm", archive = work + "\\save.Qoz";
  double save = Timed([&] {
    HideRevisions(working);
    working.Text(L"FullName");
    working.Bool(L"ShowRevisions");
    working.Long(L"ProtectionType");
    working.Call(L"Unprotect", {Arg(password)});
    working.Put(L"ShowRevisions", false);
    working.Call(L"Save");
    working.Long(L"ProtectionType");
    working.Call(L"Protect", {Arg(0), Arg::Omitted(), Arg(password)});
    HideRevisions(working);
    // The conversion, in the cycle's Word.
    app.Text(L"Name");
    app.Put(L"Visible", true);
    app.Bool(L"Visible");
    DispObject page = app.Object(L"Documents").CallObject(L"Open", {Arg::Ansi(local)});
    page.Text(L"FullName");
    if (page.Long(L"ProtectionType") == -1) page.Call(L"AcceptAllRevisions");
    page.Call(L"SaveAs", {}, {{L"FileName", Arg::Ansi(html)}, {L"FileFormat", Arg(8)}, {L"LockComments", Arg(false)},
                             {L"AddToRecentFiles", Arg(true)}});
    page.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
    nib::PackHtmlFolder(html, archive);
    nib::TJustHttp http;
    http.UploadFile(base + "/upload?id=bench-save-parts&reply=OK", archive);
    if (!http.LastUploadDelivered()) throw nib::ComError("upload failed", E_FAIL);
    page = DispObject();
    working = DispObject();
    documents = DispObject();
    app.Call(L"Quit", {}, {{L"SaveChanges", Arg(false)}});
    server.Disconnect();
  });
  std::printf("template_calls=%.3f save_calls=%.3f\n", calls, save);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  try {
    Parts(argv[1], argv[2], argv[4]);
    Whole(argv[1], argv[2]);
    TemplateCalls(argv[1], argv[2], argv[3], argv[4]);
    Clerk(argv[1], argv[2], argv[3]);
  } catch (const nib::ComError& e) {
    std::printf("failed=%s\n", e.what());
    return 1;
  }
  CoUninitialize();
  return 0;
}
