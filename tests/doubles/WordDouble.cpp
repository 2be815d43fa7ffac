#include "WordDouble.h"

#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Control.h"
#include "DocFile.h"
#include "DynDispatch.h"

namespace doubles {
namespace {

// What differs in the WPS Writer identity: Word's object model under WPS's
// class, event interface and frame window class.
const wchar_t* WindowClass() { return WpsIdentity() ? L"NibDoubleWpsFrame" : L"OpusApp"; }
const CLSID& ApplicationClass() { return WpsIdentity() ? kWpsWriterClass : kWordClass; }
const IID& ApplicationEvents() { return WpsIdentity() ? kWpsApplicationEvents : kApplicationEvents2; }
constexpr long kFormatHtml = 8;
constexpr long kFormatDocument = 0;          // wdFormatDocument: Word 97-2003
constexpr long kFormatDocumentDefault = 16;  // wdFormatDocumentDefault: .docx
constexpr long kForceDisable = 3;            // msoAutomationSecurityForceDisable
constexpr long kDialogInsertFile = 164;      // wdDialogInsertFile
constexpr size_t kFormFieldTextLimit = 255;  // TextInput.Default: "limited to 255 characters"
constexpr HRESULT kPasswordIncorrect = static_cast<HRESULT>(0x800A156D);  // run-time error 5485
constexpr HRESULT kStringTooLong = static_cast<HRESULT>(0x800A1201);      // run-time error 4609

class WordApplication;

// A property of another automation object, as text; empty when it has none.
std::wstring ReadProperty(IDispatch* object, const wchar_t* member) {
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  DISPPARAMS none{};
  VARIANT value;
  VariantInit(&value);
  std::wstring text;
  if (SUCCEEDED(object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)) &&
      SUCCEEDED(object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr)))
    text = ValueString(value);
  VariantClear(&value);
  return text;
}

// [settle] release: files Word has done with, still held for a while, by path.
std::mutex settlingMutex;
std::map<std::wstring, HANDLE> settling;

std::wstring SettleKey(std::wstring path) {
  CharLowerW(path.data());
  return path;
}

void ReleaseLater(const std::wstring& path, HANDLE file, DWORD ms) {
  std::wstring key = SettleKey(path);
  {
    std::lock_guard lock(settlingMutex);
    if (auto older = settling.find(key); older != settling.end()) CloseHandle(older->second);
    settling[key] = file;
  }
  std::thread([key, file, ms] {
    Sleep(ms);
    std::lock_guard lock(settlingMutex);
    if (auto found = settling.find(key); found != settling.end() && found->second == file) {
      CloseHandle(file);
      settling.erase(found);
    }
  }).detach();
}

void EndSettling(const std::wstring& path) {
  std::lock_guard lock(settlingMutex);
  if (auto found = settling.find(SettleKey(path)); found != settling.end()) {
    CloseHandle(found->second);
    settling.erase(found);
  }
}

class WordDocument;

// Background printing: the pages are rendered this long after PrintOut returned.
constexpr UINT kBackgroundRenderMs = 300;
std::map<UINT_PTR, WordDocument*> backgroundPrints;  // timer -> document (one apartment thread)

// Form-field texts: Word refuses a text longer than its limit.
void RequireFormFieldText(const std::wstring& text) {
  if (text.size() > kFormFieldTextLimit) Raise(L"String too long.", kStringTooLong);
}


// A small object whose members are given by the one who makes it.
class Part : public DynObject {
 public:
  explicit Part(const wchar_t* type) : DynObject(type) {}
  using DynObject::Method;
  using DynObject::Property;
};

// Returns `part` as a call's result, handing its first reference over.
void Hand(VARIANT* result, Part* part) {
  SetDispatch(result, part);
  part->Release();
}

constexpr long kColorUndefined = 9999999;  // wdUndefined
constexpr long kColorAutomatic = -16777216;  // wdColorAutomatic

class WordDocument : public DynObject {
 public:
  WordDocument(WordApplication* app, std::wstring path, DocContent content, bool saved);
  const std::wstring& Name() const { return name_; }
  const std::wstring& Path() const { return path_; }
  const DocContent& Content() const { return content_; }
  // A range of story `story` (0 the main text), numbered within that story.
  Part* NewRange(long start, long end, int story = 0);
  Part* ShapeRangeOf(size_t index) { return NewShapeRange({index}); }
  Part* FontOf(long start, long end, int story) { return NewFont(start, end, story); }
  const std::wstring& StoryText(int story) const {
    return story == 0 ? content_.text : content_.stories[static_cast<size_t>(story - 1)].text;
  }
  // WdStoryType: 1 the main text, 5 a text box, 6 to 11 headers and footers.
  long StoryType(int story) const { return story == 0 ? 1 : content_.stories[static_cast<size_t>(story - 1)].type; }
  bool IsOpen() const { return open_; }
  // What the printed pages show, into the call log: the text, each colour
  // given to a range, each shape's line colour.
  void RenderPages() {
    LogCall(L"Document", L"PrintOut.text", content_.text, L"printed");
    std::wstring colours, shapes;
    // A run of another story than the main text is written "s<story>:start-end=colour".
    for (const FontRun& run : content_.fonts)
      if (run.attribute == L"Color")
        colours += (run.story ? L"s" + std::to_wstring(run.story) + L":" : L"") + std::to_wstring(run.start) + L"-" +
                   std::to_wstring(run.end) + L"=" + run.value + L";";
    for (size_t i = 0; i < content_.shapes.size(); ++i)
      shapes += content_.shapes[i].name + L"=" + ShapeProperty(i, L"Line.ForeColor.RGB") + L";";
    LogCall(L"Document", L"PrintOut.colours", colours, L"printed");
    LogCall(L"Document", L"PrintOut.shapes", shapes, L"printed");
  }
  // After this the document no longer reaches its Application.
  void MarkClosed() {
    open_ = false;
    app_ = nullptr;
    ReleaseFile();
  }
  ~WordDocument() override { ReleaseFile(); }

 private:
  void SaveTo(const std::wstring& path, long format);
  // Word keeps the file of an open document open: others may read it, but
  // nobody can have it for themselves.
  void HoldFile() {
    ReleaseFile();
    EndSettling(path_);  // Word taking its own file again does not wait for itself
    file_ = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
  }
  // `settle`: the file is one Word is done with (closed, renamed): with
  // [settle] release it stays held a while longer, as a real Word's may.
  void ReleaseFile(bool settle = true) {
    if (file_ == INVALID_HANDLE_VALUE) return;
    DWORD ms = settle ? SettleMs(L"release") : 0;
    if (ms == 0)
      CloseHandle(file_);
    else
      ReleaseLater(path_, file_, ms);
    file_ = INVALID_HANDLE_VALUE;
  }
  HANDLE file_ = INVALID_HANDLE_VALUE;
  void RequireOpen() const;
  std::wstring& TextOf(int story) {
    return story == 0 ? content_.text : content_.stories[static_cast<size_t>(story - 1)].text;
  }
  void ReplaceText(int story, long start, long end, const std::wstring& text);
  // The text replaced, positions after it moved; no revision, no edit.
  void Splice(int story, long start, long end, const std::wstring& text);
  void Paste(int story, std::pair<long, long>& bounds, const std::wstring& text, const std::vector<Bookmark>& marks);
  Part* NewFont(long start, long end, int story);
  long ColorOf(int story, long start, long end) const;
  // The first story of `type` from story `after` on (0 for the main text); -1 when none.
  int NextStoryOf(long type, int after) const;
  int HeaderFooterStory(long section, long type);
  bool InHeaderOrFooter(int story) const { long type = StoryType(story); return type >= 6 && type <= 11; }
  Part* NewStoryRanges();
  Part* NewSections();
  void PutOnClipboard(const std::wstring& text, const std::wstring& bookmarks);
  void TakeFromClipboard(std::wstring& text, std::wstring& bookmarks);
  Part* NewVariables();
  Part* NewRevisions();
  Part* NewWindow();
  // A part of this document: it keeps the document alive while a client holds it.
  Part* NewPart(const wchar_t* type);
  Part* NewBookmarks();
  // The fields `include` takes, in the order of the document's list.
  Part* NewFields(std::function<bool(const Field&)> include);
  Part* NewFormFields();
  static long FormFieldType(const FormField& field);
  // Shapes whose anchors are in the main text (`headers` false) or in the headers and footers.
  Part* NewShapes(bool headers);
  Part* NewShapeRange(std::vector<size_t> indices);
  long ShapeAnchor(size_t index) const;
  std::wstring ShapeProperty(size_t index, const std::wstring& key) const;
  void SetShapeProperty(size_t index, const std::wstring& key, const std::wstring& value);
  Part* NewShape(size_t index);
  void AddShapeMembers(Part* part, std::vector<size_t> indices);
  // A collection whose Item takes a 1-based index or, when `byName`, a name.
  Part* NewCollection(const wchar_t* type, std::function<long()> count, std::function<long(const std::wstring&)> indexOf,
                      std::function<Part*(long index)> item);

  WordApplication* app_;
  long fieldShading_ = 1;
  long zoom_ = 100;
  bool showRevisions_ = true;
  bool printRevisions_ = true;
  std::wstring path_, name_;
  DocContent content_;
  bool saved_;
  bool open_ = true;
};

