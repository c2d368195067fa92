// A client connection's steps; see session.h.
#include "server/session.h"

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


}  // namespace

Session::Session(tcp::socket socket, HttpServer::Impl* server)
    : stream_(std::move(socket)), timer_(stream_.get_executor()), server_(server) {
  beast::error_code ec;
  auto ep = stream_.socket().remote_endpoint(ec);
  remote_ = ec ? "-" : ep.address().to_string();
}

Session::~Session() {
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
  if (reading_ && !received()) {
    beast::error_code ec;
    stream_.socket().cancel(ec);
  }
}

// Bytes of a further request already here: in our buffer or in the socket.
bool Session::received() {
  beast::error_code ec;
  return buffer_.size() > 0 || stream_.socket().available(ec) > 0;
}

void Session::read() {
  if (server_->stopping && !received()) {
    close();
    return;
  }
  parser_.emplace();
  parser_->header_limit(static_cast<std::uint32_t>(server_->options.headerLimit));
  // A design's JSON is the one body accepted; a longer announced length fails with the header.
  parser_->body_limit(Site::kMaxBodyBytes);
  armHeaderTimer();
  http::async_read_header(stream_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code ec, size_t) { self->onHeader(ec); });
}

// A timer of our own rather than the stream's: the stream's would close the socket, and a
// client whose request had begun to arrive gets a 408 first.
void Session::armHeaderTimer() {
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
}

void Session::onHeader(beast::error_code ec) {
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
    int status = ec == http::error::header_limit ? 431 : ec == http::error::body_limit ? 413 : 400;
    respondError(status, ec == http::error::header_limit ? "request header too large"
                         : status == 413                 ? "request body not accepted"
                                                         : "bad request");
    return;
  }
  auto coding = finalTransferCoding(parser_->get());
  if (coding && !iequals(*coding, "chunked")) {
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
    if (ec) return self->close();
    self->handle();
  });
}

void Session::handle() {
  auto& req = parser_->get();
  std::string_view method = req.method_string();
  std::string_view target = req.target();
  Response r = server_->site.handle(method, target, req.body());
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

void Session::respondError(int status, const char* text) {
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

void Session::write() {
  stream_.expires_after(server_->options.timeout);
  http::async_write(stream_, *response_,
                    [self = shared_from_this()](beast::error_code ec, size_t) { self->onWritten(ec); });
}

void Session::onWritten(beast::error_code ec) {
  bool keep = response_->keep_alive();
  response_.reset();
  body_.reset();
  if (ec || !keep) {
    close();
    return;
  }
  read();
}

void Session::close() {
  beast::error_code ec;
  stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
  stream_.close();
}

}  // namespace tambrel
