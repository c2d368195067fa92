// The common drawing core; see render_core.h.
#include "draw/render_core.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <atomic>
#include <mutex>
#include <optional>
#include <unordered_map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/text.h"

namespace tambrel::draw {

ShapeMm shapeMm(Shape s) {
  switch (s) {
    case Shape::Round: return {42, 42};
    case Shape::Oval: return {45, 31.5};
    case Shape::Square: return {20, 20};
    case Shape::Rect: return {40, 20};
    case Shape::Long: return {16, 40};
    case Shape::Cloud: return {45, 25.5};
  }
  return {42, 42};
}

ShapeMm styleMm(const StampStyle& style) {
  ShapeMm mm = shapeMm(style.shape);
  if (style.layout && style.layout->widthMm > 0 && style.layout->heightMm > 0)
    mm = {style.layout->widthMm, style.layout->heightMm};
  return mm;
}

uint64_t fnv1a(std::u32string_view text, uint64_t h) {
  for (char32_t c : text) {
    for (int k = 0; k < 4; ++k) {
      h ^= (c >> (8 * k)) & 0xFF;
      h *= 1099511628211ull;
    }
  }
  return h;
}

void Painter::fill() {
  if (recorder_)
    recorder_->fill(cr_);
  else
    cairo_fill(cr_);
}

void Painter::stroke() {
  if (recorder_)
    recorder_->stroke(cr_);
  else
    cairo_stroke(cr_);
}

void Painter::fillPreserve() {
  if (recorder_)
    recorder_->fillPreserve(cr_);
  else
    cairo_fill_preserve(cr_);
}

void setDrawingOptions(cairo_t* cr) {
  FontOptionsPtr options(cairo_font_options_create());
  cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
  cairo_set_font_options(cr, options.get());
  cairo_set_tolerance(cr, 0.25);
}

namespace {

// Outlines are the same under every context: glyphs are looked up unhinted at size 100 under
// the identity matrix, so one cache serves every thread. Its bytes are capped for the whole
// process (not per thread, which would grow the bound with the cores); it is split into shards,
// each under its own lock and its share of the cap, so render threads seldom meet on a lock.
// A shard over its share drops entries until it fits: that costs only the lookups they saved.
struct GlyphKey {
  uint64_t fontSet;
  char32_t c;
  Script script;
  int face;
  bool operator==(const GlyphKey&) const = default;
};
struct GlyphKeyHash {
  size_t operator()(const GlyphKey& k) const {
    return std::hash<uint64_t>()(k.fontSet * 1000003u ^ (static_cast<uint64_t>(k.c) << 3) ^ static_cast<uint64_t>(k.script) ^
                                 (static_cast<uint64_t>(k.face + 1) << 40));
  }
};

size_t glyphBytes(const Glyph& g) {
  size_t bytes = sizeof(Glyph) + sizeof(GlyphKey) + 64;  // the entry, its node and the control block
  if (g.outline) bytes += sizeof(cairo_path_t) + static_cast<size_t>(g.outline->num_data) * sizeof(cairo_path_data_t);
  return bytes;
}

class GlyphCache {
 public:
  static constexpr size_t kShards = 16;

  std::optional<Glyph> find(const GlyphKey& key) {
    Shard& s = shardOf(key);
    std::lock_guard lock(s.mutex);
    auto it = s.map.find(key);
    if (it == s.map.end()) return std::nullopt;
    return it->second;
  }

  void insert(const GlyphKey& key, const Glyph& g) {
    const size_t bytes = glyphBytes(g);
    Shard& s = shardOf(key);
    std::lock_guard lock(s.mutex);
    if (!s.map.emplace(key, g).second) return;
    s.bytes += bytes;
    bytes_.fetch_add(bytes, std::memory_order_relaxed);
    while (s.bytes > kGlyphCacheBytes / kShards && s.map.size() > 1) {
      auto victim = s.map.begin();
      if (victim->first == key) ++victim;
      const size_t freed = glyphBytes(victim->second);
      s.bytes -= freed;
      bytes_.fetch_sub(freed, std::memory_order_relaxed);
      s.map.erase(victim);
    }
  }

  size_t bytes() const { return bytes_.load(std::memory_order_relaxed); }

 private:
  struct Shard {
    std::mutex mutex;
    std::unordered_map<GlyphKey, Glyph, GlyphKeyHash> map;
    size_t bytes = 0;
  };
  Shard& shardOf(const GlyphKey& key) { return shards_[GlyphKeyHash()(key) * 0x9E3779B97F4A7C15ull >> 60]; }

