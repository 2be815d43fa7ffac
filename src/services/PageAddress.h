#pragma once
// The addresses of the page that hosts a control, learnt as a browser gives
// them to its controls. The document the control sits in is the page: in a
// frame, the frame's own document. The web browser's LocationURL is the top
// page's address, the same for every frame, so it never stands for a frame.

#include <unknwn.h>

#include <optional>
#include <string>

namespace nib {

struct PageAddresses {
  // The document the control sits in: the client site's container, else the
  // site's SID_SContainerDispatch service, else SID_SHTMLWindow's document.
  std::optional<std::string> document;
  // The browser's top page (SID_SWebBrowserApp's LocationURL).
  std::optional<std::string> top;
};

// Both empty when the site is no page's (a script host, a program) or null.
PageAddresses PageAddressesOf(IUnknown* site);

}  // namespace nib
