// Late-bound automation against real objects: the system's WinHTTP request object and
// dictionary under COM, and the suite's probe object whose type information decides which
// arguments travel by reference.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/automation/automation.h"
#include "tests/web/probe_object.h"

using namespace tambrel;
using tambrel::test::Probe;

namespace {

constexpr char WINHTTP_PROGID[] = "WinHTTP.WinHTTPRequest.5.1";
constexpr char WINHTTP_CLSID[] = "{2087C2F4-2CEF-4953-A8AB-66779B670495}";
constexpr char DICTIONARY_PROGID[] = "Scripting.Dictionary";

class ComThread : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
};

// A probe held by the test (one reference) and by a holder (another).
struct ProbeFixture : ComThread {
  void SetUp() override {
    ComThread::SetUp();
    probe = new Probe();
    holder.object = ComPtr<IUnknown>(static_cast<IDispatch*>(probe));
  }
  void TearDown() override {
    release_object(holder);
    EXPECT_EQ(probe->refs(), 1u) << "a call kept a reference to the object";
    EXPECT_EQ(probe->type_info()->outstanding(), 0) << "a type description was not released";
    EXPECT_EQ(probe->type_info()->refs(), 1u) << "the type information was not released";
    probe->Release();
    ComThread::TearDown();
  }
  Probe* probe = nullptr;
  ObjectHolder holder;
};

std::wstring wide(const VARIANT* v) {
  return V_VT(v) == VT_BSTR && V_BSTR(v) ? std::wstring(V_BSTR(v)) : std::wstring();
}

// ---- creation --------------------------------------------------------------------------

using CreateObject = ComThread;

TEST_F(CreateObject, ByProgIdAndByClsidInBraces) {
  struct Case {
    const char* name;
    bool created;
  };
  const Case cases[] = {
      {WINHTTP_PROGID, true},
      {"winhttp.winhttprequest.5.1", true},  // ProgIDs are looked up without regard to case
      {WINHTTP_CLSID, true},
      {"Tambrel.NoSuchObject.1", false},
      {"{00000000-0000-0000-0000-0000000000AB}", false},  // well-formed but not registered
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ObjectHolder h;
    EXPECT_EQ(create_object(h, c.name), c.created);
    EXPECT_EQ(static_cast<bool>(h.object), c.created);
    if (c.created) {
      EXPECT_EQ(h.last_result, S_OK);
    } else {
      EXPECT_TRUE(FAILED(h.last_result)) << std::hex << h.last_result;
    }
  }
}

TEST_F(CreateObject, EmptyNameFailsWithResultZero) {
  ObjectHolder h;
  h.last_result = E_FAIL;
  EXPECT_FALSE(create_object(h, ""));
  EXPECT_EQ(h.last_result, 0);
  EXPECT_FALSE(create_object(h, nullptr));
}

TEST_F(CreateObject, ReleasesWhatTheHolderHeldFirst) {
  Probe* probe = new Probe();
  ObjectHolder h;
  h.object = ComPtr<IUnknown>(static_cast<IDispatch*>(probe));
  ASSERT_EQ(probe->refs(), 2u);
  // Even a failing creation leaves the holder empty: the old object is gone either way.
  EXPECT_FALSE(create_object(h, "Tambrel.NoSuchObject.1"));
  EXPECT_EQ(probe->refs(), 1u);
  EXPECT_FALSE(h.object);
  probe->Release();
}

TEST_F(CreateObject, FromATypeLibraryByTypeName) {
  // The WinHTTP library carries its type library; its creatable type is found by name there.
  ObjectHolder h;
  ASSERT_TRUE(create_object(h, "WinHttpRequest", "winhttp.dll")) << std::hex << h.last_result;
  Text text = call_method_text(h, "GetAllResponseHeaders");  // not opened yet: fails cleanly
  EXPECT_TRUE(text.empty());
  EXPECT_TRUE(FAILED(h.last_result));
}

TEST_F(CreateObject, ReleaseEmptiesTheHolder) {
  ObjectHolder h;
  ASSERT_TRUE(create_object(h, WINHTTP_PROGID));
  release_object(h);
  EXPECT_FALSE(h.object);
  EXPECT_EQ(h.last_result, 0);
  release_object(h);  // twice is harmless
}

