// Boost.Beast server: accepting, stopping, the access log; see http_server.h. A connection's
// life is in session.cpp.
#include "server/http_server.h"

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <ctime>
#include <thread>
#include <vector>

#include "server/diagnostics.h"
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

int defaultRenderThreads() {
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, unsigned(kMaxDefaultRenderThreads)));
}

HttpServer::Impl::Impl(Site& s, ServerOptions o)
    : site(s),
      options(std::move(o)),
      acceptStrand(asio::make_strand(io)),
      acceptor(acceptStrand),
      acceptPause(acceptStrand),
      pool(options.renderThreads > 0 ? options.renderThreads : defaultRenderThreads(), options.renderQueue,
           options.renderQueuePerClient) {
  if (options.accessLog)
    accessLog = new AccessLog(fileno(options.accessLog), options.accessLogBuffer, options.accessLogOwned);
  pool.onStart = [this](std::chrono::steady_clock::duration waited) { metrics.renderWait(waited); };
}

HttpServer::Impl::~Impl() {
  pool.shutdown();
  // A log writer stuck on a sink that never drains is left behind rather than freed under it.
  if (accessLog && accessLog->close(1000)) delete accessLog;
}

void HttpServer::Impl::startSession(tcp::socket socket) {
  beast::error_code ec;
  socket.set_option(tcp::no_delay(true), ec);
  std::make_shared<Session>(std::move(socket), this)->start();
}

void HttpServer::Impl::accept() {
  acceptor.async_accept(asio::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
    // A connection taken is answered even when the stop began meanwhile.
    if (!ec) startSession(std::move(socket));
    if (!acceptor.is_open() || stopping) return;
    if (outOfDescriptors(ec)) {
      // Retrying at once would spin: the pending connection stays queued until a descriptor
      // frees up. Pause instead and keep serving the connections already open.
      if (!fdShortageLogged.exchange(true))
        diag::say("stampd: out of file descriptors (%s); accepting paused until connections close",
                  ec.message().c_str());
      acceptPause.expires_after(std::chrono::milliseconds(100));
      acceptPause.async_wait([this](beast::error_code e) {
        if (!e && !stopping) accept();
      });
      return;
    }
    accept();
  });
}

void HttpServer::Impl::beginStop() {
  if (stopping.exchange(true)) return;
  asio::post(acceptStrand, [this] {
    beast::error_code ec;
    // Clients whose connections the kernel has already completed are waiting in the listening
    // socket's queue with their requests sent: take them before closing it, or closing would
    // reset them. Only what is queued now (bounded): new arrivals wait for the next instance
    // when the socket is shared (socket activation), or are refused.
    if (acceptor.is_open()) {
      acceptor.non_blocking(true, ec);
      for (int i = 0; i < 4096 && !ec; ++i) {
        tcp::socket socket(asio::make_strand(io));
        acceptor.accept(socket, ec);
        if (!ec) startSession(std::move(socket));
      }
    }
    acceptor.close(ec);
    acceptPause.cancel();
    std::vector<std::shared_ptr<Session>> live;
    {
      std::lock_guard lock(sessionsMutex);
      for (auto& [raw, weak] : sessions)
        if (auto sp = weak.lock()) live.push_back(std::move(sp));
    }
    for (auto& sp : live) sp->requestStop();
    waitForIdle(std::make_shared<asio::steady_timer>(io), std::chrono::steady_clock::now() + options.stopGrace);
  });
}

// Done when every connection is gone: idle ones close after the stop's short wait, busy ones
// after their last answer. Whatever is left at the deadline (or at stopNow) is cut.
void HttpServer::Impl::waitForIdle(std::shared_ptr<asio::steady_timer> timer,
                                   std::chrono::steady_clock::time_point deadline) {
  bool idle;
  {
    std::lock_guard lock(sessionsMutex);
    idle = sessions.empty();
  }
  if (idle || cutNow || std::chrono::steady_clock::now() >= deadline) {
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
  if (impl_->options.listenFd >= 0) {
    // Already bound and listening (handed over by systemd): take it as it is.
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(impl_->options.listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        (addr.ss_family != AF_INET && addr.ss_family != AF_INET6)) {
      *error = "the socket handed over is not a TCP/IP listening socket";
      return false;
    }
    impl_->acceptor.assign(addr.ss_family == AF_INET6 ? tcp::v6() : tcp::v4(), impl_->options.listenFd, ec);
    if (ec) {
      *error = "cannot use the socket handed over: " + ec.message();
      return false;
    }
    return true;
  }
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
  impl_->pool.shutdown();
  // Lines of the last requests reach the sink before run() returns, unless the sink is stuck:
  // then the writer is abandoned (and never freed) so that the process can still end.
  if (impl_->accessLog && !impl_->accessLog->close(1000)) {
    diag::say("stampd: access log sink stuck at stop; %llu lines dropped",
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

void HttpServer::stopNow() {
  impl_->cutNow = true;
  impl_->beginStop();
}

int HttpServer::renderThreads() const { return impl_->pool.threads(); }

std::string HttpServer::metricsText() const { return impl_->metricsText(); }

std::string HttpServer::Impl::metricsText() {
  Metrics::Outside o;
  o.renderQueued = pool.queued();
  o.renderQueueLimit = pool.queueLimit();
  o.renderThreads = pool.threads();
  const StampService& stamps = site.stamps();
  o.cacheHits = stamps.cacheHits();
  o.cacheMisses = stamps.cacheMisses();
  o.cacheBytes = stamps.cache().bytes();
  o.cacheCapacity = stamps.cache().capacity();
  o.cacheEntries = stamps.cache().entries();
  if (accessLog) {
    o.accessLogDropped = accessLog->dropped();
    o.accessLogWriteErrors = accessLog->writeErrors();
  }
  o.diagnosticsDropped = diag::dropped();
  return metrics.text(o);
}

bool HttpServer::reopenAccessLog(const std::string& path, std::string* error) {
  if (!impl_->accessLog) return true;
  return impl_->accessLog->reopen(path, error);
}

unsigned long long HttpServer::accessLogDropped() const {
  return impl_->accessLog ? impl_->accessLog->dropped() : 0;
}

unsigned long long HttpServer::accessLogWriteErrors() const {
  return impl_->accessLog ? impl_->accessLog->writeErrors() : 0;
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
