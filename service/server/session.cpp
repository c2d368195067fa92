// A client connection's steps; see session.h.
#include "server/session.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "server/server_state.h"
#include "web/web_pages.h"

namespace tambrel {

namespace http = beast::http;

namespace {

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// RFC 9112 3.2.2: a server accepts the absolute form ("http://host/path?q") for any request;
// the service answers the same as for the origin form ("/path?q").
std::string_view originForm(std::string_view target, std::string* storage) {
  size_t colon = target.find("://");
  if (colon == std::string_view::npos || colon == 0 || target.front() == '/') return target;
  std::string_view scheme = target.substr(0, colon);
  if (!iequals(scheme, "http") && !iequals(scheme, "https")) return target;
  std::string_view rest = target.substr(colon + 3);
  size_t at = rest.find_first_of("/?");
  if (at == std::string_view::npos) return "/";
  if (rest[at] == '/') return rest.substr(at);
  *storage = "/" + std::string(rest.substr(at));
  return *storage;
}

Response unavailable(const char* why) {
  Response r;
  r.status = 503;
  r.headers.emplace_back("Retry-After", "1");
  r.headers.emplace_back("Cache-Control", "no-store");
  r.body = std::make_shared<const std::string>(std::string(why) + "\n");
  return r;
}

// After an error answer that closes the connection, bytes the client had already sent are
// read and thrown away (up to this much, for up to this long) before the socket closes:
// closing with unread bytes makes the kernel send a reset, and the client would see
// "connection reset" instead of the answer.
constexpr size_t kDrainBytes = 1u << 20;
constexpr auto kDrainTime = std::chrono::seconds(2);

}  // namespace

Session::Session(tcp::socket socket, HttpServer::Impl* server)
    : stream_(std::move(socket)), timer_(stream_.get_executor()), server_(server) {
  beast::error_code ec;
  auto ep = stream_.socket().remote_endpoint(ec);
  if (!ec) peer_ = ep.address();
  direct_ = ec ? ClientAddress{"-", "-"} : clientAddress(peer_, {}, {});
  client_ = direct_;
  server_->metrics.openConnections.fetch_add(1, std::memory_order_relaxed);
}

Session::~Session() {
  server_->metrics.openConnections.fetch_sub(1, std::memory_order_relaxed);
  if (!registered_) return;
  std::lock_guard lock(server_->sessionsMutex);
  server_->sessions.erase(this);
}

void Session::start() {
  {
    std::lock_guard lock(server_->sessionsMutex);
    server_->sessions.emplace(this, weak_from_this());
    registered_ = true;
  }
  read();
}

void Session::requestStop() {
  asio::post(stream_.get_executor(), [self = shared_from_this()] { self->onStop(); });
}

void Session::onStop() {
  // A client that was idle gets a short moment for one more request (one that crossed the
  // stop on the wire is answered, with "Connection: close"), then the connection closes.
  if (reading_ && !received()) armHeaderTimer(server_->options.stopIdle);
}

// Bytes of a further request already here: in our buffer or in the socket.
bool Session::received() {
  beast::error_code ec;
  return buffer_.size() > 0 || stream_.socket().available(ec) > 0;
}

// From a render thread, while the session waits for that render: has the client closed its
// side (with nothing more to read) or dropped the connection? Then nobody wants the answer.
// A client that pipelined its requests said everything it wants before it stopped sending:
// its half-close ends the requests, not its wish for the answers.
bool Session::peerGone(bool pipelined) {
  int fd = stream_.socket().native_handle();
  pollfd p{fd, POLLRDHUP, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return true;
  if (pipelined) return false;
  int pending = 0;
  return (p.revents & POLLRDHUP) && ::ioctl(fd, FIONREAD, &pending) == 0 && pending == 0;
}

void Session::read() {
  parser_.emplace();
  parser_->header_limit(static_cast<std::uint32_t>(server_->options.headerLimit));
  // A design's JSON is the one body accepted; a longer announced length fails with the header.
  parser_->body_limit(Site::kMaxBodyBytes);
  auto wait = std::chrono::steady_clock::duration(server_->options.timeout);
  if (server_->stopping && !received()) wait = std::min(wait, std::chrono::steady_clock::duration(server_->options.stopIdle));
  timedOut_ = false;
  partialRequest_ = false;
  reading_ = true;
  // An answer to a request whose header never completed names no route or forwarded client.
  route_ = Route::Other;
  client_ = direct_;
  ++readGeneration_;
  armHeaderTimer(wait);
  http::async_read_header(stream_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code ec, size_t) { self->onHeader(ec); });
}

// A timer of our own rather than the stream's: the stream's would close the socket, and a
// client whose request had begun to arrive gets a 408 first. Re-arming (at a stop) keeps the
// read it belongs to.
void Session::armHeaderTimer(std::chrono::steady_clock::duration wait) {
  stream_.expires_never();
  timer_.expires_after(wait);
  // A wait that had already completed when the previous read cancelled it still runs its
  // handler; the generation keeps it from timing out this read.
  timer_.async_wait([self = shared_from_this(), generation = readGeneration_](beast::error_code ec) {
    if (ec || !self->reading_ || generation != self->readGeneration_) return;
    self->timedOut_ = true;
    self->partialRequest_ = self->buffer_.size() > 0 || self->parser_->got_some();
    beast::error_code ignored;
    self->stream_.socket().cancel(ignored);
  });
}

void Session::onHeader(beast::error_code ec) {
  reading_ = false;
  timer_.cancel();
  started_ = std::chrono::steady_clock::now();
  if (timedOut_) {
    // An idle keep-alive connection is closed without a word: a client that sends its next
    // request as we time out would read an unsolicited 408 as that request's answer. Only a
    // request that has begun to arrive is owed one.
    if (partialRequest_)
      respondError(408, "request timeout");
    else
      close(false);
    return;
  }
  if (ec == http::error::end_of_stream || ec == asio::error::operation_aborted ||
      ec == asio::error::connection_reset || ec == asio::error::eof) {
    close(false);
    return;
  }
  if (!ec || ec == http::error::body_limit) identify();
  if (ec == http::error::body_limit) {
    // Content-Length announced a body: none is accepted.
    respondError(413, "request body not accepted");
    return;
  }
  if (ec) {
    // Malformed or over-long requests get an answer and the connection is closed.
    int status = ec == http::error::header_limit ? 431 : ec == http::error::body_limit ? 413 : 400;
    respondError(status, ec == http::error::header_limit ? "request header too large"
                         : status == 413                 ? "request body not accepted"
                                                         : "bad request");
    return;
  }
  // The parser alone decides how the body is framed. Transfer-Encoding that it did not take as
  // chunked leaves the body's end unknown (RFC 9112 6.3): reading on would run the body's bytes
  // as the next request, so the request is refused and the connection closed.
  if (parser_->get().count(http::field::transfer_encoding) > 0 && !parser_->chunked()) {
    respondError(400, "unsupported transfer coding");
    return;
  }
  // Only a design POSTed as JSON has a body to read, and a small one.
  const size_t limit = Site::bodyLimit(parser_->get().method_string(), parser_->get().target());
  if (limit == 0 && parser_->content_length().value_or(0) > 0) {
    respondError(413, "request body not accepted");
    return;
  }
  parser_->body_limit(limit);
  if (parser_->is_done()) {
    handle();
    return;
  }
  readBody();
}

// A body was announced; none is accepted (body_limit 0) except a design's JSON, but an empty
// chunked one is read to its end so that the next request starts where it should.
void Session::readBody() {
  stream_.expires_after(server_->options.timeout);
  http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, size_t) {
    if (ec == http::error::body_limit) return self->respondError(413, "request body not accepted");
    if (ec) return self->close(false);
    self->handle();
  });
}

