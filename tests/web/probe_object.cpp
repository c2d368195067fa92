// The probe's members and their type descriptions. Descriptions are built once per type-info
// object and handed out by address; the "release" calls only count.
#include "tests/web/probe_object.h"

#include <cwchar>
#include <string>

namespace tambrel::test {
namespace {

struct Name {
  const wchar_t* name;
  DISPID id;
};
constexpr Name NAMES[] = {
    {L"Echo", PROBE_ECHO},   {L"Answer", PROBE_ANSWER},   {L"Swap", PROBE_SWAP},
    {L"Record", PROBE_RECORD}, {L"Item", PROBE_ITEM},     {L"Value", PROBE_VALUE},
    {L"Child", PROBE_CHILD}, {L"Replace", PROBE_REPLACE}, {L"Blob", PROBE_BLOB},
    {L"Parts", PROBE_PARTS},
};

SAFEARRAY* bytes_array(const std::vector<unsigned char>& bytes) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), 0};
  SAFEARRAY* a = SafeArrayCreate(VT_UI1, 1, &bound);
  void* data = nullptr;
  if (a && !bytes.empty() && SUCCEEDED(SafeArrayAccessData(a, &data))) {
    memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(a);
  }
  return a;
}

}  // namespace

Probe::Probe(bool with_type_info) {
  if (with_type_info) info_ = new ProbeTypeInfo();
}

Probe::~Probe() {
  if (info_) info_->Release();
}

HRESULT Probe::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG Probe::Release() {
  ULONG n = --refs_;
  if (n == 0) delete this;
  return n;
}

HRESULT Probe::GetTypeInfoCount(UINT* count) {
  *count = info_ ? 1 : 0;
  return S_OK;
}

HRESULT Probe::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
  *out = nullptr;
  if (!info_ || index != 0) return DISP_E_BADINDEX;
  info_->AddRef();
  *out = info_;
  return S_OK;
}

