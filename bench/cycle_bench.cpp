// The whole unattended cycle (OpenFile "3" to "OK:n") against the sum of its
// parts done alone: download, Word open/save/HTML/quit, pack, upload.
//   cycle_bench <base url> <document name> <work folder>
// Prints the seconds of each, "whole" last.
#include <windows.h>

#include <cstdio>
#include <string>

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

void Whole(const std::string& base, const std::string& document) {
  ComPtr<INibWord> page;
  nib::ThrowIfFailed(CoCreateInstance(CLSID_NibWord, nullptr, CLSCTX_INPROC_SERVER, IID_INibWord,
                                      reinterpret_cast<void**>(page.GetAddressOf())),
                     "creating the object");
  auto set = [&](HRESULT (STDMETHODCALLTYPE INibWord::*setter)(BSTR), const std::string& value) {
    nib::BStr text = nib::BStr::FromAnsi(value);
    nib::ThrowIfFailed((page.Get()->*setter)(text.Get()), "configuring");
  };
  set(&INibWord::SetDownURL, base + "/" + document);
  set(&INibWord::SetUpURL, base + "/upload?id=bench-whole&reply=OK");
  set(&INibWord::setSucceedPrefix, "OK");
  nib::BStr three(L"3"), none(L""), result;
  double whole = Timed([&] { nib::ThrowIfFailed(page->OpenFile(three.Get(), none.Get(), result.Out()), "OpenFile"); });
  std::printf("result=%s whole=%.3f\n", nib::WideToAnsi(result.Wide()).c_str(), whole);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  try {
    Parts(argv[1], argv[2], argv[3]);
    Whole(argv[1], argv[2]);
  } catch (const nib::ComError& e) {
    std::printf("failed=%s\n", e.what());
    return 1;
  }
  CoUninitialize();
  return 0;
}
