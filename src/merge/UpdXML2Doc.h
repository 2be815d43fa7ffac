#pragma once
// TUpdXML2Doc: writes the texts of a page's XML into the open Word document,
// into text form fields or into document variables shown by DOCVARIABLE
// fields, and reads the text of the document's red-header block.
//   <root><BookMark Name="发文号" Text="第12号"/>...</root>

#include <msxml2.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "com/Dispatch.h"
#include "NibWordLib.h"

namespace nib {

// The attribute's value; empty when the element or the attribute is missing
// or cannot be read.
std::wstring GetAttrText(IXMLDOMElement* element, const wchar_t* name);

class TUpdXML2Doc {
 public:
  // Throws ComError when MSXML is not available.
  TUpdXML2Doc();

  void SetCommGUI(ICommGUI* gui) { commGUI_ = gui; }
  void AttachDocument(const DispObject& document);

  // Fills from (kind, content): the caller passes the page's initial XML when
  // it set one. False when no root element was found: the document is untouched and
  // `headerText` not written. Word's own errors propagate.
  bool Fill(int kind, const std::string& content, std::string& headerText);

 private:
  Microsoft::WRL::ComPtr<IXMLDOMElement> Load(int kind, const std::string& content);
  void ReportLoadError();
  void FillFormField(DispObject& field, const std::wstring& text);
  void FillEntry(const std::wstring& name, const std::wstring& text);
  std::vector<DispObject> FieldCollections();
  std::vector<DispObject> DocVariableFieldsOf(const std::wstring& name);
  void SetVariable(const std::wstring& name, const std::wstring& value);
  void MakeDocVariablesDisplayable();
  void MakeDisplayable(DispObject& fields);
  std::wstring HeaderText();

  Microsoft::WRL::ComPtr<IXMLDOMDocument> dom_;
  DispObject document_;
  DispObject application_;
  std::vector<DispObject> otherStories_;  // a range of each header, footer and text box, found once per fill
  Microsoft::WRL::ComPtr<ICommGUI> commGUI_;
};

}  // namespace nib
