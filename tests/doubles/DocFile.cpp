#include "DocFile.h"

#include <windows.h>

#include "DynDispatch.h"

namespace doubles {
namespace {

std::wstring Escape(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    switch (c) {
      case L'&': out += L"&amp;"; break;
      case L'<': out += L"&lt;"; break;
      case L'>': out += L"&gt;"; break;
      case L'\r': out += L"&#13;"; break;
      case L'"': out += L"&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::wstring Unescape(const std::wstring& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'&') {
      out += text[i];
      continue;
    }
    size_t end = text.find(L';', i);
    if (end == std::wstring::npos) throw DispatchError{DISP_E_EXCEPTION, L"The file appears to be corrupted."};
    std::wstring entity = text.substr(i + 1, end - i - 1);
    if (entity == L"amp") out += L'&';
    else if (entity == L"lt") out += L'<';
    else if (entity == L"gt") out += L'>';
    else if (entity == L"#13") out += L'\r';
    else if (entity == L"quot") out += L'"';
    else throw DispatchError{DISP_E_EXCEPTION, L"The file appears to be corrupted."};
    i = end;
  }
  return out;
}

// The value of `name="..."` in a tag's text.
std::wstring Attribute(const std::wstring& tag, const std::wstring& name, const std::wstring& fallback) {
  size_t at = tag.find(L" " + name + L"=\"");
  if (at == std::wstring::npos) return fallback;
  size_t start = at + name.size() + 3;
  return Unescape(tag.substr(start, tag.find(L'"', start) - start));
}

// Every <name ...>text</name>: its attributes' text and its content.
std::vector<std::pair<std::wstring, std::wstring>> Elements(const std::wstring& xml, const std::wstring& name) {
  std::vector<std::pair<std::wstring, std::wstring>> found;
  const std::wstring open = L"<" + name + L" ", close = L"</" + name + L">";
  for (size_t at = xml.find(open); at != std::wstring::npos; at = xml.find(open, at + 1)) {
    size_t contentStart = xml.find(L'>', at);
    size_t contentEnd = xml.find(close, at);
    if (contentStart == std::wstring::npos || contentEnd == std::wstring::npos || contentEnd < contentStart)
      throw DispatchError{DISP_E_EXCEPTION, L"The file appears to be corrupted."};
    found.emplace_back(xml.substr(at, contentStart - at), Unescape(xml.substr(contentStart + 1, contentEnd - contentStart - 1)));
  }
  return found;
}

// Every <name .../>: the tag's text.
std::vector<std::wstring> EmptyElements(const std::wstring& xml, const std::wstring& name) {
  std::vector<std::wstring> found;
  const std::wstring open = L"<" + name + L" ";
  for (size_t at = xml.find(open); at != std::wstring::npos; at = xml.find(open, at + 1)) {
    size_t end = xml.find(L"/>", at);
    if (end == std::wstring::npos) throw DispatchError{DISP_E_EXCEPTION, L"The file appears to be corrupted."};
    found.push_back(xml.substr(at, end - at));
  }
  return found;
}

int StoryOf(const std::wstring& tag) { return std::stoi(Attribute(tag, L"story", L"0")); }

std::wstring StoryAttribute(int story, const wchar_t* name = L"story") {
  return story == 0 ? L"" : L" " + std::wstring(name) + L"=\"" + std::to_wstring(story) + L"\"";
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw DispatchError{DISP_E_EXCEPTION, L"Word cannot save this file because it is already open elsewhere."};
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok) throw DispatchError{DISP_E_EXCEPTION, L"Word cannot complete the save due to a file permission error."};
}

}  // namespace

std::string ToUtf8(const std::wstring& text) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes, nullptr, nullptr);
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), chars);
  return out;
}

