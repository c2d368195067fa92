// Boost.Beast server: accepting, stopping, the access log; see http_server.h. A connection's
// life is in session.cpp.
#include "server/http_server.h"

#include <cerrno>
#include <ctime>
#include <thread>
#include <vector>

#include "server/server_state.h"
#include "server/session.h"

namespace tambrel {

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

HttpServer::HttpServer(Site& site, ServerOptions options)
    : impl_(std::make_unique<Impl>(site, std::move(options))) {}

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