// The route and the client of a request whose header is complete, before anything answers it.
void Session::identify() {
  std::string originStorage;
  std::string_view target = originForm(parser_->get().target(), &originStorage);
  route_ = routeOf(target.substr(0, target.find('?')));
  const auto& fields = parser_->get();
  std::string forwarded;
  if (!server_->options.trustedProxies.empty()) {
    auto [first, last] = fields.equal_range("X-Forwarded-For");
    for (auto it = first; it != last; ++it) {
      if (!beast::iequals(it->name_string(), "X-Forwarded-For")) continue;
      if (!forwarded.empty()) forwarded += ',';
      forwarded += it->value();
    }
  }
  client_ = clientAddress(peer_, forwarded, server_->options.trustedProxies);
}

void Session::handle() {
  auto& req = parser_->get();
  std::string originStorage;
  std::string_view target = originForm(req.target(), &originStorage);
  // Bytes of another request already here: the client sends without waiting for answers.
  if (received()) pipelined_ = true;
  // RFC 9112 3.2: exactly one Host in HTTP/1.1 (at most one before it).
  auto hosts = req.equal_range(http::field::host);
  long hostCount = std::distance(hosts.first, hosts.second);
  if (hostCount > 1 || (hostCount == 0 && req.version() >= 11)) {
    respondError(400, hostCount ? "repeated Host header" : "missing Host header");
    return;
  }
  if (route_ == Route::Metrics && (req.method() == http::verb::get || req.method() == http::verb::head)) {
    Response r;
    r.contentType = "text/plain; version=0.0.4; charset=utf-8";
    r.headers.emplace_back("Cache-Control", "no-store");
    r.body = std::make_shared<const std::string>(server_->metricsText());
    finish(std::move(r));
    return;
  }
  Response r = server_->site.respond(req.method_string(), target, {req[http::field::accept_encoding]}, req.body());
  if (r.deferred) {
    defer(std::move(r.deferred));
    return;
  }
  finish(std::move(r));
}

