// What the server's parts share: the io_context and its threads, the acceptor, the table of
// live sessions, the access log and the stopping flag. Only the server's own files include it.
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

namespace tambrel {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

class Session;

// Sessions and handlers point at the Impl without owning it: it owns the io_context, whose
// destruction destroys every pending handler (and with them the sessions) first. The session
// table is declared before the io_context so that it outlives those sessions.
struct HttpServer::Impl {
  Impl(Site& s, ServerOptions o)
      : site(s), options(std::move(o)), acceptStrand(asio::make_strand(io)), acceptor(acceptStrand),
        acceptPause(acceptStrand) {
    if (options.accessLog) accessLog = new AccessLog(fileno(options.accessLog), options.accessLogBuffer);
  }
  ~Impl() {
    // A log writer stuck on a sink that never drains is left behind rather than freed under it.
    if (accessLog && accessLog->close(1000)) delete accessLog;
  }

  Site& site;
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

}  // namespace tambrel
