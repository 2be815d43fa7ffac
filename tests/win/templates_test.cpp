// The official-document features of the Word driver against the Word double:
// the XML fill into form fields and DOCVARIABLE fields, the red-header
// template around the body and off again, the template check, the body font,
// the first page's bottom line and Word's insert-file command.

#include <windows.h>

#include <fstream>
#include <string>
#include <thread>

#include "DialogRobot.h"
#include "DriverFixture.h"
#include "com/ComError.h"
#include "services/WindowUtil.h"
#include "ui/FrmUserCtrlPop.h"

namespace nib::test {
namespace {

std::string U8(const std::string& text) { return text; }  // fixture texts are UTF-8 already

class XmlFill : public DriverFixture {
 protected:
  void TearDown() override {
    PageValues& p = *values;
    p.IniXMLCont.clear();
    p.IniXMLType = 0;
    p.XMLKind = 0;
    p.XMLContent.clear();
    DriverFixture::TearDown();
  }
  // Opens `doc` with the page's initial XML, which the open fills in.
  void OpenWithInitialXml(const std::string& doc, int kind, const std::string& utf8Xml) {
    Configure(doc);
    values->IniXMLType = kind;
    values->IniXMLCont = Gb(utf8Xml);
    ASSERT_TRUE(Start());
    ASSERT_EQ(driver->SaveDoc(), VARIANT_TRUE);
  }
};

constexpr char kFieldsDocument[] =
    "<text>[红头文字(\rBody</text>"
    "<bookmark name=\"公文版头B1\" start=\"0\" end=\"1\"/>"
    "<bookmark name=\"公文版头E1\" start=\"6\" end=\"6\"/>"
    "<field code=\" DOCVARIABLE 发文号 \" result=\"\"/>"
    "<field code=\" DOCVARIABLE 发文 \" result=\"\"/>"
    "<field code=\" DOCVARIABLE 标题长 \" result=\"\"/>"
    "<field code=\" PAGE \" result=\"1\"/>"
    "<formfield name=\"签发人\" result=\"\" default=\"\"/>"
    "<formfield name=\"主送\" result=\"\" default=\"\"/>";

TEST_F(XmlFill, EntriesGoToFormFieldsAndDocVariables) {
  std::string doc = Fixture("fields.doc", kFieldsDocument);
  OpenWithInitialXml(doc, 1,
                     "  <root><BookMark Name=\"发文\" Text=\"市政府\"/><BookMark Name=\"发文号\" Text=\"第12号\"/>"
                     "<!-- a comment between entries --><BookMark Name=\"签发人\" Text=\"\"/>"
                     "<BookMark Name=\"主送\" Text=\"各部门\" ShowProp=\"1\"/><BookMark Text=\"no name\"/>"
                     "<Other Name=\"发文\" Text=\"not an entry\"/><BookMark Name=\"标题\" Text=\"短名\"/>"
                     "<BookMark Name=\"无此处\" Text=\"x\"/></root>\r\n");
  std::string saved = ReadAll(doc);
  EXPECT_NE(saved.find(U8("<field code=\" DOCVARIABLE 发文号 \" result=\"第12号\"/>")), std::string::npos) << saved;
  EXPECT_NE(saved.find(U8("<field code=\" DOCVARIABLE 发文 \" result=\"市政府\"/>")), std::string::npos)
      << "a name that begins another name still reaches its own field";
  EXPECT_NE(saved.find(U8("<variable name=\"标题\">短名</variable>")), std::string::npos)
      << "no field of that exact name: the first that begins with it takes the update";
  EXPECT_NE(saved.find(U8("<field code=\" DOCVARIABLE 标题长 \" result=\" \"/>")), std::string::npos)
      << "and it still shows its own variable, made displayable";
  EXPECT_NE(saved.find(U8("<formfield name=\"签发人\" result=\" \" default=\" \"/>")), std::string::npos)
      << "an empty text becomes a space";
  EXPECT_NE(saved.find(U8("<formfield name=\"主送\" result=\"各部门\" default=\"各部门\"/>")), std::string::npos);
  EXPECT_EQ(saved.find(U8("无此处")), std::string::npos) << "a name without a target creates nothing";
  EXPECT_EQ(saved.find("not an entry"), std::string::npos);
  EXPECT_EQ(WideToAnsi(AnsiToWide(driver->HeaderText()), CP_UTF8), "红头文字") << "the header block without its \"(\"";
  EXPECT_TRUE(gui.messages.empty());
}

// Document.Fields holds the main text's fields only: a field in the page
// header or in a text box is reached through its own story, and a variable
// shown in several stories is shown alike in each.
TEST_F(XmlFill, FieldsInHeadersAndTextBoxesAreFilled) {
  std::string doc = Fixture("stories.doc",
                            "<text>Body</text>"
                            "<story type=\"7\" section=\"1\">[红头文字(&#13;</story>"
                            "<story type=\"5\" shape=\"Text Box 1\"></story>"
                            "<bookmark name=\"公文版头B1\" start=\"0\" end=\"1\" story=\"1\"/>"
                            "<bookmark name=\"公文版头E1\" start=\"6\" end=\"6\" story=\"1\"/>"
                            "<field code=\" DOCVARIABLE 发文号 \" result=\"\" start=\"4\"/>"
                            "<field code=\" DOCVARIABLE 发文号 \" result=\"\" start=\"7\" story=\"1\"/>"
                            "<field code=\" DOCVARIABLE 标题 \" result=\"\" start=\"0\" story=\"2\"/>"
                            "<shape name=\"Text Box 1\" type=\"textbox\" properties=\"Anchor=0\"/>");
  OpenWithInitialXml(doc, 1, "<root><BookMark Name=\"发文号\" Text=\"第12号\"/><BookMark Name=\"标题\" Text=\"短名\"/></root>");
  std::string saved = ReadAll(doc);
  EXPECT_NE(saved.find(U8("<text>Body第12号</text>")), std::string::npos) << saved;
  EXPECT_NE(saved.find(U8(">[红头文字(&#13;第12号</story>")), std::string::npos) << "the page header's field: " << saved;
  EXPECT_NE(saved.find(U8(">短名</story>")), std::string::npos) << "the text box's field";
  EXPECT_EQ(WideToAnsi(AnsiToWide(driver->HeaderText()), CP_UTF8), "红头文字") << "the header block read in its story";
}

// Word takes at most 255 characters in a form field: a longer value is cut,
// on a character boundary, and the entries after it are filled too.
TEST_F(XmlFill, ALongFormFieldValueIsCutAndTheFillGoesOn) {
  std::string doc = Fixture("long.doc", kFieldsDocument);
  std::string longText;
  for (int i = 0; i < 300; ++i) longText += "\xE5\xAD\x97";  // 字, a double-byte character
  OpenWithInitialXml(doc, 1, "<root><BookMark Name=\"签发人\" Text=\"" + longText +
                                 "\"/><BookMark Name=\"主送\" Text=\"各部门\"/></root>");
  std::string saved = ReadAll(doc);
  std::string cut = longText.substr(0, 255 * 3);
  EXPECT_NE(saved.find(U8("<formfield name=\"签发人\" result=\"") + cut + "\" default=\"" + cut + "\"/>"),
            std::string::npos) << "the first 255 characters";
  EXPECT_NE(saved.find(U8("<formfield name=\"主送\" result=\"各部门\" default=\"各部门\"/>")), std::string::npos)
      << "the entry after it was filled: " << saved;
  EXPECT_TRUE(gui.messages.empty());
}

TEST_F(XmlFill, InitialXmlWinsAndBadXmlTouchesNothing) {
  std::string doc = Fixture("fields.doc", kFieldsDocument);
  values->XMLKind = 1;
  values->XMLContent = Gb("<r><BookMark Name=\"发文\" Text=\"ignored\"/></r>");
  OpenWithInitialXml(doc, 1, "<r><BookMark Name=\"发文\" Text=\"初始\"/></r>");
  EXPECT_NE(ReadAll(doc).find(U8("result=\"初始\"")), std::string::npos);
  driver->AppQuit();

  std::string untouched = Fixture("plain.doc", kFieldsDocument);
  std::string before = ReadAll(untouched);
  driver = TCommEdt_NibWord::Create(values);
  ASSERT_EQ(driver->SetICommGUI(&gui), S_OK);
  OpenWithInitialXml(untouched, 1, "<r><BookMark Name=\"发文\"");
  ASSERT_EQ(gui.messages.size(), 1u);
  EXPECT_EQ(gui.messages[0], Utf8ToWide("\r\n不能载入指定的XML内容!请检查SetXMLCont函数的调用."));
  EXPECT_EQ(gui.types[0], 2);
  EXPECT_EQ(gui.buttonSets[0], L"2") << "OK only";
  EXPECT_EQ(ReadAll(untouched).find("result=\" \""), std::string::npos) << "no field was touched";
  driver->AppQuit();

  // A fetched error page that is no XML: reported, and the fill finds nothing.
  driver = TCommEdt_NibWord::Create(values);
  ASSERT_EQ(driver->SetICommGUI(&gui), S_OK);
  OpenWithInitialXml(Fixture("fetched.doc", kFieldsDocument), 2, "<html><body>Not found<br></body></html>");
  EXPECT_EQ(gui.messages.size(), 2u);
}

// Data for form fields of every kind: a check box and a drop-down in the
// middle of the data must not stop the entries after them.
TEST_F(XmlFill, CheckBoxesAndDropDownsTakeTheirValues) {
  std::string doc = Fixture("kinds.doc",
                            "<text>Form</text>"
                            "<formfield name=\"急件\" result=\"0\" default=\"\" type=\"checkbox\" entries=\"\"/>"
                            "<formfield name=\"密件\" result=\"1\" default=\"\" type=\"checkbox\" entries=\"\"/>"
                            "<formfield name=\"留空\" result=\"1\" default=\"\" type=\"checkbox\" entries=\"\"/>"
                            "<formfield name=\"文种\" result=\"通知\" default=\"\" type=\"dropdown\" entries=\"通知|报告\"/>"
                            "<formfield name=\"类别\" result=\"通知\" default=\"\" type=\"dropdown\" entries=\"通知|报告\"/>"
                            "<formfield name=\"主送\" result=\"\" default=\"\"/>");
  OpenWithInitialXml(doc, 1,
                     "<r><BookMark Name=\"急件\" Text=\"是\"/><BookMark Name=\"密件\" Text=\"0\"/>"
                     "<BookMark Name=\"留空\" Text=\"\"/><BookMark Name=\"文种\" Text=\"报告\"/>"
                     "<BookMark Name=\"类别\" Text=\"函\"/><BookMark Name=\"主送\" Text=\"各部门\"/></r>");
  std::string saved = ReadAll(doc);
  EXPECT_NE(saved.find(U8("<formfield name=\"急件\" result=\"1\"")), std::string::npos) << saved;
  EXPECT_NE(saved.find(U8("<formfield name=\"密件\" result=\"0\"")), std::string::npos) << "cleared";
  EXPECT_NE(saved.find(U8("<formfield name=\"留空\" result=\"1\"")), std::string::npos) << "a blank value changes nothing";
  EXPECT_NE(saved.find(U8("<formfield name=\"文种\" result=\"报告\"")), std::string::npos) << "the entry chosen";
  EXPECT_NE(saved.find(U8("<formfield name=\"类别\" result=\"通知\"")), std::string::npos) << "no such entry: as it was";
  EXPECT_NE(saved.find(U8("<formfield name=\"主送\" result=\"各部门\" default=\"各部门\"/>")), std::string::npos)
      << "the entries after them were filled";
  EXPECT_TRUE(gui.messages.empty());
}

// A red-header template: "RED HEADER\r[\r\r]\rFOOTER" with the body between
// the bookmarks around "[" and "]", a template part before and after it and
// a field the XML fills.
constexpr char kTemplate[] =
    "<text>RED HEADER\r[\r\r]\rFOOTER</text>"
    "<bookmark name=\"正文内容B\" start=\"11\" end=\"12\"/>"
    "<bookmark name=\"正文内容E\" start=\"14\" end=\"15\"/>"
    "<bookmark name=\"发文机关\" start=\"0\" end=\"3\"/>"
    "<bookmark name=\"落款\" start=\"16\" end=\"22\"/>"
    "<field code=\" DOCVARIABLE 发文号 \" result=\"\"/>";

class Templates : public XmlFill {
 protected:
  void TearDown() override {
    values->LocalTmplFN.clear();
    values->TmplMissing = false;
    XmlFill::TearDown();
  }
  void OpenBody(const char* body = "Body text") {
    doc = Fixture("body.doc", std::string("<text>") + body + "</text>");
    Configure(doc);
    ASSERT_TRUE(Start());
    notes.clear();
  }
  std::wstring Text() { return driver->Document().CallObject(L"Range").Text(L"Text"); }
  long SelectionStart() { return DispObject(values->WordApplication).Object(L"Selection").Long(L"Start"); }
  std::string doc;
};

TEST_F(Templates, ApplyAroundTheBodyAndRemoveAgain) {
  std::string tmpl = Fixture("red.doc", kTemplate);
  OpenBody();
  BStr tmplName = BStr::FromAnsi(tmpl), xml = BStr::FromAnsi(Gb("<r><BookMark Name=\"发文号\" Text=\"第7号\"/></r>"));
  ASSERT_EQ(driver->SetDocTmplFN(tmplName.Get()), S_OK);
  ASSERT_EQ(driver->SetXMLCont(1, xml.Get()), S_OK);
  DispObject word(values->WordApplication);
  word.Put(L"WindowState", 0);  // a normal window: its place and size are given back too
  long width = word.Long(L"Width");

  ASSERT_EQ(driver->SetUseTmpl(VARIANT_TRUE), S_OK);
  EXPECT_EQ(Text(), L"RED HEADER\r[\rBody text]\rFOOTER") << "the body inside the template";
  EXPECT_EQ(SelectionStart(), 13) << "the cursor at the body start";
  EXPECT_EQ(notes.back(), "0,2,0");
  EXPECT_EQ(word.Long(L"Width"), width) << "Word's window is given back";
  EXPECT_EQ(word.Long(L"WindowState"), 0);
  EXPECT_FALSE(values->TmplMissing);
  EXPECT_EQ(WideToAnsi(driver->Document().Text(L"FullName")), doc) << "the working copy is the rebuilt document";
  std::string saved = ReadAll(doc);
  EXPECT_NE(saved.find(U8("result=\"第7号\"")), std::string::npos) << "filled from XML after applying";
  EXPECT_NE(saved.find(U8("<bookmark name=\"正文内容E\" start=\"22\" end=\"23\"/>")), std::string::npos) << saved;
  EXPECT_EQ(driver->ChkDocValid(), VARIANT_TRUE);

  notes.clear();
  EXPECT_EQ(driver->SetUseTmpl(VARIANT_TRUE), S_OK);
  EXPECT_EQ(notes, std::vector<std::string>{"0,2,0"}) << "applying twice changes nothing; the caption hears the state";

  ASSERT_EQ(driver->SetUseTmpl(VARIANT_FALSE), S_OK);
  EXPECT_EQ(Text(), L"Body text") << "the body alone remains";
  EXPECT_EQ(notes.back(), "0,2,1");
  EXPECT_EQ(WideToAnsi(driver->Document().Text(L"FullName")), doc);
  EXPECT_FALSE(FileExists(doc + ".keep")) << "nothing set aside is left";
  EXPECT_NE(ReadAll(doc).find("<format name=\"doc\"/>"), std::string::npos)
      << "the body's new document is written as the .doc its name says, not in Word's default format";
}

TEST_F(Templates, TemplatePartsMustStayAsTheyWere) {
  std::string tmpl = Fixture("red.doc", kTemplate);
  OpenBody();
  BStr tmplName = BStr::FromAnsi(tmpl);
  ASSERT_EQ(driver->SetDocTmplFN(tmplName.Get()), S_OK);
  ASSERT_EQ(driver->SetUseTmpl(VARIANT_TRUE), S_OK);
  driver->Document().CallObject(L"Range", {Arg(15), Arg(15)}).Put(L"Text", L"more body ");
  EXPECT_EQ(driver->ChkDocValid(), VARIANT_TRUE) << "the body may grow";
  driver->Document().CallObject(L"Range", {Arg(0), Arg(0)}).Put(L"Text", L"X");
  gui.messages.clear();
  EXPECT_EQ(driver->ChkDocValid(), VARIANT_FALSE);
  ASSERT_EQ(gui.messages.size(), 1u) << "told through the object's ICommGUI";
  EXPECT_EQ(gui.messages[0], Utf8ToWide("\r\n文档中的模板部分不允许修改:\r\nWord文档中的书签 发文机关 已丢失或位置发生了变化!"));
  EXPECT_EQ(gui.types[0], 2) << "an information message";
  EXPECT_EQ(gui.buttonSets[0], L"2") << "OK only";
}

// In Word a field's result is part of the text: the number the XML puts into
// the header moves the body and every template bookmark after it. That is no
// edit of a template part, and must never keep the user from saving.
TEST_F(Templates, FieldResultsInTheHeaderAreNoEditOfTheTemplate) {
  std::string tmpl = Fixture("numbered.doc",
                             "<text>RED No.\r[\r\r]\rFOOTER</text>"
                             "<bookmark name=\"正文内容B\" start=\"8\" end=\"9\"/>"
                             "<bookmark name=\"正文内容E\" start=\"11\" end=\"12\"/>"
                             "<bookmark name=\"落款\" start=\"13\" end=\"19\"/>"
                             "<field code=\" DOCVARIABLE 发文号 \" result=\"\" start=\"7\"/>");
  OpenBody();
  BStr tmplName = BStr::FromAnsi(tmpl), xml = BStr::FromAnsi(Gb("<r><BookMark Name=\"发文号\" Text=\"第7号\"/></r>"));
  ASSERT_EQ(driver->SetDocTmplFN(tmplName.Get()), S_OK);
  ASSERT_EQ(driver->SetXMLCont(1, xml.Get()), S_OK);
  ASSERT_EQ(driver->SetUseTmpl(VARIANT_TRUE), S_OK);
  EXPECT_EQ(Text(), Utf8ToWide("RED No.第7号\r[\rBody text]\rFOOTER")) << "the number inside the header's text";
  std::string saved = ReadAll(doc);
  EXPECT_NE(saved.find(U8("<bookmark name=\"落款\" start=\"24\" end=\"30\"/>")), std::string::npos)
      << "the footer moved by the number and the body: " << saved;
  gui.messages.clear();
  EXPECT_EQ(driver->ChkDocValid(), VARIANT_TRUE) << "filling a field is no edit of the template";
  EXPECT_TRUE(gui.messages.empty()) << "nothing told";
  driver->Document().CallObject(L"Range", {Arg(24), Arg(24)}).Put(L"Text", L"X");
  EXPECT_EQ(driver->ChkDocValid(), VARIANT_FALSE) << "an edit of the footer is still found";
  ASSERT_EQ(gui.messages.size(), 1u);
  EXPECT_EQ(gui.messages[0], Utf8ToWide("\r\n文档中的模板部分不允许修改:\r\nWord文档中的书签 落款 已丢失或位置发生了变化!"));
}

// A template whose issuing office and number are in the first page's header:
// the number is filled there, and the header's bookmarks keep their places
// however the body grows, for they count in a story of their own.
TEST_F(Templates, APageHeaderTemplateIsFilledAndChecked) {
  std::string tmpl = Fixture("header.doc",
                             "<text>[\r\r]\rFOOTER</text>"
                             "<story type=\"10\" section=\"1\">RED No.&#13;</story>"
                             "<bookmark name=\"正文内容B\" start=\"0\" end=\"1\"/>"
                             "<bookmark name=\"正文内容E\" start=\"3\" end=\"4\"/>"
                             "<bookmark name=\"落款\" start=\"5\" end=\"11\"/>"
                             "<bookmark name=\"发文机关\" start=\"4\" end=\"7\" story=\"1\"/>"
                             "<field code=\" DOCVARIABLE 发文号 \" result=\"\" start=\"7\" story=\"1\"/>");
  OpenBody();
  BStr tmplName = BStr::FromAnsi(tmpl), xml = BStr::FromAnsi(Gb("<r><BookMark Name=\"发文号\" Text=\"第7号\"/></r>"));
  ASSERT_EQ(driver->SetDocTmplFN(tmplName.Get()), S_OK);
  ASSERT_EQ(driver->SetXMLCont(1, xml.Get()), S_OK);
  ASSERT_EQ(driver->SetUseTmpl(VARIANT_TRUE), S_OK);
  EXPECT_EQ(Text(), L"[\rBody text]\rFOOTER");
  DispObject header = driver->Document().Object(L"StoryRanges").CallObject(L"Item", {Arg(10L)});
  EXPECT_EQ(header.Text(L"Text"), Utf8ToWide("RED No.第7号\r")) << "the number in the page header";
  gui.messages.clear();
  EXPECT_EQ(driver->ChkDocValid(), VARIANT_TRUE);
  driver->Document().CallObject(L"Range", {Arg(3), Arg(3)}).Put(L"Text", L"more body ");
  EXPECT_EQ(driver->ChkDocValid(), VARIANT_TRUE) << "the body grew; the header's bookmark stays where it was";
  EXPECT_TRUE(gui.messages.empty());
  header.Call(L"SetRange", {Arg(0L), Arg(0L)});
  header.Put(L"Text", L"X");
  EXPECT_EQ(driver->ChkDocValid(), VARIANT_FALSE) << "an edit of the header is found";
  ASSERT_EQ(gui.messages.size(), 1u);
  EXPECT_EQ(gui.messages[0], Utf8ToWide("\r\n文档中的模板部分不允许修改:\r\nWord文档中的书签 发文机关 已丢失或位置发生了变化!"));
}

TEST_F(Templates, MissingOrBodilessTemplate) {
  OpenBody();
  TFrmUserCtrlPop controlWindow(values);  // told through the handle it records
  EnableWindow(controlWindow.Button(kSpbHT), TRUE);
  BStr missing(L"c:\\no\\such\\template.doc");
  ASSERT_EQ(driver->SetDocTmplFN(missing.Get()), S_OK);
  {
    DialogRobot robot(L"", false, 0, L"#32770");
    EXPECT_EQ(driver->SetUseTmpl(VARIANT_TRUE), S_FALSE) << "status 1";
    EXPECT_EQ(robot.Seen().text, Utf8ToWide("找不到模板文件"));
    EXPECT_EQ(robot.Seen().title, Utf8ToWide("信息提示"));
  }
  EXPECT_TRUE(values->TmplMissing);
  EXPECT_FALSE(IsWindowEnabled(controlWindow.Button(kSpbHT))) << "the control window was told (1324)";
  EXPECT_TRUE(notes.empty() || notes.back() != "0,2,0") << "no state change reported";

  // The end bookmark before the start: no body. The user keeps the document.
  std::string bodiless = Fixture("bodiless.doc",
                                 "<text>HEAD\r]\r[\rFOOT</text><bookmark name=\"正文内容B\" start=\"7\" end=\"8\"/>"
                                 "<bookmark name=\"正文内容E\" start=\"5\" end=\"6\"/>");
  BStr bodilessName = BStr::FromAnsi(bodiless);
  ASSERT_EQ(driver->SetDocTmplFN(bodilessName.Get()), S_OK);
  {
    DialogRobot robot(L"", false, 0, L"#32770");
    EXPECT_EQ(driver->SetUseTmpl(VARIANT_TRUE), S_FALSE);
    robot.Seen();
  }
  EXPECT_EQ(WideToAnsi(driver->Document().Text(L"FullName")), doc) << "the working copy is open again";
  EXPECT_EQ(Text(), L"Body text");
  EXPECT_EQ(DocumentCount(), 1) << "the template was closed";
  EXPECT_EQ(ReadAll(doc).find("HEAD"), std::string::npos);
}

TEST_F(Templates, AFailingSaveKeepsTheWorkingCopy) {
  std::string tmpl = Fixture("red.doc", kTemplate);
  OpenBody();
  BStr tmplName = BStr::FromAnsi(tmpl);
  ASSERT_EQ(driver->SetDocTmplFN(tmplName.Get()), S_OK);
  std::ofstream("c:\\doubles\\control.ini") << "[fail]\r\nDocument.SaveAs=Disk is full.\r\n";
  EXPECT_EQ(driver->SetUseTmpl(VARIANT_TRUE), S_OK);
  ASSERT_FALSE(gui.messages.empty());
  EXPECT_NE(gui.messages.back().find(L"Disk is full."), std::wstring::npos) << "Word's error is shown";
  EXPECT_EQ(notes.back(), "0,2,1") << "the caption is told the document has no template";
  EXPECT_EQ(WideToAnsi(driver->Document().Text(L"FullName")), doc) << "the user has the working copy";
  EXPECT_EQ(Text(), L"Body text");
  EXPECT_NE(ReadAll(doc).find("Body text"), std::string::npos) << "and its file";
  EXPECT_EQ(DocumentCount(), 1);

  DeleteFileA("c:\\doubles\\control.ini");
  ASSERT_EQ(driver->SetUseTmpl(VARIANT_FALSE), S_OK);  // the failed apply left the state as it was
  ASSERT_EQ(driver->SetUseTmpl(VARIANT_TRUE), S_OK);
  std::wstring applied = Text();
  std::ofstream("c:\\doubles\\control.ini") << "[fail]\r\nDocument.SaveAs=Disk is full.\r\n";
  gui.messages.clear();
  EXPECT_EQ(driver->SetUseTmpl(VARIANT_FALSE), S_OK);
  EXPECT_EQ(gui.messages.size(), 1u);
  EXPECT_EQ(WideToAnsi(driver->Document().Text(L"FullName")), doc);
  EXPECT_EQ(Text(), applied) << "removing failed: the document as it was";
  EXPECT_EQ(notes.back(), "0,2,0") << "and the caption says the template is still applied";
  EXPECT_NE(ReadAll(doc).find("RED HEADER"), std::string::npos);
  EXPECT_EQ(DocumentCount(), 1) << "the new document was closed";
  DeleteFileA("c:\\doubles\\control.ini");

  // The rebuild is written, then a later step fails: the document has its red
  // header, and flag and caption say so. Removing removes it; applying again
  // never nests a second one.
  ASSERT_EQ(driver->SetUseTmpl(VARIANT_FALSE), S_OK);
  ASSERT_EQ(Text(), L"Body text");
  std::ofstream("c:\\doubles\\control.ini") << "[fail]\r\nSelection.GoTo=The bookmark does not exist.\r\n";
  EXPECT_EQ(driver->SetUseTmpl(VARIANT_TRUE), S_OK);
  DeleteFileA("c:\\doubles\\control.ini");
  EXPECT_NE(Text().find(L"RED HEADER"), std::wstring::npos);
  EXPECT_EQ(notes.back(), "0,2,0") << "applied, as the document is";
  ASSERT_EQ(driver->SetUseTmpl(VARIANT_FALSE), S_OK);
  EXPECT_EQ(Text(), L"Body text") << "removing after the half-done apply removes it";
  ASSERT_EQ(driver->SetUseTmpl(VARIANT_TRUE), S_OK);
  std::wstring again = Text();
  EXPECT_EQ(again.find(L"RED HEADER"), again.rfind(L"RED HEADER")) << "one red header only: " << WideToAnsi(again);
}

TEST_F(Templates, BodyFontBottomLineAndInsertFile) {
  std::string tmpl = Fixture("red.doc", kTemplate);
  OpenBody();
  BStr tmplName = BStr::FromAnsi(tmpl), font(Utf8ToWide("仿宋_GB2312"));
  ASSERT_EQ(driver->SetDocTmplFN(tmplName.Get()), S_OK);
  ASSERT_EQ(driver->SetUseTmpl(VARIANT_TRUE), S_OK);
  ASSERT_EQ(driver->SetFontByWebPage(font.Get(), 16, 0x1FF, 0x102, 0x300), S_OK);
  ASSERT_EQ(driver->SetBottomLine(), S_OK);
  {
    // Word's insert-file dialog: the call returns once the user closes it, and
    // while it is open Word refuses calls from outside.
    HRESULT meanwhile = S_OK;
    std::thread user([&] {
      HWND dialog = nullptr;
      for (int i = 0; i < 200 && !dialog; ++i) {
        dialog = FindWindowW(L"#32770", L"Insert File");
        if (!dialog) Sleep(50);
      }
      if (!dialog) return;
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      {
        Microsoft::WRL::ComPtr<IUnknown> running;
        Microsoft::WRL::ComPtr<IDispatch> word;
        if (GetActiveObject(kWordClass, nullptr, &running) == S_OK && SUCCEEDED(running.As(&word))) {
          LPOLESTR name = const_cast<LPOLESTR>(L"UserName");
          DISPID id = 0;
          meanwhile = word->GetIDsOfNames(IID_NULL, &name, 1, 0, &id);
          if (SUCCEEDED(meanwhile)) {
            DISPPARAMS none{};
            VARIANT value;
            VariantInit(&value);
            meanwhile = word->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
            VariantClear(&value);
          }
        }
      }
      CoUninitialize();
      PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(driver->InsertFile(), S_OK);
    user.join();
    EXPECT_EQ(meanwhile, RPC_E_SERVERCALL_RETRYLATER) << "Word refused a call while its dialog was open";
  }
  ASSERT_EQ(driver->SaveDoc(), VARIANT_TRUE) << "and answers again once it is closed";
  std::string saved = ReadAll(doc);
  EXPECT_NE(saved.find("<font start=\"13\" end=\"22\" attribute=\"Color\" value=\"767\"/>"), std::string::npos)
      << "the body only, each colour component's low byte: " << saved;
  EXPECT_NE(saved.find("attribute=\"Size\" value=\"16\""), std::string::npos);
  EXPECT_NE(saved.find(U8("attribute=\"Name\" value=\"仿宋_GB2312\"")), std::string::npos);
  std::string line = AttributeOf(saved, "shape", "properties");
  for (const char* expected :
       {"Line.Weight=0.75", "Line.ForeColor.RGB=255", "Line.BackColor.RGB=16777215", "Width=444.45", "Left=-999995",
        "Top=780.37", "WrapFormat.Type=3", "WrapFormat.DistanceLeft=9.07", "ZOrder=5", "RelativeVerticalPosition=1"})
    EXPECT_NE(line.find(expected), std::string::npos) << expected << " in " << line;
  std::string log = ReadAll("c:\\doubles\\calls.log");
  EXPECT_NE(log.find("Dialogs.Item\t164\tok"), std::string::npos) << "Word's insert-file dialog (wdDialogInsertFile)";
  EXPECT_EQ(log.find("Application.Run\t"), std::string::npos) << "no macro run for it";
}

// Three print regions ("...F" bookmarks and their "E" partners), a pair
// whose partner starts too early, a data bookmark, the header rule "Line 50",
// a line inside a region and one in the body.
constexpr char kPrintDocument[] =
    "<text>HEAD1\rBODY\rHEAD2\rDATA\rTAIL</text>"
    "<bookmark name=\"BTopF\" start=\"0\" end=\"0\"/><bookmark name=\"ETopF\" start=\"5\" end=\"5\"/>"
    "<bookmark name=\"BMidF\" start=\"11\" end=\"11\"/><bookmark name=\"EMidF\" start=\"16\" end=\"16\"/>"
    "<bookmark name=\"BTailF\" start=\"22\" end=\"22\"/><bookmark name=\"ETailF\" start=\"26\" end=\"26\"/>"
    "<bookmark name=\"BBadF\" start=\"10\" end=\"12\"/><bookmark name=\"EBadF\" start=\"8\" end=\"8\"/>"
    "<bookmark name=\"WenJianBianHao\" start=\"17\" end=\"21\"/>"
    "<shape name=\"Line 50\" type=\"line\" properties=\"Anchor=2;Line.ForeColor.RGB=255\"/>"
    "<shape name=\"Line 7\" type=\"line\" properties=\"Anchor=12;Line.ForeColor.RGB=255\"/>"
    "<shape name=\"Line 9\" type=\"line\" properties=\"Anchor=7;Line.ForeColor.RGB=255\"/>"
    "<font start=\"0\" end=\"5\" attribute=\"Color\" value=\"255\"/>"
    "<font start=\"2\" end=\"4\" attribute=\"Color\" value=\"16711680\"/>"
    "<font start=\"11\" end=\"16\" attribute=\"Color\" value=\"255\"/>"
    "<font start=\"22\" end=\"26\" attribute=\"Color\" value=\"0\"/>";

class Print : public DriverFixture {
 protected:
  void Open(const char* content = kPrintDocument) {
    doc = Fixture("print.doc", content);
    Configure(doc);
    ASSERT_EQ(driver->setSaveTrack(VARIANT_TRUE), S_OK);
    ASSERT_TRUE(Start());
    notes.clear();
  }
  std::wstring ColorAt(long start, long end) {
    return driver->Document().CallObject(L"Range", {Arg(start), Arg(end)}).Object(L"Font").Text(L"Color");
  }
  std::wstring LineColor(const wchar_t* shape) {
    return driver->Document().Object(L"Shapes").CallObject(L"Item", {Arg(shape)}).Object(L"Line").Object(
        L"ForeColor").Text(L"RGB");
  }
  // The colour of `start`..`end` in the `nth` story of `type` (1 the main text).
  long StoryColor(long type, int nth, long start, long end) {
    DispObject story = driver->Document().Object(L"StoryRanges").CallObject(L"Item", {Arg(type)});
    for (int i = 1; i < nth; ++i) story = story.Object(L"NextStoryRange");
    DispObject range = story.Object(L"Duplicate");
    range.Call(L"SetRange", {Arg(start), Arg(end)});
    return range.Object(L"Font").Long(L"Color");
  }
  // A shape's line colour, wherever it is anchored.
  long ShapeColor(const wchar_t* name) {
    DispObject document = driver->Document();
    for (DispObject shapes : {document.Object(L"Shapes"), HeaderFooterShapes(document)}) {
      try {
        return shapes.CallObject(L"Item", {Arg(name)}).Object(L"Line").Object(L"ForeColor").Long(L"RGB");
      } catch (const ComError&) {
      }
    }
    return -1;
  }
  std::string doc;
};

TEST_F(Print, EnterPrintAndLeave) {
  Open();
  ASSERT_EQ(driver->SetPrintMode(VARIANT_TRUE), S_OK);
  EXPECT_EQ(notes, std::vector<std::string>{"0,1,0"});
  EXPECT_EQ(driver->Document().Long(L"ProtectionType"), 0) << "protection given back";
  for (auto [start, end] : {std::pair{0L, 5L}, {11L, 16L}, {22L, 26L}})
    EXPECT_EQ(ColorAt(start, end), L"16777215") << "template part " << start << " prints white";
  EXPECT_EQ(ColorAt(6, 10), L"-16777216") << "the body is untouched (automatic colour)";
  EXPECT_EQ(ColorAt(17, 21), L"12698049") << "data bookmarks grey";
  EXPECT_EQ(LineColor(L"Line 50"), L"16777215");
  EXPECT_EQ(LineColor(L"Line 7"), L"16777215") << "a line inside a region";
  EXPECT_EQ(LineColor(L"Line 9"), L"255") << "a line in the body";

  ASSERT_EQ(driver->PrintDoc(VARIANT_TRUE), S_OK) << "printed";
  std::string log = ReadAll("c:\\doubles\\calls.log");
  EXPECT_NE(log.find("Document.PrintOut.shapes\tLine 50=16777215;Line 7=16777215;Line 9=255;"), std::string::npos)
      << log;
  EXPECT_EQ(notes.size(), 1u) << "already in print mode: no switch";

  ASSERT_EQ(driver->SetPrintMode(VARIANT_FALSE), S_OK);
  EXPECT_EQ(notes.back(), "0,1,1");
  // Every run gets its own colour back: the first region mixes red and blue
  // (Word answers 9999999 for it as a whole).
  EXPECT_EQ(ColorAt(0, 2), L"255");
  EXPECT_EQ(ColorAt(2, 4), L"16711680");
  EXPECT_EQ(ColorAt(4, 5), L"255");
  EXPECT_EQ(ColorAt(0, 5), L"9999999");
  EXPECT_EQ(ColorAt(11, 16), L"255");
  EXPECT_EQ(ColorAt(22, 26), L"0") << "the third region keeps its own colour";
  EXPECT_EQ(ColorAt(17, 21), L"-16777216") << "the data bookmarks as they were";
  EXPECT_EQ(LineColor(L"Line 50"), L"255") << "the header rule is red again, though it lies in a region";
  EXPECT_EQ(LineColor(L"Line 7"), L"255");
  EXPECT_EQ(driver->Document().Long(L"ProtectionType"), 0);
}

// A save in print mode writes the document with its red header; the screen
// stays in print mode and the document counts as saved.
TEST_F(Print, SavingInPrintModeWritesTheTemplateColours) {
  Open();
  ASSERT_EQ(driver->SetPrintMode(VARIANT_TRUE), S_OK);
  ASSERT_EQ(driver->SaveDoc(), VARIANT_TRUE);
  EXPECT_EQ(ColorAt(0, 5), L"16777215") << "still white on the screen";
  EXPECT_TRUE(driver->Document().Bool(L"Saved"));
  std::string copy = doc + ".saved.doc";
  ASSERT_TRUE(CopyFileA(doc.c_str(), copy.c_str(), FALSE));
  DispObject saved = DispObject(values->WordApplication)
                         .Object(L"Documents")
                         .CallObject(L"Open", {Arg::Ansi(copy)});
  auto savedColor = [&](long start, long end) {
    return saved.CallObject(L"Range", {Arg(start), Arg(end)}).Object(L"Font").Text(L"Color");
  };
  EXPECT_EQ(savedColor(0, 2), L"255") << "the file holds the red header";
  EXPECT_EQ(savedColor(2, 4), L"16711680");
  EXPECT_EQ(savedColor(11, 16), L"255");
  EXPECT_EQ(savedColor(17, 21), L"-16777216") << "and the data as it was, not grey";
  saved.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
  DeleteFileA(copy.c_str());
  ASSERT_EQ(driver->SetPrintMode(VARIANT_FALSE), S_OK);
  EXPECT_EQ(ColorAt(2, 4), L"16711680");
}

TEST_F(Print, PrintingSwitchesModeAndReportsPrinterFaults) {
  Open();
  ASSERT_EQ(driver->setTrackRev(VARIANT_TRUE), S_OK);
  notes.clear();
  ASSERT_EQ(driver->PrintDoc(VARIANT_TRUE), S_OK);
  EXPECT_EQ(notes.front(), "0,1,0") << "print mode entered for printing";
  EXPECT_EQ(ColorAt(0, 5), L"16777215") << "and kept afterwards";
  EXPECT_TRUE(driver->Document().Bool(L"ShowRevisions")) << "revisions shown again";

  std::ofstream("c:\\doubles\\control.ini") << "[fail]\r\nDocument.PrintOut=The printer is out of paper.\r\n";
  EXPECT_EQ(driver->PrintDoc(VARIANT_TRUE), S_FALSE) << "status 1";
  ASSERT_EQ(gui.messages.size(), 1u);
  EXPECT_EQ(gui.messages[0], Utf8ToWide("\r\n对不起,打印机不能正常工作!"));
  EXPECT_EQ(gui.types[0], 0);
  EXPECT_TRUE(driver->Document().Bool(L"ShowRevisions"));
  DeleteFileA("c:\\doubles\\control.ini");
}

// Word prints in the background unless told otherwise, rendering the pages
// after PrintOut returned: leaving print mode right after printing must not
// put the template's colours on the paper.
TEST_F(Print, PagesAreRenderedWhiteThoughPrintModeEndsRightAfter) {
  Open();
  ASSERT_EQ(driver->PrintDoc(VARIANT_TRUE), S_OK);
  ASSERT_EQ(driver->SetPrintMode(VARIANT_FALSE), S_OK);
  EXPECT_EQ(LineColor(L"Line 50"), L"255") << "the colours are restored after printing";
  EXPECT_EQ(ColorAt(11, 16), L"255");
  DelayWithMessages(800);  // longer than the double's background rendering takes
  std::string log = ReadAll("c:\\doubles\\calls.log");
  EXPECT_NE(log.find("Document.PrintOut\tFalse"), std::string::npos) << "printed in the foreground: " << log;
  size_t shapes = log.find("Document.PrintOut.shapes\t");
  ASSERT_NE(shapes, std::string::npos) << log;
  EXPECT_EQ(log.find("Line 50=16777215;Line 7=16777215;", shapes), shapes + 25) << "white when rendered: "
                                                                                << log.substr(shapes, 80);
  size_t colours = log.find("Document.PrintOut.colours\t");
  ASSERT_NE(colours, std::string::npos);
  std::string rendered = log.substr(colours, log.find('\n', colours) - colours);
  // The colours given to a range, in the order given: the last one is on the paper.
  size_t last = rendered.rfind("11-16=");
  ASSERT_NE(last, std::string::npos) << rendered;
  EXPECT_EQ(rendered.substr(last, 15), "11-16=16777215;") << "the region white when rendered: " << rendered;
}

// Red headers kept in a text box and in the first page's header: the body
// shares their character numbers (each story counts from 0), with a black
// run and a red line where a region of the other story would be.
constexpr char kTextBoxTemplate[] =
    "<text>Body of the notice\rSecond line</text>"
    "<story type=\"5\" shape=\"Text Box 1\">RED TITLE here</story>"
    "<story type=\"5\" shape=\"Text Box 2\">Other box text</story>"
    "<bookmark name=\"TitleBF\" start=\"0\" end=\"0\" story=\"1\"/>"
    "<bookmark name=\"TitleEF\" start=\"9\" end=\"9\" story=\"1\"/>"
    "<bookmark name=\"BBoxF\" start=\"10\" end=\"10\" story=\"1\"/>"  // its partner is in the other box
    "<bookmark name=\"EBoxF\" start=\"12\" end=\"12\" story=\"2\"/>"
    "<shape name=\"Text Box 1\" type=\"textbox\" properties=\"Anchor=0\"/>"
    "<shape name=\"Text Box 2\" type=\"textbox\" properties=\"Anchor=19\"/>"
    "<shape name=\"Line 9\" type=\"line\" properties=\"Anchor=3;Line.ForeColor.RGB=255\"/>"
    "<font start=\"0\" end=\"14\" attribute=\"Color\" value=\"255\" story=\"1\"/>"
    "<font start=\"0\" end=\"14\" attribute=\"Color\" value=\"0\" story=\"2\"/>"
    "<font start=\"0\" end=\"18\" attribute=\"Color\" value=\"0\"/>";
constexpr char kPageHeaderTemplate[] =
    "<text>Body of the notice\rSecond line</text>"
    "<story type=\"10\" section=\"1\">No. 12 RED\r</story>"
    "<bookmark name=\"NoBF\" start=\"0\" end=\"0\" story=\"1\"/>"
    "<bookmark name=\"NoEF\" start=\"10\" end=\"10\" story=\"1\"/>"
    "<bookmark name=\"WenJianBianHao\" start=\"4\" end=\"6\" story=\"1\"/>"
    "<bookmark name=\"SplitBF\" start=\"1\" end=\"1\" story=\"1\"/>"  // its partner is in the body
    "<bookmark name=\"SplitEF\" start=\"20\" end=\"20\"/>"
    "<shape name=\"Line 50\" type=\"line\" properties=\"Anchor=2;Line.ForeColor.RGB=255\" anchorstory=\"1\"/>"
    "<shape name=\"Line 51\" type=\"line\" properties=\"Anchor=5;Line.ForeColor.RGB=255\" anchorstory=\"1\"/>"
    "<shape name=\"Line 9\" type=\"line\" properties=\"Anchor=3;Line.ForeColor.RGB=255\"/>"
    "<font start=\"0\" end=\"10\" attribute=\"Color\" value=\"255\" story=\"1\"/>"
    "<font start=\"0\" end=\"18\" attribute=\"Color\" value=\"0\"/>";

TEST_F(Print, RedHeadersInATextBoxOrAPageHeader) {
  constexpr long kSame = -2, kWhite = 16777215, kGrey = 12698049;
  struct Probe {
    long type;
    int nth;
    long start, end;
    long printed;  // the colour in print mode; kSame: as before
  };
  struct Case {
    const char* where;
    const char* content;
    std::vector<Probe> probes;
    std::vector<std::pair<const wchar_t*, bool>> shapes;  // name, whitened
    std::string printedRun;                               // what the paper shows of the region
  };
  const std::vector<Probe> body = {{1, 1, 0, 18, kSame}, {1, 1, 18, 30, kSame}};
  const Case cases[] = {
      {"text box", kTextBoxTemplate,
       {{5, 1, 0, 9, kWhite}, {5, 1, 9, 14, kSame}, {5, 2, 0, 14, kSame}},
       {{L"Line 9", false}},
       "s1:0-9=16777215;"},
      {"page header", kPageHeaderTemplate,
       {{10, 1, 0, 4, kWhite}, {10, 1, 4, 6, kGrey}, {10, 1, 6, 10, kWhite}, {10, 1, 10, 11, kSame}},
       {{L"Line 50", true}, {L"Line 51", true}, {L"Line 9", false}},
       "s1:0-10=16777215;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    Open(c.content);
    DispObject selection = DispObject(values->WordApplication).Object(L"Selection");
    driver->Document().CallObject(L"Range", {Arg(3L), Arg(5L)}).Call(L"Select");
    std::wstring bodyText = driver->Document().CallObject(L"Range").Text(L"Text");
    std::vector<Probe> probes = c.probes;
    probes.insert(probes.end(), body.begin(), body.end());
    std::vector<long> before;
    for (const Probe& p : probes) before.push_back(StoryColor(p.type, p.nth, p.start, p.end));

    ASSERT_EQ(driver->SetPrintMode(VARIANT_TRUE), S_OK);
    for (size_t i = 0; i < probes.size(); ++i) {
      const Probe& p = probes[i];
      EXPECT_EQ(StoryColor(p.type, p.nth, p.start, p.end), p.printed == kSame ? before[i] : p.printed)
          << "story " << p.type << "/" << p.nth << " " << p.start << "-" << p.end;
    }
    for (auto [name, whitened] : c.shapes) EXPECT_EQ(ShapeColor(name), whitened ? kWhite : 255) << WideToAnsi(name);
    ASSERT_EQ(driver->PrintDoc(VARIANT_TRUE), S_OK);
    std::string log = ReadAll("c:\\doubles\\calls.log");
    EXPECT_NE(log.find(c.printedRun), std::string::npos) << "printed white: " << log;

    ASSERT_EQ(driver->SetPrintMode(VARIANT_FALSE), S_OK);
    for (size_t i = 0; i < probes.size(); ++i)
      EXPECT_EQ(StoryColor(probes[i].type, probes[i].nth, probes[i].start, probes[i].end), before[i]) << "given back";
    for (auto [name, whitened] : c.shapes) EXPECT_EQ(ShapeColor(name), 255) << WideToAnsi(name);
    EXPECT_EQ(driver->Document().CallObject(L"Range").Text(L"Text"), bodyText) << "the body's text untouched";
    EXPECT_EQ(selection.Long(L"StoryType"), 1) << "the user's selection stays in the body";
    EXPECT_EQ(selection.Long(L"Start"), 3);
    EXPECT_EQ(selection.Long(L"End"), 5);
    NewDriver();
  }
}

// A template that holds a macro is applied without the macro running: the
// cycle's Word forbids macros before it opens anything.
TEST_F(Templates, MacroTemplateRunsNothing) {
  std::string tmpl = Fixture("macro-red.doc", std::string(kTemplate) + "<macro name=\"AutoOpen\"/>");
  OpenBody();
  BStr tmplName = BStr::FromAnsi(tmpl);
  ASSERT_EQ(driver->SetDocTmplFN(tmplName.Get()), S_OK);
  ASSERT_EQ(driver->SetUseTmpl(VARIANT_TRUE), S_OK);
  EXPECT_EQ(Text(), L"RED HEADER\r[\rBody text]\rFOOTER") << "applied";
  std::string log = ReadAll("c:\\doubles\\calls.log");
  EXPECT_NE(log.find("<macro>\tAutoOpen in macro-red.doc\tdisabled"), std::string::npos) << log;
  EXPECT_EQ(log.find("\tran\t"), std::string::npos) << "no macro ran: " << log;
}

}  // namespace
}  // namespace nib::test