// Costly work goes to the render pool; its answer comes back to this session's strand. Until
// then the session does nothing (a pipelined request behind waits in the buffer).
void Session::defer(std::function<Response()> work) {
  auto self = shared_from_this();
  const auto deadline = started_ + server_->options.timeout;
  RenderPool::Job job;
  job.client = client_.key;
  job.wanted = [self, deadline, pipelined = pipelined_] {
    return std::chrono::steady_clock::now() < deadline && !self->peerGone(pipelined);
  };
  job.run = [self, work = std::move(work)] {
    if (self->server_->options.beforeRender) self->server_->options.beforeRender();
    Response r = complete(work());
    asio::post(self->stream_.get_executor(), [self, r = std::move(r)]() mutable { self->finish(std::move(r)); });
  };
  job.dropped = [self, deadline] {
    self->server_->metrics.renderDropped.fetch_add(1, std::memory_order_relaxed);
    bool expired = std::chrono::steady_clock::now() >= deadline;
    // A render that waited past its deadline is owed its 503 during a stop too: the client is
    // there and would otherwise see the connection close without a word.
    asio::post(self->stream_.get_executor(), [self, expired] {
      if (expired) {
        self->server_->metrics.renderExpired.fetch_add(1, std::memory_order_relaxed);
        self->finish(unavailable("busy: waited too long for rendering, try again"));
      } else {
        self->close(false);
      }
    });
  };
  if (!server_->pool.submit(std::move(job))) {
    server_->metrics.renderRefused.fetch_add(1, std::memory_order_relaxed);
    finish(unavailable("busy: too many pictures waiting to be rendered, try again"));
  }
}

void Session::finish(Response r) {
  auto& req = parser_->get();
  applyConditional(r, req[http::field::if_none_match]);
  const bool head = req.method() == http::verb::head;
  response_.emplace();
  auto& res = *response_;
  res.version(req.version());
  res.result(static_cast<unsigned>(r.status));
  res.set(http::field::server, "stampd");
  res.set(http::field::content_type, r.contentType);
  for (auto& [k, v] : r.headers) res.set(k, v);
  uint64_t length = r.file ? r.file->size : r.body ? r.body->size() : 0;
  // The body is the service's own buffer (for pictures: the cache entry), shared, not copied;
  // a file is read a piece at a time as the connection takes it.
  body_ = std::move(r.body);
  if (!head && body_) res.body() = beast::span<const char>(body_->data(), body_->size());
  if (!head && r.file && length > 0) file_ = std::move(r.file);
  if (r.status != 304) res.content_length(length);  // a 304 has no body and names no length
  // While stopping, only requests already here keep the connection open.
  res.keep_alive(req.keep_alive() && (!server_->stopping || received()));
  server_->log(client_.address, req.method_string(), req.target(), req.version(), r.status, head ? 0 : length);
  server_->metrics.request(route_, r.status, std::chrono::steady_clock::now() - started_);
  served_ = true;
  write();
}