  Shard shards_[kShards];
  std::atomic<size_t> bytes_{0};
};

GlyphCache& glyphCache() {
  static GlyphCache cache;
  return cache;
}

}  // namespace

size_t glyphCacheBytes() { return glyphCache().bytes(); }

Glyph Painter::shape(char32_t c) {
  const GlyphKey key{fonts_.serial(), c, style_.script, style_.face};
  if (auto g = glyphCache().find(key)) return *g;
  Glyph g = lookUp(c);
  glyphCache().insert(key, g);
  return g;
}

Glyph Painter::lookUp(char32_t c) {
  Glyph g;
  std::string utf8 = text::encodeUtf8(std::u32string_view(&c, 1));
  cairo_glyph_t glyph{0, 0, 0};
  // All font work happens under the identity matrix: cairo keys its scaled fonts (and their
  // glyph caches) by the full transformation, so looking glyphs up under each rotation would
  // create a new scaled font per character. The outline is copied and placed afterwards.
  cairo_save(cr_);
  cairo_identity_matrix(cr_);
  // A path being built when a glyph is first looked up survives the lookup, which needs the path.
  PathPtr pending(cairo_copy_path(cr_));
  for (const Font* font : fonts_.chain(style_.script, style_.face)) {
    cairo_set_font_face(cr_, font->face);
    cairo_set_font_size(cr_, 100.0);
    cairo_scaled_font_t* sf = cairo_get_scaled_font(cr_);
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    if (cairo_scaled_font_text_to_glyphs(sf, 0, 0, utf8.data(), static_cast<int>(utf8.size()), &glyphs, &count,
                                         nullptr, nullptr, nullptr) == CAIRO_STATUS_SUCCESS &&
        count == 1 && glyphs[0].index != 0) {
      glyph.index = glyphs[0].index;
      g.found = true;
    }
    cairo_glyph_free(glyphs);
    if (g.found) break;
  }
  if (g.found) {
    cairo_glyph_extents(cr_, &glyph, 1, &g.ext);
    cairo_new_path(cr_);
    cairo_glyph_path(cr_, &glyph, 1);
    g.outline.reset(cairo_copy_path(cr_), cairo_path_destroy);
    cairo_new_path(cr_);
  } else {
    g.ext = {15, -70, 70, 70, 100, 0};
  }
  cairo_new_path(cr_);
  if (pending && pending->status == CAIRO_STATUS_SUCCESS && pending->num_data > 0) cairo_append_path(cr_, pending.get());
  cairo_restore(cr_);
  return g;
}

void Painter::place(const Glyph& g, double x, double y, double angle, double sx, double sy, double ax, double ay) {
  cairo_save(cr_);
  cairo_translate(cr_, x, y);
  cairo_rotate(cr_, angle);
  cairo_scale(cr_, sx, sy);
  cairo_translate(cr_, -ax, -ay);
  if (g.found) {
    cairo_append_path(cr_, g.outline.get());
  } else {
    // A hollow square: the inner square runs the other way round, so non-zero filling
    // leaves it open.
    const cairo_text_extents_t& e = g.ext;
    const double t = e.width * 0.1;
    cairo_rectangle(cr_, e.x_bearing, e.y_bearing, e.width, e.height);
    cairo_new_sub_path(cr_);
    cairo_move_to(cr_, e.x_bearing + t, e.y_bearing + t);
    cairo_line_to(cr_, e.x_bearing + t, e.y_bearing + e.height - t);
    cairo_line_to(cr_, e.x_bearing + e.width - t, e.y_bearing + e.height - t);
    cairo_line_to(cr_, e.x_bearing + e.width - t, e.y_bearing + t);
    cairo_close_path(cr_);
  }
  cairo_restore(cr_);
}

void Painter::fillMarks() {
  if (emboldenMm > 0) {
    fillPreserve();
    cairo_set_line_width(cr_, emboldenMm);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    stroke();
  } else if (!fillByFreeType()) {
    fill();
  }
}

namespace {

struct FtLibraryDeleter {
  void operator()(FT_Library lib) const { FT_Done_FreeType(lib); }
};

// FreeType's library object is not for sharing between threads; each keeps its own.
FT_Library ftLibrary() {
  thread_local std::unique_ptr<FT_LibraryRec_, FtLibraryDeleter> library = [] {
    FT_Library lib = nullptr;
    return std::unique_ptr<FT_LibraryRec_, FtLibraryDeleter>(FT_Init_FreeType(&lib) == 0 ? lib : nullptr);
  }();
  return library.get();
}

// An outline in FreeType's terms, built from cairo paths (lines and cubic curves).
struct FtOutline {
  std::vector<FT_Vector> points;
  std::vector<char> tags;
  std::vector<short> contours;

  void clear() { points.clear(), tags.clear(), contours.clear(); }
  size_t bytes() const { return points.size() * sizeof(FT_Vector) + tags.size() + contours.size() * sizeof(short); }
  bool fits() const { return points.size() <= 32767 && contours.size() <= 32767; }

  // Appends the closed contours of a path, each point through `map`. A lone move or a line
  // covers nothing and is dropped.
  template <typename Map>
  void append(const cairo_path_t& path, Map map) {
    size_t contourStart = points.size();
    auto endContour = [&] {
      if (points.size() - contourStart >= 3) {
        contours.push_back(static_cast<short>(points.size() - 1));
        contourStart = points.size();
      } else {
        points.resize(contourStart), tags.resize(contourStart);
      }
    };
    auto add = [&](const cairo_path_data_t& p, char tag) {
      points.push_back(map(p.point.x, p.point.y));
      tags.push_back(tag);
    };
    for (int i = 0; i < path.num_data; i += path.data[i].header.length) {
      const cairo_path_data_t* d = &path.data[i];
      switch (d->header.type) {
        case CAIRO_PATH_MOVE_TO: endContour(), add(d[1], FT_CURVE_TAG_ON); break;
        case CAIRO_PATH_LINE_TO: add(d[1], FT_CURVE_TAG_ON); break;
        case CAIRO_PATH_CURVE_TO:
          add(d[1], FT_CURVE_TAG_CUBIC), add(d[2], FT_CURVE_TAG_CUBIC), add(d[3], FT_CURVE_TAG_ON);
          break;
        case CAIRO_PATH_CLOSE_PATH: break;
      }
    }
    endContour();
  }

