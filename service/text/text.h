// Text handling for the stamp service: percent-decoding, query parsing, UTF-8 validation,
// GBK fallback and the canonical percent-encoding of stamp texts in picture paths.
//
// Clients differ in what they send: the desktop tool hands its GBK text to the system's HTTP
// object unencoded, which may pass it on as raw GBK, raw UTF-8 or percent-escaped UTF-8; older
// clients send percent-escaped GBK. Everything is therefore decoded to bytes first and then
// classified: valid UTF-8 is taken as is, anything else is read as GBK.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tambrel::text {

// Decodes %XX escapes; a '%' not followed by two hex digits is kept literally. '+' stays '+'
// (the desktop tool does not encode its text, so a '+' it sends is a plus sign).
std::string percentDecode(std::string_view in);

// Encodes everything except unreserved ASCII (RFC 3986) as %XX with upper-case hex, so the
// result is pure ASCII and survives any client's re-encoding.
std::string percentEncode(std::string_view in);
// A JSON string literal of UTF-8 text, quotes included. '<', '>' and '&' are escaped too, so the
// text stays inert even where someone inlines it into a page. Bytes that are not UTF-8 become
// U+FFFD, so what a client sent can be echoed without making the whole body invalid JSON.
std::string jsonString(std::string_view s);

// Decodes UTF-8 into code points; nullopt for malformed, over-long, surrogate or out-of-range
// sequences.
std::optional<std::u32string> decodeUtf8(std::string_view in);
std::string encodeUtf8(std::u32string_view in);

// GBK (code page 936) to UTF-8; nullopt when the bytes are not GBK either.
std::optional<std::string> gbkToUtf8(std::string_view in);

// UTF-8 when valid, else GBK converted to UTF-8; nullopt when neither.
std::optional<std::string> toUtf8(std::string_view bytes);

struct QueryParam {
  std::string key;    // percent-decoded
  std::string value;  // raw (still percent-encoded), decoded by the caller
  std::string raw;    // the whole part between '&'s, as received
};

// Splits a query string at '&' and the first '=' of each part. The keys are percent-decoded,
// the values left raw so the caller decides how to read their bytes.
std::vector<QueryParam> splitQuery(std::string_view query);

// Parses a decimal integer with an optional sign; nullopt for anything else (spaces around it
// are allowed). Values beyond the range of int64 saturate.
std::optional<long long> parseInteger(std::string_view s);

bool isControl(char32_t c);
bool isSpace(char32_t c);

// Capacity of a seal is counted in character cells. A CJK (full-width) character fills a cell;
// half-width characters (ASCII letters, digits, punctuation and space, accented Latin letters,
// half-width kana) are narrow, so two of them share one: a run of them is a word that takes
// half a cell per character, rounded up per run. "Tambrel" is 4 cells, "张三Ab" 3.
bool isHalfWidth(char32_t c);

// The text cut into what a seal lays out: each full-width character on its own, each run of
// half-width characters as one word.
struct CellRun {
  size_t begin = 0, end = 0;  // [begin, end) in the text
  bool halfWidth = false;
  int cells = 1;
};
std::vector<CellRun> cellRuns(std::u32string_view s);
int cellCount(std::u32string_view s);

// Strips ASCII and ideographic spaces at both ends.
std::u32string trimSpaces(std::u32string_view s);

}  // namespace tambrel::text
