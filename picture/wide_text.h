// Conversions between the program's GBK texts and the UTF-16 that GDI+ takes. Both directions
// use the ANSI code page, so a name read back from GDI+ compares equal to the text it was made
// from whatever the OEM code page is. Private to the picture library.
#pragma once

#include <string>

#include "runtime/values.h"

namespace tambrel::picture_detail {

// A null text converts to L"".
std::wstring to_wide(const char* text);
// Null or L"" converts to an empty (null) Text.
Text from_wide(const wchar_t* text);

}  // namespace tambrel::picture_detail