DocContent ReadDocFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) throw DispatchError{DISP_E_EXCEPTION, L"The file is locked for editing."};
    throw DispatchError{DISP_E_EXCEPTION, L"This file could not be found. (" + path + L")"};
  }
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
  CloseHandle(file);
  std::wstring xml = FromUtf8(bytes);
  size_t start = xml.find(L"<text>"), end = xml.find(L"</text>");
  if (xml.find(L"<nibdoc") == std::wstring::npos || start == std::wstring::npos || end == std::wstring::npos || end < start)
    throw DispatchError{DISP_E_EXCEPTION, L"Word experienced an error trying to open the file. (" + path + L")"};
  DocContent content;
  content.text = Unescape(xml.substr(start + 6, end - start - 6));
  if (size_t at = xml.find(L"<protection "); at != std::wstring::npos) {
    std::wstring tag = xml.substr(at, xml.find(L"/>", at) - at);
    content.protection = std::stol(Attribute(tag, L"type", L"-1"));
    content.password = Attribute(tag, L"password", L"");
  }
  for (const auto& [attributes, text] : Elements(xml, L"revision"))
    content.revisions.push_back(Revision{Attribute(attributes, L"author", L""), text});
  for (const auto& [attributes, text] : Elements(xml, L"variable"))
    content.variables.emplace_back(Attribute(attributes, L"name", L""), text);
  for (const std::wstring& tag : EmptyElements(xml, L"bookmark"))
    content.bookmarks.push_back(Bookmark{Attribute(tag, L"name", L""), std::stol(Attribute(tag, L"start", L"0")),
                                         std::stol(Attribute(tag, L"end", L"0")), StoryOf(tag)});
  for (const std::wstring& tag : EmptyElements(xml, L"field"))
    content.fields.push_back(
        Field{Attribute(tag, L"code", L""), Attribute(tag, L"result", L""), std::stol(Attribute(tag, L"start", L"-1")),
              StoryOf(tag)});
  for (const std::wstring& tag : EmptyElements(xml, L"formfield")) {
    FormField field{Attribute(tag, L"name", L""), Attribute(tag, L"result", L""), Attribute(tag, L"default", L""),
                    Attribute(tag, L"type", L"text"), {}};
    std::wstring list = Attribute(tag, L"entries", L"");
    for (size_t from = 0; !list.empty() && from <= list.size();) {
      size_t end = list.find(L'|', from);
      field.entries.push_back(list.substr(from, end == std::wstring::npos ? std::wstring::npos : end - from));
      if (end == std::wstring::npos) break;
      from = end + 1;
    }
    content.formFields.push_back(std::move(field));
  }
  for (const std::wstring& tag : EmptyElements(xml, L"format")) content.format = Attribute(tag, L"name", L"doc");
  for (const std::wstring& tag : EmptyElements(xml, L"macro")) content.macro = Attribute(tag, L"name", L"");
  for (const std::wstring& tag : EmptyElements(xml, L"shape")) {
    Shape shape{Attribute(tag, L"name", L""), Attribute(tag, L"type", L""), {},
                std::stoi(Attribute(tag, L"anchorstory", L"0"))};
    std::wstring list = Attribute(tag, L"properties", L"");
    for (size_t from = 0; from < list.size();) {
      size_t end = list.find(L';', from);
      std::wstring item = list.substr(from, end == std::wstring::npos ? std::wstring::npos : end - from);
      size_t equals = item.find(L'=');
      if (equals != std::wstring::npos) shape.properties.emplace_back(item.substr(0, equals), item.substr(equals + 1));
      if (end == std::wstring::npos) break;
      from = end + 1;
    }
    content.shapes.push_back(std::move(shape));
  }
  for (const std::wstring& tag : EmptyElements(xml, L"font"))
    content.fonts.push_back(FontRun{std::stol(Attribute(tag, L"start", L"0")), std::stol(Attribute(tag, L"end", L"0")),
                                    Attribute(tag, L"attribute", L""), Attribute(tag, L"value", L""), StoryOf(tag)});
  for (const auto& [attributes, text] : Elements(xml, L"story"))
    content.stories.push_back(Story{std::stol(Attribute(attributes, L"type", L"7")),
                                    std::stol(Attribute(attributes, L"section", L"1")), Attribute(attributes, L"shape", L""),
                                    text});
  return content;
}

