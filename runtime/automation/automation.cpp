// Member calls by name. Each call prepares one `Marshalled` slot per argument: the slot owns
// whatever the VARIANT borrows (a BSTR, a SAFEARRAY, an interface, a VARIANT_BOOL copy), so the
// VARIANT array itself never needs clearing and the slot's destructor frees whatever the callee
// left behind in a by-reference parameter. Write-backs into the caller's variables happen after
// Invoke, from the slots.
#include "runtime/automation/automation.h"

#include <oaidl.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/text.h"

namespace tambrel {
namespace {

// Pointer-sized subroutine addresses travel as the pointer-sized unsigned VARIANT type.
constexpr VARTYPE VT_SUBROUTINE = sizeof(void*) == 8 ? VT_UI8 : VT_UI4;
constexpr DWORD CLSCTX_ALL_SERVERS = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER |
                                     CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;  // 0x17
constexpr DWORD CLSCTX_NO_REMOTE = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER |
                                   CLSCTX_LOCAL_SERVER;  // 7

// Type-information descriptions are released through the ITypeInfo that handed them out.
template <class Desc, void (STDMETHODCALLTYPE ITypeInfo::*Release)(Desc*)>
class TypeDesc {
 public:
  explicit TypeDesc(ITypeInfo* info) : info_(info) {}
  TypeDesc(const TypeDesc&) = delete;
  TypeDesc& operator=(const TypeDesc&) = delete;
  ~TypeDesc() { if (desc_) (info_->*Release)(desc_); }
  Desc** put() { return &desc_; }
  Desc* operator->() const { return desc_; }
  explicit operator bool() const { return desc_ != nullptr; }

 private:
  ITypeInfo* info_;
  Desc* desc_ = nullptr;
};
using TypeAttr = TypeDesc<TYPEATTR, &ITypeInfo::ReleaseTypeAttr>;
using FuncDesc = TypeDesc<FUNCDESC, &ITypeInfo::ReleaseFuncDesc>;
using VarDesc = TypeDesc<VARDESC, &ITypeInfo::ReleaseVarDesc>;

bool is_reference_type(const TYPEDESC& t) { return t.vt == VT_PTR || (t.vt & VT_BYREF) != 0; }

enum class Call { PropertyGet, PropertyPut, Method };

// Which of the first n arguments the member's type information declares as references. A method
// is looked up among the functions, a property among the variables (only its first argument).
std::vector<bool> reference_parameters(IDispatch* dispatch, DISPID id, Call call, size_t n) {
  std::vector<bool> refs(n, false);
  ComPtr<ITypeInfo> info;
  if (FAILED(dispatch->GetTypeInfo(0, 0, info.put())) || !info) return refs;
  TypeAttr attr(info.get());
  if (FAILED(info->GetTypeAttr(attr.put())) || !attr) return refs;
  if (call == Call::Method) {
    for (UINT i = 0; i < attr->cFuncs; ++i) {
      FuncDesc f(info.get());
      if (FAILED(info->GetFuncDesc(i, f.put())) || !f) continue;
      if (f->memid != id) continue;
      size_t count = std::min(n, static_cast<size_t>(f->cParams < 0 ? 0 : f->cParams));
      for (size_t p = 0; p < count; ++p) refs[p] = is_reference_type(f->lprgelemdescParam[p].tdesc);
      break;
    }
  } else {
    for (UINT i = 0; i < attr->cVars; ++i) {
      VarDesc v(info.get());
      if (FAILED(info->GetVarDesc(i, v.put())) || !v) continue;
      if (v->memid != id) continue;
      if (n > 0) refs[0] = is_reference_type(v->elemdescVar.tdesc);
      break;
    }
  }
  return refs;
}

SafeArray byte_array(const BytesBlock* block) {
  size_t n = block && block->length > 0 ? static_cast<size_t>(block->length) : 0;
  SAFEARRAYBOUND bound{static_cast<ULONG>(n), 0};
  SafeArray array(SafeArrayCreate(VT_UI1, 1, &bound));
  if (array && n > 0) {
    void* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(array.get(), &data))) {
      SafeArrayLock lock(array.get());
      std::memcpy(data, block->data(), n);
    }
  }
  return array;
}

// Everything one argument's VARIANT borrows, owned for the duration of the call.
struct Marshalled {
  Bstr bstr;
  SafeArray array;
  ComPtr<IDispatch> dispatch;
  ComPtr<IUnknown> unknown;
  VARIANT_BOOL flag = VARIANT_FALSE;
};