  FT_Outline view() {
    FT_Outline o{};
    o.n_points = static_cast<short>(points.size());
    o.n_contours = static_cast<short>(contours.size());
    o.points = points.data();
    o.tags = tags.data();
    o.contours = contours.data();
    o.flags = FT_OUTLINE_NONE;  // non-zero winding, as cairo fills
    return o;
  }
};

struct SpanTarget {
  uint8_t* data;
  int stride;
  bool clear;  // cut (CLEAR) rather than ink (OVER)
};

// Composites FreeType's coverage spans onto the A8 coverage, as cairo's OVER and CLEAR with an
// opaque source do: ink d + c(1 - d), cut d(1 - c).
void compositeSpans(int y, int count, const FT_Span* spans, void* user) {
  const SpanTarget& t = *static_cast<const SpanTarget*>(user);
  uint8_t* row = t.data + static_cast<size_t>(y) * t.stride;
  for (int i = 0; i < count; ++i) {
    const unsigned c = spans[i].coverage;
    uint8_t* d = row + spans[i].x;
    uint8_t* end = d + spans[i].len;
    if (t.clear) {
      for (; d < end; ++d) *d = static_cast<uint8_t>((*d * (255 - c) + 127) / 255);
    } else if (c == 255) {
      std::memset(d, 255, end - d);
    } else {
      for (; d < end; ++d) *d = static_cast<uint8_t>(c + (*d * (255 - c) + 127) / 255);
    }
  }
}

// Fills a device-space outline (26.6 pixels) onto the context's A8 target in its operator,
// which freeTypeTarget() has approved.
bool renderOutline(cairo_t* cr, FtOutline& o) {
  if (o.contours.empty()) return true;
  cairo_surface_t* target = cairo_get_target(cr);
  FT_Outline outline = o.view();
  cairo_surface_flush(target);
  SpanTarget t{cairo_image_surface_get_data(target), cairo_image_surface_get_stride(target),
               cairo_get_operator(cr) == CAIRO_OPERATOR_CLEAR};
  FT_Raster_Params params{};
  params.source = &outline;
  params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
  params.gray_spans = compositeSpans;
  params.user = &t;
  params.clip_box = {0, 0, cairo_image_surface_get_width(target), cairo_image_surface_get_height(target)};
  const bool ok = FT_Outline_Render(ftLibrary(), &outline, &params) == 0;
  cairo_surface_mark_dirty(target);
  return ok;
}

// Ceiling of a value that is not negative, without the library call an x86-64 baseline build
// makes of std::ceil.
template <typename F>
int ceilOf(F v) {
  const int i = static_cast<int>(v);
  return i + (static_cast<F>(i) < v);
}

// The coverage of an outline of straight edges on a width × height raster, with the non-zero
// rule: the exact area of each pixel covered, as FreeType's rasterizer computes it, by
// accumulating each edge's signed area into a buffer the size of the outline's box and summing
// along the rows. FreeType keeps its cells in lists sorted per row, which costs dear for the
// many edges of a grown glyph, and sets up afresh for every small circle; here an edge costs a
// few adds per pixel it crosses. Each row of the box that lies on the raster goes to
// row(y, x, coverage, length), coverage in 256ths capped at 255 as FreeType reports it.
// False, with nothing handed out, for an outline whose box has more than maxCells pixels.
constexpr size_t kKeepFloats = 1u << 19;  // 2 MiB
// A fade of the aged look may overhang the picture (its box spans the whole circle's width).
constexpr size_t kMostCircleCells = 16u << 20;

template <typename Row>
bool coverEdges(const FtOutline& o, int width, int height, size_t maxCells, Row&& row) {
  if (o.contours.empty()) return true;
  long minX = o.points[0].x, maxX = minX, minY = o.points[0].y, maxY = minY;
  for (const FT_Vector& v : o.points) {
    minX = std::min(minX, v.x), maxX = std::max(maxX, v.x);
    minY = std::min(minY, v.y), maxY = std::max(maxY, v.y);
  }
  // The box spans the outline's whole width, so a row's sum starts from nothing even where the
  // outline runs off the left; rows off the raster are not made at all.
  const int ox = static_cast<int>(minX >> 6);
  const int oy = std::max(0, static_cast<int>(minY >> 6));
  const int bw = static_cast<int>((maxX + 63) >> 6) - ox + 2;
  const int bh = std::min(height, static_cast<int>((maxY + 63) >> 6)) - oy;
  if (bh <= 0 || maxX <= 0 || minX >= 64L * width) return true;
  if (static_cast<size_t>(bw) * bh > maxCells) return false;
  // Zero between uses: each row is cleared as it is summed. A buffer grown for a very large
  // glyph is given back afterwards rather than kept by every render thread.
  thread_local std::vector<float> area;
  thread_local std::vector<uint8_t> coverage;
  struct Trim {
    ~Trim() {
      if (area.size() > kKeepFloats) std::vector<float>().swap(area);
    }
  } trimAfter;
  if (area.size() < static_cast<size_t>(bw) * bh) area.assign(static_cast<size_t>(bw) * bh, 0.0f);
  if (coverage.size() < static_cast<size_t>(bw)) coverage.resize(static_cast<size_t>(bw));
  float* a = area.data();

  auto edge = [&](float x0, float y0, float x1, float y1) {
    if (y0 == y1) return;
    float dir = 1;
    if (y0 > y1) std::swap(x0, x1), std::swap(y0, y1), dir = -1;
    if (y1 <= 0) return;
    const float dxdy = (x1 - x0) / (y1 - y0);
    float x = x0;
    if (y0 < 0) x -= y0 * dxdy, y0 = 0;
    const int yEnd = std::min(bh, ceilOf(y1));
    for (int y = static_cast<int>(y0); y < yEnd; ++y) {
      float* r = a + static_cast<size_t>(y) * bw;
      const float dy = std::min(static_cast<float>(y + 1), y1) - std::max(static_cast<float>(y), y0);
      const float xNext = x + dxdy * dy;
      const float d = dy * dir;
      const float left = std::min(x, xNext), right = std::max(x, xNext);
      // The box starts at the outline's left: no coordinate here is negative, so a cast floors.
      const int li = static_cast<int>(left), ri = ceilOf(right);
      const float leftFloor = static_cast<float>(li), rightCeil = static_cast<float>(ri);
      if (ri <= li + 1) {
        // Within one pixel: the part of the pixel right of the edge's middle is covered.
        const float mid = 0.5f * (x + xNext) - leftFloor;
        r[li] += d - d * mid;
        r[li + 1] += d * mid;
      } else {
        // Across pixels: a triangle in the first, a trapezoid in the last, even steps between.
        const float inv = 1 / (right - left);
        const float lf = left - leftFloor;
        const float a0 = 0.5f * inv * (1 - lf) * (1 - lf);
        const float rf = right - rightCeil + 1;
        const float am = 0.5f * inv * rf * rf;
        r[li] += d * a0;
        if (ri == li + 2) {
          r[li + 1] += d * (1 - a0 - am);
        } else {
          const float a1 = inv * (1.5f - lf);
          r[li + 1] += d * (a1 - a0);
          for (int xi = li + 2; xi < ri - 1; ++xi) r[xi] += d * inv;
          const float a2 = a1 + static_cast<float>(ri - li - 3) * inv;
          r[ri - 1] += d * (1 - a2 - am);
        }
        r[ri] += d * am;
      }
      x = xNext;
    }
  };
  size_t first = 0;
  for (short last : o.contours) {
    const size_t end = static_cast<size_t>(last) + 1;
    for (size_t i = first; i < end; ++i) {
      const FT_Vector& p = o.points[i];
      const FT_Vector& q = o.points[i + 1 == end ? first : i + 1];
      edge((p.x - 64.0f * ox) / 64, (p.y - 64.0f * oy) / 64, (q.x - 64.0f * ox) / 64, (q.y - 64.0f * oy) / 64);
    }
    first = end;
  }

  // Only the columns on the raster are handed out; the sums still start at the box's left.
  const int skip = std::max(0, -ox), columns = std::min(bw, width - ox);
  uint8_t* c = coverage.data();
  for (int y = 0; y < bh; ++y) {
    float* r = a + static_cast<size_t>(y) * bw;
    float sum = 0;
    int x = 0;
#if defined(__SSE2__)
    // Four running sums at a time (each vector's own prefix sums, plus the carry from the one
    // before): the sum is one long chain of adds otherwise, a wait at every pixel of the box.
    const __m128 zero = _mm_setzero_ps(), full = _mm_set1_ps(255.0f), scale = _mm_set1_ps(256.0f);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    __m128 carry = zero;
    for (; x + 4 <= bw; x += 4) {
      __m128 v = _mm_loadu_ps(r + x);
      _mm_storeu_ps(r + x, zero);
      v = _mm_add_ps(v, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(v), 4)));
      v = _mm_add_ps(v, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(v), 8)));
      v = _mm_add_ps(v, carry);
      carry = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3));
      __m128i level = _mm_cvttps_epi32(_mm_min_ps(_mm_mul_ps(_mm_and_ps(v, magnitude), scale), full));
      level = _mm_packs_epi32(level, level);
      const int four = _mm_cvtsi128_si32(_mm_packus_epi16(level, level));
      std::memcpy(c + x, &four, 4);
    }
    sum = _mm_cvtss_f32(carry);
