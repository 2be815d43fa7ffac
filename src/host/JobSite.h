#pragma once
// The site the launcher gives the object: a page at the job's address, as a
// browser's site tells a control its page. The object then holds every
// address of the cycle, and each redirect hop, to the administrator's list,
// as it does for a page in a browser.

#include <unknwn.h>
#include <wrl/client.h>

#include <string>

namespace nib::host {

Microsoft::WRL::ComPtr<IUnknown> NewJobSite(const std::string& jobAddress);

}  // namespace nib::host