// The value a variable holds, as a by-value record of the same type.
ArgValue read_variable(const ArgValue& a) {
  uint32_t base = a.tag & ~BYREF;
  ArgValue v = make_arg(base);
  const void* p = a.value.ptr;
  if (!p) return make_arg(TYPE_NONE);
  switch (base) {
    case TYPE_BYTE: v.value.i32 = *static_cast<const uint8_t*>(p); break;
    case TYPE_SHORT: v.value.i32 = *static_cast<const int16_t*>(p); break;
    case TYPE_INT:
    case TYPE_BOOL: v.value.i32 = *static_cast<const int32_t*>(p); break;
    case TYPE_LONG: v.value.i64 = *static_cast<const int64_t*>(p); break;
    case TYPE_FLOAT: v.value.f32 = *static_cast<const float*>(p); break;
    case TYPE_DOUBLE:
    case TYPE_DATETIME: v.value.f64 = *static_cast<const double*>(p); break;
    case TYPE_TEXT: v.value.ptr = static_cast<const Text*>(p)->get(); break;
    case TYPE_BYTES: v.value.ptr = static_cast<const Bytes*>(p)->get(); break;
    case TYPE_SUBPTR: v.value.ptr = *static_cast<void* const*>(p); break;
    default: return make_arg(TYPE_NONE);
  }
  return v;
}

void by_value(const ArgValue& a, Marshalled& slot, VARIANT& out) {
  switch (a.tag) {
    case TYPE_BYTE: V_VT(&out) = VT_UI1; V_UI1(&out) = static_cast<BYTE>(a.value.raw); break;
    case TYPE_SHORT: V_VT(&out) = VT_I2; V_I2(&out) = static_cast<SHORT>(a.value.raw); break;
    case TYPE_INT: V_VT(&out) = VT_I4; V_I4(&out) = a.value.i32; break;
    case TYPE_LONG: V_VT(&out) = VT_I8; V_I8(&out) = a.value.i64; break;
    case TYPE_FLOAT: V_VT(&out) = VT_R4; V_R4(&out) = a.value.f32; break;
    case TYPE_DOUBLE: V_VT(&out) = VT_R8; V_R8(&out) = a.value.f64; break;
    case TYPE_BOOL:
      V_VT(&out) = VT_BOOL;
      V_BOOL(&out) = a.value.i32 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case TYPE_DATETIME: V_VT(&out) = VT_DATE; V_DATE(&out) = a.value.f64; break;
    case TYPE_TEXT:
      slot.bstr = text_to_bstr(static_cast<const char*>(a.value.ptr));
      V_VT(&out) = VT_BSTR;
      V_BSTR(&out) = slot.bstr.get();
      break;
    case TYPE_BYTES:
      slot.array = byte_array(static_cast<const BytesBlock*>(a.value.ptr));
      V_VT(&out) = VT_ARRAY | VT_UI1;
      V_ARRAY(&out) = slot.array.get();
      break;
    case TYPE_SUBPTR:
      V_VT(&out) = VT_SUBROUTINE;
      if constexpr (VT_SUBROUTINE == VT_UI8) V_UI8(&out) = reinterpret_cast<uintptr_t>(a.value.ptr);
      else V_UI4(&out) = static_cast<ULONG>(reinterpret_cast<uintptr_t>(a.value.ptr));
      break;
    case TYPE_OBJECT: {
      // The holder keeps an IUnknown; the callee is promised an IDispatch, so ask for one and
      // pass the plain IUnknown only for objects that have none.
      auto* holder = static_cast<ObjectHolder*>(a.value.ptr);
      if (holder && holder->object && SUCCEEDED(holder->object.query(&slot.dispatch))) {
        V_VT(&out) = VT_DISPATCH;
        V_DISPATCH(&out) = slot.dispatch.get();
      } else if (holder && holder->object) {
        V_VT(&out) = VT_UNKNOWN;
        V_UNKNOWN(&out) = holder->object.get();
      } else {
        V_VT(&out) = VT_DISPATCH;
        V_DISPATCH(&out) = nullptr;
      }
      break;
    }
    case TYPE_VARIANT:
      if (a.value.ptr) out = *static_cast<const VARIANT*>(a.value.ptr);
      break;
    default: V_VT(&out) = VT_EMPTY; break;
  }
}