void Session::respondError(int status, const char* text, bool retryLater) {
  response_.emplace();
  auto& res = *response_;
  res.version(11);
  res.result(static_cast<unsigned>(status));
  res.set(http::field::server, "stampd");
  res.set(http::field::content_type, "text/plain; charset=utf-8");
  if (retryLater) res.set(http::field::retry_after, "1");
  body_ = std::make_shared<const std::string>(std::string(text) + "\n");
  res.body() = beast::span<const char>(body_->data(), body_->size());
  res.prepare_payload();
  res.keep_alive(false);
  errorAnswer_ = true;
  server_->log(client_.address, "-", "-", 11, status, body_->size());
  server_->metrics.request(route_, status, std::chrono::steady_clock::now() - started_);
  write();
}

// The time-out is on progress: each piece the client takes re-arms it, so a large answer to a
// slow but steady reader is sent whole, and a reader that takes nothing is cut.
void Session::write() {
  serializer_.emplace(*response_);
  writeSome();
}

void Session::writeSome() {
  stream_.expires_after(server_->options.timeout);
  http::async_write_some(stream_, *serializer_, [self = shared_from_this()](beast::error_code ec, size_t) {
    if (ec) return self->onWritten(ec);
    if (!self->serializer_->is_done()) return self->writeSome();
    if (self->file_) return self->writeFile();
    self->onWritten({});
  });
}

void Session::writeFile() {
  if (pieceSent_ == piece_.size()) {
    if (fileSent_ == file_->size) return onWritten({});
    piece_.resize(static_cast<size_t>(std::min<uint64_t>(64 * 1024, file_->size - fileSent_)));
    ssize_t n = ::pread(file_->fd, piece_.data(), piece_.size(), static_cast<off_t>(fileSent_));
    if (n <= 0) {  // the file shrank under us: the announced length cannot be kept
      return onWritten(asio::error::make_error_code(asio::error::eof));
    }
    piece_.resize(static_cast<size_t>(n));
    pieceSent_ = 0;
    fileSent_ += static_cast<uint64_t>(n);
  }
  stream_.expires_after(server_->options.timeout);
  stream_.async_write_some(asio::buffer(piece_.data() + pieceSent_, piece_.size() - pieceSent_),
                           [self = shared_from_this()](beast::error_code ec, size_t n) {
                             if (ec) return self->onWritten(ec);
                             self->pieceSent_ += n;
                             self->writeFile();
                           });
}

void Session::onWritten(beast::error_code ec) {
  bool keep = response_->keep_alive();
  serializer_.reset();
  response_.reset();
  body_.reset();
  file_.reset();
  std::string().swap(piece_);
  pieceSent_ = 0;
  fileSent_ = 0;
  if (ec) {
    close(false);
    return;
  }
  if (!keep) {
    close(errorAnswer_ || received());
    return;
  }
  read();
}

void Session::close(bool linger) {
  beast::error_code ec;
  stream_.expires_never();
  stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
  if (!linger || ec) {
    stream_.close();
    return;
  }
  drainLeft_ = kDrainBytes;
  buffer_.clear();
  timer_.expires_after(kDrainTime);
  timer_.async_wait([self = shared_from_this()](beast::error_code e) {
    if (e) return;
    beast::error_code ignored;
    self->stream_.socket().cancel(ignored);
  });
  drain();
}

void Session::drain() {
  auto space = buffer_.prepare(4096);
  stream_.socket().async_read_some(space, [self = shared_from_this()](beast::error_code ec, size_t n) {
    if (ec || n >= self->drainLeft_) {
      self->timer_.cancel();
      self->stream_.close();
      return;
    }
    self->drainLeft_ -= n;
    self->drain();
  });
}

}  // namespace tambrel
