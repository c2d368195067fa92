// Boost.Beast server; see http_server.h.
#include "http_server.h"

#include "web_pages.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "access_log.h"

namespace tambrel {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {
class Session;
}

// Sessions and handlers point at the Impl without owning it: it owns the io_context, whose
// destruction destroys every pending handler (and with them the sessions) first. The session
// table is declared before the io_context so that it outlives those sessions.
struct HttpServer::Impl {
  Impl(StampService& s, ServerOptions o)
      : service(s), options(std::move(o)), acceptStrand(asio::make_strand(io)), acceptor(acceptStrand),
        acceptPause(acceptStrand) {
    if (options.accessLog) accessLog = new AccessLog(fileno(options.accessLog), options.accessLogBuffer);
  }
  ~Impl() {
    // A log writer stuck on a sink that never drains is left behind rather than freed under it.
    if (accessLog && accessLog->close(1000)) delete accessLog;
  }

  StampService& service;
  ServerOptions options;
  AccessLog* accessLog = nullptr;
  std::mutex sessionsMutex;
  std::unordered_map<Session*, std::weak_ptr<Session>> sessions;
  asio::io_context io;
  // The acceptor is touched by accept completions and by stop(); the strand orders them.
  asio::strand<asio::io_context::executor_type> acceptStrand;
  tcp::acceptor acceptor;
  asio::steady_timer acceptPause;  // waits out a shortage of file descriptors
  std::atomic<bool> fdShortageLogged{false};
  std::atomic<bool> stopping{false};
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

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// The last transfer coding of all Transfer-Encoding fields together ("" when there is none).
// Only a final "chunked" frames a request body; with anything else the body's end is unknown,
// and reading on would let its bytes run as another request.
std::optional<std::string_view> finalTransferCoding(const http::fields& fields) {
  std::optional<std::string_view> last;
  for (auto it = fields.find(http::field::transfer_encoding); it != fields.end() && it->name() == http::field::transfer_encoding;
       ++it) {
    std::string_view v = it->value();
    size_t end = v.size();
    while (end > 0 && (v[end - 1] == ' ' || v[end - 1] == '\t' || v[end - 1] == ',')) --end;
    size_t start = v.find_last_of(',', end == 0 ? 0 : end - 1);
    start = start == std::string_view::npos ? 0 : start + 1;
    std::string_view token = v.substr(start, end - start);
    while (!token.empty() && (token.front() == ' ' || token.front() == '\t')) token.remove_prefix(1);
    size_t semi = token.find(';');  // coding parameters
    if (semi != std::string_view::npos) token = token.substr(0, semi);
    while (!token.empty() && (token.back() == ' ' || token.back() == '\t')) token.remove_suffix(1);
    last = token;
  }
  return last;
}

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, HttpServer::Impl* server)
      : stream_(std::move(socket)), timer_(stream_.get_executor()), server_(server) {
    beast::error_code ec;
    auto ep = stream_.socket().remote_endpoint(ec);
    remote_ = ec ? "-" : ep.address().to_string();
  }
  ~Session() {
    if (!registered_) return;
    std::lock_guard lock(server_->sessionsMutex);
    server_->sessions.erase(this);
  }

  void start() {
    {
      std::lock_guard lock(server_->sessionsMutex);
      server_->sessions.emplace(this, weak_from_this());
      registered_ = true;
    }
    read();
  }

  // When the server begins to stop: a connection waiting with nothing received is closed now;
  // one with bytes already here reads and answers them first.
  void requestStop() {
    asio::post(stream_.get_executor(), [self = shared_from_this()] { self->onStop(); });
  }

 private:
  void onStop() {
    if (reading_ && !received()) {
      beast::error_code ec;
      stream_.socket().cancel(ec);
    }
  }

  // Bytes of a further request already here: in our buffer or in the socket.
  bool received() {
    beast::error_code ec;
    return buffer_.size() > 0 || stream_.socket().available(ec) > 0;
  }

