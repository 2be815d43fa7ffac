#pragma once
// Late-bound automation calls by member name: the layer through which the
// system drives Word, Excel and PowerPoint. Dispatch ids are looked up once
// per object wrapper and member; omitted optional arguments travel as
// DISP_E_PARAMNOTFOUND error variants; a failing call throws ComError with
// the server's own error text.

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "com/Variant.h"

namespace nib {

// One argument: owns its VARIANT.
class Arg {
 public:
  Arg(const wchar_t* text);
  Arg(const std::wstring& text);
  Arg(int value);
  Arg(long value);
  Arg(bool value);
  Arg(double value);
  Arg(IDispatch* object);
  static Arg Omitted();  // an optional argument not given
  static Arg Empty();    // VT_EMPTY, as some callers pass on purpose
  static Arg ByRef(VARIANT* target);
  // A one-dimensional array of variants (lower bound 0) holding texts.
  static Arg TextArray(const std::vector<std::wstring>& items);
  static Arg Ansi(const std::string& text);  // a text in the system's code page

  Arg(Arg&&) = default;
  Arg& operator=(Arg&&) = default;
  Arg(const Arg& other);
  const VARIANT* Get() const { return value_.Get(); }
  VARIANT* Get() { return value_.Get(); }

 private:
  Arg() = default;
  Variant value_;
};

struct NamedArg {
  const wchar_t* name;
  Arg value;
};

class DispObject {
 public:
  DispObject() = default;
  explicit DispObject(Microsoft::WRL::ComPtr<IDispatch> object) : object_(std::move(object)) {}
  // The object a VARIANT holds (VT_DISPATCH or VT_UNKNOWN); empty otherwise.
  static DispObject From(const Variant& value);

  explicit operator bool() const { return object_ != nullptr; }
  IDispatch* Get() const { return object_.Get(); }
  // The same object, judged by its IDispatch pointer.
  bool SameObject(IDispatch* other) const;

  Variant Call(const wchar_t* member, std::initializer_list<Arg> args = {}, std::initializer_list<NamedArg> named = {});
  Variant Get(const wchar_t* member, std::initializer_list<Arg> args = {});
  void Put(const wchar_t* member, Arg value);
  DispObject Object(const wchar_t* member, std::initializer_list<Arg> args = {});  // a property that is an object
  DispObject CallObject(const wchar_t* member, std::initializer_list<Arg> args = {},
                        std::initializer_list<NamedArg> named = {});
  std::wstring Text(const wchar_t* member);
  long Long(const wchar_t* member);
  bool Bool(const wchar_t* member);

 private:
  Variant Invoke(WORD kind, const wchar_t* member, std::vector<const VARIANT*> positional,
                 std::initializer_list<NamedArg> named);
  std::vector<DISPID> IdsOf(const wchar_t* member, std::initializer_list<NamedArg> named);

  Microsoft::WRL::ComPtr<IDispatch> object_;
  std::map<std::wstring, std::vector<DISPID>> ids_;
};

// Conversions of results; ComError when the value does not convert.
std::wstring TextOf(const Variant& value);
long LongOf(const Variant& value);
bool BoolOf(const Variant& value);

}  // namespace nib
