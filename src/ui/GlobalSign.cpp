#include "ui/GlobalSign.h"

namespace nib {

std::unique_ptr<TGlobalSign>& HtMode() {
  static std::unique_ptr<TGlobalSign> flag;
  return flag;
}

}  // namespace nib
