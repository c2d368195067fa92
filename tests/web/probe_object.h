// An in-process automation object for the tests: it records every Invoke (flags, argument
// types and values, named arguments), answers a few members in known ways, and describes its
// members through a hand-made ITypeInfo so that the by-reference rules can be seen. It counts
// its own references and the type descriptions handed out, so a test can check that a call
// leaves nothing behind.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "runtime/automation/com_owner.h"

namespace tambrel::test {

enum ProbeMember : DISPID {
  PROBE_ECHO = 1,     // method (BSTR) -> "echo:" + argument
  PROBE_ANSWER = 2,   // method () -> VT_I4 42
  PROBE_SWAP = 3,     // method ([in,out] BSTR*, long*, VARIANT_BOOL*, VARIANT*)
  PROBE_RECORD = 4,   // method (8 VARIANT parameters, all by value)
  PROBE_ITEM = 5,     // property whose variable type is a pointer: first argument by reference
  PROBE_VALUE = 6,    // property of type long
  PROBE_CHILD = 7,    // property holding an object
  PROBE_REPLACE = 8,  // method ([in,out] IDispatch*): stores the replacement object
  PROBE_BLOB = 9,     // method (SAFEARRAY(UI1)) -> the bytes reversed
  PROBE_PARTS = 10,   // method () -> array of two VARIANTs holding byte arrays
};

struct ProbeCall {
  DISPID id = 0;
  WORD flags = 0;
  UINT named_count = 0;
  DISPID first_named = 0;
  std::vector<VARTYPE> types;     // declaration order
  std::vector<Variant> values;    // copies, declaration order
  std::vector<bool> null_strings; // per argument: a VT_BSTR whose pointer was null
};

class ProbeTypeInfo;

class Probe : public IDispatch {
 public:
  explicit Probe(bool with_type_info = true);
  virtual ~Probe();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override;
  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT* arg_error) override;

  ULONG refs() const { return refs_; }
  const std::vector<ProbeCall>& calls() const { return calls_; }
  const ProbeCall& last() const { return calls_.back(); }
  // The recorded copies hold references to object arguments; this drops them.
  void forget_calls() { calls_.clear(); }
  ProbeTypeInfo* type_info() const { return info_; }
  // What PROBE_REPLACE puts into the caller's object variable.
  void set_replacement(IDispatch* d) { replacement_ = ComPtr<IDispatch>(d); }
  std::vector<unsigned char> blob_seen;
  LONG value = 0;
  ComPtr<IUnknown> child;

 private:
  ULONG refs_ = 1;
  ProbeTypeInfo* info_ = nullptr;
  std::vector<ProbeCall> calls_;
  ComPtr<IDispatch> replacement_;
};

class ProbeTypeInfo : public ITypeInfo {
 public:
  ProbeTypeInfo();
  virtual ~ProbeTypeInfo() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** out) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** out) override;
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** out) override;
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID, BSTR*, UINT, UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT, HREFTYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT, INT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR*, UINT, MEMBERID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID, BSTR*, BSTR*, DWORD*, BSTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, PVOID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib**, UINT*) override { return E_NOTIMPL; }
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR*) override { --outstanding_; }
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC*) override { --outstanding_; }
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) override { --outstanding_; }

  ULONG refs() const { return refs_; }
  // Type attributes and descriptions handed out and not yet released.
  int outstanding() const { return outstanding_; }

 private:
  ULONG refs_ = 1;
  int outstanding_ = 0;
  TYPEATTR attr_{};
  TYPEDESC bstr_{}, long_{}, bool_{}, variant_{}, dispatch_{};
  std::vector<std::vector<ELEMDESC>> params_;
  std::vector<FUNCDESC> funcs_;
  std::vector<VARDESC> vars_;
};

}  // namespace tambrel::test
