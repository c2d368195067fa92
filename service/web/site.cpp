// Routing between the page and the stamp endpoints; see site.h.
#include "web/site.h"

#include <elf.h>
#include <link.h>

#include <ctime>
#include <filesystem>
#include <utility>

#include "text/text.h"

namespace tambrel {
namespace {

// The browser tab's icon is the service's own seal, drawn by the service.
constexpr std::string_view kFaviconPath = "/stamp/368/64/Tambrel.png";

void setHeader(Response& r, const std::string& name, std::string value) {
  for (auto& [k, v] : r.headers)
    if (k == name) {
      v = std::move(value);
      return;
    }
  r.headers.emplace_back(name, std::move(value));
}

// The GNU build id the linker wrote into the executable: a hash of its contents.
int readBuildId(dl_phdr_info* info, size_t, void* out) {
  auto* id = static_cast<std::string*>(out);
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_NOTE) continue;
    const char* p = reinterpret_cast<const char*>(info->dlpi_addr + ph.p_vaddr);
    const char* end = p + ph.p_memsz;
    while (p + sizeof(ElfW(Nhdr)) <= end) {
      auto* note = reinterpret_cast<const ElfW(Nhdr)*>(p);
      const char* name = p + sizeof(ElfW(Nhdr));
      const char* desc = name + ((note->n_namesz + 3) & ~3u);
      if (note->n_type == NT_GNU_BUILD_ID && note->n_namesz == 4 && std::string_view(name, 3) == "GNU") {
        id->assign(desc, note->n_descsz);
        return 1;
      }
      p = desc + ((note->n_descsz + 3) & ~3u);
    }
  }
  return 1;  // only the first object, the executable itself
}

// Runs `finish` on the answer once it is complete: at once, or after the deferred work that
// the render pool runs.
template <typename F>
Response afterward(Response r, F finish) {
  if (r.deferred) {
    r.deferred = [work = std::move(r.deferred), finish]() mutable { return afterward(work(), finish); };
    return r;
  }
  finish(r);
  return r;
}

std::string queryValue(std::string_view query, std::string_view key) {
  for (const text::QueryParam& p : text::splitQuery(query))
    if (p.key == key) return text::percentDecode(p.value);
  return {};
}

}  // namespace

std::string drawingVersion(const FontSet& fonts) {
  std::string seed;
  dl_iterate_phdr(readBuildId, &seed);
  if (seed.empty()) seed = std::to_string(std::time(nullptr));
  for (const Font* font : fonts.chain(Script::Song)) {
    std::error_code ec;
    seed += "|" + font->file + "|" + std::to_string(std::filesystem::file_size(font->file, ec));
  }
  std::string tag = etagOf(seed);  // "0123456789abcdef"
  return tag.substr(1, tag.size() - 2);
}

Site::Site(StampService& stamps, WebOptions options)
    : stamps_(stamps),
      thumbnailVersion_(drawingVersion(stamps.fonts())),
      pages_(stamps.catalog(), (options.thumbnailVersion = thumbnailVersion_, std::move(options))),
      glyphs_(stamps.fonts()),
      designs_(stamps.catalog(), stamps.fonts(), stamps.pictureCache()) {}

Response Site::respond(std::string_view method, std::string_view target, const RequestHeaders& headers,
                       std::string_view body) {
  // The one method beyond GET and HEAD: a design sent as JSON, to the design paths alone. Its
  // target is held to the same length as any other.
  if (method == "POST" && bodyLimit(method, target) > 0) {
    if (target.size() > stamps_.options().maxTargetLength) {
      Response r;
      r.status = 414;
      r.body = std::make_shared<const std::string>("request target too long\n");
      return r;
    }
    return design(method, target, body);
  }
  if (auto refused = screenRequest(method, target, stamps_.options().maxTargetLength)) return std::move(*refused);
  const size_t q = target.find('?');
  const std::string_view path = target.substr(0, q);
  const std::string_view query = q == std::string_view::npos ? std::string_view() : target.substr(q + 1);
  // The page's paths and the stamp endpoints' do not overlap, so the order is only a matter of
  // which lookup is cheaper: the page's is one map search.
  if (auto page = pages_.handle(path, headers.acceptEncoding)) return std::move(*page);
  if (path == "/glyphs") return glyphs_.answer(query);
  if (path.starts_with("/design")) return design(method, target, {});
  if (path == "/favicon.ico")
    return afterward(stamps_.respond(method, kFaviconPath), [](Response& icon) {
      if (icon.status == 200) setHeader(icon, "Cache-Control", "public, max-age=86400");
    });
  // A thumbnail asked for under this build's version is the same picture for as long as that
  // version stands: the browser may keep it without asking again.
  const bool versioned = path.starts_with("/maker/thumbnails/") && queryValue(query, "v") == thumbnailVersion_;
  return afterward(stamps_.respond(method, target), [versioned](Response& r) {
    if (versioned && r.status == 200) setHeader(r, "Cache-Control", "public, max-age=31536000, immutable");
  });
}

// Checks, the fonts, templates as designs and cached pictures are answered here at once; only a
// picture still to draw comes back deferred, for the render pool.
Response Site::design(std::string_view method, std::string_view target, std::string_view body) {
  if (auto answer = designs_.handle(method, target, body)) return std::move(*answer);
  return stamps_.respond(method, target);  // not a design path after all: the stamp endpoints' 404
}

}  // namespace tambrel