#endif
    for (; x < bw; ++x) {
      sum += r[x];
      r[x] = 0;
      c[x] = static_cast<uint8_t>(std::min(255u, static_cast<unsigned>(std::abs(sum) * 256)));
    }
    if (columns > skip) row(oy + y, ox + skip, c + skip, columns - skip);
  }
  return true;
}

// Ink d + c(1 - d) or cut d(1 - c) of coverage c onto n pixels, rounded as cairo rounds. Either
// leaves a pixel as it was where c is 0, so every pixel takes the same steps, with no branch.
void blendCoverage(uint8_t* d, const uint8_t* c, int n, bool cut) {
  int i = 0;
#if defined(__SSE2__)
  // Sixteen at a time in 16-bit lanes: d(255 - c) + 127 stays under 65536, and for y under
  // 65536, (y + 1 + (y >> 8)) >> 8 is y / 255 rounded down.
  const __m128i zero = _mm_setzero_si128(), ff = _mm_set1_epi16(255), bias = _mm_set1_epi16(127),
                one = _mm_set1_epi16(1);
  auto blend8 = [&](__m128i dd, __m128i cc) {
    __m128i y = _mm_add_epi16(_mm_mullo_epi16(dd, _mm_sub_epi16(ff, cc)), bias);
    y = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(y, one), _mm_srli_epi16(y, 8)), 8);
    return cut ? y : _mm_add_epi16(y, cc);
  };
  for (; i + 16 <= n; i += 16) {
    const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
    const __m128i cv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i));
    const __m128i lo = blend8(_mm_unpacklo_epi8(dv, zero), _mm_unpacklo_epi8(cv, zero));
    const __m128i hi = blend8(_mm_unpackhi_epi8(dv, zero), _mm_unpackhi_epi8(cv, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
  }
#endif
  for (; i < n; ++i) {
    const unsigned kept = (d[i] * (255u - c[i]) + 127) / 255;
    d[i] = static_cast<uint8_t>(cut ? kept : c[i] + kept);
  }
}

