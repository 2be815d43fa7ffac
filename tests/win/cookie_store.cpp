// Stores a cookie in the user's WinINet cookie store and exits, as the
// browser does when a page sets one with an expiry date:
//   cookie_store <url> "<name>=<value>; expires=<date>"
#include <windows.h>
#include <wininet.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  return InternetSetCookieW(argv[1], nullptr, argv[2]) ? 0 : 1;
}
