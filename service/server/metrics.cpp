// Metrics; see metrics.h.
#include "server/metrics.h"

#include <cstdio>
#include <iterator>
#include <fstream>
#include <unistd.h>

namespace tambrel {

Route routeOf(std::string_view path) {
  if (path == "/" || path == "/index.html" || path == "/maker.js" || path == "/maker.css") return Route::Page;
  if (path == "/templates.json") return Route::Templates;
  if (path == "/download" || path.starts_with("/download/")) return Route::Download;
  if (path == "/aosbegin.php") return Route::Generate;
  if (path.starts_with("/stamp/")) return Route::Stamp;
  if (path.starts_with("/maker/thumbnails/")) return Route::Thumbnail;
  if (path == "/check/md5.php") return Route::Update;
  if (path == "/healthz") return Route::Health;
  if (path == "/metrics") return Route::Metrics;
  // The design endpoints (pictures, checks, fonts, templates as designs, and what is not found
  // under /design) apart from the stamps', and the designer page apart from the maker's.
  if (path.starts_with("/design.") || path == "/design" || path.starts_with("/design/")) return Route::Design;
  if (path == "/glyphs") return Route::Glyphs;
  if (path == "/designer.html" || path == "/designer.js" || path == "/designer.css") return Route::Designer;
  return Route::Other;
}

const char* routeName(Route r) {
  static const char* const kNames[] = {"page",    "templates", "download", "generate", "stamp",
                                       "thumbnail", "update",  "healthz",  "metrics",  "design",
                                       "glyphs",  "designer",  "other"};
  static_assert(std::size(kNames) == static_cast<size_t>(Route::Count));
  return kNames[static_cast<size_t>(r)];
}

void Histogram::observe(std::chrono::steady_clock::duration d) {
  double s = std::chrono::duration<double>(d).count();
  size_t i = 0;
  while (i < kBounds.size() && s > kBounds[i]) ++i;
  buckets_[i].fetch_add(1, std::memory_order_relaxed);
  count_.fetch_add(1, std::memory_order_relaxed);
  sumMicros_.fetch_add(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(d).count()),
                       std::memory_order_relaxed);
}

