// Blocking calls are avoided so that stopping never waits on a peer: accept and receive poll
// with select() and a short time-out and look at the stop flag in between. Connection threads
// are joined when the server stops.
#include "tests/web/test_http_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "runtime/unique_handle.h"

namespace tambrel::test {
namespace {

inline void close_socket(SOCKET s) { closesocket(s); }
using Socket = UniqueHandle<SOCKET, close_socket, static_cast<intptr_t>(INVALID_SOCKET)>;

constexpr timeval POLL_INTERVAL{0, 20000};  // 20 ms

bool readable(SOCKET s) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv = POLL_INTERVAL;
  return select(0, &set, nullptr, nullptr, &tv) > 0;
}

bool equal_ignoring_case(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

struct WinsockInit {
  WinsockInit() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockInit() { WSACleanup(); }
};

Socket bound_listener(uint16_t* port) {
  Socket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!s) return s;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (bind(s.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return Socket();
  int len = sizeof addr;
  getsockname(s.get(), reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return s;
}

// Request line and header fields of the head that ends at `head_end`.
void parse_head(const std::string& data, size_t head_end, HttpRequest* r) {
  size_t first_eol = data.find("\r\n");
  std::string request_line = data.substr(0, first_eol);
  size_t sp1 = request_line.find(' ');
  size_t sp2 = request_line.rfind(' ');
  r->method = request_line.substr(0, sp1);
  if (sp1 != std::string::npos && sp2 > sp1) r->target = request_line.substr(sp1 + 1, sp2 - sp1 - 1);
  size_t pos = first_eol + 2;
  while (pos < head_end) {
    size_t eol = data.find("\r\n", pos);
    std::string line = data.substr(pos, eol - pos);
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      r->headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
    }
    pos = eol + 2;
  }
}

}  // namespace

std::string HttpRequest::header(const std::string& name) const {
  for (const auto& [k, v] : headers) {
    if (equal_ignoring_case(k, name)) return v;
  }
  return {};
}

bool HttpRequest::has_header(const std::string& name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& h) { return equal_ignoring_case(h.first, name); });
}

HttpReply http_reply(int status, const std::string& reason, const std::vector<std::string>& headers,
                     const std::string& body) {
  std::string raw = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
  for (const std::string& h : headers) raw += h + "\r\n";
  raw += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  raw += body;
  return {raw, false};
}

TestHttpServer::TestHttpServer(Handler handler) : handler_(std::move(handler)) {
  static WinsockInit winsock;
  Socket s = bound_listener(&port_);
  if (s && listen(s.get(), SOMAXCONN) == 0) listener_ = s.release();
  acceptor_ = std::thread([this] { accept_loop(); });
}

TestHttpServer::~TestHttpServer() {
  stopping_ = true;
  acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(connections_);
  }
  for (std::thread& t : threads) t.join();
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
}

std::string TestHttpServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<HttpRequest> TestHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

uint16_t TestHttpServer::refused_port() {
  static WinsockInit winsock;
  uint16_t port = 0;
  bound_listener(&port);  // closed again at once: nothing listens there
  return port;
}

void TestHttpServer::accept_loop() {
  while (!stopping_ && listener_ != INVALID_SOCKET) {
    if (!readable(listener_)) continue;
    SOCKET c = accept(listener_, nullptr, nullptr);
    if (c == INVALID_SOCKET) continue;
    std::lock_guard lock(mutex_);
    connections_.emplace_back([this, c] { serve(c); });
  }
}

void TestHttpServer::serve(SOCKET raw) {
  Socket s(raw);
  std::string data;
  size_t header_end = std::string::npos;
  size_t need = 0;
  char buffer[65536];
  while (!stopping_) {
    if (header_end != std::string::npos && data.size() >= need) break;
    if (!readable(s.get())) continue;
    int n = recv(s.get(), buffer, sizeof buffer, 0);
    if (n <= 0) return;
    data.append(buffer, static_cast<size_t>(n));
    if (header_end == std::string::npos) {
      header_end = data.find("\r\n\r\n");
      if (header_end != std::string::npos) {
        need = header_end + 4;
        HttpRequest probe;
        parse_head(data, header_end, &probe);
        std::string length = probe.header("Content-Length");
        if (!length.empty()) need += std::strtoul(length.c_str(), nullptr, 10);
      }
    }
  }
  if (stopping_ || header_end == std::string::npos) return;

  HttpRequest request;
  parse_head(data, header_end, &request);
  request.body = data.substr(header_end + 4);
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }

  HttpReply reply = handler_(request);
  if (reply.never_answer) {
    while (!stopping_) Sleep(20);
    return;
  }
  size_t sent = 0;
  while (sent < reply.raw.size() && !stopping_) {
    int chunk = static_cast<int>(std::min<size_t>(reply.raw.size() - sent, 1 << 20));
    int n = send(s.get(), reply.raw.data() + sent, chunk, 0);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  shutdown(s.get(), SD_SEND);
}

}  // namespace tambrel::test