void by_reference(const ArgValue& a, Marshalled& slot, VARIANT& out) {
  void* p = a.value.ptr;
  uint32_t base = a.tag & ~BYREF;
  if (!p) return;  // stays VT_EMPTY
  switch (base) {
    case TYPE_BYTE: V_VT(&out) = VT_UI1 | VT_BYREF; V_UI1REF(&out) = static_cast<BYTE*>(p); break;
    case TYPE_SHORT: V_VT(&out) = VT_I2 | VT_BYREF; V_I2REF(&out) = static_cast<SHORT*>(p); break;
    case TYPE_INT: V_VT(&out) = VT_I4 | VT_BYREF; V_I4REF(&out) = static_cast<LONG*>(p); break;
    case TYPE_LONG: V_VT(&out) = VT_I8 | VT_BYREF; V_I8REF(&out) = static_cast<LONGLONG*>(p); break;
    case TYPE_FLOAT: V_VT(&out) = VT_R4 | VT_BYREF; V_R4REF(&out) = static_cast<FLOAT*>(p); break;
    case TYPE_DOUBLE: V_VT(&out) = VT_R8 | VT_BYREF; V_R8REF(&out) = static_cast<DOUBLE*>(p); break;
    case TYPE_DATETIME: V_VT(&out) = VT_DATE | VT_BYREF; V_DATEREF(&out) = static_cast<DATE*>(p); break;
    case TYPE_BOOL: {
      // A VARIANT_BOOL is 16 bits and the variable 32: the callee writes a copy, which is
      // carried back whole after the call (a false written into the low half of a -1 would
      // still read as true).
      auto* variable = static_cast<int32_t*>(p);
      if (*variable) *variable = -1;
      slot.flag = *variable ? VARIANT_TRUE : VARIANT_FALSE;
      V_VT(&out) = VT_BOOL | VT_BYREF;
      V_BOOLREF(&out) = &slot.flag;
      break;
    }
    case TYPE_TEXT:
      slot.bstr = text_to_bstr(static_cast<Text*>(p)->get());
      V_VT(&out) = VT_BSTR | VT_BYREF;
      V_BSTRREF(&out) = slot.bstr.slot();
      break;
    case TYPE_BYTES: by_value(read_variable(a), slot, out); break;
    case TYPE_SUBPTR:
      V_VT(&out) = VT_SUBROUTINE | VT_BYREF;
      V_BYREF(&out) = p;
      break;
    case TYPE_OBJECT: {
      // The callee may release what it finds and store another object; it works on a slot of
      // its own, and whatever it leaves there becomes the holder's object afterwards.
      auto* holder = static_cast<ObjectHolder*>(p);
      if (!holder->object || SUCCEEDED(holder->object.query(&slot.dispatch))) {
        V_VT(&out) = VT_DISPATCH | VT_BYREF;
        V_DISPATCHREF(&out) = slot.dispatch.slot();
      } else {
        slot.unknown = holder->object;
        V_VT(&out) = VT_UNKNOWN | VT_BYREF;
        V_UNKNOWNREF(&out) = slot.unknown.slot();
      }
      break;
    }
    case TYPE_VARIANT:
      V_VT(&out) = VT_VARIANT | VT_BYREF;
      V_VARIANTREF(&out) = static_cast<VARIANT*>(p);
      break;
    default: break;
  }
}

void write_back(const ArgValue& a, Marshalled& slot, const VARIANT& passed) {
  if (!(V_VT(&passed) & VT_BYREF)) return;
  uint32_t base = a.tag & ~BYREF;
  switch (base) {
    case TYPE_BOOL: *static_cast<int32_t*>(a.value.ptr) = slot.flag ? -1 : 0; break;
    case TYPE_TEXT:
      if (BSTR s = slot.bstr.get()) {
        static_cast<Text*>(a.value.ptr)->operator=(bstr_to_text(s, SysStringLen(s)));
      }
      break;
    case TYPE_OBJECT: {
      auto* holder = static_cast<ObjectHolder*>(a.value.ptr);
      IUnknown* now = V_VT(&passed) == (VT_DISPATCH | VT_BYREF)
                          ? static_cast<IUnknown*>(slot.dispatch.get())
                          : slot.unknown.get();
      if (now != holder->object.get()) holder->object = ComPtr<IUnknown>(now);
      break;
    }
    default: break;
  }
}

