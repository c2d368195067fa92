// Boost.Beast server; see http_server.h.
#include "http_server.h"

#include "web_pages.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tambrel {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// Sessions and handlers point at the Impl without owning it: it owns the io_context, whose
// destruction destroys every pending handler (and with them the sessions) first.
struct HttpServer::Impl {
  Impl(StampService& s, ServerOptions o)
      : service(s), options(std::move(o)), acceptStrand(asio::make_strand(io)), acceptor(acceptStrand) {}

  StampService& service;
  ServerOptions options;
  asio::io_context io;
  // The acceptor is touched by accept completions and by stop(); the strand orders them.
  asio::strand<asio::io_context::executor_type> acceptStrand;
  tcp::acceptor acceptor;
  std::atomic<bool> stopping{false};
  std::atomic<int> inFlight{0};
  std::mutex logMutex;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;

  void accept();
  void beginStop();
  void waitForIdle(std::shared_ptr<asio::steady_timer> timer, std::chrono::steady_clock::time_point deadline);
  void log(const std::string& remote, std::string_view method, std::string_view target, unsigned version, int status,
           size_t bytes);
};

namespace {

// Request line bytes outside printable ASCII (and the quote and backslash that delimit the
// field) are logged as \xHH, so a log line is one line and shows exactly what arrived.
std::string escapeForLog(std::string_view s) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, HttpServer::Impl* server)
      : stream_(std::move(socket)), server_(server) {
    beast::error_code ec;
    auto ep = stream_.socket().remote_endpoint(ec);
    remote_ = ec ? "-" : ep.address().to_string();
  }

  void start() { read(); }

 private:
  void read() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(server_->options.headerLimit));
    parser_->body_limit(0);
    stream_.expires_after(server_->options.timeout);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, size_t) { self->onRead(ec); });
  }

  void onRead(beast::error_code ec) {
    if (ec == http::error::end_of_stream || ec == asio::error::operation_aborted || ec == beast::error::timeout ||
        ec == asio::error::connection_reset || ec == asio::error::eof) {
      close();
      return;
    }
    if (ec) {
      // Malformed or over-long requests get an answer and the connection is closed.
      int status = ec == http::error::header_limit ? 431 : ec == http::error::body_limit ? 413 : 400;
      respondError(status, ec == http::error::header_limit ? "request header too large" : "bad request");
      return;
    }
    auto& req = parser_->get();
    server_->inFlight++;
    std::string_view method = req.method_string();
    std::string_view target = req.target();
    Response r = server_->service.handle(method, target);
    applyConditional(r, req[http::field::if_none_match]);
    const bool head = req.method() == http::verb::head;
    response_.emplace();
    auto& res = *response_;
    res.version(req.version());
    res.result(static_cast<unsigned>(r.status));
    res.set(http::field::server, "stampd");
    res.set(http::field::content_type, r.contentType);
    for (auto& [k, v] : r.headers) res.set(k, v);
    size_t length = r.body ? r.body->size() : 0;
    if (!head && r.body) res.body() = *r.body;
    if (r.status != 304) res.content_length(length);  // a 304 has no body and names no length
    res.keep_alive(req.keep_alive() && !server_->stopping);
    server_->log(remote_, method, target, req.version(), r.status, head ? 0 : length);
    server_->inFlight--;
    write();
  }

  void respondError(int status, const char* text) {
    response_.emplace();
    auto& res = *response_;
    res.version(11);
    res.result(static_cast<unsigned>(status));
    res.set(http::field::server, "stampd");
    res.set(http::field::content_type, "text/plain; charset=utf-8");
    res.body() = std::string(text) + "\n";
    res.prepare_payload();
    res.keep_alive(false);
    server_->log(remote_, "-", "-", 11, status, res.body().size());
    write();
  }

  void write() {
    stream_.expires_after(server_->options.timeout);
    http::async_write(stream_, *response_, [self = shared_from_this()](beast::error_code ec, size_t) {
      bool keep = self->response_->keep_alive();
      self->response_.reset();
      if (ec || !keep) {
        self->close();
        return;
      }
      self->read();
    });
  }

  void close() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    stream_.close();
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_{8192};
  std::optional<http::request_parser<http::empty_body>> parser_;
  std::optional<http::response<http::string_body>> response_;
  HttpServer::Impl* server_;
  std::string remote_;
};

}  // namespace