HRESULT Probe::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (count != 1) return E_INVALIDARG;
  for (const Name& n : NAMES) {
    if (_wcsicmp(n.name, names[0]) == 0) {
      ids[0] = n.id;
      return S_OK;
    }
  }
  ids[0] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT Probe::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT*) {
  ProbeCall call;
  call.id = id;
  call.flags = flags;
  call.named_count = params->cNamedArgs;
  call.first_named = params->cNamedArgs ? params->rgdispidNamedArgs[0] : 0;
  const UINT n = params->cArgs;
  auto arg = [&](UINT i) -> VARIANT& { return params->rgvarg[n - 1 - i]; };
  for (UINT i = 0; i < n; ++i) {
    call.types.push_back(V_VT(&arg(i)));
    call.null_strings.push_back(V_VT(&arg(i)) == VT_BSTR && !V_BSTR(&arg(i)));
    Variant copy;
    VariantCopy(copy.get(), &arg(i));
    call.values.push_back(std::move(copy));
  }
  calls_.push_back(std::move(call));

  switch (id) {
    case PROBE_ECHO: {
      std::wstring s = L"echo:";
      if (n > 0 && V_VT(&arg(0)) == VT_BSTR && V_BSTR(&arg(0))) s += V_BSTR(&arg(0));
      if (result) {
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = SysAllocString(s.c_str());
      }
      return S_OK;
    }
    case PROBE_ANSWER:
      if (result) {
        V_VT(result) = VT_I4;
        V_I4(result) = 42;
      }
      return S_OK;
    case PROBE_SWAP:
      for (UINT i = 0; i < n; ++i) {
        VARIANT& v = arg(i);
        switch (V_VT(&v)) {
          case VT_BSTR | VT_BYREF: {
            std::wstring s = L"changed:";
            if (*V_BSTRREF(&v)) s += *V_BSTRREF(&v);
            SysFreeString(*V_BSTRREF(&v));
            *V_BSTRREF(&v) = SysAllocString(s.c_str());
            break;
          }
          case VT_I4 | VT_BYREF: ++*V_I4REF(&v); break;
          case VT_BOOL | VT_BYREF:
            *V_BOOLREF(&v) = *V_BOOLREF(&v) ? VARIANT_FALSE : VARIANT_TRUE;
            break;
          case VT_VARIANT | VT_BYREF:
            VariantClear(V_VARIANTREF(&v));
            V_VT(V_VARIANTREF(&v)) = VT_I4;
            V_I4(V_VARIANTREF(&v)) = 7;
            break;
          default: break;
        }
      }
      return S_OK;
    case PROBE_RECORD: return S_OK;
    case PROBE_ITEM:
      if ((flags & DISPATCH_PROPERTYGET) && result) {
        V_VT(result) = VT_I4;
        V_I4(result) = 5;
      }
      return S_OK;
    case PROBE_VALUE:
      if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (n < 1 || V_VT(&arg(n - 1)) != VT_I4) return DISP_E_TYPEMISMATCH;
        value = V_I4(&arg(n - 1));
        return S_OK;
      }
      if (result) {
        V_VT(result) = VT_I4;
        V_I4(result) = value;
      }
      return S_OK;
    case PROBE_CHILD:
      if (n >= 1 && (V_VT(&arg(n - 1)) == VT_DISPATCH || V_VT(&arg(n - 1)) == VT_UNKNOWN)) {
        child = ComPtr<IUnknown>(V_UNKNOWN(&arg(n - 1)));
      }
      return S_OK;
    case PROBE_REPLACE:
      if (n >= 1 && V_VT(&arg(0)) == (VT_DISPATCH | VT_BYREF)) {
        IDispatch** slot = V_DISPATCHREF(&arg(0));
        if (*slot) (*slot)->Release();
        *slot = replacement_.get();
        if (*slot) (*slot)->AddRef();
      }
      return S_OK;
    case PROBE_BLOB: {
      if (n < 1 || V_VT(&arg(0)) != (VT_ARRAY | VT_UI1)) return DISP_E_TYPEMISMATCH;
      SAFEARRAY* a = V_ARRAY(&arg(0));
      blob_seen.assign(a->rgsabound[0].cElements, 0);
      unsigned char* data = nullptr;
      if (SUCCEEDED(SafeArrayAccessData(a, reinterpret_cast<void**>(&data)))) {
        std::copy(data, data + blob_seen.size(), blob_seen.begin());
        // An ill-behaved callee writing into what it was lent must not reach the caller.
        if (!blob_seen.empty()) data[0] = 0xEE;
        SafeArrayUnaccessData(a);
      }
      if (result) {
        V_VT(result) = VT_ARRAY | VT_UI1;
        V_ARRAY(result) = bytes_array(std::vector<unsigned char>(blob_seen.rbegin(), blob_seen.rend()));
      }
      return S_OK;
    }
    case PROBE_PARTS: {
      if (!result) return S_OK;
      SAFEARRAYBOUND bound{2, 0};
      SAFEARRAY* a = SafeArrayCreate(VT_VARIANT, 1, &bound);
      VARIANT* items = nullptr;
      SafeArrayAccessData(a, reinterpret_cast<void**>(&items));
      V_VT(&items[0]) = VT_ARRAY | VT_UI1;
      V_ARRAY(&items[0]) = bytes_array({'o', 'n', 'e'});
      V_VT(&items[1]) = VT_ARRAY | VT_UI1;
      V_ARRAY(&items[1]) = bytes_array({'t', 'w', 'o', '!'});
      SafeArrayUnaccessData(a);
      V_VT(result) = VT_ARRAY | VT_VARIANT;
      V_ARRAY(result) = a;
      return S_OK;
    }
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

// ---- type information ---------------------------------------------------------------------

ProbeTypeInfo::ProbeTypeInfo() {
  bstr_.vt = VT_BSTR;
  long_.vt = VT_I4;
  bool_.vt = VT_BOOL;
  variant_.vt = VT_VARIANT;
  dispatch_.vt = VT_DISPATCH;
  auto value = [](VARTYPE vt) {
    ELEMDESC e{};
    e.tdesc.vt = vt;
    return e;
  };
  auto pointer = [](TYPEDESC* to) {
    ELEMDESC e{};
    e.tdesc.vt = VT_PTR;
    e.tdesc.lptdesc = to;
    return e;
  };
  params_ = {
      {value(VT_BSTR)},                                                        // Echo
      {},                                                                      // Answer
      {pointer(&bstr_), pointer(&long_), pointer(&bool_), pointer(&variant_)},  // Swap
      std::vector<ELEMDESC>(8, value(VT_VARIANT)),                             // Record
      {pointer(&dispatch_)},                                                   // Replace
      {value(VT_ARRAY | VT_UI1)},                                              // Blob
      {},                                                                      // Parts
  };
  const DISPID ids[] = {PROBE_ECHO, PROBE_ANSWER, PROBE_SWAP, PROBE_RECORD,
                        PROBE_REPLACE, PROBE_BLOB, PROBE_PARTS};
  for (size_t i = 0; i < params_.size(); ++i) {
    FUNCDESC f{};
    f.memid = ids[i];
    f.funckind = FUNC_DISPATCH;
    f.invkind = INVOKE_FUNC;
    f.callconv = CC_STDCALL;
    f.cParams = static_cast<SHORT>(params_[i].size());
    f.lprgelemdescParam = params_[i].empty() ? nullptr : params_[i].data();
    f.elemdescFunc = value(VT_VARIANT);
    funcs_.push_back(f);
  }
  // Properties as variables: Item's type is a pointer (so its first argument is a reference),
  // the others plain values.
  const struct {
    DISPID id;
    ELEMDESC type;
  } vars[] = {{PROBE_ITEM, pointer(&long_)}, {PROBE_VALUE, value(VT_I4)},
              {PROBE_CHILD, value(VT_DISPATCH)}};
  for (const auto& v : vars) {
    VARDESC d{};
    d.memid = v.id;
    d.varkind = VAR_DISPATCH;
    d.elemdescVar = v.type;
    vars_.push_back(d);
  }
  attr_.typekind = TKIND_DISPATCH;
  attr_.cFuncs = static_cast<WORD>(funcs_.size());
  attr_.cVars = static_cast<WORD>(vars_.size());
}

HRESULT ProbeTypeInfo::QueryInterface(REFIID riid, void** out) {
  if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
    *out = static_cast<ITypeInfo*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG ProbeTypeInfo::Release() {
  ULONG n = --refs_;
  if (n == 0) delete this;
  return n;
}

HRESULT ProbeTypeInfo::GetTypeAttr(TYPEATTR** out) {
  ++outstanding_;
  *out = &attr_;
  return S_OK;
}

HRESULT ProbeTypeInfo::GetFuncDesc(UINT index, FUNCDESC** out) {
  if (index >= funcs_.size()) return TYPE_E_ELEMENTNOTFOUND;
  ++outstanding_;
  *out = &funcs_[index];
  return S_OK;
}

HRESULT ProbeTypeInfo::GetVarDesc(UINT index, VARDESC** out) {
  if (index >= vars_.size()) return TYPE_E_ELEMENTNOTFOUND;
  ++outstanding_;
  *out = &vars_[index];
  return S_OK;
}

}  // namespace tambrel::test