// Fills an outline of straight edges onto the context's A8 target in its operator, which
// freeTypeTarget() has approved.
bool fillEdges(cairo_t* cr, const FtOutline& o) {
  cairo_surface_t* target = cairo_get_target(cr);
  cairo_surface_flush(target);
  uint8_t* data = cairo_image_surface_get_data(target);
  const int stride = cairo_image_surface_get_stride(target);
  const int width = cairo_image_surface_get_width(target), height = cairo_image_surface_get_height(target);
  const bool cut = cairo_get_operator(cr) == CAIRO_OPERATOR_CLEAR;
  // The buffer of a glyph is never larger than the picture (a glyph inside it never needs
  // more), so one picture bounds what its glyphs cost; one that overhangs the picture that far
  // goes to FreeType, which clips as it goes.
  const size_t picture = static_cast<size_t>(width + 2) * height;
  const bool ok = coverEdges(o, width, height, picture, [&](int y, int x, const uint8_t* c, int n) {
    blendCoverage(data + static_cast<size_t>(y) * stride + x, c, n, cut);
  });
  cairo_surface_mark_dirty(target);
  return ok;
}

// How far a chord may stray from a glyph's curve when the glyph is filled without growing, in
// device pixels: about where FreeType stops dividing a curve.
constexpr double kPlainGlyphTolerance = 0.1;

// Contours as points one after another, each ending where `ends` says: flattened glyph
// outlines in device space, ready to be grown.
struct Contours {
  struct P {
    double x, y;
  };
  std::vector<P> pts;
  std::vector<size_t> ends;
  size_t begin = 0;

  void clear() { pts.clear(), ends.clear(), begin = 0; }
  static bool same(const P& a, const P& b) { return std::abs(a.x - b.x) <= 1e-6 && std::abs(a.y - b.y) <= 1e-6; }
  void add(double x, double y) {
    const P p{x, y};
    if (pts.size() == begin || !same(pts.back(), p)) pts.push_back(p);
  }
  void endContour() {
    // A closing point that repeats the first, like any repeated point, has no direction.
    while (pts.size() > begin + 1 && same(pts[begin], pts.back())) pts.pop_back();
    if (pts.size() - begin >= 3)
      ends.push_back(pts.size());
    else
      pts.resize(begin);
    begin = pts.size();
  }
};

// A glyph's outline under `m`, its curves cut into chords that stray from them by at most the
// tolerance (in device pixels, as cairo flattens). The number of chords per curve comes from
// the curve's second differences, which bound how far a chord can fall from it (Wang's
// formula), and the chords are stepped evenly along the curve. Doing this here rather than by
// placing the path in cairo and copying it flat saves building two cairo paths per glyph.
void flattenPlaced(const cairo_path_t& path, const cairo_matrix_t& m, double tolerance, Contours& out) {
  double cx = 0, cy = 0, sx = 0, sy = 0;
  auto map = [&](const cairo_path_data_t& d, double& x, double& y) {
    x = d.point.x, y = d.point.y;
    cairo_matrix_transform_point(&m, &x, &y);
  };
  for (int i = 0; i < path.num_data; i += path.data[i].header.length) {
    const cairo_path_data_t* d = &path.data[i];
    switch (d->header.type) {
      case CAIRO_PATH_MOVE_TO:
        out.endContour();
        map(d[1], cx, cy);
        sx = cx, sy = cy;
        out.add(cx, cy);
        break;
      case CAIRO_PATH_LINE_TO:
        map(d[1], cx, cy);
        out.add(cx, cy);
        break;
      case CAIRO_PATH_CURVE_TO: {
        double x1, y1, x2, y2, x3, y3;
        map(d[1], x1, y1), map(d[2], x2, y2), map(d[3], x3, y3);
        const double ddx = std::max(std::abs(cx - 2 * x1 + x2), std::abs(x1 - 2 * x2 + x3));
        const double ddy = std::max(std::abs(cy - 2 * y1 + y2), std::abs(y1 - 2 * y2 + y3));
        const double dd = std::sqrt(ddx * ddx + ddy * ddy);
        const int n = std::clamp(ceilOf(std::sqrt(0.75 * dd / tolerance)), 1, 1000);
        const double step = 1.0 / n;
        for (int k = 1; k < n; ++k) {
          const double t = k * step, u = 1 - t;
          const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, e = t * t * t;
          out.add(a * cx + b * x1 + c * x2 + e * x3, a * cy + b * y1 + c * y2 + e * y3);
        }
        cx = x3, cy = y3;
        out.add(cx, cy);
        break;
      }
      case CAIRO_PATH_CLOSE_PATH:
        out.endContour();
        cx = sx, cy = sy;
        break;
    }
  }
  out.endContour();
}

