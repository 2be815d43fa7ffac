#include "merge/UpdXML2Doc.h"

#include <algorithm>
#include <cwctype>

#include "services/Switches.h"
#include "com/BStr.h"
#include "com/ComError.h"
#include "com/StrConv.h"
#include "com/Variant.h"
#include "services/Locale.h"
#include "services/TextUtil.h"
#include "ui/MessageDialog.h"
#include "word/WordUtil.h"

using Microsoft::WRL::ComPtr;

namespace nib {
namespace {

// MSXML2's version-independent DOMDocument.
constexpr CLSID kDomDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
constexpr IID kIXMLDOMDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIXMLDOMDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIXMLDOMElement = {0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr wchar_t kDocVariable[] = L"DOCVARIABLE ";

std::wstring Trimmed(const std::wstring& text) {
  size_t first = 0, last = text.size();
  while (first < last && text[first] <= L' ') ++first;
  while (last > first && text[last - 1] <= L' ') --last;
  return text.substr(first, last - first);
}

// The variable a DOCVARIABLE field shows: the word after "DOCVARIABLE ", which
// must be followed by a space. Empty when the code names none.
std::wstring VariableOfCode(const std::wstring& code) {
  size_t at = code.find(kDocVariable);
  if (at == std::wstring::npos) return L"";
  size_t start = at + wcslen(kDocVariable), end = code.find(L' ', start);
  return end == std::wstring::npos ? L"" : code.substr(start, end - start);
}

std::wstring CodeOf(DispObject& field) { return field.Object(L"Code").Text(L"Text"); }

// Field data never needs a document type: one could make the parser fetch
// addresses of the sender's choosing or expand entities without end. Data
// carrying one is bad data, whatever the parser's own settings allow.
bool DeclaresDocumentType(const std::string& content) {
  std::string upper = content;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return upper.find("<!DOCTYPE") != std::string::npos || upper.find("<!ENTITY") != std::string::npos;
}

}  // namespace

std::wstring GetAttrText(IXMLDOMElement* element, const wchar_t* name) {
  if (!element) return L"";
  BStr attribute(name);
  Variant value;
  if (element->getAttribute(attribute.Get(), value.Get()) != S_OK) return L"";
  if (FAILED(VariantChangeType(value.Get(), value.Get(), 0, VT_BSTR)) || !V_BSTR(value.Get())) return L"";
  return V_BSTR(value.Get());
}

TUpdXML2Doc::TUpdXML2Doc() {
  ThrowIfFailed(CoCreateInstance(kDomDocument, nullptr, CLSCTX_INPROC_SERVER, kIXMLDOMDocument,
                                 reinterpret_cast<void**>(dom_.GetAddressOf())),
                "creating the XML parser");
  // No document type, nothing external, no validation: where a parser
  // version does not know a setting, DeclaresDocumentType still refuses.
  ThrowIfFailed(dom_->put_resolveExternals(VARIANT_FALSE), "setting up the XML parser");
  ThrowIfFailed(dom_->put_validateOnParse(VARIANT_FALSE), "setting up the XML parser");
  ComPtr<IXMLDOMDocument2> settings;
  if (SUCCEEDED(dom_->QueryInterface(kIXMLDOMDocument2, reinterpret_cast<void**>(settings.GetAddressOf())))) {
    BStr prohibit(L"ProhibitDTD");
    Variant yes;
    V_VT(yes.Get()) = VT_BOOL;
    V_BOOL(yes.Get()) = VARIANT_TRUE;
    settings->setProperty(prohibit.Get(), *yes.Get());  // unknown to older parsers: see above
  }
}

void TUpdXML2Doc::AttachDocument(const DispObject& document) {
  document_ = document;
  application_ = document_.Object(L"Application");
}

bool TUpdXML2Doc::Fill(int kind, const std::string& content, std::string& headerText) {
  document_.Call(L"Activate");
  ComPtr<IXMLDOMElement> root = Load(kind, content);
  if (!root) return false;
  otherStories_ = StoriesBesideMainText(document_);

  ComPtr<IXMLDOMNodeList> children;
  ThrowIfFailed(root->get_childNodes(&children), "reading the XML");
  long count = 0;
  ThrowIfFailed(children->get_length(&count), "reading the XML");
  for (long i = 0; i < count; ++i) {
    ComPtr<IXMLDOMNode> node;
    ThrowIfFailed(children->get_item(i, &node), "reading the XML");
    // Comments, processing instructions and text between entries carry nothing to fill.
    DOMNodeType type = NODE_INVALID;
    if (FAILED(node->get_nodeType(&type)) || type != NODE_ELEMENT) continue;
    ComPtr<IXMLDOMElement> entry;
    ThrowIfFailed(node->QueryInterface(kIXMLDOMElement, reinterpret_cast<void**>(entry.GetAddressOf())),
                  "reading the XML");
    BStr tag;
    ThrowIfFailed(entry->get_tagName(tag.Out()), "reading the XML");
    if (tag.Wide() != L"BookMark") continue;
    std::wstring name = GetAttrText(entry.Get(), L"Name");
    if (name.empty()) continue;
    std::wstring text = GetAttrText(entry.Get(), L"Text");
    FillEntry(name, text.empty() ? L" " : text);
  }
  MakeDocVariablesDisplayable();
  headerText = WideToAnsi(HeaderText());
  return true;
}

ComPtr<IXMLDOMElement> TUpdXML2Doc::Load(int kind, const std::string& content) {
  if (kind != 1 && kind != 2) return nullptr;
  bool logging = SwitchIsOn("LogInputFile");
  VARIANT_BOOL parsed = VARIANT_FALSE;
  if (DeclaresDocumentType(content)) {
    ReportLoadError();
    return nullptr;
  }
  if (kind == 1) {
    if (logging && commGUI_) {
      BStr text = BStr::FromAnsi(content), file = BStr::FromAnsi(kXmlLogFile);
      commGUI_->WFile(text.Get(), file.Get(), VARIANT_FALSE);
    }
    BStr xml = BStr::FromAnsi(TrimBlanks(content));
    if (dom_->loadXML(xml.Get(), &parsed) != S_OK || !parsed) {
      ReportLoadError();
      return nullptr;
    }
  } else {
    BStr xml = BStr::FromAnsi(content);
    if (dom_->loadXML(xml.Get(), &parsed) != S_OK || !parsed) ReportLoadError();
    if (logging && commGUI_) {
      BStr text, file = BStr::FromAnsi(kXmlLogFile);
      if (SUCCEEDED(dom_->get_xml(text.Out()))) commGUI_->WFile(text.Get(), file.Get(), VARIANT_FALSE);
    }
  }
  ComPtr<IXMLDOMElement> root;
  if (FAILED(dom_->get_documentElement(&root))) return nullptr;
  return root;
}

void TUpdXML2Doc::ReportLoadError() {
  std::string text = "\r\n" + UiText(Gb("不能载入指定的XML内容!请检查SetXMLCont函数的调用."));
  if (!commGUI_) {
    ShowMessageDialog(text, kDlgInformation, 1u << kOk, 0);
    return;
  }
  BStr message = BStr::FromAnsi(text), okOnly(L"2");
  commGUI_->MyMessageDlg(message.Get(), kDlgInformation, okOnly.Get(), 0);
}

void TUpdXML2Doc::FillEntry(const std::wstring& name, const std::wstring& text) {
  DispObject formField;
  try {
    formField = document_.Object(L"FormFields").CallObject(L"Item", {Arg(name)});
  } catch (const ComError&) {
    // No form field of that name: a document variable, perhaps.
  }
  if (formField) {
    FillFormField(formField, text);
    return;
  }
  std::vector<DispObject> fields = DocVariableFieldsOf(name);
  if (fields.empty()) return;
  SetVariable(name, text);
  for (DispObject& field : fields) field.Call(L"Update");
}

// A text input takes the text. A check box is ticked by "1", "true", "yes",
// "是" or "√", cleared by "0", "false", "no", "否" or "×", and left as it is by
// anything else (a blank value among them). A drop-down takes the entry that
// reads as the text and stays as it is when none does. Asking any of them for
// the wrong kind's object raises in Word, and would abort the whole fill.
void TUpdXML2Doc::FillFormField(DispObject& field, const std::wstring& text) {
  constexpr long kCheckBox = 71, kDropDown = 83;  // wdFieldFormCheckBox, wdFieldFormDropDown
  long type = field.Long(L"Type");
  if (type == kCheckBox) {
    std::wstring value = Trimmed(text);
    for (wchar_t& c : value) c = towlower(c);
    static const std::wstring ticked[] = {L"1", L"true", L"yes", L"\x662F", L"\x221A"};
    static const std::wstring cleared[] = {L"0", L"false", L"no", L"\x5426", L"\x00D7"};
    if (std::find(std::begin(ticked), std::end(ticked), value) != std::end(ticked))
      field.Object(L"CheckBox").Put(L"Value", true);
    else if (std::find(std::begin(cleared), std::end(cleared), value) != std::end(cleared))
      field.Object(L"CheckBox").Put(L"Value", false);
    return;
  }
  if (type == kDropDown) {
    DispObject list = field.Object(L"DropDown");
    DispObject entries = list.Object(L"ListEntries");
    long count = entries.Long(L"Count");
    for (long i = 1; i <= count; ++i) {
      if (entries.CallObject(L"Item", {Arg(i)}).Text(L"Name") != text) continue;
      list.Put(L"Value", i);
      return;
    }
    return;
  }
  // Word takes at most 255 characters in a form field: a longer value is cut
  // (never inside a character) rather than ending the fill half done.
  std::wstring fitting = TWordUtil::FormFieldText(text);
  field.Put(L"Result", fitting);
  field.Object(L"TextInput").Put(L"Default", fitting);
}

// The fields of the main text, then those of each header, footer and text
// box: Document.Fields holds the main text's only.
std::vector<DispObject> TUpdXML2Doc::FieldCollections() {
  std::vector<DispObject> collections{document_.Object(L"Fields")};
  for (DispObject& story : otherStories_) collections.push_back(story.Object(L"Fields"));
  return collections;
}

// Every field showing the variable `name`, in whichever story; failing any,
// the first whose variable name merely begins with it, as earlier documents
// were filled.
std::vector<DispObject> TUpdXML2Doc::DocVariableFieldsOf(const std::wstring& name) {
  const std::wstring prefix = kDocVariable + name;
  std::vector<DispObject> exact;
  DispObject prefixed;
  for (DispObject& fields : FieldCollections()) {
    long count = fields.Long(L"Count");
    for (long i = 1; i <= count; ++i) {
      DispObject field = fields.CallObject(L"Item", {Arg(i)});
      std::wstring code = Trimmed(CodeOf(field));
      if (code.rfind(prefix, 0) != 0) continue;
      if (code.size() == prefix.size() || code[prefix.size()] == L' ')
        exact.push_back(field);
      else if (!prefixed)
        prefixed = field;
    }
  }
  if (exact.empty() && prefixed) exact.push_back(prefixed);
  return exact;
}

// Word refuses a zero-length variable value, on Add as on Value: a missing
// variable is added with its value at once (the texts here are never empty).
void TUpdXML2Doc::SetVariable(const std::wstring& name, const std::wstring& value) {
  DispObject variables = document_.Object(L"Variables");
  DispObject variable;
  try {
    variable = variables.CallObject(L"Item", {Arg(name)});
  } catch (const ComError&) {
    variables.CallObject(L"Add", {Arg(name), Arg(value)});
    return;
  }
  variable.Put(L"Value", value);
}

void TUpdXML2Doc::MakeDocVariablesDisplayable() {
  for (DispObject& fields : FieldCollections()) MakeDisplayable(fields);
}

void TUpdXML2Doc::MakeDisplayable(DispObject& fields) {
  long count = fields.Long(L"Count");
  for (long i = 1; i <= count; ++i) {
    DispObject field = fields.CallObject(L"Item", {Arg(i)});
    std::wstring name = VariableOfCode(CodeOf(field));
    if (name.empty()) continue;
    std::wstring value;
    try {
      value = document_.Object(L"Variables").CallObject(L"Item", {Arg(name)}).Text(L"Value");
    } catch (const ComError&) {
      // Missing or unreadable: shown as a space below.
    }
    if (!value.empty()) continue;
    SetVariable(name, L" ");
    field.Call(L"Update");
  }
}

std::wstring TUpdXML2Doc::HeaderText() {
  const std::wstring stem = AnsiToWide("公文版头", CP_UTF8);
  DispObject begin = TWordUtil::GetBookmarkByName(document_, stem, true);
  if (!begin) return L"";
  std::wstring endName = begin.Text(L"Name");
  size_t b = endName.find(L'B');
  if (b != std::wstring::npos) endName[b] = L'E';
  DispObject end = TWordUtil::GetBookmarkByName(document_, endName, true);
  if (!end || !InOneStory(begin, end)) return L"";
  long from = begin.Long(L"End"), to = end.Long(L"End");
  if (to < from) return L"";
  std::wstring text = RangeInStory(document_, StoryOf(begin), from, to).Text(L"Text");
  if (!text.empty() && text.back() == L'(') text.pop_back();
  return text;
}

}  // namespace nib
