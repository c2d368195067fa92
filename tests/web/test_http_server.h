// A small HTTP/1.1 server for the tests, on 127.0.0.1 at a free port, inside the test process
// (Winsock on a thread): the request routine under test talks to it over real sockets. Each
// connection reads one request, asks the handler for the raw reply bytes and closes. A handler
// may ask never to answer: the connection is then held open, unanswered, until the server
// stops. Every request is recorded for the test to inspect.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tambrel::test {

struct HttpRequest {
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // The first header of that name (any letter case), or "" when absent.
  std::string header(const std::string& name) const;
  bool has_header(const std::string& name) const;
};

struct HttpReply {
  std::string raw;            // status line, headers, blank line and body, as sent
  bool never_answer = false;  // hold the connection open without a byte
};

// A complete reply with Content-Length and "Connection: close".
HttpReply http_reply(int status, const std::string& reason, const std::vector<std::string>& headers,
                     const std::string& body);

class TestHttpServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequest&)>;
  explicit TestHttpServer(Handler handler);
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;
  ~TestHttpServer();

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by the path.
  std::string url(const std::string& path = "/") const;
  std::vector<HttpRequest> requests() const;

  // A port on 127.0.0.1 where nothing listens: bound once to find it free, then closed.
  static uint16_t refused_port();

 private:
  void accept_loop();
  void serve(SOCKET s);

  Handler handler_;
  SOCKET listener_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::vector<std::thread> connections_;
  std::vector<HttpRequest> requests_;
};

}  // namespace tambrel::test