  void read() {
    if (server_->stopping && !received()) {
      close();
      return;
    }
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(server_->options.headerLimit));
    parser_->body_limit(0);
    // A timer of our own rather than the stream's: the stream's would close the socket, and
    // a client that sent no complete header in time gets a 408 first.
    stream_.expires_never();
    timedOut_ = false;
    partialRequest_ = false;
    reading_ = true;
    timer_.expires_after(server_->options.timeout);
    // A wait that had already completed when the previous read cancelled it still runs its
    // handler; the generation keeps it from timing out this read.
    timer_.async_wait([self = shared_from_this(), generation = ++readGeneration_](beast::error_code ec) {
      if (ec || !self->reading_ || generation != self->readGeneration_) return;
      self->timedOut_ = true;
      self->partialRequest_ = self->buffer_.size() > 0 || self->parser_->got_some();
      beast::error_code ignored;
      self->stream_.socket().cancel(ignored);
    });
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code ec, size_t) { self->onHeader(ec); });
  }

  void onHeader(beast::error_code ec) {
    reading_ = false;
    timer_.cancel();
    if (timedOut_) {
      // An idle keep-alive connection is closed without a word: a client that sends its next
      // request as we time out would read an unsolicited 408 as that request's answer. Only a
      // request that has begun to arrive is owed one.
      if (partialRequest_)
        respondError(408, "request timeout");
      else
        close();
      return;
    }
    if (ec == http::error::end_of_stream || ec == asio::error::operation_aborted ||
        ec == asio::error::connection_reset || ec == asio::error::eof) {
      close();
      return;
    }
    if (ec) {
      // Malformed or over-long requests get an answer and the connection is closed.
      int status = ec == http::error::header_limit ? 431 : 400;
      respondError(status, ec == http::error::header_limit ? "request header too large" : "bad request");
      return;
    }
    auto coding = finalTransferCoding(parser_->get());
    if (coding && !iequals(*coding, "chunked")) {
      respondError(400, "unsupported transfer coding");
      return;
    }
    if (parser_->is_done()) {
      handle();
      return;
    }
    // A body was announced; none is accepted (body_limit 0), but an empty chunked one is
    // read to its end so that the next request starts where it should.
    stream_.expires_after(server_->options.timeout);
    http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, size_t) {
      if (ec == http::error::body_limit) return self->respondError(413, "request body not accepted");
      if (ec) return self->close();
      self->handle();
    });
  }

  void handle() {
    auto& req = parser_->get();
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
    // The body is the service's own buffer (for pictures: the cache entry), shared, not copied.
    body_ = std::move(r.body);
    if (!head && body_) res.body() = beast::span<const char>(body_->data(), body_->size());
    if (r.status != 304) res.content_length(length);  // a 304 has no body and names no length
    // While stopping, only requests already here keep the connection open.
    res.keep_alive(req.keep_alive() && (!server_->stopping || received()));
    server_->log(remote_, method, target, req.version(), r.status, head ? 0 : length);
    write();
  }

  void respondError(int status, const char* text) {
    response_.emplace();
    auto& res = *response_;
    res.version(11);
    res.result(static_cast<unsigned>(status));
    res.set(http::field::server, "stampd");
    res.set(http::field::content_type, "text/plain; charset=utf-8");
    body_ = std::make_shared<const std::string>(std::string(text) + "\n");
    res.body() = beast::span<const char>(body_->data(), body_->size());
    res.prepare_payload();
    res.keep_alive(false);
    server_->log(remote_, "-", "-", 11, status, body_->size());
    write();
  }

  void write() {
    stream_.expires_after(server_->options.timeout);
    http::async_write(stream_, *response_, [self = shared_from_this()](beast::error_code ec, size_t) {
      bool keep = self->response_->keep_alive();
      self->response_.reset();
      self->body_.reset();
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
  asio::steady_timer timer_;
  beast::flat_buffer buffer_{8192};
  std::optional<http::request_parser<http::empty_body>> parser_;
  std::optional<http::response<http::span_body<const char>>> response_;
  std::shared_ptr<const std::string> body_;
  HttpServer::Impl* server_;
  std::string remote_;
  bool registered_ = false;
  bool reading_ = false;
  bool timedOut_ = false;
  bool partialRequest_ = false;       // bytes of a request had arrived when the read timed out
  unsigned long readGeneration_ = 0;  // which read the header timer belongs to
};

bool outOfDescriptors(const beast::error_code& ec) {
  return ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space || ec == asio::error::no_memory ||
         (ec.category() == asio::error::get_system_category() && ec.value() == ENFILE);
}

}  // namespace

void HttpServer::Impl::accept() {
  acceptor.async_accept(asio::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
    if (!acceptor.is_open() || stopping) return;
    if (outOfDescriptors(ec)) {
      // Retrying at once would spin: the pending connection stays queued until a descriptor
      // frees up. Pause instead and keep serving the connections already open.
      if (!fdShortageLogged.exchange(true))
        std::fprintf(stderr, "stampd: out of file descriptors (%s); accepting paused until connections close\n",
                     ec.message().c_str());
      acceptPause.expires_after(std::chrono::milliseconds(100));
      acceptPause.async_wait([this](beast::error_code e) {
        if (!e && !stopping) accept();
      });
      return;
    }
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
    acceptPause.cancel();
    std::vector<std::shared_ptr<Session>> live;
    {
      std::lock_guard lock(sessionsMutex);
      for (auto& [raw, weak] : sessions)
        if (auto s = weak.lock()) live.push_back(std::move(s));
    }
    for (auto& s : live) s->requestStop();
    waitForIdle(std::make_shared<asio::steady_timer>(io), std::chrono::steady_clock::now() + options.stopGrace);
  });
}

