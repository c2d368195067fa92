// A string format: alignment, trimming, tab stops and measurable ranges for laying out text.
// A format object that was never created holds no native format and reaches GDI+ as null,
// which lays text out with the default format: the gallery painter draws its titles that way.
#pragma once

#include <windows.h>

#include <span>
#include <vector>

#include "picture/native_object.h"

namespace tambrel {

class StringFormat : public NativeObject {
 public:
  StringFormat() = default;
  StringFormat(StringFormat&& o) noexcept { TakeNative(o); }
  StringFormat& operator=(StringFormat&& o) noexcept {
    if (this != &o) {
      Dispose();
      TakeNative(o);
    }
    return *this;
  }
  ~StringFormat() override { Dispose(); }

  gp::GpStringFormat* format() const { return format_; }

  bool Dispose();
  // The creating operations dispose a held format first.
  bool Create(int flags, LANGID language);
  bool GenericDefault();
  bool GenericTypographic();
  bool CloneTo(StringFormat& target) const;
  bool SetFormatFlags(int flags);
  int GetFormatFlags() const;
  bool SetAlignment(int alignment);
  int GetAlignment() const;
  bool SetLineAlignment(int alignment);
  int GetLineAlignment() const;
  bool SetTrimming(int trimming);
  int GetTrimming() const;
  bool SetHotkeyPrefix(int prefix);
  int GetHotkeyPrefix() const;
  bool SetTabStops(float first_offset, std::span<const float> tab_stops);
  bool GetTabStops(float& first_offset, std::vector<float>& tab_stops) const;
  bool SetDigitSubstitution(LANGID language, int method);
  bool GetDigitSubstitution(LANGID& language, int& method) const;
  bool SetMeasurableCharacterRanges(std::span<const gp::CharacterRange> ranges);
  int GetMeasurableCharacterRangeCount() const;

 protected:
  void StoreNative(void* h) override { format_ = static_cast<gp::GpStringFormat*>(h); }

 private:
  gp::GpStringFormat* format_ = nullptr;
};

}  // namespace tambrel