// The connection point of ApplicationEvents2; any number of sinks.
class EventPoint final : public IConnectionPoint {
 public:
  explicit EventPoint(IConnectionPointContainer* owner) : owner_(owner) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
      *out = static_cast<IConnectionPoint*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
  STDMETHODIMP GetConnectionInterface(IID* iid) override {
    *iid = ApplicationEvents();
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override {
    *container = owner_;
    owner_->AddRef();
    return S_OK;
  }
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
    IDispatch* events = nullptr;
    if (FAILED(sink->QueryInterface(ApplicationEvents(), reinterpret_cast<void**>(&events))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&events))))
      return CONNECT_E_CANNOTCONNECT;
    *cookie = ++lastCookie_;
    sinks_[*cookie] = events;
    return S_OK;
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    auto found = sinks_.find(cookie);
    if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
    found->second->Release();
    sinks_.erase(found);
    return S_OK;
  }
  STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  // DocumentBeforeClose(Doc, Cancel): true when a sink cancelled.
  bool FireBeforeClose(IDispatch* document) {
    VARIANT_BOOL cancel = VARIANT_FALSE;
    std::vector<IDispatch*> sinks;
    for (auto& [cookie, sink] : sinks_) sinks.push_back(sink);
    for (IDispatch* sink : sinks) {
      VARIANT args[2];
      V_VT(&args[1]) = VT_DISPATCH;
      V_DISPATCH(&args[1]) = document;
      V_VT(&args[0]) = VT_BOOL | VT_BYREF;
      V_BOOLREF(&args[0]) = &cancel;
      DISPPARAMS params{args, nullptr, 2, 0};
      sink->Invoke(kDocumentBeforeClose, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }
    return cancel != VARIANT_FALSE;
  }
  void DropAll() {
    for (auto& [cookie, sink] : sinks_) sink->Release();
    sinks_.clear();
  }

 private:
  IConnectionPointContainer* owner_;
  std::map<DWORD, IDispatch*> sinks_;
  DWORD lastCookie_ = 0;
};

// The application's connection points, as EnumConnectionPoints lists them: the one.
class PointList final : public IEnumConnectionPoints {
 public:
  explicit PointList(IConnectionPoint* point, ULONG next = 0) : point_(point), next_(next) { point_->AddRef(); }
  ~PointList() { point_->Release(); }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IEnumConnectionPoints) {
      *out = static_cast<IEnumConnectionPoints*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
    ULONG given = 0;
    if (count > 0 && next_ == 0) {
      points[0] = point_;
      point_->AddRef();
      given = 1;
      next_ = 1;
    }
    if (fetched) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    next_ += count;
    return next_ <= 1 ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    next_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumConnectionPoints** copy) override {
    *copy = new PointList(point_, next_);
    return S_OK;
  }

 private:
  IConnectionPoint* point_;
  ULONG next_;
  ULONG references_ = 1;
};

class WordApplication : public DynObject, public IConnectionPointContainer {
 public:
  WordApplication();
  ~WordApplication() override;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return DynObject::QueryInterface(iid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return DynObject::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return DynObject::Release(); }
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override {
    if (!points) return E_POINTER;
    *points = new PointList(&events_);
    return S_OK;
  }
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
    if (iid != ApplicationEvents()) return CONNECT_E_NOCONNECTION;
    *point = &events_;
    events_.AddRef();
    return S_OK;
  }

  // Closes `document`, asking the event sinks first; false when one cancelled.
  bool CloseDocument(WordDocument* document);
  void DocumentActivated(WordDocument* document);
  // Range.Select and Shape.Select: `document` becomes active with that selection.
  void Select(WordDocument* document, long start, long end, int story) {
    DocumentActivated(document);
    selectionStart_ = start;
    selectionEnd_ = end;
    selectionStory_ = story;
    selectedShape_ = -1;
  }
  void SelectShape(size_t index) { selectedShape_ = static_cast<long>(index); }
  const std::wstring& UserName() const { return userName_; }
  // Word 2013 and later name the author of a change by the Office account
  // signed in, unless Options.UseLocalUserInfo is True; Word 2010 knows no
  // account and always takes UserName.
  std::wstring RevisionAuthor() const {
    std::wstring signedIn = Setting(L"word", L"signedin");
    if (WordVersion() >= 15 && !signedIn.empty() && !useLocalUserInfo_) return signedIn;
    return userName_;
  }

 private:
  void* FindInterface(REFIID iid) override {
    if (iid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer*>(this);
    return DynObject::FindInterface(iid);
  }
  WordDocument* OpenDocument(const std::wstring& path);
  WordDocument* AddDocument();
  void UpdateWindow();
  void Quit();
  Part* NewSelection();
  // An object of the application's: it keeps the application alive while a client holds it.
  Part* NewAppPart(const wchar_t* type) {
    auto* part = new Part(type);
    AddRef();
    part->SetOnRelease([this] { Release(); });
    return part;
  }
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static constexpr UINT_PTR kAppearTimer = 1;

  EventPoint events_{this};
  std::vector<WordDocument*> documents_;  // open documents, each holding one reference
  WordDocument* active_ = nullptr;
  long selectionStart_ = 0, selectionEnd_ = 0;  // in the active document
  int selectionStory_ = 0;                       // the story they count in
  long selectedShape_ = -1;                      // the shape selected in it, -1 none
  DynObject* documentsObject_ = nullptr;
  HWND window_ = nullptr;
  DWORD rotCookie_ = 0;
  bool visible_ = false;
  bool windowAppeared_ = false;  // [settle] window: shown once its delay passed
  bool heldByUser_ = false;  // visible: the user's, not ended by automation letting go
  long windowState_ = 1;
  long displayAlerts_ = -1;
  long left_ = 0, top_ = 0, width_ = 800, height_ = 600;
  std::wstring userName_ = L"Word User";
  // A Word started by automation opens files with macros enabled
  // (msoAutomationSecurityLow, 1) until told otherwise.
  long automationSecurity_ = 1;
  bool useLocalUserInfo_ = false;
  std::wstring normalTemplate_;
  std::wstring caption_;  // set by automation; empty: Word's own name
  int untitled_ = 0;
};

class WordDocuments : public DynObject {
 public:
  WordDocuments(std::function<WordDocument*(const std::wstring&)> open, std::function<WordDocument*()> add,
                std::function<long()> count)
      : DynObject(L"Documents") {
    Property(L"Count", [count](Args&, VARIANT* r) { SetLong(r, count()); });
    Method(L"Open", {L"FileName", L"ConfirmConversions", L"ReadOnly", L"AddToRecentFiles"},
           [open](Args& args, VARIANT* result) {
             if (!args.Has(0)) Raise(L"Argument not optional", DISP_E_PARAMNOTFOUND);
             SetDispatch(result, open(args.String(0)));
           });
    Method(L"Add", {L"Template", L"NewTemplate", L"DocumentType", L"Visible"},
           [add](Args&, VARIANT* result) { SetDispatch(result, add()); });
  }
};

WordDocument::WordDocument(WordApplication* app, std::wstring path, DocContent content, bool saved)
    : DynObject(L"Document"), app_(app), path_(std::move(path)), name_(FileNameOf(path_)), content_(std::move(content)), saved_(saved) {
  HoldFile();
  Property(L"Name", [this](Args&, VARIANT* r) { SetString(r, name_); });
  Property(L"FullName", [this](Args&, VARIANT* r) { SetString(r, path_); });
  Property(L"Saved", [this](Args&, VARIANT* r) { SetBool(r, saved_); },
           [this](Args&, const VARIANT& v) { saved_ = ValueBool(v); });
  Property(L"Text", [this](Args&, VARIANT* r) { SetString(r, content_.text); },
           [this](Args&, const VARIANT& v) {
             content_.text = ValueString(v);
             saved_ = false;
           });
  Method(L"Save", {}, [this](Args&, VARIANT*) { SaveTo(path_, content_.format == L"docx" ? kFormatDocumentDefault : kFormatDocument); });
  Method(L"SaveAs", {L"FileName", L"FileFormat", L"LockComments", L"Password", L"AddToRecentFiles"}, [this](Args& args, VARIANT*) {
    std::wstring target = args.String(0, path_);
    // Without FileFormat Word writes the document's own format, whatever the
    // name says: a new document's is Word's default (.docx content since 2007).
    long format = args.Has(1) ? args.Long(1) : content_.format == L"docx" ? kFormatDocumentDefault : kFormatDocument;
    SaveTo(target, format);
    path_ = target;
    name_ = FileNameOf(target);
    HoldFile();
    app_->DocumentActivated(this);
  });
  Method(L"Close", {L"SaveChanges", L"OriginalFormat", L"RouteDocument"}, [this](Args& args, VARIANT*) {
    if (!open_) Raise(L"This object model command is not available while the document is closed.");
    if (args.Long(0, 0) == -1) SaveTo(path_, content_.format == L"docx" ? kFormatDocumentDefault : kFormatDocument);
    app_->CloseDocument(this);
  });
  Method(L"Activate", {}, [this](Args&, VARIANT*) {
    RequireOpen();
    app_->DocumentActivated(this);
  });
  Property(L"ProtectionType", [this](Args&, VARIANT* r) { SetLong(r, content_.protection); });
  Method(L"Protect", {L"Type", L"NoReset", L"Password"}, [this](Args& args, VARIANT*) {
    RequireOpen();
    if (content_.protection != -1) Raise(L"This method or property is not available because the document is already protected.");
    content_.protection = args.Long(0, 0);
    content_.password = args.String(2, L"");
  });
  Method(L"Unprotect", {L"Password"}, [this](Args& args, VARIANT*) {
    RequireOpen();
    // Word raises rather than doing nothing (run-time error 4605).
    if (content_.protection == -1)
      Raise(L"This method or property is not available because the document is not protected.");
    std::wstring given = args.String(0, L"");
    // "If the document is protected with a password and the correct password
    // isn't supplied, a dialog box prompts the user for the password": without
    // one, Word asks in a modal dialog of its own, refusing every call from
    // outside until the user closes it.
    if (!content_.password.empty() && given.empty()) {
      SetModalDialogOpen(true);
      MessageBoxW(nullptr, L"Password:", L"Unprotect Document", MB_OKCANCEL);
      SetModalDialogOpen(false);
      Raise(L"The password is incorrect.", kPasswordIncorrect);
    }
    if (given != content_.password) Raise(L"The password is incorrect.", kPasswordIncorrect);
    content_.protection = -1;
  });
  Property(L"ShowRevisions", [this](Args&, VARIANT* r) { SetBool(r, showRevisions_); },
           [this](Args&, const VARIANT& v) { showRevisions_ = ValueBool(v); });
  Property(L"PrintRevisions", [this](Args&, VARIANT* r) { SetBool(r, printRevisions_); },
           [this](Args&, const VARIANT& v) { printRevisions_ = ValueBool(v); });
  Method(L"AcceptAllRevisions", {}, [this](Args&, VARIANT*) {
    RequireOpen();
    if (content_.protection != -1) Raise(L"This method or property is not available because the document is protected.");
    content_.revisions.clear();
    saved_ = false;
  });
  Method(L"UndoClear", {}, [this](Args&, VARIANT*) { RequireOpen(); });
  Method(L"Range", {L"Start", L"End"}, [this](Args& args, VARIANT* r) {
    long size = static_cast<long>(content_.text.size());
    long start = std::clamp(args.Long(0, 0), 0L, size), end = std::clamp(args.Long(1, size), start, size);
    Hand(r, NewRange(start, end));
  });
  Property(L"Revisions", [this](Args&, VARIANT* r) { Hand(r, NewRevisions()); });
  Property(L"Variables", [this](Args&, VARIANT* r) { Hand(r, NewVariables()); });
  Property(L"ActiveWindow", [this](Args&, VARIANT* r) { Hand(r, NewWindow()); });
  // Printing is recorded in the call log: the arguments, and what the pages show.
  // Background omitted follows the user's option, which is on by default:
  // Word returns at once and renders the pages a moment later, with the
  // document as it is then. Only Background = False prints before returning.
  Method(L"PrintOut", {L"Background", L"Append", L"Range", L"OutputFileName", L"From", L"To", L"Item", L"Copies"},
         [this](Args& args, VARIANT*) {
           RequireOpen();
           if (args.Has(0) && !args.Bool(0)) {
             RenderPages();
             return;
           }
           AddRef();  // the pages are rendered from the document even if the caller lets go of it
           struct Background {
             static void CALLBACK Render(HWND, UINT, UINT_PTR id, DWORD) {
               KillTimer(nullptr, id);
               auto found = backgroundPrints.find(id);
               if (found == backgroundPrints.end()) return;
               WordDocument* document = found->second;
               backgroundPrints.erase(found);
               document->RenderPages();
               document->Release();
             }
           };
           UINT_PTR timer = SetTimer(nullptr, 0, kBackgroundRenderMs, Background::Render);
           backgroundPrints[timer] = this;
         });
  Property(L"Bookmarks", [this](Args&, VARIANT* r) { Hand(r, NewBookmarks()); });
  // The document's fields are those of its main text, as in Word: a field in
  // a header or a text box is reached through that story's range.
  Property(L"Fields", [this](Args&, VARIANT* r) { Hand(r, NewFields([](const Field& f) { return f.story == 0; })); });
  Property(L"FormFields", [this](Args&, VARIANT* r) { Hand(r, NewFormFields()); });
  Property(L"Shapes", [this](Args&, VARIANT* r) { Hand(r, NewShapes(false)); });
  Property(L"StoryRanges", [this](Args&, VARIANT* r) { Hand(r, NewStoryRanges()); });
  Property(L"Sections", [this](Args&, VARIANT* r) { Hand(r, NewSections()); });
  Property(L"Application", [this](Args&, VARIANT* r) {
    RequireOpen();
    SetDispatch(r, app_);
  });
}

