// libFuzzer target over request parsing and text layout: arbitrary bytes as a request target,
// as the query of a generation request (which renders when the text is accepted), as a
// picture path, as a design in either written form and as a style line. Beside "no signal",
// a design must be answered 200 or refused by its fields (400), and an accepted one drawn
// inside its seal: anything else traps, so the fuzzer reports it as a crash.
#include <cstdint>
#include <memory>
#include <string>

#include "catalog/catalog.h"
#include "catalog/fonts.h"
#include "catalog/style.h"
#include "design/design.h"
#include "draw/render.h"
#include "draw/vector.h"
#include "stamps/stamp_service.h"
#include "text/text.h"
#include "web/site.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tambrel;
  static std::unique_ptr<FontSet> fonts = FontSet::load({}, nullptr);
  static StampService* service = [] {
    ServiceOptions o;
    o.pairKey = "TambrelSealKey2026";
    o.replyKey = "ReplyKeyForTests-2026";
    o.cacheBytes = 4u << 20;
    return new StampService(Catalog::builtIn(), *fonts, o);
  }();
  static Site* site = new Site(*service, WebOptions{});
  if (size == 0) return 0;
  std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 6) {
    case 0: site->handle("GET", input); break;
    // Designs drawn small, from a query and from JSON: the checks must bound everything drawn.
    case 4:
    case 5: {
      const bool query = data[0] % 6 == 4;
      const Response r = query ? site->handle("GET", "/design.png?px=64&" + input) : site->handle("POST", "/design.svg", input);
      const design::Parsed p = query ? design::parseQuery("px=64&" + input) : design::parseJson(input);
      // 400 also for a target the request screen refuses (a raw backslash, a NUL) before the design is read.
      if (r.status != 200 && r.status != 400 && r.status != 414) __builtin_trap();
      if (r.status == 200 && !p.design) __builtin_trap();
      if (r.status == 200) {
        const design::DrawInput in = design::toDrawInput(*p.design);
        if (inkOverreachMm(*fonts, in.style, in.text) > 0.05) __builtin_trap();
        // The canonical form reads back as the same design.
        const design::Parsed back = design::parseQuery(design::toQuery(*p.design));
        if (!back.design || !(*back.design == *p.design)) __builtin_trap();
      }
      break;
    }
    case 1: service->handle("GET", "/aosbegin.php?" + input); break;
    case 2: service->handle("HEAD", "/stamp/" + input); break;
    default: {
      // Layout of any text with a fuzzed style at a small size.
      auto style = parseStyle(input);
      auto text = text::decodeUtf8(input);
      if (style && text && !text->empty() && text->size() <= 40) renderStamp(*fonts, *style, *text, 64);
      break;
    }
  }
  return 0;
}