namespace {

void line(std::string& out, std::string_view name, std::string_view labels, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", value);
  out += name;
  if (!labels.empty()) {
    out += '{';
    out += labels;
    out += '}';
  }
  out += ' ';
  out += buf;
  out += '\n';
}

void header(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

std::string withoutTrailingComma(std::string_view labels) {
  if (!labels.empty() && labels.back() == ',') labels.remove_suffix(1);
  return std::string(labels);
}

size_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

void Histogram::write(std::string& out, std::string_view name, std::string_view labels) const {
  uint64_t cumulative = 0;
  std::string bucket = std::string(name) + "_bucket";
  for (size_t i = 0; i <= kBounds.size(); ++i) {
    cumulative += buckets_[i].load(std::memory_order_relaxed);
    char le[32];
    if (i < kBounds.size())
      std::snprintf(le, sizeof le, "le=\"%g\"", kBounds[i]);
    else
      std::snprintf(le, sizeof le, "le=\"+Inf\"");
    line(out, bucket, std::string(labels) + le, static_cast<double>(cumulative));
  }
  line(out, std::string(name) + "_sum", withoutTrailingComma(labels),
       static_cast<double>(sumMicros_.load(std::memory_order_relaxed)) / 1e6);
  line(out, std::string(name) + "_count", withoutTrailingComma(labels),
       static_cast<double>(count_.load(std::memory_order_relaxed)));
}

void Metrics::request(Route route, int status, std::chrono::steady_clock::duration took) {
  size_t r = static_cast<size_t>(route);
  if (status < 0 || status >= kStatuses) status = 0;
  requests_[r][static_cast<size_t>(status)].fetch_add(1, std::memory_order_relaxed);
  latency_[r].observe(took);
}

std::string Metrics::text(const Outside& o) const {
  std::string out;
  out.reserve(16384);
  header(out, "stampd_requests_total", "counter", "Requests answered, by route and HTTP status.");
  for (size_t r = 0; r < requests_.size(); ++r)
    for (int s = 0; s < kStatuses; ++s)
      if (uint64_t n = requests_[r][static_cast<size_t>(s)].load(std::memory_order_relaxed))
        line(out, "stampd_requests_total",
             std::string("route=\"") + routeName(static_cast<Route>(r)) + "\",status=\"" + std::to_string(s) + "\"",
             static_cast<double>(n));
  header(out, "stampd_request_duration_seconds", "histogram",
         "Time from a complete request header to the answer handed to the connection, by route.");
  for (size_t r = 0; r < latency_.size(); ++r)
    latency_[r].write(out, "stampd_request_duration_seconds",
                      std::string("route=\"") + routeName(static_cast<Route>(r)) + "\",");
  header(out, "stampd_render_queue_depth", "gauge", "Costly jobs (renders) waiting for a render thread.");
  line(out, "stampd_render_queue_depth", "", static_cast<double>(o.renderQueued));
  header(out, "stampd_render_queue_limit", "gauge", "Jobs the render queue holds before it answers 503.");
  line(out, "stampd_render_queue_limit", "", static_cast<double>(o.renderQueueLimit));
  header(out, "stampd_render_threads", "gauge", "Threads that render.");
  line(out, "stampd_render_threads", "", o.renderThreads);
  header(out, "stampd_render_wait_seconds", "histogram", "Time a render waited in the queue before it started.");
  renderWait_.write(out, "stampd_render_wait_seconds", "");
  header(out, "stampd_render_rejected_total", "counter",
         "Renders refused with 503 because the queue or the client's share of it was full.");
  line(out, "stampd_render_rejected_total", "", static_cast<double>(renderRefused.load()));
  header(out, "stampd_render_dropped_total", "counter",
         "Renders dropped before they started: the client had gone or its deadline had passed.");
  line(out, "stampd_render_dropped_total", "", static_cast<double>(renderDropped.load()));
  header(out, "stampd_render_expired_total", "counter",
         "Of the dropped renders, those whose deadline (--timeout-ms) passed in the queue; answered 503.");
  line(out, "stampd_render_expired_total", "", static_cast<double>(renderExpired.load()));
  header(out, "stampd_cache_hits_total", "counter", "Picture cache look-ups that found the picture.");
  line(out, "stampd_cache_hits_total", "", static_cast<double>(o.cacheHits));
  header(out, "stampd_cache_misses_total", "counter", "Picture cache look-ups that had to render.");
  line(out, "stampd_cache_misses_total", "", static_cast<double>(o.cacheMisses));
  header(out, "stampd_cache_bytes", "gauge", "Bytes held by the picture cache.");
  line(out, "stampd_cache_bytes", "", static_cast<double>(o.cacheBytes));
  header(out, "stampd_cache_capacity_bytes", "gauge", "The picture cache's limit (--cache-mb).");
  line(out, "stampd_cache_capacity_bytes", "", static_cast<double>(o.cacheCapacity));
  header(out, "stampd_cache_entries", "gauge", "Pictures in the cache.");
  line(out, "stampd_cache_entries", "", static_cast<double>(o.cacheEntries));
  header(out, "stampd_open_connections", "gauge", "Client connections open.");
  line(out, "stampd_open_connections", "", static_cast<double>(openConnections.load()));
  header(out, "stampd_access_log_dropped_lines_total", "counter",
         "Access log lines dropped because the sink was too slow or failed.");
  line(out, "stampd_access_log_dropped_lines_total", "", static_cast<double>(o.accessLogDropped));
  header(out, "stampd_access_log_write_errors_total", "counter",
         "Failed writes to the access log (disk full, file too large, broken pipe).");
  line(out, "stampd_access_log_write_errors_total", "", static_cast<double>(o.accessLogWriteErrors));
  header(out, "stampd_diagnostics_dropped_total", "counter",
         "Lines for stderr dropped because stderr was not taking them.");
  line(out, "stampd_diagnostics_dropped_total", "", static_cast<double>(o.diagnosticsDropped));
  header(out, "process_resident_memory_bytes", "gauge", "Resident memory of the process.");
  line(out, "process_resident_memory_bytes", "", static_cast<double>(residentBytes()));
  return out;
}

}  // namespace tambrel
