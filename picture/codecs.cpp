#include "picture/codecs.h"

#include <algorithm>
#include <cstring>

#include "picture/gdiplus_api.h"
#include "picture/native_object.h"
#include "runtime/text.h"

namespace tambrel {
namespace picture_detail {
namespace {

// UTF-16 buffer for one GUID text: 38 characters and the terminator (78 bytes).
constexpr int kGuidTextChars = 39;

// Bytes of one value of a GDI+ EncoderParameterValueType.
size_t value_type_size(ULONG type) {
  switch (type) {
    case Gdiplus::EncoderParameterValueTypeByte:
    case Gdiplus::EncoderParameterValueTypeASCII:
    case Gdiplus::EncoderParameterValueTypeUndefined:
      return 1;
    case Gdiplus::EncoderParameterValueTypeShort:
      return 2;
    case Gdiplus::EncoderParameterValueTypeLong:
      return 4;
    case Gdiplus::EncoderParameterValueTypeRational:
    case Gdiplus::EncoderParameterValueTypeLongRange:
      return 8;
    case Gdiplus::EncoderParameterValueTypeRationalRange:
      return 16;
    default:
      return sizeof(void*);
  }
}

}  // namespace

Text guid_text(const GUID& guid) {
  wchar_t buffer[kGuidTextChars] = {};
  StringFromGUID2(guid, buffer, kGuidTextChars);
  return wide_to_text(buffer);
}

GUID guid_from_text(const char* text) {
  GUID guid{};
  std::wstring wide = text_to_wide(text);
  if (FAILED(CLSIDFromString(wide.c_str(), &guid))) guid = GUID{};
  return guid;
}

NativeEncoderParameters::NativeEncoderParameters(const EncoderParameterSet* set) {
  if (!set) return;
  const size_t count = std::min<size_t>(set->Count > 0 ? size_t(set->Count) : 0, set->Parameters.size());
  const size_t bytes = offsetof(Gdiplus::EncoderParameters, Parameter) + count * sizeof(Gdiplus::EncoderParameter);
  block_.assign((std::max(bytes, sizeof(Gdiplus::EncoderParameters)) + 7) / 8, 0);
  auto* native = reinterpret_cast<Gdiplus::EncoderParameters*>(block_.data());
  native->Count = static_cast<UINT>(count);
  for (size_t i = 0; i < count; ++i) {
    const EncoderParameterRecord& p = set->Parameters[static_cast<int64_t>(i + 1)];
    Gdiplus::EncoderParameter& e = native->Parameter[i];
    e.Guid = guid_from_text(p.Guid.c_str());
    // Never let GDI+ read past the value block the record holds.
    const size_t per_value = value_type_size(static_cast<ULONG>(p.Type));
    const size_t fit = per_value ? p.Value.size() / per_value : 0;
    e.NumberOfValues = static_cast<ULONG>(std::min<size_t>(p.NumberOfValues > 0 ? p.NumberOfValues : 0, fit));
    e.Type = static_cast<ULONG>(p.Type);
    e.Value = p.Value.data();
  }
}

void read_encoder_parameters(const Gdiplus::EncoderParameters& native, EncoderParameterSet& set) {
  set.Count = static_cast<int32_t>(native.Count);
  set.Parameters.redim(native.Count);
  for (UINT i = 0; i < native.Count; ++i) {
    const Gdiplus::EncoderParameter& e = native.Parameter[i];
    EncoderParameterRecord& p = set.Parameters[i + 1];
    p.Guid = guid_text(e.Guid);
    p.NumberOfValues = static_cast<int32_t>(e.NumberOfValues);
    p.Type = static_cast<int32_t>(e.Type);
    if (e.Value) p.Value = Bytes(e.Value, e.NumberOfValues * value_type_size(e.Type));
  }
}

}  // namespace picture_detail

using namespace picture_detail;

int GetImageEncoders(RecordArray<ImageCodecRecord>& list) {
  UINT count = 0, size = 0;
  if (!RecordStatus(GdipGetImageEncodersSize(&count, &size))) return 0;
  list.redim(count);
  if (count == 0) return 0;
  // ImageCodecInfo holds pointers, so its size follows the pointer width (104 bytes here).
  std::vector<uint64_t> block((size + 7) / 8, 0);
  auto* infos = reinterpret_cast<Gdiplus::ImageCodecInfo*>(block.data());
  if (!RecordStatus(GdipGetImageEncoders(count, size, infos))) {
    list.redim(0);
    return 0;
  }
  for (UINT i = 0; i < count; ++i) {
    const Gdiplus::ImageCodecInfo& info = infos[i];
    ImageCodecRecord& r = list[i + 1];
    r.Clsid = guid_text(info.Clsid);
    r.FormatID = guid_text(info.FormatID);
    r.CodecName = wide_to_text(info.CodecName);
    r.DllName = wide_to_text(info.DllName);
    r.FormatDescription = wide_to_text(info.FormatDescription);
    r.FilenameExtension = wide_to_text(info.FilenameExtension);
    r.MimeType = wide_to_text(info.MimeType);
    r.Flags = static_cast<int32_t>(info.Flags);
    r.Version = static_cast<int32_t>(info.Version);
    r.SigCount = static_cast<int32_t>(info.SigCount);
    r.SigSize = static_cast<int32_t>(info.SigSize);
    const size_t sig_bytes = size_t(info.SigCount) * info.SigSize;
    if (info.SigPattern && sig_bytes) r.SigPattern = Bytes(info.SigPattern, sig_bytes);
    if (info.SigMask && sig_bytes) r.SigMask = Bytes(info.SigMask, sig_bytes);
  }
  return static_cast<int>(count);
}

Text FindEncoderClsid(const char* format) {
  RecordArray<ImageCodecRecord> list;
  const int count = GetImageEncoders(list);
  for (int i = 1; i <= count; ++i) {
    if (text_compare(list[i].FormatID.get(), format) == 0) return list[i].Clsid;
  }
  return {};
}

Text GuidToText(const BytesBlock* guid) {
  GUID g{};
  if (guid && guid->length >= static_cast<int32_t>(sizeof(GUID))) std::memcpy(&g, guid->data(), sizeof g);
  return guid_text(g);
}

Bytes TextToGuid(const char* text) {
  GUID g = guid_from_text(text);
  return Bytes(&g, sizeof g);
}

}  // namespace tambrel