// The outline of a glyph grown by `radius` all round, as filling the glyph and then stroking its
// outline with round joins and twice the radius makes it, from the glyph's contours flattened
// to lines in device space. Each contour is moved out by the radius: at a vertex that turns
// away from the ink the moved edges are joined by an arc, at one that turns into the ink they
// meet at their crossing (or, where that is far, by way of the vertex itself). Filled with the
// non-zero rule, the result is the union of the glyph and the stroke: where moved contours run
// over each other the windings add up, and a counter narrower than the stroke closes. One fill
// of about as many line segments as the glyph has points, rather than a fill and a stroke.
void growOutline(const Contours& contours, double radius, double tolerance, FtOutline& out) {
  using P = Contours::P;
  const std::vector<P>& pts = contours.pts;
  const std::vector<size_t>& ends = contours.ends;
  // Which way round the ink's contours run: the outer ones enclose the most area.
  double area = 0;
  size_t begin = 0;
  for (size_t end : ends) {
    for (size_t i = begin; i < end; ++i) {
      const P& p = pts[i];
      const P& q = pts[i + 1 == end ? begin : i + 1];
      area += p.x * q.y - q.x * p.y;
    }
    begin = end;
  }
  // With positive area (counter-clockwise in a y-down space), the side away from the ink is
  // to the left of the direction of travel, which in y-down coordinates is (dy, -dx).
  const double side = area > 0 ? 1.0 : -1.0;
  // Arcs are cut into chords that fall short of the circle by at most the tolerance; a corner
  // is met at its mitre point only where that stands out by less than a tenth of a pixel.
  const double maxStep = 2 * std::acos(std::max(-1.0, 1 - tolerance / radius));
  // cos(turn / 2) >= mitreCos, as a bound on cos(turn) = 2 cos²(turn / 2) - 1.
  const double mitreCos = 1 / (1 + 0.1 / radius), mitreCosTurn = 2 * mitreCos * mitreCos - 1;
  const double concaveCosTurn = std::cos(0.5);
  auto add = [&](double x, double y) {
    out.points.push_back({std::lrint(x * 64), std::lrint(y * 64)});
    out.tags.push_back(FT_CURVE_TAG_ON);
  };
  thread_local std::vector<P> dirs;  // unit direction of the edge leaving each point
  begin = 0;
  for (size_t end : ends) {
    const P* c = &pts[begin];
    const size_t n = end - begin;
    begin = end;
    dirs.resize(n);
    for (size_t i = 0; i < n; ++i) {
      const P& v = c[i];
      const P& next = c[i + 1 == n ? 0 : i + 1];
      const double dx = next.x - v.x, dy = next.y - v.y, inv = 1 / std::sqrt(dx * dx + dy * dy);
      dirs[i] = {dx * inv, dy * inv};
    }
    const size_t start = out.points.size();
    for (size_t i = 0; i < n; ++i) {
      const P& v = c[i];
      const P& u = dirs[i == 0 ? n - 1 : i - 1];
      const P& w = dirs[i];
      // Outward normals of the edge arriving at v and of the one leaving it.
      const double n1x = side * u.y, n1y = -side * u.x, n2x = side * w.y, n2y = -side * w.x;
      const double turn = side * (u.x * w.y - u.y * w.x);  // > 0: turns away from the ink
      const double cosine = std::clamp(n1x * n2x + n1y * n2y, -1.0, 1.0);
      if (turn >= 0 ? cosine >= mitreCosTurn : cosine >= concaveCosTurn) {
        // A small turn: the moved edges cross close by, and that point is exact.
        const double k = radius / (1 + cosine);
        add(v.x + (n1x + n2x) * k, v.y + (n1y + n2y) * k);
      } else if (turn > 0) {
        const double angle = std::acos(cosine);
        const int steps = std::max(1, ceilOf(angle / maxStep));
        const double a0 = std::atan2(n1y, n1x);
        const double delta = std::atan2(n1x * n2y - n1y * n2x, cosine) / steps;
        for (int s = 0; s <= steps; ++s) add(v.x + radius * std::cos(a0 + s * delta), v.y + radius * std::sin(a0 + s * delta));
      } else {
        add(v.x + n1x * radius, v.y + n1y * radius);
        add(v.x, v.y);
        add(v.x + n2x * radius, v.y + n2y * radius);
      }
    }
    if (out.points.size() - start >= 3)
      out.contours.push_back(static_cast<short>(out.points.size() - 1));
    else
      out.points.resize(start), out.tags.resize(start);
  }
}

// Turns, scales uniformly and shifts, but does not shear or stretch: a round pen stays round.
bool similarity(const cairo_matrix_t& m) {
  const double a = m.xx * m.xx + m.yx * m.yx, b = m.xy * m.xy + m.yy * m.yy, dot = m.xx * m.xy + m.yx * m.yy;
  return a > 0 && std::abs(a - b) <= 1e-9 * a && std::abs(dot) <= 1e-9 * a;
}

}  // namespace

// Fills on a raster are computed here rather than by cairo's sampling scan converter, which took
// most of the drawing time on the many curved contours of CJK glyphs: glyphs by glyphByEdges,
// other paths (rings, frames, stars) by FreeType's area-coverage rasterizer, taking the path in
// device space from cairo so that placement and curve shapes are cairo's own. Either differs
// from cairo only by a few levels at edges. Vector output, clipped or non-opaque drawing keeps
// cairo's fill.
bool Painter::freeTypeTarget() {
  if (recorder_ || !ftLibrary()) return false;
  cairo_surface_t* target = cairo_get_target(cr_);
  if (cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE ||
      cairo_image_surface_get_format(target) != CAIRO_FORMAT_A8)
    return false;
  const cairo_operator_t op = cairo_get_operator(cr_);
  if (op != CAIRO_OPERATOR_OVER && op != CAIRO_OPERATOR_CLEAR) return false;
  double r, g, b, a = 0;
  if (op == CAIRO_OPERATOR_OVER &&
      cairo_pattern_get_rgba(cairo_get_source(cr_), &r, &g, &b, &a) != CAIRO_STATUS_SUCCESS)
    return false;
  if (op == CAIRO_OPERATOR_OVER && a < 1.0) return false;
  // A clip that is not the whole surface (or not a rectangle list at all) is cairo's to honour.
  // Its rectangles come in user space: read them in device pixels.
  cairo_matrix_t user;
  cairo_get_matrix(cr_, &user);
  cairo_identity_matrix(cr_);
  cairo_rectangle_list_t* clip = cairo_copy_clip_rectangle_list(cr_);
  cairo_set_matrix(cr_, &user);
  const bool unclipped = clip->status == CAIRO_STATUS_SUCCESS && clip->num_rectangles == 1 &&
                         clip->rectangles[0].x <= 0 && clip->rectangles[0].y <= 0 &&
                         clip->rectangles[0].width >= cairo_image_surface_get_width(target) &&
                         clip->rectangles[0].height >= cairo_image_surface_get_height(target);
  cairo_rectangle_list_destroy(clip);
  return unclipped;
}