Part* WordDocument::NewPart(const wchar_t* type) {
  auto* part = new Part(type);
  AddRef();
  part->SetOnRelease([this] { Release(); });
  return part;
}

// The 1-based position of the entry called `name` (case ignored); 0 when none.
template <class List>
long PositionByName(const List& list, const std::wstring& name) {
  for (size_t i = 0; i < list.size(); ++i)
    if (_wcsicmp(list[i].name.c_str(), name.c_str()) == 0) return static_cast<long>(i + 1);
  return 0;
}

Part* WordDocument::NewCollection(const wchar_t* type, std::function<long()> count,
                                  std::function<long(const std::wstring&)> indexOf, std::function<Part*(long)> item) {
  auto* collection = NewPart(type);
  collection->Property(L"Count", [count](Args&, VARIANT* r) { SetLong(r, count()); });
  collection->Method(L"Item", {L"Index"}, [count, indexOf, item](Args& args, VARIANT* r) {
    const VARIANT* index = args.Raw(0);
    if (!index) Raise(L"Argument not optional", DISP_E_PARAMNOTFOUND);
    bool byName = V_VT(index) == VT_BSTR || V_VT(index) == (VT_BSTR | VT_BYREF);
    long position = byName && indexOf ? indexOf(args.String(0)) : byName ? 0 : args.Long(0);
    if (position < 1 || position > count()) Raise(L"The requested member of the collection does not exist.");
    Hand(r, item(position));
  });
  return collection;
}

