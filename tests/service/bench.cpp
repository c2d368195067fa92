// Render + encode figures per shape and size, and the whole generation round trip through the
// request handler (reply + picture) with a cold and a warm cache. Reports figures only.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/fonts.h"
#include "design/design.h"
#include "design/design_service.h"
#include "draw/render.h"
#include "draw/vector.h"
#include "encode/encode.h"
#include "stamps/stamp_service.h"
#include "text/text.h"

namespace {

using namespace tambrel;

const FontSet& fonts() {
  static std::unique_ptr<FontSet> set = FontSet::load({}, nullptr);
  return *set;
}

// One representative template per shape.
const Template& templateFor(Shape shape) {
  static const int ids[] = {365, 359, 366, 361, 356, 124};
  for (int id : ids) {
    const Template* t = Catalog::builtIn().byId(id);
    if (t && t->style.shape == shape) return *t;
  }
  for (const Template& t : Catalog::builtIn().all())
    if (t.style.shape == shape) return t;
  return Catalog::builtIn().all().front();
}

void RenderEncode(benchmark::State& state) {
  const Shape shape = static_cast<Shape>(state.range(0));
  const int size = static_cast<int>(state.range(1));
  const Template& t = templateFor(shape);
  std::u32string sample = *text::decodeUtf8(t.style.sample);
  size_t bytes = 0;
  for (auto _ : state) {
    Raster r = renderStamp(fonts(), t.style, sample, size);
    std::string png = encodePng(r, t.style.color);
    bytes = png.size();
    benchmark::DoNotOptimize(png.data());
  }
  state.SetLabel("template " + std::to_string(t.id) + ", " + std::to_string(bytes) + " bytes");
}

// The same stamp as SVG or PDF (format 1, 2), beside the PNG (format 0) at the same pixel size:
// the vectors do not depend on it, so px only labels the row they are compared with.
void RenderFormat(benchmark::State& state) {
  const Shape shape = static_cast<Shape>(state.range(0));
  const int size = static_cast<int>(state.range(1));
  const int format = static_cast<int>(state.range(2));
  const Template& t = templateFor(shape);
  std::u32string sample = *text::decodeUtf8(t.style.sample);
  size_t bytes = 0;
  for (auto _ : state) {
    std::string out = format == 0 ? encodePng(renderStamp(fonts(), t.style, sample, size), t.style.color, true)
                                  : renderStampVector(fonts(), t.style, sample,
                                                      format == 1 ? VectorFormat::Svg : VectorFormat::Pdf);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel("template " + std::to_string(t.id) + ", " + (format == 0 ? "png" : format == 1 ? "svg" : "pdf") +
                 ", " + std::to_string(bytes) + " bytes");
}

void RenderOnly(benchmark::State& state) {
  const Template& t = templateFor(Shape::Round);
  std::u32string sample = *text::decodeUtf8(t.style.sample);
  for (auto _ : state) benchmark::DoNotOptimize(renderStamp(fonts(), t.style, sample, 300).alpha.data());
}

// The PNG encoding alone, of a plain round seal (template 0) and of an aged square one, whose
// ink noise makes nearly every pixel a literal of its own (template 353).
void EncodeOnly(benchmark::State& state) {
  const Template& t = state.range(0) ? *Catalog::builtIn().byId(static_cast<int>(state.range(0))) : templateFor(Shape::Round);
  Raster r = renderStamp(fonts(), t.style, *text::decodeUtf8(t.style.sample), static_cast<int>(state.range(1)));
  size_t bytes = 0;
  for (auto _ : state) {
    std::string png = encodePng(r, t.style.color);
    bytes = png.size();
    benchmark::DoNotOptimize(png.data());
  }
  state.SetLabel(std::to_string(bytes) + " bytes");
}

// One template by id with its sample text: the slowest ones of the catalogue, for profiling.
// Drawing the same picture thousands of times over trains the branch predictors on it, and the
// figures come out up to a third under that template's in Catalogue below, where 280 others run
// between two of its renders as they do in service; the targets are read from Catalogue.
void OneTemplate(benchmark::State& state) {
  const Template& t = *Catalog::builtIn().byId(static_cast<int>(state.range(0)));
  const int size = static_cast<int>(state.range(1));
  std::u32string sample = *text::decodeUtf8(t.style.sample);
  for (auto _ : state)
    benchmark::DoNotOptimize(encodePng(renderStamp(fonts(), t.style, sample, size), t.style.color).data());
}

// Every template of the catalogue, rendered and encoded with its sample text: each iteration
// draws all 281 once, and each template's time is the median over the iterations. Reported as
// the slowest (and which), the 95th percentile and the median over templates, in ms.
void Catalogue(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  const auto& all = Catalog::builtIn().all();
  std::vector<std::u32string> samples;
  for (const Template& t : all) samples.push_back(*text::decodeUtf8(t.style.sample));
  std::vector<std::vector<double>> times(all.size());
  for (auto _ : state) {
    for (size_t i = 0; i < all.size(); ++i) {
      auto start = std::chrono::steady_clock::now();
      std::string png = encodePng(renderStamp(fonts(), all[i].style, samples[i], size), all[i].style.color);
      benchmark::DoNotOptimize(png.data());
      times[i].push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
  }
  std::vector<std::pair<double, int>> medians;
  std::pair<double, int> slowestUnaged{0, 0};
  for (size_t i = 0; i < all.size(); ++i) {
    auto& t = times[i];
    std::nth_element(t.begin(), t.begin() + t.size() / 2, t.end());
    medians.emplace_back(t[t.size() / 2], all[i].id);
    if (!all[i].style.aged) slowestUnaged = std::max(slowestUnaged, medians.back());
  }
  std::sort(medians.begin(), medians.end());
  // STAMPD_BENCH_LIST=1 lists every template's median, slowest last, to find what to work on.
  if (std::getenv("STAMPD_BENCH_LIST"))
    for (const auto& [ms, id] : medians) {
      const StampStyle& style = Catalog::builtIn().byId(id)->style;
      std::fprintf(stderr, "template %d  shape %d%s  %.3f ms\n", id, static_cast<int>(style.shape),
                   style.aged ? "  aged" : "", ms);
    }
  const auto at = [&](double q) { return medians[std::min(medians.size() - 1, static_cast<size_t>(q * medians.size()))]; };
  state.counters["slowest_ms"] = medians.back().first;
  state.counters["p95_ms"] = at(0.95).first;
  state.counters["median_ms"] = at(0.5).first;
  // The aged look's ink noise makes every pixel its own level, so its PNG is mostly literals.
  state.counters["slowest_unaged_ms"] = slowestUnaged.first;
  state.SetLabel("slowest unaged: " + std::to_string(slowestUnaged.second) + "; slowest: template " +
                 std::to_string(medians.back().second) + "; next " +
                 std::to_string(medians[medians.size() - 2].second) + " " +
                 std::to_string(medians[medians.size() - 2].first).substr(0, 5) + " ms, " +
                 std::to_string(medians[medians.size() - 3].second) + " " +
                 std::to_string(medians[medians.size() - 3].first).substr(0, 5) + " ms");
}

// Reply + picture with a new text each time (nothing cached), as a user's first generation.
void GenerationRoundTrip(benchmark::State& state) {
  ServiceOptions o;
  o.cacheBytes = 64u << 20;
  StampService service(Catalog::builtIn(), fonts(), o);
  static std::atomic<int> counter{0};
  for (auto _ : state) {
    int n = counter++;
    std::string text = "%E5%A4%A9%E5%AE%9D" + std::to_string(n % 100000);
    Response reply = service.handle("GET", "/aosbegin.php?text=" + text + "&id=365&signsize=0&rnd=0.3");
    const std::string& body = *reply.body;
    size_t a = body.find("<outputimg>.") + 12, b = body.find("</outputimg>");
    Response picture = service.handle("GET", body.substr(a, b - a));
    benchmark::DoNotOptimize(picture.body->data());
  }
}

// A company seal of the user's own design at 300 px: ring text, star, two horizontal lines and
// a bottom code, drawn and encoded as the design endpoint does (no cache). Its ring and star are
// drawn with it each time: a design's layout is not shared between requests.
void DesignRenderEncode(benchmark::State& state) {
  const std::string query = "v=1&shape=round&t=" + text::percentEncode("天宝印章制作有限公司") + "&c=star&l1=" +
                            text::percentEncode("合同专用章") + "&l2=" + text::percentEncode("第一分部") +
                            "&k=1234567890123&a=" + std::to_string(state.range(0));
  design::Parsed p = design::parseQuery(query);
  size_t bytes = 0;
  for (auto _ : state) {
    std::string png = renderDesign(fonts(), *p.design, "png", 300);
    bytes = png.size();
    benchmark::DoNotOptimize(png.data());
  }
  state.SetLabel(std::to_string(bytes) + " bytes");
}

// Parsing and checking the query, and writing the canonical key, per request.
void DesignParse(benchmark::State& state) {
  const std::string query = "v=1&shape=round&t=" + text::percentEncode("天宝印章制作有限公司") + "&c=star&l1=" +
                            text::percentEncode("合同专用章") + "&l2=" + text::percentEncode("第一分部") + "&k=1234567890123";
  for (auto _ : state) {
    design::Parsed p = design::parseQuery(query);
    benchmark::DoNotOptimize(design::toQuery(*p.design).data());
  }
}

}  // namespace

BENCHMARK(DesignRenderEncode)->ArgName("aged")->Arg(0)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(DesignParse)->Unit(benchmark::kMicrosecond);
BENCHMARK(RenderEncode)
    ->ArgNames({"shape", "px"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {300, 1000}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RenderFormat)
    ->ArgNames({"shape", "px", "format"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {300, 1000}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OneTemplate)
    ->ArgNames({"id", "px"})
    ->ArgsProduct({{296, 306, 353, 357, 363}, {300, 1000}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Catalogue)->ArgNames({"px"})->Arg(300)->Arg(1000)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(RenderOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(EncodeOnly)->ArgNames({"id", "px"})->ArgsProduct({{0, 353}, {300, 1000}})->Unit(benchmark::kMillisecond);
BENCHMARK(GenerationRoundTrip)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