bool Painter::fillByFreeType() {
  if (!freeTypeTarget()) return false;
  cairo_matrix_t user;
  cairo_get_matrix(cr_, &user);
  cairo_identity_matrix(cr_);
  PathPtr path(cairo_copy_path(cr_));
  cairo_set_matrix(cr_, &user);
  if (!path || path->status != CAIRO_STATUS_SUCCESS) return false;

  thread_local FtOutline outline;
  outline.clear();
  outline.append(*path, [](double x, double y) { return FT_Vector{std::lround(x * 64), std::lround(y * 64)}; });
  if (!outline.fits()) return false;
  cairo_new_path(cr_);
  return renderOutline(cr_, outline);
}

// Circles as polygons whose sides stay close to them, the corners pushed out so that each
// covers its circle's area, filled by edge sums. FreeType's rasterizer, given the four cubic
// arcs of a circle, cuts them into chords up to a quarter of a pixel inside the curve: a
// speckle of half a pixel's radius lost over a third of its area, and one of eight pixels
// 1.5 %. It also spent about a microsecond setting up for each of the few hundred speckles of
// an aged seal.
namespace {

bool circleOutline(const Circle* circles, size_t count, FtOutline& o) {
  o.clear();
  for (size_t i = 0; i < count; ++i) {
    const double x = circles[i].x, y = circles[i].y, r = circles[i].r;
    if (!(r > 0)) continue;
    // Sides short enough to fall within a twentieth of a pixel of the circle, which the push
    // out halves, and at least eight: most speckles are a pixel or two across.
    const int sides = std::clamp(ceilOf(kPi / std::acos(std::max(0.0, 1 - 0.05 / r))), 8, 512);
    const double step = 2 * kPi / sides;
    const double corner = r * std::sqrt(2 * kPi / (sides * std::sin(step)));
    const double c = std::cos(step), s = std::sin(step);
    double dx = corner * 64, dy = 0;
    const size_t first = o.points.size();
    o.points.resize(first + static_cast<size_t>(sides));
    o.tags.resize(first + static_cast<size_t>(sides), FT_CURVE_TAG_ON);
    FT_Vector* p = o.points.data() + first;
    for (int k = 0; k < sides; ++k) {
      p[k] = {std::lrint(x * 64 + dx), std::lrint(y * 64 + dy)};
      const double nx = dx * c - dy * s;
      dy = dx * s + dy * c, dx = nx;
    }
    o.contours.push_back(static_cast<short>(o.points.size() - 1));
    if (!o.fits()) return false;
  }
  return true;
}

}  // namespace

bool circleCoverage(const Circle* circles, size_t count, int width, int height, RowFn row, void* user) {
  thread_local FtOutline o;
  if (!circleOutline(circles, count, o)) return false;
  return coverEdges(o, width, height, kMostCircleCells,
                    [&](int y, int x, const uint8_t* cover, int n) { row(y, x, cover, n, user); });
}

void Painter::fillGlyph(const Glyph& g, double x, double y, double angle, double sx, double sy, double ax,
                        double ay) {
  if (g.found && glyphByEdges(g, x, y, angle, sx, sy, ax, ay)) return;
  place(g, x, y, angle, sx, sy, ax, ay);
  fillMarks();
}

// A glyph on a raster straight from its outline: flattened under its placement, grown when
// emboldened (see growOutline), and filled once by fillEdges. Its curves are cut finer when it
// is filled as it is, for they were FreeType's own curves before and the eye sees its edges.
bool Painter::glyphByEdges(const Glyph& g, double x, double y, double angle, double sx, double sy, double ax,
                           double ay) {
  if (!freeTypeTarget()) return false;
  cairo_matrix_t m;
  cairo_get_matrix(cr_, &m);
  double radius = 0;
  if (emboldenMm > 0) {
    // The stroke's pen is round in millimetres; it stays round on the raster only under a
    // transformation that does not stretch.
    if (!similarity(m)) return false;
    radius = emboldenMm / 2 * std::sqrt(std::abs(m.xx * m.yy - m.xy * m.yx));
  }
  // The placement of place(), as one matrix from glyph units to device pixels.
  cairo_matrix_t toDevice = m;
  cairo_matrix_translate(&toDevice, x, y);
  cairo_matrix_rotate(&toDevice, angle);
  cairo_matrix_scale(&toDevice, sx, sy);
  cairo_matrix_translate(&toDevice, -ax, -ay);
  const double tolerance = cairo_get_tolerance(cr_);
  thread_local Contours flat;
  flat.clear();
  flattenPlaced(*g.outline, toDevice, radius > 0 ? tolerance : std::min(tolerance, kPlainGlyphTolerance), flat);
  thread_local FtOutline edges;
  edges.clear();
  if (radius > 0) {
    growOutline(flat, radius, tolerance, edges);
  } else {
    size_t begin = 0;
    for (size_t end : flat.ends) {
      for (size_t i = begin; i < end; ++i) {
        edges.points.push_back({std::lrint(flat.pts[i].x * 64), std::lrint(flat.pts[i].y * 64)});
        edges.tags.push_back(FT_CURVE_TAG_ON);
      }
      edges.contours.push_back(static_cast<short>(edges.points.size() - 1));
      begin = end;
    }
  }
  if (!edges.fits()) {
    place(g, x, y, angle, sx, sy, ax, ay);
    fillMarks();
    return true;
  }
  // FreeType fails only when it runs out of memory: the glyph is then missing.
  if (!fillEdges(cr_, edges)) renderOutline(cr_, edges);
  return true;
}

