// The network side of the stamp service: Boost.Beast HTTP/1.1 over one io_context run by one
// thread per core. Each connection reads a request header under a size limit and a time-out,
// hands method and target to StampService, writes the answer and keeps the connection open
// when the client asks for it. stop() closes the listening socket, lets requests in flight
// finish (for up to a grace period) and then returns from run().
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "stamp_service.h"

namespace tambrel {

struct ServerOptions {
  std::string address = "127.0.0.1";
  unsigned short port = 8077;  // 0: any free port (tests)
  int threads = 0;             // 0: one per core
  std::chrono::milliseconds timeout{15000};      // per read or write on a connection
  std::chrono::milliseconds stopGrace{5000};     // how long stop() waits for requests in flight
  size_t headerLimit = 8192;   // bytes of request line and headers together
  std::FILE* accessLog = stdout;  // null: no access log
};

class HttpServer {
 public:
  HttpServer(StampService& service, ServerOptions options);
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

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Splits "host:port"; false for a missing or bad port.
bool splitHostPort(const std::string& hostPort, std::string* host, unsigned short* port);

}  // namespace tambrel
