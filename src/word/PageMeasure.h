#pragma once
// The height a converted page takes in a browser of the given width: the
// body's scroll height as the WebBrowser control lays it out in a hidden
// window. -1 when no browser is available or the page never shows a body.

#include <windows.h>
#include <ole2.h>
#include <wrl/client.h>

#include <string>

namespace nib {

long MeasurePageHeight(const std::string& htmlFile, int width);

// The site the measuring browser lives in (for tests of what it allows a page).
Microsoft::WRL::ComPtr<IOleClientSite> NewPageMeasureSite(HWND window);

}  // namespace nib
