// The network side of the stamp service: Boost.Beast HTTP/1.1 over one io_context run by one
// thread per core. Each connection reads a request header under a size limit and a time-out
// (408 when a request had begun and its header did not complete in time; an idle connection is
// closed without a word), hands method and target to the Site, writes the answer and keeps the
// connection open when the client asks for it. Bodies are sent from the service's shared buffer
// (the picture cache) or, for downloads, read from their file a piece at a time, never copied
// whole per connection. A write times out when the client takes nothing for the time-out, not
// when a large answer simply takes long.
//
// These threads never render: an answer that needs rendering comes back from the Site deferred
// and runs on the render pool (render_pool.h), a bounded queue shared fairly between clients;
// when it is full the answer is 503 with Retry-After at once.
//
// stop() takes the connections already waiting in the listening socket's queue, then closes
// it; every request already received (pipelined, in the socket, or arriving within a short
// moment on a connection that was idle) is answered and every response being written is
// finished, for up to the grace period; then run() returns. stopNow() ends that grace at once.
//
// When the process runs out of file descriptors, accepting pauses (and says so once on stderr)
// while the connections it has are served; it resumes as they close.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "server/client_address.h"
#include "web/site.h"

namespace tambrel {

struct ServerOptions {
  std::string address = "127.0.0.1";
  unsigned short port = 8077;  // 0: any free port (tests)
  int threads = 0;             // 0: one per core
  std::chrono::milliseconds timeout{15000};      // per read or write on a connection
  std::chrono::milliseconds stopGrace{5000};     // how long stop() waits for requests in flight
  size_t headerLimit = 8192;   // bytes of request line and headers together
  std::FILE* accessLog = stdout;  // null: no access log; written by its own thread (access_log.h)
  bool accessLogOwned = false;    // the log's descriptor is closed when SIGHUP replaces it
  size_t accessLogBuffer = 1u << 20;  // bytes of log lines waiting for a slow sink before lines are dropped
  int listenFd = -1;  // a listening socket handed over (socket activation); address and port unused
  int renderThreads = 0;          // 0: one per core, at most kMaxDefaultRenderThreads
  size_t renderQueue = 128;       // renders waiting before 503
  size_t renderQueuePerClient = 64;  // of which one client address may hold
  std::chrono::milliseconds stopIdle{1000};  // at a stop, how long an idle connection may still send a request
  // Peers whose X-Forwarded-For names the client (--trusted-proxy); see client_address.h.
  TrustedProxies trustedProxies;
  // Tests: runs on the render thread just before each render, so a test can hold the pool busy.
  std::function<void()> beforeRender;
};

// Without --render-threads: one render thread per core up to this many. Each render thread
// keeps its own glyph outlines and scratch rasters (bounded per thread), so the count is part
// of the memory bound the start-up check applies.
constexpr int kMaxDefaultRenderThreads = 8;
int defaultRenderThreads();

class HttpServer {
 public:
  HttpServer(Site& site, ServerOptions options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and listens; false and a message when the address cannot be used.
  bool listen(std::string* error);
  unsigned short port() const;
  // Serves until stop(); blocks the calling thread, which is one of the workers.
  void run();
  // Safe from any thread, also before run() starts or after it returned.
  void stop();
  // A second stop request: ends the grace period now, cutting what is still going on.
  void stopNow();
  // The Prometheus text of GET /metrics.
  std::string metricsText() const;
  int renderThreads() const;
  // Log rotation: further access log lines go to a newly opened `path`.
  bool reopenAccessLog(const std::string& path, std::string* error);
  // Access log lines dropped because the sink was too slow or a write failed.
  unsigned long long accessLogDropped() const;
  unsigned long long accessLogWriteErrors() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Splits "host:port"; false for a missing or bad port.
bool splitHostPort(const std::string& hostPort, std::string* host, unsigned short* port);

}  // namespace tambrel
