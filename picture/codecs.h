// Library-level operations on image encoders and GUID texts.
//
// GUIDs travel through the program as GUID text: the 38-character upper-case form with braces
// that StringFromGUID2 produces. Encoders are looked up by their image format GUID text with
// an exact, case-sensitive comparison, so a lower-case GUID text finds nothing.
#pragma once

#include <windows.h>
#include "picture/gdiplus_types.h"

#include <cstdint>
#include <vector>

#include "runtime/values.h"

namespace tambrel {

// One installed image encoder, as GDI+ describes it.
struct ImageCodecRecord {
  Text Clsid;
  Text FormatID;
  Text CodecName;
  Text DllName;
  Text FormatDescription;
  Text FilenameExtension;
  Text MimeType;
  int32_t Flags = 0;
  int32_t Version = 0;
  int32_t SigCount = 0;
  int32_t SigSize = 0;
  Bytes SigPattern;  // SigCount * SigSize bytes
  Bytes SigMask;     // same length
};

// One encoder parameter: its GUID text, how many values of which GDI+ value type, and the
// values' bytes.
struct EncoderParameterRecord {
  Text Guid;
  int32_t NumberOfValues = 0;
  int32_t Type = 0;
  Bytes Value;
};

struct EncoderParameterSet {
  int32_t Count = 0;
  RecordArray<EncoderParameterRecord> Parameters;
};

// The GDI+ BMP image format, what SaveToFile writes when no format is given.
inline constexpr const char* kBmpFormatGuid = "{B96B3CAB-0728-11D3-9D7B-0000F81EF32E}";

// Replaces `list` with one record per installed encoder, in GDI+'s order; returns the count
// (0 on failure, the list then left as it was).
int GetImageEncoders(RecordArray<ImageCodecRecord>& list);
// The Clsid text of the first encoder whose FormatID text equals `format` byte for byte;
// an empty text when none does.
Text FindEncoderClsid(const char* format);
// GUID text of a 16-byte block (the all-zero GUID's text for a shorter block).
Text GuidToText(const BytesBlock* guid);
// 16-byte block of a GUID text; all zero when the text is not a GUID.
Bytes TextToGuid(const char* text);

namespace picture_detail {
Text guid_text(const GUID& guid);
GUID guid_from_text(const char* text);

// The GDI+ EncoderParameters layout of a parameter set, valid while the set lives.
class NativeEncoderParameters {
 public:
  explicit NativeEncoderParameters(const EncoderParameterSet* set);
  // Null when there was no set.
  const Gdiplus::EncoderParameters* get() const {
    return block_.empty() ? nullptr : reinterpret_cast<const Gdiplus::EncoderParameters*>(block_.data());
  }

 private:
  std::vector<uint64_t> block_;  // 8-byte aligned storage for the header and the elements
};

// Fills a parameter set from the GDI+ layout.
void read_encoder_parameters(const Gdiplus::EncoderParameters& native, EncoderParameterSet& set);
}  // namespace picture_detail

}  // namespace tambrel
