#pragma once
// TMSDocConvter: the front the automation object converts through. It passes
// the converter's notifications on and returns the archive's path.

#include <functional>
#include <memory>
#include <string>

#include "convert/Qozer.h"

namespace nib {

class TMSDocConvter {
 public:
  std::function<void(const std::string& htmlFile)> OnHtmlConvtOK;
  std::function<void(std::string& htmlFile)> OnHtmlFileName;

  // The archive's path, or empty when nothing was converted.
  std::string Convert(const std::string& source, bool showMessage, bool wordFolder);
  // The edit cycle's Word, used for Word documents (see TQozer::UseWord).
  void UseWord(IDispatch* cycleWord) { cycleWord_ = cycleWord; }

 private:
  Microsoft::WRL::ComPtr<IDispatch> cycleWord_;
  std::unique_ptr<TQozer> qozer_;
};

}  // namespace nib
