#pragma once
// The doubles' own document format: readable XML that tests write as
// fixtures and read back.
//   <nibdoc><text>First paragraph&#13;Second</text></nibdoc>
// Paragraphs are separated by a carriage return, as in Word's text.

#include <string>

namespace doubles {

struct DocContent {
  std::wstring text;
};

// Throws DispatchError with Word's texts for a missing or unreadable file.
DocContent ReadDocFile(const std::wstring& path);
void WriteDocFile(const std::wstring& path, const DocContent& content);
// Format 8: an HTML page with its supporting-files folder ("<name>.files").
void WriteHtmlPage(const std::wstring& path, const DocContent& content);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace doubles