// Done when every connection is gone: idle ones were closed by beginStop, busy ones close
// after their last answer. Whatever is left at the deadline is cut.
void HttpServer::Impl::waitForIdle(std::shared_ptr<asio::steady_timer> timer,
                                   std::chrono::steady_clock::time_point deadline) {
  bool idle;
  {
    std::lock_guard lock(sessionsMutex);
    idle = sessions.empty();
  }
  if (idle || std::chrono::steady_clock::now() >= deadline) {
    work.reset();
    io.stop();
    return;
  }
  timer->expires_after(std::chrono::milliseconds(10));
  timer->async_wait([this, timer, deadline](beast::error_code) { waitForIdle(timer, deadline); });
}

void HttpServer::Impl::log(const std::string& remote, std::string_view method, std::string_view target,
                           unsigned version, int status, size_t bytes) {
  if (!accessLog) return;
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char when[64];
  std::strftime(when, sizeof when, "%d/%b/%Y:%H:%M:%S %z", &tm);
  std::string line = remote + " - - [" + when + "] \"" + escapeForLog(method) + " " + escapeForLog(target) +
                     " HTTP/" + std::to_string(version / 10) + "." + std::to_string(version % 10) + "\" " +
                     std::to_string(status) + " " + std::to_string(bytes) + "\n";
  accessLog->append(std::move(line));
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
    if (ec == asio::error::address_in_use) *error += " (another process has this port)";
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
  // Lines of the last requests reach the sink before run() returns, unless the sink is stuck:
  // then the writer is abandoned (and never freed) so that the process can still end.
  if (impl_->accessLog && !impl_->accessLog->close(1000)) {
    std::fprintf(stderr, "stampd: access log sink stuck at stop; %llu lines dropped\n",
                 static_cast<unsigned long long>(impl_->accessLog->dropped()));
    // Kept reachable on purpose for the thread still inside it (and so leak checkers agree).
    static std::mutex abandonedMutex;
    static auto* abandoned = new std::vector<AccessLog*>;
    std::lock_guard lock(abandonedMutex);
    abandoned->push_back(impl_->accessLog);
    impl_->accessLog = nullptr;
  }
}

void HttpServer::stop() { impl_->beginStop(); }

bool HttpServer::reopenAccessLog(const std::string& path, std::string* error) {
  if (!impl_->accessLog) return true;
  return impl_->accessLog->reopen(path, error);
}

unsigned long long HttpServer::accessLogDropped() const {
  return impl_->accessLog ? impl_->accessLog->dropped() : 0;
}

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
