#include "OtherOffice.h"

#include <vector>

#include "DocFile.h"
#include "DynDispatch.h"

namespace doubles {
namespace {


// A workbook or presentation: its text, saved in the doubles' own format or as an HTML page.
class OfficeFile : public DynObject {
 public:
  OfficeFile(const wchar_t* type, std::wstring path, long htmlFormat)
      : DynObject(type), path_(std::move(path)), content_(ReadDocFile(path_)) {
    Property(L"Name", [this](Args&, VARIANT* r) { SetString(r, FileNameOf(path_)); });
    Property(L"FullName", [this](Args&, VARIANT* r) { SetString(r, path_); });
    Method(L"SaveAs", {L"FileName", L"FileFormat"}, [this, htmlFormat](Args& args, VARIANT*) {
      if (!open_) Raise(L"The object is closed.");
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
    collection_ = new CollectionObject(collectionName, fileType, htmlFormat, std::move(openParams));
    Property(collectionName, [this](Args&, VARIANT* r) { SetDispatch(r, collection_); });
    Property(L"Visible", [this](Args&, VARIANT* r) { SetBool(r, visible_); },
             [this](Args&, const VARIANT& v) { visible_ = ValueBool(v); });
    Property(L"DisplayAlerts", [this](Args&, VARIANT* r) { SetBool(r, alerts_); },
             [this](Args&, const VARIANT& v) { alerts_ = ValueBool(v); });
    Method(L"Quit", {}, [](Args&, VARIANT*) { PostQuitMessage(0); });
  }
  ~OfficeApplication() override { collection_->Release(); }

 private:
  class CollectionObject : public DynObject {
   public:
    CollectionObject(const wchar_t* name, const wchar_t* fileType, long htmlFormat, std::vector<std::wstring> openParams)
        : DynObject(name) {
      std::wstring type = fileType;
      Method(L"Open", std::move(openParams), [type, htmlFormat](Args& args, VARIANT* result) {
        if (!args.Has(0)) Raise(L"Argument not optional", DISP_E_PARAMNOTFOUND);
        auto* file = new OfficeFile(type.c_str(), args.String(0), htmlFormat);
        SetDispatch(result, file);
        file->Release();
      });
    }
  };

  CollectionObject* collection_;
  bool visible_ = false;
  bool alerts_ = true;
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
