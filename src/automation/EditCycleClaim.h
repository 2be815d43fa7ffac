#pragma once
// One edit cycle at a time in a process. Browsers put several tabs (each on
// its own thread) and a page's frames (on one thread) in one process, and an
// edit cycle has things only one cycle can hold: Word's Normal template and
// user name, which the cycle backs up and gives back, the thread's message
// filter, the fixed diagnostic files. A second page's open is refused while
// another object's cycle is open, and the first cycle goes on untouched.

#include <windows.h>

namespace nib {

// OpenFile's and OpenHtFile's error while another page's cycle is open.
inline constexpr HRESULT kEditCycleOpenElsewhere = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0227);

// True when `owner` may run a cycle now: none is open, or it is `owner`'s own.
// Safe from any thread.
bool ClaimEditCycle(const void* owner);
// Ends `owner`'s claim; nothing when it holds none.
void ReleaseEditCycle(const void* owner);

}  // namespace nib
