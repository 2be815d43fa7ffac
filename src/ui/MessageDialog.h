#pragma once
// The system's modal message dialog: a top-level window of class
// "TMessageForm" (the bring-to-front timer looks for that class), with an
// icon and title per dialog type and one button per member of the set.

#include <string>

#include "services/ButtonSet.h"

namespace nib {

inline constexpr wchar_t kMessageDialogClass[] = L"TMessageForm";

enum DialogType : int { kDlgWarning = 0, kDlgError, kDlgInformation, kDlgConfirmation, kDlgCustom };

// Modal results of the buttons (Yes 6, No 7, OK 1, Cancel 2, Abort 3, Retry 4,
// Ignore 5, All 8, NoToAll 9, YesToAll 10); closing the dialog answers Cancel (2).
int ModalResultOf(int buttonBit);

// Shows `text` (ANSI, system code page) centred on the screen and returns the
// modal result of the button pressed. The calling thread's windows are
// disabled meanwhile, as for any modal dialog.
int ShowMessageDialog(const std::string& text, int dialogType, ButtonSet buttons, int helpContext);

}  // namespace nib