// ---- calls on an empty holder ----------------------------------------------------------

TEST_F(ComThread, CallsOnAnEmptyHolderLeaveEPointer) {
  ObjectHolder h;
  EXPECT_EQ(get_property(h, "Status").type(), VT_EMPTY);
  EXPECT_EQ(h.last_result, E_POINTER);
  h.last_result = S_OK;
  EXPECT_FALSE(set_property(h, "Option", {arg::integer(6), arg::integer(0)}));
  EXPECT_EQ(h.last_result, E_POINTER);
  h.last_result = S_OK;
  call_method(h, "Abort");
  EXPECT_EQ(h.last_result, E_POINTER);
  h.last_result = S_OK;
  EXPECT_TRUE(call_method_text(h, "GetAllResponseHeaders").empty());
  EXPECT_EQ(h.last_result, E_POINTER);
}

// ---- a real object: the dictionary ------------------------------------------------------

TEST_F(ComThread, DictionaryAddItemCountAndUnknownMember) {
  ObjectHolder d;
  ASSERT_TRUE(create_object(d, DICTIONARY_PROGID)) << std::hex << d.last_result;
  call_method(d, "Add", {arg::text("钥匙"), arg::text("值一")});
  ASSERT_EQ(d.last_result, S_OK);
  call_method(d, "Add", {arg::text("k2"), arg::integer(7)});

  Variant count = get_property(d, "Count");
  ASSERT_EQ(count.type(), VT_I4);
  EXPECT_EQ(V_I4(count.get()), 2);

  Variant item = get_property(d, "Item", {arg::text("钥匙")});
  EXPECT_EQ(wide(item.get()), L"值一");  // GBK in, UTF-16 inside, same characters

  EXPECT_TRUE(set_property(d, "Item", {arg::text("k2"), arg::text("replaced")}));
  EXPECT_EQ(wide(get_property(d, "Item", {arg::text("k2")}).get()), L"replaced");

  // A missing member fails that call only; the holder stays usable.
  call_method(d, "NoSuchMember", {arg::integer(1)});
  EXPECT_EQ(d.last_result, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(V_I4(get_property(d, "Count").get()), 2);
  EXPECT_EQ(d.last_result, S_OK);
}

// ---- the probe: conversions, puts, omissions, references -------------------------------

using Automation = ProbeFixture;

TEST_F(Automation, ArgumentsByValueFollowTheConversionTable) {
  Bytes block("\x01\x02\x00\x03", 4);
  Variant v;
  V_VT(v.get()) = VT_I2;
  V_I2(v.get()) = -9;
  ObjectHolder other;
  Probe* other_probe = new Probe();
  other.object = ComPtr<IUnknown>(static_cast<IDispatch*>(other_probe));
  ArgValue subroutine = make_arg(TYPE_SUBPTR);
  subroutine.value.ptr = reinterpret_cast<void*>(&wide);
  ArgValue byte = make_arg(TYPE_BYTE);
  byte.value.raw = 0x1FF;  // only the low byte counts
  ArgValue shrt = make_arg(TYPE_SHORT);
  shrt.value.i32 = -2;
  ArgValue real = make_arg(TYPE_FLOAT);
  real.value.f32 = 1.5f;
  ArgValue date = make_arg(TYPE_DATETIME);
  date.value.f64 = 25569.5;
  ArgValue truth = make_arg(TYPE_BOOL);
  truth.value.i32 = 5;

  struct Case {
    ArgValue arg;
    VARTYPE vt;
    std::function<void(const VARIANT*)> check;
  };
  const Case cases[] = {
      {byte, VT_UI1, [](const VARIANT* x) { EXPECT_EQ(V_UI1(x), 0xFF); }},
      {shrt, VT_I2, [](const VARIANT* x) { EXPECT_EQ(V_I2(x), -2); }},
      {arg::integer(-7), VT_I4, [](const VARIANT* x) { EXPECT_EQ(V_I4(x), -7); }},
      {arg::int64(1LL << 40), VT_I8, [](const VARIANT* x) { EXPECT_EQ(V_I8(x), 1LL << 40); }},
      {real, VT_R4, [](const VARIANT* x) { EXPECT_EQ(V_R4(x), 1.5f); }},
      {arg::real(2.25), VT_R8, [](const VARIANT* x) { EXPECT_EQ(V_R8(x), 2.25); }},
      {truth, VT_BOOL, [](const VARIANT* x) { EXPECT_EQ(V_BOOL(x), VARIANT_TRUE); }},
      {arg::boolean(false), VT_BOOL, [](const VARIANT* x) { EXPECT_EQ(V_BOOL(x), VARIANT_FALSE); }},
      {date, VT_DATE, [](const VARIANT* x) { EXPECT_EQ(V_DATE(x), 25569.5); }},
      {arg::text("中文abc"), VT_BSTR, [](const VARIANT* x) { EXPECT_EQ(wide(x), L"中文abc"); }},
      {arg::text(nullptr), VT_BSTR, [&](const VARIANT*) { EXPECT_TRUE(probe->last().null_strings[0]); }},
      {arg::text(""), VT_BSTR, [&](const VARIANT*) { EXPECT_TRUE(probe->last().null_strings[0]); }},
      {arg::bytes(block), VT_ARRAY | VT_UI1,
       [](const VARIANT* x) {
         EXPECT_EQ(V_ARRAY(x)->rgsabound[0].lLbound, 0);
         EXPECT_EQ(V_ARRAY(x)->rgsabound[0].cElements, 4u);
         EXPECT_EQ(memcmp(V_ARRAY(x)->pvData, "\x01\x02\x00\x03", 4), 0);
       }},
      {subroutine, sizeof(void*) == 8 ? VT_UI8 : VT_UI4,
       [](const VARIANT* x) { EXPECT_EQ(V_UI8(x), reinterpret_cast<uintptr_t>(&wide)); }},
      {arg::object(other), VT_DISPATCH,
       [&](const VARIANT* x) { EXPECT_EQ(V_DISPATCH(x), static_cast<IDispatch*>(other_probe)); }},
      {arg::variant(v.get()), VT_I2, [](const VARIANT* x) { EXPECT_EQ(V_I2(x), -9); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "tag 0x" << std::hex << c.arg.tag);
    call_method(holder, "Record", {c.arg});
    ASSERT_EQ(holder.last_result, S_OK);
    ASSERT_EQ(probe->last().types.size(), 1u);
    EXPECT_EQ(probe->last().types[0], c.vt);
    c.check(probe->last().values[0].get());
  }
  EXPECT_EQ(V_I2(v.get()), -9);  // the caller's VARIANT is neither cleared nor changed
  probe->forget_calls();
  release_object(other);
  EXPECT_EQ(other_probe->refs(), 1u);
  other_probe->Release();
}

TEST_F(Automation, ArgumentsGoInReverseOrderAndOneTrailingOmissionIsDropped) {
  struct Case {
    std::vector<ArgValue> args;
    std::vector<VARTYPE> seen;
  };
  const Case cases[] = {
      {{arg::integer(1), arg::text("b"), arg::real(3)}, {VT_I4, VT_BSTR, VT_R8}},
      {{arg::integer(1), arg::none()}, {VT_I4}},
      {{arg::none(), arg::none()}, {VT_EMPTY}},  // only one omission is dropped
      {{arg::integer(1), arg::none(), arg::integer(3)}, {VT_I4, VT_EMPTY, VT_I4}},
      {{arg::none()}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.args.size() << " arguments");
    call_method(holder, "Record", c.args);
    EXPECT_EQ(probe->last().types, c.seen);
  }
  call_method(holder, "Record", {arg::integer(1), arg::integer(2)});
  EXPECT_EQ(V_I4(probe->last().values[0].get()), 1);  // first argument is the last VARIANT
  EXPECT_EQ(V_I4(probe->last().values[1].get()), 2);
}

TEST_F(Automation, PutNamesTheValueAndUsesPutRefForObjects) {
  ObjectHolder other;
  Probe* other_probe = new Probe();
  other.object = ComPtr<IUnknown>(static_cast<IDispatch*>(other_probe));

  EXPECT_TRUE(set_property(holder, "Value", {arg::integer(12)}));
  EXPECT_EQ(probe->last().flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(probe->last().named_count, 1u);
  EXPECT_EQ(probe->last().first_named, DISPID_PROPERTYPUT);
  EXPECT_EQ(probe->value, 12);
  EXPECT_EQ(V_I4(get_property(holder, "Value").get()), 12);
  EXPECT_EQ(probe->last().flags, DISPATCH_PROPERTYGET);
  EXPECT_EQ(probe->last().named_count, 0u);

  for (ArgValue object : {arg::object(other), arg::var(&other)}) {
    EXPECT_TRUE(set_property(holder, "Child", {object}));
    EXPECT_EQ(probe->last().flags, DISPATCH_PROPERTYPUTREF);
    EXPECT_EQ(probe->last().first_named, DISPID_PROPERTYPUT);
    EXPECT_EQ(probe->child.get(), static_cast<IUnknown*>(static_cast<IDispatch*>(other_probe)));
  }
  // A refused put reports 0 and keeps the object's answer.
  EXPECT_FALSE(set_property(holder, "Value", {arg::text("not a number")}));
  EXPECT_EQ(holder.last_result, DISP_E_TYPEMISMATCH);

  probe->child.reset();
  probe->forget_calls();
  release_object(other);
  EXPECT_EQ(other_probe->refs(), 1u);
  other_probe->Release();
}

TEST_F(Automation, VariablesTravelByReferenceWhereTheTypeInformationSaysSo) {
  Text text("旧");
  int32_t number = 41;
  int32_t flag = 0;
  Variant v;
  call_method(holder, "Swap", {arg::var(&text), arg::var(&number), arg::bool_var(&flag),
                               arg::var(v.get())});
  ASSERT_EQ(holder.last_result, S_OK);
  EXPECT_EQ(probe->last().types, (std::vector<VARTYPE>{VT_BSTR | VT_BYREF, VT_I4 | VT_BYREF,
                                                       VT_BOOL | VT_BYREF, VT_VARIANT | VT_BYREF}));
  EXPECT_EQ(text, "changed:旧");  // the returned string, back in GBK
  EXPECT_EQ(number, 42);
  EXPECT_EQ(flag, -1);
  EXPECT_EQ(v.type(), VT_I4);
  EXPECT_EQ(V_I4(v.get()), 7);

  // A true variable that the object sets false reads false: the 16-bit answer is carried back
  // whole, not written into half of the 32-bit variable.
  flag = 1;
  call_method(holder, "Swap", {arg::var(&text), arg::var(&number), arg::bool_var(&flag)});
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(text, "changed:changed:旧");
}

TEST_F(Automation, VariablesOfValueParametersArePassedByValue) {
  // "Record" declares plain VARIANT parameters: the variables' values are read and passed.
  Text text("abc");
  int32_t number = 5;
  call_method(holder, "Record", {arg::var(&text), arg::var(&number)});
  EXPECT_EQ(probe->last().types, (std::vector<VARTYPE>{VT_BSTR, VT_I4}));
  EXPECT_EQ(wide(probe->last().values[0].get()), L"abc");
  EXPECT_EQ(V_I4(probe->last().values[1].get()), 5);
  EXPECT_EQ(text, "abc");
}

TEST_F(Automation, PropertiesMarkOnlyTheirFirstArgumentFromTheVariableType) {
  int32_t index = 3;
  int32_t second = 4;
  get_property(holder, "Item", {arg::var(&index), arg::var(&second)});
  EXPECT_EQ(probe->last().types, (std::vector<VARTYPE>{VT_I4 | VT_BYREF, VT_I4}));
  get_property(holder, "Value", {arg::var(&index)});
  EXPECT_EQ(probe->last().types, (std::vector<VARTYPE>{VT_I4}));
}

TEST_F(Automation, ObjectParametersDeclaredAsReferencesReplaceTheHoldersObject) {
  Probe* first = new Probe();
  Probe* second = new Probe();
  probe->set_replacement(second);
  ObjectHolder variable;
  variable.object = ComPtr<IUnknown>(static_cast<IDispatch*>(first));

  // Without BYREF too: an object parameter declared as a reference gets the holder's slot.
  call_method(holder, "Replace", {arg::object(variable)});
  EXPECT_EQ(probe->last().types, (std::vector<VARTYPE>{VT_DISPATCH | VT_BYREF}));
  EXPECT_EQ(variable.object.get(), static_cast<IUnknown*>(static_cast<IDispatch*>(second)));
  EXPECT_EQ(first->refs(), 1u) << "the replaced object was not released";

  probe->set_replacement(nullptr);
  release_object(variable);
  EXPECT_EQ(second->refs(), 1u);  // only the test's own reference is left
  first->Release();
  second->Release();
}

TEST_F(Automation, WithoutTypeInformationNothingIsAReference) {
  Probe* bare = new Probe(/*with_type_info=*/false);
  ObjectHolder h;
  h.object = ComPtr<IUnknown>(static_cast<IDispatch*>(bare));
  Text text("x");
  int32_t number = 1;
  call_method(h, "Swap", {arg::var(&text), arg::var(&number)});
  EXPECT_EQ(bare->last().types, (std::vector<VARTYPE>{VT_BSTR, VT_I4}));
  EXPECT_EQ(text, "x");
  EXPECT_EQ(number, 1);
  release_object(h);
  EXPECT_EQ(bare->refs(), 1u);
  bare->Release();
}

TEST_F(Automation, MethodTextOnlyForStringResults) {
  EXPECT_EQ(call_method_text(holder, "Echo", {arg::text("中文")}), "echo:中文");
  EXPECT_TRUE(call_method_text(holder, "Answer").empty());  // an integer is not text
  EXPECT_EQ(holder.last_result, S_OK);
  Variant answer = call_method_value(holder, "Answer");
  EXPECT_EQ(V_I4(answer.get()), 42);
}

TEST_F(Automation, ByteBlocksAreLentAsCopies) {
  Bytes block("\x10\x20\x30", 3);
  Variant reversed = call_method_value(holder, "Blob", {arg::bytes(block)});
  EXPECT_EQ(probe->blob_seen, (std::vector<unsigned char>{0x10, 0x20, 0x30}));
  EXPECT_EQ(block, Bytes("\x10\x20\x30", 3)) << "the object's write reached the caller's block";
  EXPECT_EQ(variant_to_bytes(reversed.get()), Bytes("\x30\x20\x10", 3));
}

// ---- variants to byte blocks ------------------------------------------------------------

TEST_F(Automation, VariantToBytes) {
  Variant parts = call_method_value(holder, "Parts");
  ASSERT_EQ(parts.type(), VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(variant_to_bytes(parts.get()), Bytes("one", 3));  // default: the first element
  EXPECT_EQ(variant_to_bytes(parts.get(), 0), Bytes("one", 3));
  EXPECT_EQ(variant_to_bytes(parts.get(), 2), Bytes("two!", 4));
  EXPECT_TRUE(variant_to_bytes(parts.get(), 3).empty());  // beyond the element count

  Variant empty;
  EXPECT_EQ(variant_to_bytes(empty.get()).get(), nullptr);
  EXPECT_EQ(variant_to_bytes(nullptr).get(), nullptr);

  // A reference to a byte array is read through.
  Variant blob = call_method_value(holder, "Blob", {arg::bytes(Bytes("ab", 2))});
  VARIANT ref;
  VariantInit(&ref);
  V_VT(&ref) = VT_ARRAY | VT_UI1 | VT_BYREF;
  V_ARRAYREF(&ref) = &V_ARRAY(blob.get());
  EXPECT_EQ(variant_to_bytes(&ref), Bytes("ba", 2));

  // An empty byte array gives null, not an empty block.
  SAFEARRAYBOUND none{0, 0};
  Variant zero;
  V_VT(zero.get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(zero.get()) = SafeArrayCreate(VT_UI1, 1, &none);
  EXPECT_EQ(variant_to_bytes(zero.get()).get(), nullptr);

  clear_variant(parts.get());
  EXPECT_EQ(parts.type(), VT_EMPTY);
}

}  // namespace
