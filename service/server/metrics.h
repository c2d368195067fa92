// What operators watch, counted as requests go and written on GET /metrics in the Prometheus
// text format (version 0.0.4): requests by route and status, latency histograms per route,
// the render pool (depth, wait, refusals, drops), the picture cache, open connections and the
// lines the logs had to drop. Counting is a few relaxed atomic additions per request.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace tambrel {

enum class Route {
  Page, Templates, Download, Generate, Stamp, Thumbnail, Update, Health, Metrics, Design, Glyphs, Designer, Other, Count
};
// The route of a request path (the target without its query).
Route routeOf(std::string_view path);
const char* routeName(Route r);

// A latency histogram with fixed buckets (seconds).
class Histogram {
 public:
  static constexpr std::array<double, 14> kBounds = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.02, 0.05,
                                                      0.1,    0.25,  0.5,    1,     2.5,  5,    10};
  void observe(std::chrono::steady_clock::duration d);
  // Lines "<name>_bucket{<labels>le=...} n", _sum and _count; labels end with a comma or are empty.
  void write(std::string& out, std::string_view name, std::string_view labels) const;

 private:
  std::array<std::atomic<uint64_t>, kBounds.size() + 1> buckets_{};
  std::atomic<uint64_t> count_{0};
  std::atomic<uint64_t> sumMicros_{0};
};

class Metrics {
 public:
  void request(Route route, int status, std::chrono::steady_clock::duration took);
  void renderWait(std::chrono::steady_clock::duration d) { renderWait_.observe(d); }

  std::atomic<long> openConnections{0};
  std::atomic<uint64_t> renderRefused{0};   // 503: the render queue (or the client's share) was full
  std::atomic<uint64_t> renderDropped{0};   // client gone or deadline passed before the work started
  std::atomic<uint64_t> renderExpired{0};   // of those, answered 503 because the deadline passed

  // Everything counted here, then the gauges and counters the server reads from elsewhere.
  struct Outside {
    size_t renderQueued = 0, renderQueueLimit = 0;
    int renderThreads = 0;
    unsigned long long cacheHits = 0, cacheMisses = 0;
    size_t cacheBytes = 0, cacheCapacity = 0, cacheEntries = 0;
    unsigned long long accessLogDropped = 0, accessLogWriteErrors = 0, diagnosticsDropped = 0;
  };
  std::string text(const Outside& o) const;

 private:
  static constexpr int kStatuses = 600;
  std::array<std::array<std::atomic<uint64_t>, kStatuses>, static_cast<size_t>(Route::Count)> requests_{};
  std::array<Histogram, static_cast<size_t>(Route::Count)> latency_;
  Histogram renderWait_;
};

}  // namespace tambrel