// The common member call; returns false when the call did not reach Invoke.
bool invoke(ObjectHolder& holder, const char* name, Call call, Args args, VARIANT* result) {
  if (!holder.object) {
    holder.last_result = E_POINTER;
    return false;
  }
  ComPtr<IDispatch> dispatch;
  holder.last_result = holder.object.query(&dispatch);
  if (FAILED(holder.last_result)) return false;

  std::wstring wide = text_to_wide(name);
  LPOLESTR names[1] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  holder.last_result = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(holder.last_result)) return false;

  // An omitted final argument is left off, so the member sees its own default.
  if (!args.empty() && args.back().tag == TYPE_NONE) args = args.first(args.size() - 1);
  const size_t n = args.size();

  WORD flags = DISPATCH_METHOD;
  if (call == Call::PropertyGet) flags = DISPATCH_PROPERTYGET;
  if (call == Call::PropertyPut) {
    flags = n > 0 && (args.back().tag & ~BYREF) == TYPE_OBJECT ? DISPATCH_PROPERTYPUTREF
                                                                : DISPATCH_PROPERTYPUT;
  }

  std::vector<bool> refs = reference_parameters(dispatch.get(), id, call, n);
  std::vector<Marshalled> slots(n);
  std::vector<VARIANT> variants(n);
  for (VARIANT& v : variants) VariantInit(&v);
  for (size_t i = 0; i < n; ++i) {
    const ArgValue& a = args[i];
    VARIANT& out = variants[n - 1 - i];  // Invoke takes the arguments last first
    uint32_t base = a.tag & ~BYREF;
    bool always_variable = base == TYPE_OBJECT || base == TYPE_VARIANT;
    if (refs[i] && ((a.tag & BYREF) || always_variable)) {
      by_reference(a, slots[i], out);
    } else if ((a.tag & BYREF) && always_variable) {
      ArgValue plain = a;
      plain.tag = base;
      by_value(plain, slots[i], out);
    } else if (a.tag & BYREF) {
      by_value(read_variable(a), slots[i], out);
    } else {
      by_value(a, slots[i], out);
    }
  }

  DISPID put_name = DISPID_PROPERTYPUT;
  DISPPARAMS params{};
  params.rgvarg = n ? variants.data() : nullptr;
  params.cArgs = static_cast<UINT>(n);
  if (call == Call::PropertyPut) {
    params.rgdispidNamedArgs = &put_name;
    params.cNamedArgs = 1;
  }
  UINT arg_error = static_cast<UINT>(-1);
  holder.last_result =
      dispatch->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, &arg_error);

  for (size_t i = 0; i < n; ++i) write_back(args[i], slots[i], variants[n - 1 - i]);
  return true;
}

size_t element_count(const SAFEARRAY* a) {
  if (!a || a->cDims == 0) return 0;
  size_t count = 1;
  for (USHORT d = 0; d < a->cDims; ++d) {
    size_t n = a->rgsabound[d].cElements;
    if (n != 0 && count > SIZE_MAX / n) return 0;
    count *= n;
  }
  return count;
}

Bytes bytes_of(SAFEARRAY* a) {
  size_t n = element_count(a);
  if (n == 0 || a->cbElements != 1 || n > static_cast<size_t>(INT32_MAX) - 16) return {};
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(a, &data))) return {};
  SafeArrayLock lock(a);
  return Bytes(data, n);
}

bool is_byte_array(VARTYPE vt) { return vt == (VT_ARRAY | VT_UI1) || vt == (VT_ARRAY | VT_I1); }

// One element of an array VARIANT, as an owned VARIANT of the element type.
bool array_element(const VARIANT& array, std::optional<int32_t> index, Variant* out) {
  SAFEARRAY* a = V_ARRAY(&array);
  size_t count = element_count(a);
  size_t i = index && *index >= 1 ? static_cast<size_t>(*index) : 1;
  if (count == 0 || i > count) return false;
  VARTYPE element_type = V_VT(&array) & ~VT_ARRAY;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(a, &data))) return false;
  SafeArrayLock lock(a);
  const unsigned char* element = static_cast<const unsigned char*>(data) + (i - 1) * a->cbElements;
  if (element_type == VT_VARIANT) {
    return SUCCEEDED(VariantCopy(out->put(), reinterpret_cast<VARIANT*>(const_cast<unsigned char*>(element))));
  }
  // A borrowed view of the element; VariantCopy makes the owned copy (strings duplicated,
  // interfaces referenced).
  VARIANT view;
  VariantInit(&view);
  if (element_type == VT_DECIMAL && a->cbElements == sizeof(DECIMAL)) {
    std::memcpy(&V_DECIMAL(&view), element, sizeof(DECIMAL));
  } else if (a->cbElements <= sizeof(V_UI8(&view)) && element_type != VT_RECORD) {
    std::memcpy(&V_UI8(&view), element, a->cbElements);
  } else {
    return false;
  }
  V_VT(&view) = element_type;
  return SUCCEEDED(VariantCopy(out->put(), &view));
}

}  // namespace

