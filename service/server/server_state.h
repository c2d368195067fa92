// What the server's parts share: the io_context and its threads, the acceptor, the table of
// live sessions, the render pool, the metrics, the access log and the stopping flag. Only the
// server's own files include it.
#pragma once

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "server/access_log.h"
#include "server/http_server.h"
#include "server/metrics.h"
#include "server/render_pool.h"

namespace tambrel {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

class Session;

// Sessions and handlers point at the Impl without owning it: it owns the io_context, whose
// destruction destroys every pending handler (and with them the sessions) first. The session
// table is declared before the io_context so that it outlives those sessions; the render pool
// after it, so that it is shut down (its jobs, which hold sessions, released) while the
// io_context still exists.
struct HttpServer::Impl {
  Impl(Site& s, ServerOptions o);
  ~Impl();

  Site& site;
  ServerOptions options;
  AccessLog* accessLog = nullptr;
  Metrics metrics;
  std::mutex sessionsMutex;
  std::unordered_map<Session*, std::weak_ptr<Session>> sessions;
  asio::io_context io;
  // The acceptor is touched by accept completions and by stop(); the strand orders them.
  asio::strand<asio::io_context::executor_type> acceptStrand;
  tcp::acceptor acceptor;
  asio::steady_timer acceptPause;  // waits out a shortage of file descriptors
  std::atomic<bool> fdShortageLogged{false};
  std::atomic<bool> stopping{false};
  std::atomic<bool> cutNow{false};
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
  RenderPool pool;

  std::string metricsText();
  void accept();
  void startSession(tcp::socket socket);
  void beginStop();
  void waitForIdle(std::shared_ptr<asio::steady_timer> timer, std::chrono::steady_clock::time_point deadline);
  void log(const std::string& remote, std::string_view method, std::string_view target, unsigned version, int status,
           size_t bytes);
};

}  // namespace tambrel
