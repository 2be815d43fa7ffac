#include "convert/MSDocConvter.h"

namespace nib {

std::string TMSDocConvter::Convert(const std::string& source, bool showMessage, bool wordFolder) {
  if (!qozer_) qozer_ = std::make_unique<TQozer>();
  qozer_->OnHtmlConverted = [this](const std::string& html) {
    if (OnHtmlConvtOK) OnHtmlConvtOK(html);
  };
  qozer_->OnHtmlFileName = [this](std::string& html) {
    if (OnHtmlFileName) OnHtmlFileName(html);
  };
  qozer_->UseWord(cycleWord_.Get());
  return qozer_->Convert(source, showMessage, wordFolder);
}

}  // namespace nib