void Painter::drawChar(char32_t c, const GlyphBox& box) {
  if (text::isSpace(c)) return;
  Glyph g = shape(c);
  if (!g.found) {
    // No face has the character: mark its place with a square rather than dropping it.
    cairo_save(cr_);
    cairo_translate(cr_, box.cx, box.cy);
    cairo_rotate(cr_, box.angle);
    cairo_rectangle(cr_, -box.w * 0.35, -box.h * 0.35, box.w * 0.7, box.h * 0.7);
    cairo_restore(cr_);
    cairo_set_line_width(cr_, std::min(box.w, box.h) * 0.08);
    stroke();
    return;
  }
  const cairo_text_extents_t& ext = g.ext;
  if (ext.width <= 0 || ext.height <= 0) return;
  double sx, sy;
  if (box.fit == Fit::Em) {
    sx = box.w / 100.0;
    sy = box.h / 100.0;
  } else {
    // Fill the box with the ink, but never stretch more than 45% beyond the em proportions.
    sx = std::min(box.w / ext.width, box.w / 100.0 * 1.45);
    sy = std::min(box.h / ext.height, box.h / 100.0 * 1.45);
    double uniform = std::min(sx, sy);
    sx = std::min(sx, uniform * 1.6);
    sy = std::min(sy, uniform * 1.6);
  }
  fillGlyph(g, box.cx, box.cy, box.angle, sx, sy, ext.x_bearing + ext.width / 2, ext.y_bearing + ext.height / 2);
}

void Painter::star(double cx, double cy, double outerR) {
  const double innerR = outerR * 0.381966;  // regular five-pointed star
  for (int i = 0; i < 10; ++i) {
    double r = (i % 2 == 0) ? outerR : innerR;
    double a = -kPi / 2 + i * kPi / 5;
    double x = cx + r * std::cos(a), y = cy + r * std::sin(a);
    if (i == 0)
      cairo_move_to(cr_, x, y);
    else
      cairo_line_to(cr_, x, y);
  }
  cairo_close_path(cr_);
  fill();
}

void Painter::ellipsePath(double cx, double cy, double a, double b) {
  cairo_save(cr_);
  cairo_translate(cr_, cx, cy);
  cairo_scale(cr_, a, b);
  cairo_new_sub_path(cr_);
  cairo_arc(cr_, 0, 0, 1, 0, 2 * kPi);
  cairo_restore(cr_);
}

void Painter::roundedRectPath(double x, double y, double w, double h, double r) {
  r = std::min({r, w / 2, h / 2});
  cairo_new_sub_path(cr_);
  cairo_arc(cr_, x + w - r, y + r, r, -kPi / 2, 0);
  cairo_arc(cr_, x + w - r, y + h - r, r, 0, kPi / 2);
  cairo_arc(cr_, x + r, y + h - r, r, kPi / 2, kPi);
  cairo_arc(cr_, x + r, y + r, r, kPi, 3 * kPi / 2);
  cairo_close_path(cr_);
}

StampText splitStampText(const StampStyle& style, std::u32string_view text) {
  StampText t{std::u32string(text), {}};
  if (style.bottom == Bottom::Text && (style.shape == Shape::Round || style.shape == Shape::Oval)) {
    size_t bar = t.body.find(U'|');
    if (bar != std::u32string::npos) {
      t.horizontal = t.body.substr(bar + 1);
      t.body = t.body.substr(0, bar);
    } else {
      t.horizontal = style.bottomLine.empty() ? U"专用章" : style.bottomLine;
    }
  }
  return t;
}

double emboldenMm(const FontSet& fonts, const StampStyle& style) {
  // Kai strokes are thin next to carved or printed seal text; give them body. A face chosen
  // by a design is drawn at the weight chosen with it.
  if (style.face >= 0) return 0.0;
  if (style.script == Script::Kai || (style.script == Script::Zhuan && !fonts.hasOwnFace(Script::Zhuan))) {
    ShapeMm mm = styleMm(style);
    return 0.12 * std::min(mm.w, mm.h) / 20.0;
  }
  return 0.0;
}

void drawShape(Painter& p, const StampText& text, Layer layer) {
  switch (p.style().shape) {
    case Shape::Round:
    case Shape::Oval:
      if (p.style().layout)
        drawEllipseDesign(p, text.body, layer);
      else
        drawEllipseSeal(p, text.body, text.horizontal, layer);
      break;
    case Shape::Square:
    case Shape::Rect: drawFrameSeal(p, text.body); break;
    case Shape::Long: drawLongSeal(p, text.body); break;
    case Shape::Cloud: drawCloudSeal(p, text.body, layer); break;
  }
}

BorderMm borderMm(Border b, double scale) {
  switch (b) {
    case Border::Single: return {1.2 * scale, 0, 0};
    case Border::Double: return {1.1 * scale, 0.6 * scale, 0.35 * scale};
    case Border::Thick: return {1.8 * scale, 0, 0};
    case Border::Thin: return {0.6 * scale, 0, 0};
    case Border::None: return {0, 0, 0};
  }
  return {1.2 * scale, 0, 0};
}

BorderMm designBorder(const StampStyle& style, BorderMm bd, double scale) {
  if (!style.layout) return bd;
  const DesignLayout& l = *style.layout;
  if (l.borderMm >= 0) bd.outer = l.borderMm;
  if (l.innerRingMm >= 0) {
    if (bd.inner <= 0 && l.innerRingMm > 0) bd.gap = 0.6 * scale;
    bd.inner = l.innerRingMm;
  }
  if (l.innerGapMm >= 0 && bd.inner > 0) bd.gap = l.innerGapMm;
  if (bd.inner <= 0) bd.inner = 0, bd.gap = 0;
  return bd;
}

}  // namespace tambrel::draw
