#pragma once
// The address of the page that hosts a control, learnt as a browser gives it
// to its controls: from the site's service provider (the web browser's
// LocationURL), else from the client site's container document (its URL).

#include <unknwn.h>

#include <optional>
#include <string>

namespace nib {

// nullopt when the site is no page's (a script host, a program) or null.
std::optional<std::string> PageAddressOf(IUnknown* site);

}  // namespace nib