void HttpServer::Impl::accept() {
  acceptor.async_accept(asio::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
    if (!acceptor.is_open() || stopping) return;
    if (!ec) {
      socket.set_option(tcp::no_delay(true), ec);
      std::make_shared<Session>(std::move(socket), this)->start();
    }
    accept();
  });
}

void HttpServer::Impl::beginStop() {
  if (stopping.exchange(true)) return;
  asio::post(acceptStrand, [this] {
    beast::error_code ec;
    acceptor.close(ec);
    // Requests being handled finish; idle keep-alive connections are simply dropped.
    waitForIdle(std::make_shared<asio::steady_timer>(io), std::chrono::steady_clock::now() + options.stopGrace);
  });
}

void HttpServer::Impl::waitForIdle(std::shared_ptr<asio::steady_timer> timer,
                                   std::chrono::steady_clock::time_point deadline) {
  if (inFlight == 0 || std::chrono::steady_clock::now() >= deadline) {
    work.reset();
    io.stop();
    return;
  }
  timer->expires_after(std::chrono::milliseconds(10));
  timer->async_wait([this, timer, deadline](beast::error_code) { waitForIdle(timer, deadline); });
}

void HttpServer::Impl::log(const std::string& remote, std::string_view method, std::string_view target,
                           unsigned version, int status, size_t bytes) {
  if (!options.accessLog) return;
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char when[64];
  std::strftime(when, sizeof when, "%d/%b/%Y:%H:%M:%S %z", &tm);
  std::string line = remote + " - - [" + when + "] \"" + escapeForLog(method) + " " + escapeForLog(target) +
                     " HTTP/" + std::to_string(version / 10) + "." + std::to_string(version % 10) + "\" " +
                     std::to_string(status) + " " + std::to_string(bytes) + "\n";
  std::lock_guard lock(logMutex);
  std::fwrite(line.data(), 1, line.size(), options.accessLog);
  std::fflush(options.accessLog);
}

HttpServer::HttpServer(StampService& service, ServerOptions options)
    : impl_(std::make_unique<Impl>(service, std::move(options))) {}

HttpServer::~HttpServer() = default;

bool HttpServer::listen(std::string* error) {
  beast::error_code ec;
  auto address = asio::ip::make_address(impl_->options.address, ec);
  if (ec) {
    *error = "bad listen address " + impl_->options.address;
    return false;
  }
  tcp::endpoint ep(address, impl_->options.port);
  impl_->acceptor.open(ep.protocol(), ec);
  if (!ec) impl_->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) impl_->acceptor.bind(ep, ec);
  if (!ec) impl_->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "cannot listen on " + impl_->options.address + ":" + std::to_string(impl_->options.port) + ": " +
             ec.message();
    return false;
  }
  return true;
}

unsigned short HttpServer::port() const {
  beast::error_code ec;
  auto ep = impl_->acceptor.local_endpoint(ec);
  return ec ? 0 : ep.port();
}

void HttpServer::run() {
  impl_->work.emplace(asio::make_work_guard(impl_->io));
  asio::post(impl_->acceptStrand, [this] { impl_->accept(); });
  int n = impl_->options.threads > 0 ? impl_->options.threads
                                     : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::thread> workers;
  for (int i = 1; i < n; ++i) workers.emplace_back([this] { impl_->io.run(); });
  impl_->io.run();
  for (auto& t : workers) t.join();
}

void HttpServer::stop() { impl_->beginStop(); }

bool splitHostPort(const std::string& hostPort, std::string* host, unsigned short* port) {
  size_t colon = hostPort.rfind(':');
  if (colon == std::string::npos || colon + 1 == hostPort.size()) return false;
  long p = 0;
  for (size_t i = colon + 1; i < hostPort.size(); ++i) {
    if (hostPort[i] < '0' || hostPort[i] > '9') return false;
    p = p * 10 + (hostPort[i] - '0');
    if (p > 65535) return false;
  }
  *host = hostPort.substr(0, colon);
  if (host->size() >= 2 && host->front() == '[' && host->back() == ']') *host = host->substr(1, host->size() - 2);
  *port = static_cast<unsigned short>(p);
  return true;
}

}  // namespace tambrel