Bstr text_to_bstr(const char* text) {
  std::wstring w = text_to_wide(text);
  if (w.empty()) return {};
  return Bstr(SysAllocStringLen(w.data(), static_cast<UINT>(w.size())));
}

Text bstr_to_text(const wchar_t* s, size_t length) { return wide_to_text(s, length); }

bool create_object(ObjectHolder& holder, const char* name, const char* type_library) {
  holder.object.reset();
  std::wstring wide = text_to_wide(name);
  if (wide.empty()) {
    holder.last_result = 0;
    return false;
  }

  ComPtr<IUnknown> object;
  std::wstring library_file = text_to_wide(type_library);
  if (!library_file.empty()) {
    ComPtr<ITypeLib> library;
    if (SUCCEEDED(LoadTypeLib(library_file.c_str(), library.put()))) {
      ULONG hash = LHashValOfNameSys(SYS_WIN32, GetUserDefaultLCID(), wide.c_str());
      ITypeInfo* found_info = nullptr;
      MEMBERID member = 0;
      USHORT found = 1;
      std::wstring search = wide;  // FindName may rewrite the name's letter case
      if (SUCCEEDED(library->FindName(search.data(), hash, &found_info, &member, &found))) {
        ComPtr<ITypeInfo> info = ComPtr<ITypeInfo>::attach(found == 1 ? found_info : nullptr);
        if (info && SUCCEEDED(info->CreateInstance(nullptr, IID_IUnknown, object.put_void())) &&
            object && type_library && std::strchr(type_library, '\\')) {
          RegisterTypeLib(library.get(), library_file.data(), nullptr);
        }
      }
    }
  }

  if (!object) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(wide.c_str(), &clsid);
    if (FAILED(hr)) hr = CLSIDFromString(wide.data(), &clsid);
    if (FAILED(hr)) {
      holder.last_result = hr;
      return false;
    }
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL_SERVERS, IID_IUnknown, object.put_void());
    if (hr == E_INVALIDARG) {
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_NO_REMOTE, IID_IUnknown, object.put_void());
    }
    if (FAILED(hr) || !object) {
      holder.last_result = FAILED(hr) ? hr : E_NOINTERFACE;
      return false;
    }
  }

  HRESULT hr = OleRun(object.get());
  holder.last_result = hr;
  if (FAILED(hr)) return false;
  holder.object = std::move(object);
  return true;
}

void release_object(ObjectHolder& holder) {
  holder.object.reset();
  holder.last_result = 0;
}

Variant get_property(ObjectHolder& holder, const char* name, Args index) {
  Variant result;
  if (!invoke(holder, name, Call::PropertyGet, index, result.get())) result.clear();
  return result;
}

bool set_property(ObjectHolder& holder, const char* name, Args index_then_value) {
  return invoke(holder, name, Call::PropertyPut, index_then_value, nullptr) &&
         holder.last_result == S_OK;
}

Variant call_method_value(ObjectHolder& holder, const char* name, Args args) {
  Variant result;
  if (!invoke(holder, name, Call::Method, args, result.get())) result.clear();
  return result;
}

void call_method(ObjectHolder& holder, const char* name, Args args) {
  call_method_value(holder, name, args);
}

Text call_method_text(ObjectHolder& holder, const char* name, Args args) {
  Variant result = call_method_value(holder, name, args);
  if (result.type() != VT_BSTR) return {};
  BSTR s = V_BSTR(result.get());
  return bstr_to_text(s, s ? SysStringLen(s) : 0);
}

Bytes variant_to_bytes(const VARIANT* v, std::optional<int32_t> element_index) {
  if (!v) return {};
  if (is_byte_array(V_VT(v))) return bytes_of(V_ARRAY(v));

  Variant copy;
  if (FAILED(VariantCopyInd(copy.get(), const_cast<VARIANT*>(v)))) return {};
  if (is_byte_array(copy.type())) return bytes_of(V_ARRAY(copy.get()));
  if (copy.type() & VT_ARRAY) {
    Variant element;
    if (!array_element(*copy.get(), element_index, &element)) return {};
    copy = std::move(element);
  }
  Variant converted;
  if (FAILED(VariantChangeType(converted.get(), copy.get(), 0, VT_ARRAY | VT_UI1))) return {};
  if (!is_byte_array(converted.type())) return {};
  return bytes_of(V_ARRAY(converted.get()));
}

void clear_variant(VARIANT* v) {
  if (!v) return;
  VariantClear(v);
  VariantInit(v);
}

}  // namespace tambrel
