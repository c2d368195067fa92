// Late-bound automation: create a COM object from a ProgID or CLSID text and drive it by member
// name, turning the runtime's argument records into VARIANTs and back.
//
// An `ObjectHolder` owns one reference to the object and remembers the HRESULT of its latest
// operation; no command throws or shows a message, failures are read from that result and from
// the neutral values the commands return. Arguments go in as `ArgValue`s in declaration order.
// A variable (tag with BYREF) is passed by reference only when the member's type information
// says the parameter is one; the object may then replace the variable's content (a text variable
// receives the returned string). Every BSTR, SAFEARRAY and interface made for a call is owned by
// the call and gone when it returns; the caller's texts, blocks and VARIANTs stay the caller's.
//
// Variables in an ArgValue with BYREF: the value is the address of the caller's variable, which
// for texts and blocks is the `Text` / `Bytes` owner itself, and for booleans an int32_t.
// `TYPE_OBJECT` and `TYPE_VARIANT` always carry the address of the holder / VARIANT.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>

#include "runtime/automation/com_owner.h"
#include "runtime/values.h"

namespace tambrel {

struct ObjectHolder {
  ComPtr<IUnknown> object;  // empty when the holder holds nothing
  HRESULT last_result = S_OK;
};

using Args = std::span<const ArgValue>;

// 1 on success (the holder holds the object), 0 on failure. A type-library file, when given, is
// asked for a creatable type of that name first.
bool create_object(ObjectHolder& holder, const char* name, const char* type_library = nullptr);
// Releases the object; the holder is then empty with last result 0.
void release_object(ObjectHolder& holder);

// A property's value (VT_EMPTY on failure); index arguments first.
Variant get_property(ObjectHolder& holder, const char* name, Args index = {});
// Puts the last argument into the property (by reference when it is an object); the others are
// index arguments. True when the object answered S_OK.
bool set_property(ObjectHolder& holder, const char* name, Args index_then_value);
// Calls a method and drops its result.
void call_method(ObjectHolder& holder, const char* name, Args args = {});
// Calls a method whose result is a string; null for any other result.
Text call_method_text(ObjectHolder& holder, const char* name, Args args = {});
// Calls a method and hands its result to the caller (VT_EMPTY on failure).
Variant call_method_value(ObjectHolder& holder, const char* name, Args args = {});

inline Variant get_property(ObjectHolder& h, const char* name, std::initializer_list<ArgValue> a) {
  return get_property(h, name, Args(a.begin(), a.size()));
}
inline bool set_property(ObjectHolder& h, const char* name, std::initializer_list<ArgValue> a) {
  return set_property(h, name, Args(a.begin(), a.size()));
}
inline void call_method(ObjectHolder& h, const char* name, std::initializer_list<ArgValue> a) {
  call_method(h, name, Args(a.begin(), a.size()));
}
inline Text call_method_text(ObjectHolder& h, const char* name, std::initializer_list<ArgValue> a) {
  return call_method_text(h, name, Args(a.begin(), a.size()));
}
inline Variant call_method_value(ObjectHolder& h, const char* name,
                                 std::initializer_list<ArgValue> a) {
  return call_method_value(h, name, Args(a.begin(), a.size()));
}

// The bytes of a byte-array VARIANT, or of whatever the system can turn into one. For an array of
// other elements, the element at the 1-based index (default the first) is converted. Null when
// nothing converts or the array is empty.
Bytes variant_to_bytes(const VARIANT* v, std::optional<int32_t> element_index = std::nullopt);
// VariantClear followed by VariantInit.
void clear_variant(VARIANT* v);

// Text <-> BSTR in the ANSI code page. An empty text gives a null BSTR and the other way round.
Bstr text_to_bstr(const char* text);
Text bstr_to_text(const wchar_t* s, size_t length);

// Argument records for automation calls.
namespace arg {
inline ArgValue none() { return make_arg(TYPE_NONE); }
inline ArgValue integer(int32_t v) { return int_arg(v); }
inline ArgValue text(const char* v) { return text_arg(v); }
inline ArgValue boolean(bool v) { ArgValue a = make_arg(TYPE_BOOL); a.value.i32 = v ? 1 : 0; return a; }
inline ArgValue real(double v) { return double_arg(v); }
inline ArgValue int64(int64_t v) { ArgValue a = make_arg(TYPE_LONG); a.value.i64 = v; return a; }
inline ArgValue bytes(const Bytes& b) {
  ArgValue a = make_arg(TYPE_BYTES);
  a.value.ptr = const_cast<BytesBlock*>(b.block());
  return a;
}
inline ArgValue object(ObjectHolder& h) { ArgValue a = make_arg(TYPE_OBJECT); a.value.ptr = &h; return a; }
inline ArgValue variant(VARIANT* v) { ArgValue a = make_arg(TYPE_VARIANT); a.value.ptr = v; return a; }

inline ArgValue var_of(uint32_t tag, void* variable) {
  ArgValue a = make_arg(tag | BYREF);
  a.value.ptr = variable;
  return a;
}
inline ArgValue var(uint8_t* v) { return var_of(TYPE_BYTE, v); }
inline ArgValue var(int16_t* v) { return var_of(TYPE_SHORT, v); }
inline ArgValue var(int32_t* v) { return var_of(TYPE_INT, v); }
inline ArgValue var(int64_t* v) { return var_of(TYPE_LONG, v); }
inline ArgValue var(float* v) { return var_of(TYPE_FLOAT, v); }
inline ArgValue var(double* v) { return var_of(TYPE_DOUBLE, v); }
inline ArgValue var(Text* v) { return var_of(TYPE_TEXT, v); }
inline ArgValue var(Bytes* v) { return var_of(TYPE_BYTES, v); }
inline ArgValue var(ObjectHolder* v) { return var_of(TYPE_OBJECT, v); }
inline ArgValue var(VARIANT* v) { return var_of(TYPE_VARIANT, v); }
inline ArgValue bool_var(int32_t* v) { return var_of(TYPE_BOOL, v); }
inline ArgValue datetime_var(double* v) { return var_of(TYPE_DATETIME, v); }
}  // namespace arg

}  // namespace tambrel