// The document's collection is in alphabetical order of the names: "the index
// number represents the position of the bookmark in the alphabetical list"
// (a range's own collection, by contrast, is in the order of position).
Part* WordDocument::NewBookmarks() {
  auto& list = content_.bookmarks;
  auto alphabetical = [&list] {
    std::vector<std::wstring> names;
    for (const Bookmark& b : list) names.push_back(b.name);
    std::sort(names.begin(), names.end(),
              [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    return names;
  };
  return NewCollection(
      L"Bookmarks", [&list] { return static_cast<long>(list.size()); },
      [alphabetical](const std::wstring& name) {
        std::vector<std::wstring> names = alphabetical();
        for (size_t i = 0; i < names.size(); ++i)
          if (_wcsicmp(names[i].c_str(), name.c_str()) == 0) return static_cast<long>(i + 1);
        return 0L;
      },
      [this, alphabetical](long index) {
        auto* bookmark = NewPart(L"Bookmark");
        std::wstring name = alphabetical()[static_cast<size_t>(index - 1)];
        auto current = [this, name]() -> Bookmark& {
          for (Bookmark& b : content_.bookmarks)
            if (b.name == name) return b;
          Raise(L"Object has been deleted.");
        };
        bookmark->Property(L"Name", [name](Args&, VARIANT* r) { SetString(r, name); });
        bookmark->Property(L"Start", [current](Args&, VARIANT* r) { SetLong(r, current().start); });
        bookmark->Property(L"End", [current](Args&, VARIANT* r) { SetLong(r, current().end); });
        bookmark->Property(L"StoryType", [this, current](Args&, VARIANT* r) { SetLong(r, StoryType(current().story)); });
        bookmark->Property(L"Range", [this, current](Args&, VARIANT* r) {
          Hand(r, NewRange(current().start, current().end, current().story));
        });
        bookmark->Method(L"Select", {}, [this, current](Args&, VARIANT*) {
          RequireOpen();
          app_->Select(this, current().start, current().end, current().story);
        });
        return bookmark;
      });
}

Part* WordDocument::NewFields(std::function<bool(const Field&)> include) {
  auto chosen = [this, include] {
    std::vector<size_t> indices;
    for (size_t i = 0; i < content_.fields.size(); ++i)
      if (include(content_.fields[i])) indices.push_back(i);
    return indices;
  };
  return NewCollection(
      L"Fields", [chosen] { return static_cast<long>(chosen().size()); }, nullptr,
      [this, chosen](long index) {
        auto* field = NewPart(L"Field");
        size_t i = chosen()[static_cast<size_t>(index - 1)];
        field->Property(L"Code", [this, i](Args&, VARIANT* r) {
          auto* code = new Part(L"Range");
          std::wstring text = content_.fields[i].code;
          code->Property(L"Text", [text](Args&, VARIANT* r2) { SetString(r2, text); });
          Hand(r, code);
        });
        field->Property(L"Result", [this, i](Args&, VARIANT* r) {
          auto* result = new Part(L"Range");
          std::wstring text = content_.fields[i].result;
          result->Property(L"Text", [text](Args&, VARIANT* r2) { SetString(r2, text); });
          Hand(r, result);
        });
        // A DOCVARIABLE field shows its variable's value once updated.
        field->Method(L"Update", {}, [this, i](Args&, VARIANT* r) {
          Field& f = content_.fields[i];
          std::wstring code = f.code;
          size_t at = code.find(L"DOCVARIABLE");
          if (at != std::wstring::npos) {
            std::wstring name = code.substr(at + 11);
            name.erase(0, name.find_first_not_of(L" \""));
            name.erase(name.find_last_not_of(L" \"") + 1);
            std::wstring shown;
            for (const auto& [variable, value] : content_.variables)
              if (_wcsicmp(variable.c_str(), name.c_str()) == 0) shown = value;
            // A result in the text takes its place there: what follows moves.
            if (f.start >= 0) {
              long at = f.start;
              Splice(f.story, at, at + static_cast<long>(f.result.size()), shown);
              content_.fields[i].start = at;
            }
            content_.fields[i].result = shown;
            saved_ = false;
          }
          SetBool(r, true);
        });
        return field;
      });
}

Part* WordDocument::NewShapes(bool headers) {
  auto chosen = [this, headers] {
    std::vector<size_t> indices;
    for (size_t i = 0; i < content_.shapes.size(); ++i)
      if (InHeaderOrFooter(content_.shapes[i].anchorStory) == headers) indices.push_back(i);
    return indices;
  };
  // The position within this collection of the shape called `name`; 0 when none.
  auto positionOf = [this, chosen](const std::wstring& name) {
    std::vector<size_t> indices = chosen();
    for (size_t i = 0; i < indices.size(); ++i)
      if (_wcsicmp(content_.shapes[indices[i]].name.c_str(), name.c_str()) == 0) return static_cast<long>(i + 1);
    return 0L;
  };
  Part* shapes = NewCollection(
      L"Shapes", [chosen] { return static_cast<long>(chosen().size()); }, positionOf,
      [this, chosen](long index) { return NewShape(chosen()[static_cast<size_t>(index - 1)]); });
  // AddLine(BeginX, BeginY, EndX, EndY, Anchor): a line shape named "Line <n>".
  shapes->Method(L"AddLine", {L"BeginX", L"BeginY", L"EndX", L"EndY", L"Anchor"}, [this, headers](Args& args, VARIANT* r) {
    RequireOpen();
    double beginX = args.Double(0), beginY = args.Double(1), endX = args.Double(2), endY = args.Double(3);
    auto number = [](double value) {
      std::wstring text = std::to_wstring(value);
      text.erase(text.find_last_not_of(L'0') + 1);
      if (!text.empty() && text.back() == L'.') text.pop_back();
      return text;
    };
    Shape shape{L"Line " + std::to_wstring(content_.shapes.size() + 1), L"line",
                {{L"Left", number(std::min(beginX, endX))},
                 {L"Top", number(std::min(beginY, endY))},
                 {L"Width", number(std::abs(endX - beginX))},
                 {L"Height", number(std::abs(endY - beginY))}}};
    if (IDispatch* anchor = args.Dispatch(4)) {
      std::wstring start = ReadProperty(anchor, L"Start");
      if (!start.empty()) shape.properties.emplace_back(L"Anchor", start);
      shape.anchorStory = _wtoi(ReadProperty(anchor, L"NibDoubleStory").c_str());
    } else if (headers) {
      shape.anchorStory = HeaderFooterStory(1, 7);
    }
    content_.shapes.push_back(std::move(shape));
    saved_ = false;
    Hand(r, NewShape(content_.shapes.size() - 1));
  });
  // Range(names): the shapes of an array of names (or indices), as a ShapeRange.
  shapes->Method(L"Range", {L"Index"}, [this, chosen, positionOf](Args& args, VARIANT* r) {
    VARIANT* given = args.Raw(0);
    if (!given) Raise(L"Argument not optional", DISP_E_PARAMNOTFOUND);
    while (V_VT(given) == (VT_BYREF | VT_VARIANT)) given = V_VARIANTREF(given);
    std::vector<size_t> indices;
    std::vector<size_t> members = chosen();
    auto add = [&](const VARIANT& item) {
      long position = V_VT(&item) == VT_BSTR ? positionOf(ValueString(item))
                                              : static_cast<long>(_wtol(ValueString(item).c_str()));
      if (position < 1 || position > static_cast<long>(members.size()))
        Raise(L"The item with the specified name wasn't found.");
      indices.push_back(members[static_cast<size_t>(position - 1)]);
    };
    if (V_VT(given) & VT_ARRAY) {
      SAFEARRAY* array = (V_VT(given) & VT_BYREF) ? *V_ARRAYREF(given) : V_ARRAY(given);
      LONG low = 0, high = -1;
      SafeArrayGetLBound(array, 1, &low);
      SafeArrayGetUBound(array, 1, &high);
      for (LONG i = low; i <= high; ++i) {
        VARIANT item;
        VariantInit(&item);
        if (SUCCEEDED(SafeArrayGetElement(array, &i, &item))) add(item);
        VariantClear(&item);
      }
    } else {
      add(*given);
    }
    Hand(r, NewShapeRange(std::move(indices)));
  });
  return shapes;
}

// A shape: its name, and a bag of properties the driver sets and reads back
// (position, line format, wrapping), kept in the document file.
Part* WordDocument::NewShape(size_t index) {
  auto* shape = NewPart(L"Shape");
  shape->Property(L"Name", [this, index](Args&, VARIANT* r) { SetString(r, content_.shapes[index].name); },
                  [this, index](Args&, const VARIANT& v) { content_.shapes[index].name = ValueString(v); });
  shape->Property(L"Type", [this, index](Args&, VARIANT* r) { SetString(r, content_.shapes[index].type); });
  // Selecting a shape selects its anchor position in the anchor's story
  // (a header's, for a shape anchored there: the user's selection and view
  // move into that header) and makes it the selection's ShapeRange.
  shape->Method(L"Select", {L"Replace"}, [this, index](Args&, VARIANT*) {
    RequireOpen();
    long anchor = ShapeAnchor(index);
    app_->Select(this, anchor, anchor, content_.shapes[index].anchorStory);
    app_->SelectShape(index);
  });
  // The anchoring range: the start of the paragraph the shape is anchored to, in its own story.
  shape->Property(L"Anchor", [this, index](Args&, VARIANT* r) {
    long anchor = ShapeAnchor(index);
    Hand(r, NewRange(anchor, anchor, content_.shapes[index].anchorStory));
  });
  // A text box's text is a story of its own; a line has no text to attach.
  shape->Property(L"TextFrame", [this, index](Args&, VARIANT* r) {
    auto* frame = NewPart(L"TextFrame");
    auto story = [this, index] {
      for (size_t i = 0; i < content_.stories.size(); ++i)
        if (content_.stories[i].type == 5 && content_.stories[i].shape == content_.shapes[index].name)
          return static_cast<int>(i + 1);
      return -1;
    };
    frame->Property(L"HasText", [this, story](Args&, VARIANT* r2) {
      SetLong(r2, story() > 0 && !StoryText(story()).empty() ? -1 : 0);  // msoTrue, msoFalse
    });
    frame->Property(L"TextRange", [this, story](Args&, VARIANT* r2) {
      int found = story();
      if (found < 0) Raise(L"This object does not support attached text.");
      Hand(r2, NewRange(0, static_cast<long>(StoryText(found).size()), found));
    });
    Hand(r, frame);
  });
  AddShapeMembers(shape, {index});
  return shape;
}

// The formatting members of a shape or a shape range: every assignment is
// kept as a shape property ("Line.Weight" = "0.75", "ZOrder" = "5"), on every
// shape of the range; reading answers the first shape's value.
void WordDocument::AddShapeMembers(Part* part, std::vector<size_t> indices) {
  auto bag = [this, indices](Part* target, const std::wstring& prefix, const std::vector<std::wstring>& names) {
    for (const std::wstring& name : names) {
      std::wstring key = prefix + name;
      target->Property(name,
                       [this, indices, key](Args&, VARIANT* r) {
                         SetString(r, indices.empty() ? L"" : ShapeProperty(indices[0], key));
                       },
                       [this, indices, key](Args&, const VARIANT& v) {
                         for (size_t index : indices) SetShapeProperty(index, key, ValueString(v));
                       });
    }
  };
  bag(part, L"", {L"Left", L"Top", L"Width", L"Height", L"RelativeHorizontalPosition", L"RelativeVerticalPosition",
                  L"LockAspectRatio", L"Rotation", L"LockAnchor"});
  part->Property(L"Line", [this, bag](Args&, VARIANT* r) {
    auto* line = NewPart(L"LineFormat");
    bag(line, L"Line.", {L"Weight", L"DashStyle", L"Style", L"Visible", L"Transparency", L"BeginArrowheadStyle",
                         L"EndArrowheadStyle", L"BeginArrowheadLength", L"EndArrowheadLength", L"BeginArrowheadWidth",
                         L"EndArrowheadWidth"});
    for (const wchar_t* colour : {L"ForeColor", L"BackColor"}) {
      std::wstring prefix = std::wstring(L"Line.") + colour + L".";
      line->Property(colour, [this, bag, prefix](Args&, VARIANT* r2) {
        auto* color = NewPart(L"ColorFormat");
        bag(color, prefix, {L"RGB"});
        Hand(r2, color);
      });
    }
    Hand(r, line);
  });
  part->Property(L"WrapFormat", [this, bag](Args&, VARIANT* r) {
    auto* wrap = NewPart(L"WrapFormat");
    bag(wrap, L"WrapFormat.", {L"Type", L"Side", L"AllowOverlap", L"DistanceTop", L"DistanceBottom", L"DistanceLeft",
                               L"DistanceRight"});
    Hand(r, wrap);
  });
  part->Method(L"ZOrder", {L"ZOrderCmd"}, [this, indices](Args& args, VARIANT*) {
    for (size_t index : indices) SetShapeProperty(index, L"ZOrder", std::to_wstring(args.Long(0)));
  });
}

std::wstring WordDocument::ShapeProperty(size_t index, const std::wstring& key) const {
  for (const auto& [k, value] : content_.shapes[index].properties)
    if (k == key) return value;
  return L"";
}

void WordDocument::SetShapeProperty(size_t index, const std::wstring& key, const std::wstring& value) {
  auto& properties = content_.shapes[index].properties;
  saved_ = false;
  for (auto& [k, old] : properties)
    if (k == key) {
      old = value;
      return;
    }
  properties.emplace_back(key, value);
}

long WordDocument::ShapeAnchor(size_t index) const { return _wtol(ShapeProperty(index, L"Anchor").c_str()); }

Part* WordDocument::NewShapeRange(std::vector<size_t> indices) {
  auto* range = NewPart(L"ShapeRange");
  range->Property(L"Count", [indices](Args&, VARIANT* r) { SetLong(r, static_cast<long>(indices.size())); });
  range->Method(L"Item", {L"Index"}, [this, indices](Args& args, VARIANT* r) {
    VARIANT* given = args.Raw(0);
    for (size_t i = 0; i < indices.size(); ++i) {
      bool byName = given && V_VT(given) == VT_BSTR;
      if (byName ? _wcsicmp(content_.shapes[indices[i]].name.c_str(), args.String(0).c_str()) == 0
                 : args.Long(0) == static_cast<long>(i + 1))
        return Hand(r, NewShape(indices[i]));
    }
    Raise(L"The index into the specified collection is out of bounds.");
  });
  AddShapeMembers(range, indices);
  return range;
}

Part* WordDocument::NewFormFields() {
  auto& list = content_.formFields;
  return NewCollection(
      L"FormFields", [&list] { return static_cast<long>(list.size()); },
      [&list](const std::wstring& name) { return PositionByName(list, name); },
      [this](long index) {
        auto* formField = NewPart(L"FormField");
        size_t i = static_cast<size_t>(index - 1);
        formField->Property(L"Name", [this, i](Args&, VARIANT* r) { SetString(r, content_.formFields[i].name); });
        formField->Property(L"Type", [this, i](Args&, VARIANT* r) { SetLong(r, FormFieldType(content_.formFields[i])); });
        // Only a text input takes its result as text; a check box's is "1" or
        // "0" and a drop-down's one of its entries, each set through its own object.
        formField->Property(L"Result", [this, i](Args&, VARIANT* r) { SetString(r, content_.formFields[i].result); },
                            [this, i](Args&, const VARIANT& v) {
                              FormField& f = content_.formFields[i];
                              if (f.type != L"text") Raise(L"This command is not available for this type of form field.");
                              std::wstring text = ValueString(v);
                              RequireFormFieldText(text);
                              f.result = text;
                              saved_ = false;
                            });
        // Asking a form field of another kind for TextInput, CheckBox or
        // DropDown does not fail: the object answers Valid = False, and using it raises.
        auto kindPart = [this, i](const wchar_t* type, const wchar_t* kind) {
          auto* part = NewPart(type);
          std::wstring wanted = kind;
          part->Property(L"Valid", [this, i, wanted](Args&, VARIANT* r) { SetBool(r, content_.formFields[i].type == wanted); });
          return std::make_pair(part, [this, i, wanted] {
            if (content_.formFields[i].type != wanted) Raise(L"The object is not valid for this type of form field.");
            return &content_.formFields[i];
          });
        };
        formField->Property(L"TextInput", [kindPart, this](Args&, VARIANT* r) {
          auto [input, field] = kindPart(L"TextInput", L"text");
          input->Property(L"Default", [field](Args&, VARIANT* r2) { SetString(r2, field()->defaultText); },
                          [this, field](Args&, const VARIANT& v) {
                            std::wstring text = ValueString(v);
                            RequireFormFieldText(text);
                            field()->defaultText = text;
                            saved_ = false;
                          });
          Hand(r, input);
        });
        formField->Property(L"CheckBox", [kindPart, this](Args&, VARIANT* r) {
          auto [box, field] = kindPart(L"CheckBox", L"checkbox");
          box->Property(L"Value", [field](Args&, VARIANT* r2) { SetBool(r2, field()->result == L"1"); },
                        [this, field](Args&, const VARIANT& v) {
                          field()->result = ValueBool(v) ? L"1" : L"0";
                          saved_ = false;
                        });
          Hand(r, box);
        });
        formField->Property(L"DropDown", [kindPart, this](Args&, VARIANT* r) {
          auto [list, field] = kindPart(L"DropDown", L"dropdown");
          // Value: the 1-based position of the chosen entry.
          list->Property(L"Value", [field](Args&, VARIANT* r2) {
                           const FormField& f = *field();
                           auto at = std::find(f.entries.begin(), f.entries.end(), f.result);
                           SetLong(r2, at == f.entries.end() ? 0 : static_cast<long>(at - f.entries.begin()) + 1);
                         },
                         [this, field](Args&, const VARIANT& v) {
                           FormField& f = *field();
                           long position = ValueLong(v);
                           if (position < 1 || position > static_cast<long>(f.entries.size()))
                             Raise(L"The requested member of the collection does not exist.");
                           f.result = f.entries[static_cast<size_t>(position - 1)];
                           saved_ = false;
                         });
          list->Property(L"ListEntries", [this, field](Args&, VARIANT* r2) {
            const FormField* f = field();
            auto* entries = NewPart(L"ListEntries");
            std::vector<std::wstring> names = f->entries;
            entries->Property(L"Count", [names](Args&, VARIANT* r3) { SetLong(r3, static_cast<long>(names.size())); });
            entries->Method(L"Item", {L"Index"}, [names](Args& args, VARIANT* r3) {
              long position = args.Long(0);
              if (position < 1 || position > static_cast<long>(names.size()))
                Raise(L"The requested member of the collection does not exist.");
              auto* entry = new Part(L"ListEntry");
              std::wstring name = names[static_cast<size_t>(position - 1)];
              entry->Property(L"Name", [name](Args&, VARIANT* r4) { SetString(r4, name); });
              Hand(r3, entry);
            });
            Hand(r2, entries);
          });
          Hand(r, list);
        });
        return formField;
      });
}

long WordDocument::FormFieldType(const FormField& field) {
  if (field.type == L"checkbox") return 71;  // wdFieldFormCheckBox
  if (field.type == L"dropdown") return 83;  // wdFieldFormDropDown
  return 70;                                 // wdFieldFormTextInput
}

void WordDocument::RequireOpen() const {
  if (!open_) Raise(L"This object model command is not available while the document is closed.");
}

void WordDocument::Splice(int story, long start, long end, const std::wstring& text) {
  TextOf(story).replace(static_cast<size_t>(start), static_cast<size_t>(end - start), text);
  // Bookmarks and field results of the same story move with the text around them.
  long delta = static_cast<long>(text.size()) - (end - start);
  auto moved = [&](long position) { return position >= end ? position + delta : position > start ? start : position; };
  for (Bookmark& bookmark : content_.bookmarks) {
    if (bookmark.story != story) continue;
    bookmark.start = moved(bookmark.start);
    bookmark.end = std::max(bookmark.start, bookmark.end >= end ? bookmark.end + delta : bookmark.end);
  }
  for (Field& field : content_.fields)
    if (field.start >= 0 && field.story == story) field.start = moved(field.start);
}

int WordDocument::NextStoryOf(long type, int after) const {
  if (type == 1) return after == 0 ? 0 : -1;
  for (size_t i = static_cast<size_t>(std::max(after, 0)); i < content_.stories.size(); ++i)
    if (content_.stories[i].type == type) return static_cast<int>(i + 1);
  return -1;
}

// A section's header or footer of `type`, added empty when the document has none yet (Word's are always there).
int WordDocument::HeaderFooterStory(long section, long type) {
  for (size_t i = 0; i < content_.stories.size(); ++i)
    if (content_.stories[i].type == type && content_.stories[i].section == section) return static_cast<int>(i + 1);
  content_.stories.push_back(Story{type, section, L"", L""});
  return static_cast<int>(content_.stories.size());
}

// StoryRanges(type): the first story of that type; a range's NextStoryRange the next.
Part* WordDocument::NewStoryRanges() {
  auto* stories = NewPart(L"StoryRanges");
  stories->Property(L"Count", [this](Args&, VARIANT* r) {
    std::vector<long> types{1};
    for (const Story& story : content_.stories)
      if (std::find(types.begin(), types.end(), story.type) == types.end()) types.push_back(story.type);
    SetLong(r, static_cast<long>(types.size()));
  });
  stories->Method(L"Item", {L"Index"}, [this](Args& args, VARIANT* r) {
    int story = NextStoryOf(args.Long(0), 0);
    if (story < 0) Raise(L"The requested member of the collection does not exist.");
    Hand(r, NewRange(0, static_cast<long>(StoryText(story).size()), story));
  });
  return stories;
}

// Sections(n).Headers(k) and .Footers(k): k 1 primary, 2 first page, 3 even pages.
Part* WordDocument::NewSections() {
  auto sectionCount = [this] {
    long count = 1;
    for (const Story& story : content_.stories) count = std::max(count, story.section);
    return count;
  };
  auto headerFooter = [this](long section, long type) {
    auto* part = NewPart(L"HeaderFooter");
    part->Property(L"Exists", [this, section, type](Args&, VARIANT* r) {
      bool found = false;
      for (const Story& story : content_.stories) found = found || (story.type == type && story.section == section);
      SetBool(r, found);
    });
    part->Property(L"Range", [this, section, type](Args&, VARIANT* r) {
      int story = HeaderFooterStory(section, type);
      Hand(r, NewRange(0, static_cast<long>(StoryText(story).size()), story));
    });
    part->Property(L"Shapes", [this](Args&, VARIANT* r) { Hand(r, NewShapes(true)); });
    return part;
  };
  return NewCollection(L"Sections", sectionCount, nullptr, [this, headerFooter](long section) {
    auto* part = NewPart(L"Section");
    for (auto [name, types] : {std::pair{L"Headers", std::array<long, 3>{7, 10, 6}}, {L"Footers", {9, 11, 8}}}) {
      part->Method(name, {L"Index"}, [headerFooter, section, types](Args& args, VARIANT* r) {
        long index = args.Long(0, 1);
        if (index < 1 || index > 3) Raise(L"The requested member of the collection does not exist.");
        Hand(r, headerFooter(section, types[static_cast<size_t>(index - 1)]));
      });
    }
    return part;
  });
}

void WordDocument::ReplaceText(int story, long start, long end, const std::wstring& text) {
  RequireOpen();
  Splice(story, start, end, text);
  // Under protection for revisions every edit becomes a revision by the user.
  if (content_.protection == 0) content_.revisions.push_back(Revision{app_->RevisionAuthor(), text});
  saved_ = false;
}

Part* WordDocument::NewRange(long start, long end, int story) {
  auto* range = NewPart(L"Range");
  auto bounds = std::make_shared<std::pair<long, long>>(start, end);
  auto length = [this, story] { return static_cast<long>(StoryText(story).size()); };
  range->Property(L"Start", [bounds](Args&, VARIANT* r) { SetLong(r, bounds->first); });
  range->Property(L"End", [bounds](Args&, VARIANT* r) { SetLong(r, bounds->second); });
  range->Property(L"StoryType", [this, story](Args&, VARIANT* r) { SetLong(r, StoryType(story)); });
  // The double's own: which of the document's stories a range is in, for
  // InRange and AddLine, which Word answers from the range itself.
  range->Property(L"NibDoubleStory", [story](Args&, VARIANT* r) { SetLong(r, story); });
  range->Property(L"Text", [this, bounds, story](Args&, VARIANT* r) {
                    SetString(r, StoryText(story).substr(static_cast<size_t>(bounds->first),
                                                         static_cast<size_t>(bounds->second - bounds->first)));
                  },
                  [this, bounds, story](Args&, const VARIANT& v) {
                    std::wstring text = ValueString(v);
                    ReplaceText(story, bounds->first, bounds->second, text);
                    bounds->second = bounds->first + static_cast<long>(text.size());
                  });
  range->Property(L"Duplicate", [this, bounds, story](Args&, VARIANT* r) {
    Hand(r, NewRange(bounds->first, bounds->second, story));
  });
  // Positions are the range's own story's, whatever story the numbers came from.
  range->Method(L"SetRange", {L"Start", L"End"}, [bounds, length](Args& args, VARIANT*) {
    long first = std::clamp(args.Long(0), 0L, length());
    bounds->first = first;
    bounds->second = std::clamp(args.Long(1), first, length());
  });
  // Expand(wdStory = 6): the range becomes its whole story; the double knows no other unit.
  range->Method(L"Expand", {L"Unit"}, [bounds, length](Args& args, VARIANT* r) {
    if (args.Long(0, 1) != 6) Raise(L"The double expands a range to its whole story only.");
    long added = bounds->first + (length() - bounds->second);
    bounds->first = 0;
    bounds->second = length();
    SetLong(r, added);
  });
  // True when this range lies inside `Range`: the same story, and within its positions.
  range->Method(L"InRange", {L"Range"}, [bounds, story](Args& args, VARIANT* r) {
    IDispatch* other = args.Dispatch(0);
    if (!other) Raise(L"Type mismatch", DISP_E_TYPEMISMATCH);
    bool inside = _wtoi(ReadProperty(other, L"NibDoubleStory").c_str()) == story &&
                  _wtol(ReadProperty(other, L"Start").c_str()) <= bounds->first &&
                  bounds->second <= _wtol(ReadProperty(other, L"End").c_str());
    SetBool(r, inside);
  });
  // The next story of the same type (the next text box, the next section's
  // header); Nothing after the last and for the main text.
  range->Property(L"NextStoryRange", [this, story](Args&, VARIANT* r) {
    int next = NextStoryOf(StoryType(story), story);
    if (next <= 0) {
      SetDispatch(r, nullptr);
      return;
    }
    Hand(r, NewRange(0, static_cast<long>(StoryText(next).size()), next));
  });
  range->Property(L"Fields", [this, bounds, story, length](Args&, VARIANT* r) {
    long first = bounds->first, last = bounds->second;
    bool whole = first == 0 && last == length();
    Hand(r, NewFields([story, first, last, whole](const Field& f) {
           return f.story == story && (f.start < 0 ? whole : first <= f.start && f.start <= last);
         }));
  });
  range->Method(L"Select", {}, [this, bounds, story](Args&, VARIANT*) {
    RequireOpen();
    app_->Select(this, bounds->first, bounds->second, story);
  });
  range->Method(L"InsertAfter", {L"Text"}, [this, bounds, story](Args& args, VARIANT*) {
    std::wstring text = args.String(0);
    ReplaceText(story, bounds->second, bounds->second, text);
    bounds->second += static_cast<long>(text.size());
  });
  range->Property(L"Font", [this, bounds, story](Args&, VARIANT* r) {
    Hand(r, NewFont(bounds->first, bounds->second, story));
  });
  // A range's own bookmarks (those inside it) are in the order of their
  // places, unlike the document's alphabetical collection.
  range->Property(L"Bookmarks", [this, bounds, story](Args&, VARIANT* r) {
    auto inside = [this, bounds, story] {
      std::vector<Bookmark> found;
      for (const Bookmark& b : content_.bookmarks)
        if (b.story == story && b.start >= bounds->first && b.end <= bounds->second) found.push_back(b);
      std::stable_sort(found.begin(), found.end(), [](const Bookmark& a, const Bookmark& b) { return a.start < b.start; });
      return found;
    };
    Hand(r, NewCollection(
                L"Bookmarks", [inside] { return static_cast<long>(inside().size()); },
                [inside](const std::wstring& name) { return PositionByName(inside(), name); },
                [this, inside](long index) {
                  Bookmark mark = inside()[static_cast<size_t>(index - 1)];
                  auto* bookmark = NewPart(L"Bookmark");
                  bookmark->Property(L"Name", [mark](Args&, VARIANT* r2) { SetString(r2, mark.name); });
                  bookmark->Property(L"Start", [mark](Args&, VARIANT* r2) { SetLong(r2, mark.start); });
                  bookmark->Property(L"End", [mark](Args&, VARIANT* r2) { SetLong(r2, mark.end); });
                  bookmark->Property(L"StoryType", [this, mark](Args&, VARIANT* r2) { SetLong(r2, StoryType(mark.story)); });
                  return bookmark;
                }));
  });
  // InsertFile: the file's text, bookmarks, fields and form fields take the range's place.
  range->Method(L"InsertFile", {L"FileName", L"Range", L"ConfirmConversions", L"Link", L"Attachment"},
                [this, bounds, story](Args& args, VARIANT*) {
                  DocContent inserted = ReadDocFile(args.String(0));
                  long at = bounds->first;
                  std::vector<Bookmark> marks;
                  for (const Bookmark& mark : inserted.bookmarks)
                    if (mark.story == 0) marks.push_back(mark);
                  Paste(story, *bounds, inserted.text, marks);
                  for (Field field : inserted.fields) {
                    if (field.story != 0) continue;
                    if (field.start >= 0) field.start += at;
                    field.story = story;
                    content_.fields.push_back(field);
                  }
                  for (const FormField& field : inserted.formFields) content_.formFields.push_back(field);
                  for (const FontRun& run : inserted.fonts)
                    if (run.story == 0)
                      content_.fonts.push_back(FontRun{run.start + at, run.end + at, run.attribute, run.value, story});
                });
  // Copy and Paste go through the Windows clipboard: the text, and the
  // bookmarks inside the range in a format of the double's own.
  range->Method(L"Copy", {}, [this, bounds, story](Args&, VARIANT*) {
    RequireOpen();
    std::wstring text = StoryText(story).substr(static_cast<size_t>(bounds->first),
                                                static_cast<size_t>(bounds->second - bounds->first));
    std::wstring marks;
    for (const Bookmark& b : content_.bookmarks)
      if (b.story == story && b.start >= bounds->first && b.end <= bounds->second)
        marks += b.name + L"\t" + std::to_wstring(b.start - bounds->first) + L"\t" +
                 std::to_wstring(b.end - bounds->first) + L"\n";
    PutOnClipboard(text, marks);
  });
  range->Method(L"Paste", {}, [this, bounds, story](Args&, VARIANT*) {
    RequireOpen();
    std::wstring text, marks;
    TakeFromClipboard(text, marks);
    std::vector<Bookmark> bookmarks;
    for (size_t from = 0; from < marks.size();) {
      size_t end = marks.find(L'\n', from), tab1 = marks.find(L'\t', from), tab2 = marks.find(L'\t', tab1 + 1);
      bookmarks.push_back(Bookmark{marks.substr(from, tab1 - from), _wtol(marks.c_str() + tab1 + 1),
                                   _wtol(marks.c_str() + tab2 + 1)});
      from = end + 1;
    }
    Paste(story, *bounds, text, bookmarks);
  });
  return range;
}

void WordDocument::Paste(int story, std::pair<long, long>& bounds, const std::wstring& text,
                         const std::vector<Bookmark>& marks) {
  ReplaceText(story, bounds.first, bounds.second, text);
  bounds.second = bounds.first + static_cast<long>(text.size());
  for (const Bookmark& mark : marks) {
    bool known = false;
    for (const Bookmark& b : content_.bookmarks) known = known || _wcsicmp(b.name.c_str(), mark.name.c_str()) == 0;
    if (!known)
      content_.bookmarks.push_back(Bookmark{mark.name, mark.start + bounds.first, mark.end + bounds.first, story});
  }
}

// Font of a range: every assignment is kept as a run; reading answers the
// last assignment that covers the range's start.
//
// Colour as Word answers it (Font.Color in Word's object-model reference): a
// range whose characters differ in colour answers wdUndefined (9999999), a
// character never coloured is wdColorAutomatic (-16777216), and 9999999 is
// no colour that can be set.
Part* WordDocument::NewFont(long start, long end, int story) {
  auto* font = NewPart(L"Font");
  for (const wchar_t* attribute : {L"Name", L"Size", L"Color", L"Bold"}) {
    std::wstring key = attribute;
    font->Property(
        attribute,
        [this, start, end, key, story](Args&, VARIANT* r) {
          if (key == L"Color") {
            SetLong(r, ColorOf(story, start, end));
            return;
          }
          std::wstring value;
          for (const FontRun& run : content_.fonts)
            if (run.story == story && run.attribute == key && run.start <= start &&
                start < std::max(run.end, run.start + 1))
              value = run.value;
          SetString(r, value);
        },
        [this, start, end, key, story](Args&, const VARIANT& v) {
          RequireOpen();
          std::wstring value = ValueString(v);
          if (key == L"Color" && _wtol(value.c_str()) == kColorUndefined) Raise(L"Value out of range");
          content_.fonts.push_back(FontRun{start, end, key, value, story});
          saved_ = false;
        });
  }
  return font;
}

long WordDocument::ColorOf(int story, long start, long end) const {
  long result = kColorAutomatic;
  for (long at = start; at < std::max(end, start + 1); ++at) {
    long color = kColorAutomatic;
    for (const FontRun& run : content_.fonts)
      if (run.story == story && run.attribute == L"Color" && run.start <= at && at < run.end)
        color = _wtol(run.value.c_str());
    if (at > start && color != result) return kColorUndefined;
    result = color;
  }
  return result;
}

namespace {

UINT BookmarkFormat() { return RegisterClipboardFormatW(L"NibDouble.Bookmarks"); }

HGLOBAL GlobalText(const std::wstring& text) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  if (!memory) Raise(L"Out of memory.");
  memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  GlobalUnlock(memory);
  return memory;
}

std::wstring ClipboardText(UINT format) {
  HANDLE data = GetClipboardData(format);
  if (!data) return L"";
  std::wstring text = static_cast<const wchar_t*>(GlobalLock(data));
  GlobalUnlock(data);
  return text;
}

}  // namespace

void WordDocument::PutOnClipboard(const std::wstring& text, const std::wstring& bookmarks) {
  if (!OpenClipboard(nullptr)) Raise(L"The clipboard is in use by another program.");
  EmptyClipboard();
  SetClipboardData(CF_UNICODETEXT, GlobalText(text));
  SetClipboardData(BookmarkFormat(), GlobalText(bookmarks));
  CloseClipboard();
}

void WordDocument::TakeFromClipboard(std::wstring& text, std::wstring& bookmarks) {
  if (!OpenClipboard(nullptr)) Raise(L"The clipboard is in use by another program.");
  text = ClipboardText(CF_UNICODETEXT);
  bookmarks = ClipboardText(BookmarkFormat());
  CloseClipboard();
}

Part* WordDocument::NewRevisions() {
  auto* revisions = new Part(L"Revisions");
  std::vector<Revision> list = content_.revisions;
  revisions->Property(L"Count", [list](Args&, VARIANT* r) { SetLong(r, static_cast<long>(list.size())); });
  revisions->Method(L"Item", {L"Index"}, [list](Args& args, VARIANT* r) {
    long index = args.Long(0);
    if (index < 1 || index > static_cast<long>(list.size())) Raise(L"The requested member of the collection does not exist.");
    auto* revision = new Part(L"Revision");
    Revision item = list[static_cast<size_t>(index - 1)];
    revision->Property(L"Author", [item](Args&, VARIANT* r) { SetString(r, item.author); });
    revision->Property(L"Text", [item](Args&, VARIANT* r) { SetString(r, item.text); });
    Hand(r, revision);
  });
  return revisions;
}

Part* WordDocument::NewVariables() {
  auto find = [this](const std::wstring& name) -> std::pair<std::wstring, std::wstring>* {
    for (auto& variable : content_.variables)
      if (_wcsicmp(variable.first.c_str(), name.c_str()) == 0) return &variable;
    return nullptr;
  };
  auto variableObject = [this, find](const std::wstring& name) {
    auto* variable = NewPart(L"Variable");
    variable->Property(L"Name", [name](Args&, VARIANT* r) { SetString(r, name); });
    variable->Property(L"Value", [find, name](Args&, VARIANT* r) {
                         auto* found = find(name);
                         if (!found) Raise(L"Object has been deleted.");
                         SetString(r, found->second);
                       },
                       [this, find, name](Args&, const VARIANT& v) {
                         auto* found = find(name);
                         if (!found) Raise(L"Object has been deleted.");
                         // "The value of a Variable object cannot be set to a
                         // zero-length string" (a run-time error in Word).
                         std::wstring value = ValueString(v);
                         if (value.empty()) Raise(L"Value out of range");
                         found->second = value;
                         saved_ = false;
                       });
    return variable;
  };
  auto& list = content_.variables;
  Part* variables = NewCollection(
      L"Variables", [&list] { return static_cast<long>(list.size()); },
      [&list, find](const std::wstring& name) {
        auto* found = find(name);
        return found ? static_cast<long>(found - list.data() + 1) : 0L;
      },
      [&list, variableObject](long index) { return variableObject(list[static_cast<size_t>(index - 1)].first); });
  variables->Method(L"Add", {L"Name", L"Value"}, [this, find, variableObject](Args& args, VARIANT* r) {
    std::wstring name = args.String(0);
    if (find(name)) Raise(L"This variable already exists.");
    // Added with no value or a zero-length one, it is refused like the Value.
    std::wstring value = args.String(1, L"");
    if (value.empty()) Raise(L"Value out of range");
    content_.variables.emplace_back(name, value);
    saved_ = false;
    Hand(r, variableObject(name));
  });
  return variables;
}

Part* WordDocument::NewWindow() {
  auto* window = NewPart(L"Window");
  auto newView = [this] {
    auto* view = NewPart(L"View");
    view->Property(L"FieldShading", [this](Args&, VARIANT* r) { SetLong(r, fieldShading_); },
                   [this](Args&, const VARIANT& v) { fieldShading_ = ValueLong(v); });
    view->Property(L"Zoom", [this](Args&, VARIANT* r) {
      auto* zoom = NewPart(L"Zoom");
      zoom->Property(L"Percentage", [this](Args&, VARIANT* r2) { SetLong(r2, zoom_); },
                     [this](Args&, const VARIANT& v) { zoom_ = ValueLong(v); });
      Hand(r, zoom);
    });
    return view;
  };
  window->Property(L"View", [newView](Args&, VARIANT* r) { Hand(r, newView()); });
  window->Property(L"ActivePane", [newView](Args&, VARIANT* r) {
    auto* pane = new Part(L"Pane");
    pane->Property(L"View", [newView](Args&, VARIANT* r2) { Hand(r2, newView()); });
    Hand(r, pane);
  });
  return window;
}

void WordDocument::SaveTo(const std::wstring& path, long format) {
  RequireOpen();
  bool ownFile = _wcsicmp(path.c_str(), path_.c_str()) == 0;
  if (ownFile) ReleaseFile(false);  // Word itself may write its file
  // Word cannot write over a file someone else holds (another Word, a
  // document it has just closed and not yet let go of).
  HANDLE probe = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
  } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
    if (ownFile) HoldFile();
    Raise(L"Word cannot save this file because it is already open elsewhere. (" + path + L")");
  }
  if (format == kFormatHtml) {
    WriteHtmlPage(path, content_);
  } else {
    content_.format = format == kFormatDocument ? L"doc" : L"docx";
    WriteDocFile(path, content_);
  }
  if (ownFile) HoldFile();
  if (format != kFormatHtml) saved_ = true;
}

