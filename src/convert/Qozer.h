#pragma once
// TQozer: turns a Word, Excel or PowerPoint file into an HTML page with its
// supporting files by having the Office application save it as HTML, and
// packs the page's folder into one ZIP archive ("<name>.Qoz") beside the
// file. The Office applications are reached through automation, out of
// process.

#include <functional>
#include <string>
#include <vector>

#include "convert/DocTypes.h"
#include "word/WordUtil.h"

namespace nib {

class TQozer {
 public:
  TQozer();

  // The path of the HTML file once Word saved it, before it is packed.
  std::function<void(const std::string& htmlFile)> OnHtmlConverted;
  // The path of the HTML file about to be written; the handler may change it.
  std::function<void(std::string& htmlFile)> OnHtmlFileName;

  const std::string& DocExtFiles() const { return docExtFiles_; }
  void SetDocExtFiles(const std::string& value);
  int FindDocType(const std::string& extension, bool showMessage) const;

  // The archive's path, or empty when nothing was converted. Failing Office
  // calls throw ComError; the Office application is released first.
  std::string Convert(const std::string& source, bool showMessage, bool wordFolder);
  // The Word of the running edit cycle, which converts Word documents; with
  // none, a Word of the conversion's own is started and quit.
  void UseWord(IDispatch* cycleWord) { cycleWord_ = cycleWord; }

 private:
  bool ConvertWord(const std::string& file, const std::string& archive, bool wordFolder);
  bool ConvertExcel(const std::string& file, const std::string& archive);
  bool ConvertPowerPoint(const std::string& file, const std::string& archive);
  std::string HtmlFileName(const std::string& archive, bool inArchiveFolder);
  std::string NamedHtmlFile(const std::string& archive, bool inArchiveFolder);

  std::string docExtFiles_;
  std::vector<DocType> types_;
  WordServer word_;
  Microsoft::WRL::ComPtr<IDispatch> cycleWord_;
};

// Every file under the HTML file's folder, with relative paths, into `archive`.
int PackHtmlFolder(const std::string& htmlFile, const std::string& archive);

}  // namespace nib
