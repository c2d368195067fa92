// The network side of the stamp service: Boost.Beast HTTP/1.1 over one io_context run by one
// thread per core. Each connection reads a request header under a size limit and a time-out
// (408 when a request had begun and its header did not complete in time; an idle connection is
// closed without a word), hands method and target to the Site, writes
// the answer and keeps the connection open when the client asks for it. Bodies are sent from
// the service's shared buffer (the picture cache), never copied per connection, so a response
// in progress holds its header and a reference, whatever the picture's size.
//
// stop() closes the listening socket and ends connections that wait with nothing received;
// every request already received (pipelined, or in the socket) is answered and every response
// being written is finished, for up to the grace period; then run() returns.
//
// When the process runs out of file descriptors, accepting pauses (and says so once on stderr)
// while the connections it has are served; it resumes as they close.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

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
  size_t accessLogBuffer = 1u << 20;  // bytes of log lines waiting for a slow sink before lines are dropped
};

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
  // Log rotation: further access log lines go to a newly opened `path`.
  bool reopenAccessLog(const std::string& path, std::string* error);
  // Access log lines dropped because the sink was too slow.
  unsigned long long accessLogDropped() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Splits "host:port"; false for a missing or bad port.
bool splitHostPort(const std::string& hostPort, std::string* host, unsigned short* port);

}  // namespace tambrel