WordApplication::WordApplication() : DynObject(L"Application") {
  documentsObject_ = new WordDocuments([this](const std::wstring& path) { return OpenDocument(path); },
                                       [this] { return AddDocument(); },
                                       [this] { return static_cast<long>(documents_.size()); });
  Property(L"Documents", [this](Args&, VARIANT* r) { SetDispatch(r, documentsObject_); });
  Property(L"ActiveDocument", [this](Args&, VARIANT* r) {
    if (!active_) Raise(L"This command is not available because no document is open.");
    SetDispatch(r, active_);
  });
  auto longProperty = [this](const wchar_t* name, long* field, std::function<void()> changed = nullptr) {
    Property(name, [field](Args&, VARIANT* r) { SetLong(r, *field); },
             [field, changed](Args&, const VARIANT& v) {
               *field = ValueLong(v);
               if (changed) changed();
             });
  };
  longProperty(L"WindowState", &windowState_, [this] { UpdateWindow(); });
  longProperty(L"DisplayAlerts", &displayAlerts_);
  longProperty(L"Left", &left_, [this] { UpdateWindow(); });
  longProperty(L"Top", &top_, [this] { UpdateWindow(); });
  longProperty(L"Width", &width_, [this] { UpdateWindow(); });
  longProperty(L"Height", &height_, [this] { UpdateWindow(); });
  // A visible Word belongs to the user as much as to automation: it goes on
  // running when every automation reference is released, until it is quit
  // or closed by the user.
  Property(L"Visible", [this](Args&, VARIANT* r) { SetBool(r, visible_); },
           [this](Args&, const VARIANT& v) {
             visible_ = ValueBool(v);
             UpdateWindow();
             if (visible_ && !heldByUser_) {
               heldByUser_ = true;
               AddRef();
             } else if (!visible_ && heldByUser_) {
               heldByUser_ = false;
               Release();
             }
           });
  // Word.Application.Name: "Microsoft Word" whatever the version.
  Property(L"Name", [](Args&, VARIANT* r) { SetString(r, L"Microsoft Word"); });
  Property(L"UserName", [this](Args&, VARIANT* r) { SetString(r, userName_); },
           [this](Args&, const VARIANT& v) { userName_ = ValueString(v); });
  Property(L"NormalTemplate", [this](Args&, VARIANT* r) {
    auto* normal = new Part(L"Template");
    std::wstring path = normalTemplate_;
    normal->Property(L"FullName", [path](Args&, VARIANT* r2) { SetString(r2, path); });
    normal->Property(L"Name", [path](Args&, VARIANT* r2) { SetString(r2, FileNameOf(path)); });
    normal->Property(L"Saved", [](Args&, VARIANT* r2) { SetBool(r2, true); }, [](Args&, const VARIANT&) {});
    Hand(r, normal);
  });
  Property(L"Selection", [this](Args&, VARIANT* r) { Hand(r, NewSelection()); });
  // The application's part of the window captions ("<document> - <Caption>").
  Property(L"Caption", [this](Args&, VARIANT* r) { SetString(r, caption_.empty() ? WordCaptionStyle() : caption_); },
           [this](Args&, const VARIANT& v) {
             caption_ = ValueString(v);
             UpdateWindow();
           });
  Method(L"CentimetersToPoints", {L"Centimeters"},
         [](Args& args, VARIANT* r) { SetDouble(r, args.Double(0) * 72.0 / 2.54); });
  Method(L"Activate", {}, [this](Args&, VARIANT*) {
    if (window_) SetForegroundWindow(window_);
  });
  Method(L"Quit", {L"SaveChanges", L"OriginalFormat", L"RouteDocument"}, [this](Args&, VARIANT*) { Quit(); });
  // Runs a macro, only a macro: "Runs a Visual Basic macro". Word's own
  // commands are not reached this way (a macro named like one would run
  // instead), and the double holds no macros.
  Method(L"Run", {L"MacroName"}, [](Args& args, VARIANT*) {
    Raise(L"Unable to run the specified macro (" + args.String(0) + L").");
  });
  // Dialogs(wdDialogInsertFile).Show: Word's insert-file dialog, modal; the
  // call returns when the user closes it (-1 OK, 0 Cancel). Meanwhile every
  // call from outside is refused.
  Property(L"Dialogs", [this](Args&, VARIANT* r) {
    auto* dialogs = NewAppPart(L"Dialogs");
    dialogs->Method(L"Item", {L"Index"}, [this](Args& args, VARIANT* r2) {
      long index = args.Long(0, 0);
      if (index != kDialogInsertFile) Raise(L"The requested member of the collection does not exist.");
      auto* dialog = NewAppPart(L"Dialog");
      dialog->Method(L"Show", {L"TimeOut"}, [](Args&, VARIANT* r3) {
        SetModalDialogOpen(true);
        int answer = MessageBoxW(nullptr, L"Insert File", L"Insert File", MB_OKCANCEL);
        SetModalDialogOpen(false);
        SetLong(r3, answer == IDOK ? -1 : 0);
      });
      Hand(r2, dialog);
    });
    Hand(r, dialogs);
  });
  Property(L"Version", [](Args&, VARIANT* r) { SetString(r, std::to_wstring(WordVersion()) + L".0"); });
  Property(L"AutomationSecurity", [this](Args&, VARIANT* r) { SetLong(r, automationSecurity_); },
           [this](Args&, const VARIANT& v) { automationSecurity_ = ValueLong(v); });
  // Options.UseLocalUserInfo came with Word 2013 (version 15).
  Property(L"Options", [this](Args&, VARIANT* r) {
    auto* options = NewAppPart(L"Options");
    if (WordVersion() >= 15)
      options->Property(L"UseLocalUserInfo", [this](Args&, VARIANT* r2) { SetBool(r2, useLocalUserInfo_); },
                        [this](Args&, const VARIANT& v) { useLocalUserInfo_ = ValueBool(v); });
    Hand(r, options);
  });

  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = WindowClass();
  RegisterClassW(&windowClass);
  window_ = CreateWindowExW(0, WindowClass(), WordCaptionStyle().c_str(), WS_OVERLAPPEDWINDOW, left_, top_, width_, height_, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  RegisterActiveObject(static_cast<IDispatch*>(this), ApplicationClass(), ACTIVEOBJECT_WEAK, &rotCookie_);
  MarkStarted();

  // Word's global template: a real file, which the system backs up and restores.
  wchar_t appData[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
  std::wstring folder = std::wstring(appData) + L"\\Microsoft\\Templates";
  CreateDirectoryW((std::wstring(appData) + L"\\Microsoft").c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
  normalTemplate_ = folder + L"\\Normal.dot";
  if (GetFileAttributesW(normalTemplate_.c_str()) == INVALID_FILE_ATTRIBUTES) WriteDocFile(normalTemplate_, DocContent{});
}

WordApplication::~WordApplication() {
  if (rotCookie_) RevokeActiveObject(rotCookie_, nullptr);
  events_.DropAll();
  for (WordDocument* document : documents_) {
    document->MarkClosed();
    document->Release();
  }
  documentsObject_->Release();
  if (window_) DestroyWindow(window_);
}

WordDocument* WordApplication::OpenDocument(const std::wstring& path) {
  wchar_t full[MAX_PATH];
  GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  // Word answers a document that is open already with that document.
  for (WordDocument* open : documents_) {
    if (_wcsicmp(open->Path().c_str(), full) == 0) {
      DocumentActivated(open);
      return open;
    }
  }
  DocContent content = ReadDocFile(path);
  // "Macros are enabled when opening files programmatically" unless
  // AutomationSecurity says otherwise: a document's AutoOpen runs.
  if (!content.macro.empty())
    LogCall(L"Document", L"<macro>", content.macro + L" in " + FileNameOf(full),
            automationSecurity_ == kForceDisable ? L"disabled" : L"ran");
  auto* document = new WordDocument(this, full, std::move(content), true);
  documents_.push_back(document);
  DocumentActivated(document);
  return document;
}

WordDocument* WordApplication::AddDocument() {
  DocContent blank;
  blank.format = L"docx";  // Word's default format for new documents since 2007
  auto* document = new WordDocument(this, L"Document" + std::to_wstring(++untitled_), blank, false);
  documents_.push_back(document);
  DocumentActivated(document);
  return document;
}

bool WordApplication::CloseDocument(WordDocument* document) {
  if (events_.FireBeforeClose(document)) return false;
  for (auto it = documents_.begin(); it != documents_.end(); ++it) {
    if (*it != document) continue;
    documents_.erase(it);
    document->MarkClosed();
    if (active_ == document) active_ = documents_.empty() ? nullptr : documents_.back();
    UpdateWindow();
    document->Release();
    return true;
  }
  return true;
}

Part* WordApplication::NewSelection() {
  if (!active_) Raise(L"This command is not available because no document is open.");
  auto* selection = new Part(L"Selection");
  AddRef();
  selection->SetOnRelease([this] { Release(); });
  auto length = [this] { return active_ ? static_cast<long>(active_->StoryText(selectionStory_).size()) : 0L; };
  selection->Property(L"StoryType", [this](Args&, VARIANT* r) {
    SetLong(r, active_ ? active_->StoryType(selectionStory_) : 1);
  });
  selection->Property(L"Start", [this](Args&, VARIANT* r) { SetLong(r, selectionStart_); },
                      [this, length](Args&, const VARIANT& v) {
                        selectionStart_ = std::clamp(ValueLong(v), 0L, length());
                        selectionEnd_ = std::max(selectionEnd_, selectionStart_);
                      });
  selection->Property(L"End", [this](Args&, VARIANT* r) { SetLong(r, selectionEnd_); },
                      [this, length](Args&, const VARIANT& v) {
                        selectionEnd_ = std::clamp(ValueLong(v), selectionStart_, length());
                      });
  // GoTo What = -1 (a bookmark) with its Name: the selection becomes the bookmark's range.
  selection->Method(L"GoTo", {L"What", L"Which", L"Count", L"Name"}, [this](Args& args, VARIANT* r) {
    if (!active_) Raise(L"This command is not available because no document is open.");
    if (args.Long(0, 1) != -1) Raise(L"The double only goes to bookmarks.");
    std::wstring name = args.String(3);
    for (const Bookmark& bookmark : active_->Content().bookmarks) {
      if (_wcsicmp(bookmark.name.c_str(), name.c_str()) != 0) continue;
      selectionStart_ = bookmark.start;
      selectionEnd_ = bookmark.end;
      selectionStory_ = bookmark.story;
      Hand(r, active_->NewRange(selectionStart_, selectionEnd_, selectionStory_));
      return;
    }
    Raise(L"The requested member of the collection does not exist.");
  });
  // MoveRight(Unit, Count, Extend): Extend = 1 widens the selection, otherwise it collapses and moves.
  selection->Method(L"MoveRight", {L"Unit", L"Count", L"Extend"}, [this, length](Args& args, VARIANT* r) {
    long count = args.Long(1, 1);
    if (args.Long(2, 0) == 1) {
      selectionEnd_ = std::clamp(selectionEnd_ + count, selectionStart_, length());
    } else {
      selectionStart_ = selectionEnd_ = std::clamp(selectionEnd_ + count, 0L, length());
    }
    SetLong(r, count);
  });
  // HomeKey(Unit, Extend): unit 6 is the whole story, anything else the paragraph.
  selection->Method(L"HomeKey", {L"Unit", L"Extend"}, [this](Args& args, VARIANT* r) {
    long home = 0;
    if (args.Long(0, 5) != 6 && active_) {
      const std::wstring& text = active_->StoryText(selectionStory_);
      size_t mark = selectionStart_ > 0 ? text.rfind(L'\r', static_cast<size_t>(selectionStart_ - 1)) : std::wstring::npos;
      home = mark == std::wstring::npos ? 0 : static_cast<long>(mark + 1);
    }
    long moved = selectionStart_ - home;
    selectionStart_ = home;
    if (args.Long(1, 0) != 1) selectionEnd_ = home;
    SetLong(r, moved);
  });
  selection->Property(L"Font", [this](Args&, VARIANT* r) {
    if (!active_) Raise(L"This command is not available because no document is open.");
    Hand(r, active_->FontOf(selectionStart_, selectionEnd_, selectionStory_));
  });
  selection->Property(L"ShapeRange", [this](Args&, VARIANT* r) {
    if (!active_ || selectedShape_ < 0) Raise(L"This method or property is not available because no shape is selected.");
    Hand(r, active_->ShapeRangeOf(static_cast<size_t>(selectedShape_)));
  });
  selection->Property(L"Range", [this](Args&, VARIANT* r) {
    if (!active_) Raise(L"This command is not available because no document is open.");
    Hand(r, active_->NewRange(selectionStart_, selectionEnd_, selectionStory_));
  });
  return selection;
}

void WordApplication::DocumentActivated(WordDocument* document) {
  if (active_ != document) {
    selectionStart_ = selectionEnd_ = 0;
    selectionStory_ = 0;
    selectedShape_ = -1;
  }
  active_ = document;
  UpdateWindow();
}

void WordApplication::UpdateWindow() {
  if (!window_) return;
  std::wstring own = caption_.empty() ? WordCaptionStyle() : caption_;
  // Word 2007 and later mark a file of the 97-2003 format in the caption.
  std::wstring compatibility =
      active_ && active_->Content().format == L"doc" && Setting(L"word", L"compatibility") == L"1" ? L" [Compatibility Mode]"
                                                                                                   : L"";
  std::wstring caption = active_ ? active_->Name() + compatibility + L" - " + own : own;
  SetWindowTextW(window_, caption.c_str());
  if (windowState_ == 0) MoveWindow(window_, left_, top_, width_, height_, TRUE);
  if (visible_ && !windowAppeared_) {
    if (DWORD ms = SettleMs(L"window")) {
      SetTimer(window_, kAppearTimer, ms, nullptr);  // shown when it fires
      return;
    }
    windowAppeared_ = true;
  }
  ShowWindow(window_, !visible_ ? SW_HIDE : windowState_ == 2 ? SW_SHOWMINNOACTIVE : windowState_ == 1 ? SW_SHOWMAXIMIZED : SW_SHOWNOACTIVATE);
}

void WordApplication::Quit() {
  while (!documents_.empty()) {
    WordDocument* document = documents_.back();
    documents_.pop_back();
    document->MarkClosed();
    document->Release();
  }
  active_ = nullptr;
  heldByUser_ = false;  // the process ends below, whoever still holds the object
  if (rotCookie_) RevokeActiveObject(rotCookie_, nullptr);
  rotCookie_ = 0;
  if (window_) DestroyWindow(window_);
  window_ = nullptr;
  // The reply to this call goes out first; then the process ends.
  PostQuitMessage(0);
}

LRESULT CALLBACK WordApplication::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* app = reinterpret_cast<WordApplication*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  // The user closing the window closes the active document, events first.
  if (message == WM_CLOSE && app) {
    if (app->active_) app->CloseDocument(app->active_);
    return 0;
  }
  if (message == WM_TIMER && wParam == kAppearTimer && app) {
    KillTimer(window, kAppearTimer);
    app->windowAppeared_ = true;
    app->UpdateWindow();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

IDispatch* CreateWordApplication() { return static_cast<IDispatch*>(new WordApplication()); }

}  // namespace doubles