void WriteDocFile(const std::wstring& path, const DocContent& content) {
  std::wstring xml = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nibdoc><text>" + Escape(content.text) + L"</text>\n";
  if (content.protection != -1)
    xml += L"<protection type=\"" + std::to_wstring(content.protection) + L"\" password=\"" + Escape(content.password) +
           L"\"/>\n";
  for (const Revision& revision : content.revisions)
    xml += L"<revision author=\"" + Escape(revision.author) + L"\">" + Escape(revision.text) + L"</revision>\n";
  for (const auto& [name, value] : content.variables)
    xml += L"<variable name=\"" + Escape(name) + L"\">" + Escape(value) + L"</variable>\n";
  for (const Bookmark& b : content.bookmarks)
    xml += L"<bookmark name=\"" + Escape(b.name) + L"\" start=\"" + std::to_wstring(b.start) + L"\" end=\"" +
           std::to_wstring(b.end) + L"\"" + StoryAttribute(b.story) + L"/>\n";
  for (const Field& f : content.fields)
    xml += L"<field code=\"" + Escape(f.code) + L"\" result=\"" + Escape(f.result) + L"\"" +
           (f.start >= 0 ? L" start=\"" + std::to_wstring(f.start) + L"\"" : L"") + StoryAttribute(f.story) + L"/>\n";
  for (const FormField& f : content.formFields) {
    std::wstring entries;
    for (const std::wstring& entry : f.entries) entries += (entries.empty() ? L"" : L"|") + entry;
    xml += L"<formfield name=\"" + Escape(f.name) + L"\" result=\"" + Escape(f.result) + L"\" default=\"" +
           Escape(f.defaultText) + L"\"";
    if (f.type != L"text") xml += L" type=\"" + Escape(f.type) + L"\" entries=\"" + Escape(entries) + L"\"";
    xml += L"/>\n";
  }
  xml += L"<format name=\"" + Escape(content.format) + L"\"/>\n";
  if (!content.macro.empty()) xml += L"<macro name=\"" + Escape(content.macro) + L"\"/>\n";
  for (const Shape& shape : content.shapes) {
    std::wstring list;
    for (const auto& [key, value] : shape.properties) list += (list.empty() ? L"" : L";") + key + L"=" + value;
    xml += L"<shape name=\"" + Escape(shape.name) + L"\" type=\"" + Escape(shape.type) + L"\" properties=\"" +
           Escape(list) + L"\"" + StoryAttribute(shape.anchorStory, L"anchorstory") + L"/>\n";
  }
  for (const FontRun& f : content.fonts)
    xml += L"<font start=\"" + std::to_wstring(f.start) + L"\" end=\"" + std::to_wstring(f.end) + L"\" attribute=\"" +
           Escape(f.attribute) + L"\" value=\"" + Escape(f.value) + L"\"" + StoryAttribute(f.story) + L"/>\n";
  for (const Story& story : content.stories)
    xml += L"<story type=\"" + std::to_wstring(story.type) + L"\" section=\"" + std::to_wstring(story.section) + L"\"" +
           (story.shape.empty() ? L"" : L" shape=\"" + Escape(story.shape) + L"\"") + L">" + Escape(story.text) +
           L"</story>\n";
  WriteAll(path, ToUtf8(xml + L"</nibdoc>\n"));
}

void WriteHtmlPage(const std::wstring& path, const DocContent& content) {
  size_t dot = path.find_last_of(L'.');
  size_t slash = path.find_last_of(L"\\/");
  std::wstring base = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash) ? path.substr(0, dot) : path;
  std::wstring folder = base + L".files";
  std::wstring folderName = folder.substr(folder.find_last_of(L"\\/") + 1);
  std::wstring body;
  size_t from = 0;
  for (;;) {
    size_t cr = content.text.find(L'\r', from);
    body += L"<p>" + Escape(content.text.substr(from, cr == std::wstring::npos ? std::wstring::npos : cr - from)) + L"</p>\r\n";
    if (cr == std::wstring::npos) break;
    from = cr + 1;
  }
  WriteAll(path, ToUtf8(L"<html><head><meta charset=\"utf-8\"><link rel=File-List href=\"" + folderName +
                        L"/filelist.xml\"></head><body>\r\n" + body + L"</body></html>\r\n"));
  CreateDirectoryW(folder.c_str(), nullptr);
  WriteAll(folder + L"\\filelist.xml", "<xml><o:File HRef=\"image001.png\"/></xml>\r\n");
  WriteAll(folder + L"\\image001.png", std::string("\x89PNG\r\n\x1a\n", 8));
}

}  // namespace doubles
