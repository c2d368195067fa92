#include "picture/string_format.h"

#include "picture/gdiplus_api.h"

TAMBREL_GDIP(GdipDeleteStringFormat)
TAMBREL_GDIP(GdipCreateStringFormat)
TAMBREL_GDIP(GdipStringFormatGetGenericDefault)
TAMBREL_GDIP(GdipStringFormatGetGenericTypographic)
TAMBREL_GDIP(GdipCloneStringFormat)
TAMBREL_GDIP(GdipSetStringFormatFlags)
TAMBREL_GDIP(GdipGetStringFormatFlags)
TAMBREL_GDIP(GdipSetStringFormatAlign)
TAMBREL_GDIP(GdipGetStringFormatAlign)
TAMBREL_GDIP(GdipSetStringFormatLineAlign)
TAMBREL_GDIP(GdipGetStringFormatLineAlign)
TAMBREL_GDIP(GdipSetStringFormatTrimming)
TAMBREL_GDIP(GdipGetStringFormatTrimming)
TAMBREL_GDIP(GdipSetStringFormatHotkeyPrefix)
TAMBREL_GDIP(GdipGetStringFormatHotkeyPrefix)
TAMBREL_GDIP(GdipSetStringFormatTabStops)
TAMBREL_GDIP(GdipGetStringFormatTabStopCount)
TAMBREL_GDIP(GdipGetStringFormatTabStops)
TAMBREL_GDIP(GdipSetStringFormatDigitSubstitution)
TAMBREL_GDIP(GdipGetStringFormatDigitSubstitution)
TAMBREL_GDIP(GdipSetStringFormatMeasurableCharacterRanges)
TAMBREL_GDIP(GdipGetStringFormatMeasurableCharacterRangeCount)

namespace tambrel {

bool StringFormat::Dispose() {
  if (!format_) return false;
  const bool ok = RecordStatus(gdip::GdipDeleteStringFormat(format_));
  SetNativeHandle(nullptr);
  return ok;
}

bool StringFormat::Create(int flags, LANGID language) {
  Dispose();
  gp::GpStringFormat* format = nullptr;
  return StoreNew(gdip::GdipCreateStringFormat(flags, language, &format), format);
}
bool StringFormat::GenericDefault() {
  Dispose();
  gp::GpStringFormat* format = nullptr;
  return StoreNew(gdip::GdipStringFormatGetGenericDefault(&format), format);
}
bool StringFormat::GenericTypographic() {
  Dispose();
  gp::GpStringFormat* format = nullptr;
  return StoreNew(gdip::GdipStringFormatGetGenericTypographic(&format), format);
}
bool StringFormat::CloneTo(StringFormat& target) const {
  gp::GpStringFormat* clone = nullptr;
  if (!RecordStatus(gdip::GdipCloneStringFormat(format_, &clone))) return false;
  target.Dispose();
  return target.StoreNew(gp::Ok, clone);
}
bool StringFormat::SetFormatFlags(int flags) { return RecordStatus(gdip::GdipSetStringFormatFlags(format_, flags)); }
int StringFormat::GetFormatFlags() const {
  INT flags = 0;
  RecordStatus(gdip::GdipGetStringFormatFlags(format_, &flags));
  return flags;
}
bool StringFormat::SetAlignment(int alignment) {
  return RecordStatus(gdip::GdipSetStringFormatAlign(format_, static_cast<gp::StringAlignment>(alignment)));
}
int StringFormat::GetAlignment() const {
  gp::StringAlignment alignment{};
  RecordStatus(gdip::GdipGetStringFormatAlign(format_, &alignment));
  return alignment;
}
bool StringFormat::SetLineAlignment(int alignment) {
  return RecordStatus(gdip::GdipSetStringFormatLineAlign(format_, static_cast<gp::StringAlignment>(alignment)));
}
int StringFormat::GetLineAlignment() const {
  gp::StringAlignment alignment{};
  RecordStatus(gdip::GdipGetStringFormatLineAlign(format_, &alignment));
  return alignment;
}
bool StringFormat::SetTrimming(int trimming) {
  return RecordStatus(gdip::GdipSetStringFormatTrimming(format_, static_cast<gp::StringTrimming>(trimming)));
}
int StringFormat::GetTrimming() const {
  gp::StringTrimming trimming{};
  RecordStatus(gdip::GdipGetStringFormatTrimming(format_, &trimming));
  return trimming;
}
bool StringFormat::SetHotkeyPrefix(int prefix) {
  return RecordStatus(gdip::GdipSetStringFormatHotkeyPrefix(format_, prefix));
}
int StringFormat::GetHotkeyPrefix() const {
  INT prefix = 0;
  RecordStatus(gdip::GdipGetStringFormatHotkeyPrefix(format_, &prefix));
  return prefix;
}
bool StringFormat::SetTabStops(float first_offset, std::span<const float> tab_stops) {
  return RecordStatus(gdip::GdipSetStringFormatTabStops(format_, first_offset, static_cast<INT>(tab_stops.size()),
                                                        tab_stops.data()));
}
bool StringFormat::GetTabStops(float& first_offset, std::vector<float>& tab_stops) const {
  INT count = 0;
  if (!RecordStatus(gdip::GdipGetStringFormatTabStopCount(format_, &count))) return false;
  std::vector<float> stops(size_t(count > 0 ? count : 0));
  gp::REAL first = 0;
  if (!RecordStatus(gdip::GdipGetStringFormatTabStops(format_, count, &first, stops.data()))) return false;
  first_offset = first;
  tab_stops = std::move(stops);
  return true;
}
bool StringFormat::SetDigitSubstitution(LANGID language, int method) {
  return RecordStatus(
      gdip::GdipSetStringFormatDigitSubstitution(format_, language, static_cast<gp::StringDigitSubstitute>(method)));
}
bool StringFormat::GetDigitSubstitution(LANGID& language, int& method) const {
  gp::StringDigitSubstitute m{};
  language = 0;
  const bool ok = RecordStatus(gdip::GdipGetStringFormatDigitSubstitution(format_, &language, &m));
  method = m;
  return ok;
}
bool StringFormat::SetMeasurableCharacterRanges(std::span<const gp::CharacterRange> ranges) {
  return RecordStatus(gdip::GdipSetStringFormatMeasurableCharacterRanges(format_, static_cast<INT>(ranges.size()),
                                                                         ranges.data()));
}
int StringFormat::GetMeasurableCharacterRangeCount() const {
  INT count = 0;
  RecordStatus(gdip::GdipGetStringFormatMeasurableCharacterRangeCount(format_, &count));
  return count;
}

}  // namespace tambrel
