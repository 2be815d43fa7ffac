#include "convert/Qozer.h"

#include <filesystem>

#include "com/ComError.h"
#include "com/StrConv.h"
#include "services/Files.h"
#include "services/Locale.h"
#include "services/TextUtil.h"
#include "services/UniqueName.h"
#include "services/WindowUtil.h"
#include "ui/MessageDialog.h"
#include "zip/ZipWriter.h"

namespace nib {
namespace {

constexpr CLSID kExcelClass = {0x00024500, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr CLSID kPowerPointClass = {0x91493441, 0x5A91, 0x11CF, {0x87, 0x00, 0x00, 0xAA, 0x00, 0x60, 0x26, 0x3B}};
constexpr long kWordHtml = 8;
constexpr long kExcelHtml = 44;
constexpr long kPowerPointHtml = 12;

void Warn(const std::string& gbText) { ShowMessageDialog(UiText(gbText), kDlgWarning, 1u << kOk, 0); }

// A new instance of an Office application other than Word; empty when it cannot start.
DispObject StartOffice(const CLSID& type) {
  Microsoft::WRL::ComPtr<IDispatch> application;
  if (FAILED(CoCreateInstance(type, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&application)))) return DispObject();
  return DispObject(application);
}

// Quits the application when the conversion ends, however it ends.
struct QuitWhenDone {
  DispObject& application;
  ~QuitWhenDone() {
    try {
      application.Call(L"Quit");
    } catch (const ComError&) {
      // Already gone: nothing left to end.
    }
    application = DispObject();
  }
};

std::filesystem::path PathOf(const std::string& ansi) { return std::filesystem::path(AnsiToWide(ansi)); }

}  // namespace

TQozer::TQozer() { SetDocExtFiles(kDefaultDocExtFiles); }

void TQozer::SetDocExtFiles(const std::string& value) {
  if (value == docExtFiles_ && !types_.empty()) return;
  docExtFiles_ = value;
  std::string result = ParseDocExtFiles(value, types_);
  if (result != "OK")
    Warn(Gb("\r\n赋给控件属性DocExtFiles的属性值不正确,不支持文档类型: ") + result.substr(3) + "!");
}

int TQozer::FindDocType(const std::string& extension, bool) const { return nib::FindDocType(types_, extension); }

std::string TQozer::Convert(const std::string& source, bool showMessage, bool wordFolder) {
  std::string file = source;
  bool copied = false;
  if (IsFileInUse(source)) {
    file = MakeTempName(source, "", true, true, false, false);
    if (!CopyFileW(AnsiToWide(source).c_str(), AnsiToWide(file).c_str(), FALSE)) return "";
    copied = true;
  }
  struct RemoveCopy {
    bool copied;
    const std::string& file;
    ~RemoveCopy() {
      if (copied) DeleteFileW(AnsiToWide(file).c_str());
    }
  } removeCopy{copied, file};

  std::string extension = ExtensionOfPath(file);
  if (!extension.empty()) extension.erase(0, 1);
  int type = FindDocType(extension, showMessage);
  if (type < 0) {
    if (showMessage) Warn(Gb("\r\n不支持对扩展名为 ") + extension + Gb(" 的文件进行MHT转换!"));
    return "";
  }
  std::string name = FileNameOfPath(file);
  std::string archive = FolderOfPath(file) + name.substr(0, name.size() - ExtensionOfPath(name).size()) + ".Qoz";
  const std::string& app = types_[static_cast<size_t>(type)].app;
  bool converted = TextEquals(app, "Word")    ? ConvertWord(file, archive, wordFolder)
                   : TextEquals(app, "Excel") ? ConvertExcel(file, archive)
                                              : ConvertPowerPoint(file, archive);
  return converted ? archive : "";
}

std::string TQozer::HtmlFileName(const std::string& archive, bool inArchiveFolder) {
  std::string name = FileNameOfPath(archive);
  std::string base = name.substr(0, name.size() - ExtensionOfPath(name).size());
  if (inArchiveFolder) return FolderOfPath(archive) + base + ".htm";
  std::string folder = TempFolderPath() + NewUniqueName();
  CreateDirectoryW(AnsiToWide(folder).c_str(), nullptr);
  return folder + "\\" + base + ".htm";
}

std::string TQozer::NamedHtmlFile(const std::string& archive, bool inArchiveFolder) {
  std::string html = HtmlFileName(archive, inArchiveFolder);
  if (OnHtmlFileName) OnHtmlFileName(html);
  return html;
}

bool TQozer::ConvertWord(const std::string& file, const std::string& archive, bool wordFolder) {
  int how = 0;
  if (!TWordUtil::AttachOrStartWord(word_, cycleWord_.Get(), how, true)) return false;
  struct Release {
    WordServer& word;
    bool quit;
    ~Release() { TWordUtil::ReleaseWord(word, quit); }
  } release{word_, how == 1};
  WaitUntil(100, [&] { return WordAnswers(word_.app); });
  word_.app.Put(L"Visible", true);
  WaitUntil(100, [&] { return word_.app.Bool(L"Visible"); });
  DispObject document = word_.app.Object(L"Documents").CallObject(L"Open", {Arg::Ansi(file)});
  WaitUntil(100, [&] { return IsDocumentOf(document, file); });
  // Word refuses AcceptAllRevisions on a protected document, and a document
  // that came protected with a password nobody gave stays so (lifting it would
  // ask for the password in Word's dialog): its page shows the revisions as
  // they stand rather than not being made at all.
  constexpr long kUnprotected = -1;
  if (document.Long(L"ProtectionType") == kUnprotected) document.Call(L"AcceptAllRevisions");
  std::string html = NamedHtmlFile(archive, wordFolder);
  document.Call(L"SaveAs", {},
                {{L"FileName", Arg::Ansi(html)},
                 {L"FileFormat", Arg(kWordHtml)},
                 {L"LockComments", Arg(false)},
                 {L"AddToRecentFiles", Arg(true)}});
  document.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
  document = DispObject();
  TWordUtil::ReleaseWord(word_, how == 1);
  // Packed only once Word (perhaps quitting) has let go of the page it wrote.
  WaitUntil(300, [&] { return FileExists(html) && !IsFileInUse(html); });
  if (OnHtmlConverted) OnHtmlConverted(html);
  PackHtmlFolder(html, archive);
  DeleteHtmlAndFiles(html);
  return true;
}

bool TQozer::ConvertExcel(const std::string& file, const std::string& archive) {
  DispObject excel = StartOffice(kExcelClass);
  if (!excel) {
    Warn(Gb("\r\n不能启动Excel !"));
    return false;
  }
  QuitWhenDone quit{excel};
  excel.Put(L"Visible", false);
  ForbidMacros(excel);
  // An invisible Excel has nobody to answer its questions (save changes?
  // links?): none are asked.
  excel.Put(L"DisplayAlerts", false);
  // UpdateLinks omitted asks the user how to update the workbook's links; the
  // page is made from the workbook as it is (0: no update), and read-only: the
  // conversion never writes the user's file.
  constexpr long kDontUpdateLinks = 0;
  DispObject workbook = excel.Object(L"Workbooks")
                            .CallObject(L"Open", {}, {{L"Filename", Arg::Ansi(file)},
                                                      {L"UpdateLinks", Arg(kDontUpdateLinks)},
                                                      {L"ReadOnly", Arg(true)}});
  std::string html = NamedHtmlFile(archive, false);
  workbook.Call(L"SaveAs", {Arg::Ansi(html), Arg(kExcelHtml)});
  PackHtmlFolder(html, archive);
  workbook.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
  DeleteHtmlAndFiles(html);
  return true;
}

bool TQozer::ConvertPowerPoint(const std::string& file, const std::string& archive) {
  DispObject powerPoint = StartOffice(kPowerPointClass);
  if (!powerPoint) {
    Warn(Gb("\r\n不能启动PowerPoint !"));
    return false;
  }
  QuitWhenDone quit{powerPoint};
  powerPoint.Put(L"Visible", -1L);
  ForbidMacros(powerPoint);
  DispObject presentation = powerPoint.Object(L"Presentations")
                                .CallObject(L"Open", {Arg::Ansi(file), Arg(0L), Arg(0L), Arg(-1L)});
  std::string html = NamedHtmlFile(archive, false);
  // PowerPoint 2013 and later have no web-page format and refuse it: the
  // conversion fails with PowerPoint's text, and PowerPoint is quit (the
  // presentation is closed first, so that nothing keeps it running).
  try {
    presentation.Call(L"SaveAs", {Arg::Ansi(html), Arg(kPowerPointHtml), Arg(0L)});
  } catch (const ComError&) {
    try {
      presentation.Call(L"Close");
    } catch (const ComError&) {
      // Quitting PowerPoint below closes it as well.
    }
    throw;
  }
  PackHtmlFolder(html, archive);
  presentation.Call(L"Close");
  DeleteHtmlAndFiles(html);
  return true;
}

int PackHtmlFolder(const std::string& htmlFile, const std::string& archive) {
  ZipWriter zip;
  zip.SetRootFolder(PathOf(FolderOfPath(htmlFile)));
  zip.AddMask("*.*");
  zip.SetRelativePaths(true);
  zip.SetArchiveName(PathOf(archive));
  try {
    return zip.Pack();
  } catch (const std::exception& e) {
    Fail(std::string("packing the HTML page: ") + e.what());
  }
}

}  // namespace nib
