#include "OtherOffice.h"

#include <vector>

#include "Control.h"
#include "DocFile.h"
#include "DynDispatch.h"

namespace doubles {
namespace {

constexpr long kForceDisable = 3;  // msoAutomationSecurityForceDisable
constexpr long kPowerPointHtml = 12;  // ppSaveAsHTML, gone since PowerPoint 2013


// A workbook or presentation: its text, saved in the doubles' own format or as an HTML page.
class OfficeFile : public DynObject {
 public:
  OfficeFile(const wchar_t* type, std::wstring path, long htmlFormat)
      : DynObject(type), path_(std::move(path)), content_(ReadDocFile(path_)) {
    Property(L"Name", [this](Args&, VARIANT* r) { SetString(r, FileNameOf(path_)); });
    Property(L"FullName", [this](Args&, VARIANT* r) { SetString(r, path_); });
    Method(L"SaveAs", {L"FileName", L"FileFormat"}, [this, htmlFormat](Args& args, VARIANT*) {
      if (!open_) Raise(L"The object is closed.");
      if (htmlFormat == kPowerPointHtml && args.Long(1, 0) == kPowerPointHtml &&
          Setting(L"powerpoint", L"savehtml") == L"0")
        Raise(L"Presentation.SaveAs : Invalid enumeration value.", E_INVALIDARG);
      std::wstring target = args.String(0, path_);
      if (args.Long(1, 0) == htmlFormat)
        WriteHtmlPage(target, content_);
      else
        WriteDocFile(target, content_);
      path_ = target;
    });
    Method(L"Close", {L"SaveChanges"}, [this](Args&, VARIANT*) { open_ = false; });
  }

 private:
  std::wstring path_;
  DocContent content_;
  bool open_ = true;
};

class OfficeApplication : public DynObject {
 public:
  OfficeApplication(const wchar_t* collectionName, const wchar_t* fileType, long htmlFormat,
                    std::vector<std::wstring> openParams)
      : DynObject(L"Application") {
    collection_ = new CollectionObject(collectionName, fileType, htmlFormat, std::move(openParams), &security_);
    Property(collectionName, [this](Args&, VARIANT* r) { SetDispatch(r, collection_); });
    Property(L"Visible", [this](Args&, VARIANT* r) { SetBool(r, visible_); },
             [this](Args&, const VARIANT& v) { visible_ = ValueBool(v); });
    Property(L"DisplayAlerts", [this](Args&, VARIANT* r) { SetBool(r, alerts_); },
             [this](Args&, const VARIANT& v) { alerts_ = ValueBool(v); });
    // Files opened by automation run their macros (msoAutomationSecurityLow) unless told otherwise.
    Property(L"AutomationSecurity", [this](Args&, VARIANT* r) { SetLong(r, security_); },
             [this](Args&, const VARIANT& v) { security_ = ValueLong(v); });
    Method(L"Quit", {}, [](Args&, VARIANT*) { PostQuitMessage(0); });
  }
  ~OfficeApplication() override { collection_->Release(); }

 private:
  class CollectionObject : public DynObject {
   public:
    CollectionObject(const wchar_t* name, const wchar_t* fileType, long htmlFormat, std::vector<std::wstring> openParams,
                     const long* security)
        : DynObject(name) {
      std::wstring type = fileType;
      Method(L"Open", std::move(openParams), [type, htmlFormat, security](Args& args, VARIANT* result) {
        if (!args.Has(0)) Raise(L"Argument not optional", DISP_E_PARAMNOTFOUND);
        // Workbooks.Open: "If this argument [UpdateLinks] is omitted, the user
        // is prompted to specify how links will be updated": a modal prompt,
        // every call from outside refused until the user answers.
        if (type == L"Workbook" && !args.Has(1) && Setting(L"excel", L"links") == L"1") {
          SetModalDialogOpen(true);
          MessageBoxW(nullptr, L"This workbook contains links to other data sources. Update?", L"Microsoft Excel",
                      MB_YESNO);
          SetModalDialogOpen(false);
        }
        std::wstring path = args.String(0);
        DocContent content = ReadDocFile(path);
        if (!content.macro.empty())
          LogCall(type, L"<macro>", content.macro + L" in " + FileNameOf(path),
                  *security == kForceDisable ? L"disabled" : L"ran");
        auto* file = new OfficeFile(type.c_str(), path, htmlFormat);
        SetDispatch(result, file);
        file->Release();
      });
    }
  };

  CollectionObject* collection_;
  bool visible_ = false;
  bool alerts_ = true;
  long security_ = 1;
};

}  // namespace

IDispatch* CreateExcelApplication() {
  return new OfficeApplication(L"Workbooks", L"Workbook", 44, {L"Filename", L"UpdateLinks", L"ReadOnly"});
}

IDispatch* CreatePowerPointApplication() {
  return new OfficeApplication(L"Presentations", L"Presentation", 12,
                               {L"FileName", L"ReadOnly", L"Untitled", L"WithWindow"});
}

}  // namespace doubles
