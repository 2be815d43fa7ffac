#pragma once
// The doubles' own document format: readable XML that tests write as
// fixtures and read back.
//   <nibdoc><text>First paragraph&#13;Second</text>
//     <protection type="0" password="secret"/>
//     <revision author="Zhang">Second</revision>
//     <variable name="Title">Notice</variable>
//     <bookmark name="Body" start="10" end="16"/>
//     <field code=" DOCVARIABLE Title " result=""/>
//     <field code=" DOCVARIABLE No " result="" start="4"/>  (its result is the text at 4)
//     <formfield name="Number" result="" default=""/>
//     <formfield name="Urgent" type="checkbox" result="0"/>
//     <formfield name="Kind" type="dropdown" entries="Notice|Report" result="Notice"/>
//     <macro name="AutoOpen"/>  (the file holds a macro that runs when it is opened, macros allowed)
//     <format name="doc"/>  (how the file was written: "doc", Word 97-2003, or "docx")
//     <shape name="Line 1" type="line" properties="Left=10;Line.Weight=1.5"/>
//     <font start="0" end="5" attribute="Size" value="16"/>
//     <story type="10" section="1">First page header</story>  (a header or footer: WdStoryType)
//     <story type="5" shape="Text Box 2">Title</story>  (the text of a text box)
//     <bookmark name="No" start="0" end="5" story="1"/></nibdoc>
// Paragraphs are separated by a carriage return, as in Word's text.
//
// Stories: the main text is story 0; each <story> element is one more (1, 2,
// ... in file order), with its own numbering of characters from 0, as in
// Word. Bookmarks, fields and fonts name their story ("story", 0 when
// omitted); a shape names the story its anchor is in ("anchorstory").

#include <string>
#include <utility>
#include <vector>

namespace doubles {

struct Revision {
  std::wstring author;
  std::wstring text;  // the text that was inserted
};

struct Bookmark {
  std::wstring name;
  long start = 0, end = 0;
  int story = 0;  // 0 the main text, n the document's nth other story
};

// A story other than the main text: a header or footer of a section, or the
// text of a text box.
struct Story {
  long type = 7;  // WdStoryType: 7 primary header, 10 first-page header, 9 primary footer, 5 text box, ...
  long section = 1;
  std::wstring shape;  // a text box's: the shape whose text it is
  std::wstring text;
};

struct Field {
  std::wstring code;    // " DOCVARIABLE Title " and the like
  std::wstring result;  // what the field shows
  // Where the result sits in the document's text, as in Word, where updating
  // a field moves everything after it; -1 for a field kept outside the text.
  long start = -1;
  int story = 0;
};

// Word's three kinds of form field: a text input (its result is its text),
// a check box (result "1" or "0") and a drop-down (result: the chosen entry).
struct FormField {
  std::wstring name, result, defaultText;
  std::wstring type = L"text";  // "text", "checkbox", "dropdown"
  std::vector<std::wstring> entries;  // a drop-down's list
};

struct Shape {
  std::wstring name;
  std::wstring type;  // "line"
  std::vector<std::pair<std::wstring, std::wstring>> properties;  // "Line.Weight" = "1.5", "Anchor" = "12", ...
  int anchorStory = 0;  // the story its anchor is in
};

// One formatting assignment to a range: "Name" = "仿宋_GB2312", "Size" = "16", "Color" = "255".
struct FontRun {
  long start = 0, end = 0;
  std::wstring attribute, value;
  int story = 0;
};

struct DocContent {
  std::wstring text;
  long protection = -1;  // -1 none, 0 only revisions allowed
  std::wstring password;
  std::vector<Revision> revisions;
  std::vector<std::pair<std::wstring, std::wstring>> variables;
  std::vector<Bookmark> bookmarks;
  std::vector<Field> fields;
  std::vector<FormField> formFields;
  std::vector<Shape> shapes;
  std::vector<FontRun> fonts;  // in the order they were applied
  std::vector<Story> stories;  // story n is stories[n - 1]
  std::wstring format = L"doc";  // the format the file was written in: "doc" or "docx"
  std::wstring macro;  // the name of a macro that runs when the file is opened; empty: none
};

// Throws DispatchError with Word's texts for a missing or unreadable file.
DocContent ReadDocFile(const std::wstring& path);
void WriteDocFile(const std::wstring& path, const DocContent& content);
// Format 8: an HTML page with its supporting-files folder ("<name>.files").
void WriteHtmlPage(const std::wstring& path, const DocContent& content);

// The file-name part of a path.
inline std::wstring FileNameOf(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace doubles
