// One client connection, a step per member function as it goes around: read a request header
// (under a size limit and the time-out), check it, read an announced body to its end, handle
// the request through the Site (costly work goes to the render pool and comes back), write the
// answer, then read the next request or close.
// Sessions own themselves through shared_ptr: each pending operation, and a render job that
// waits for them, holds one.
#pragma once

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "server/http_server.h"
#include "server/metrics.h"
#include "stamps/response.h"

namespace tambrel {

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(boost::asio::ip::tcp::socket socket, HttpServer::Impl* server);
  ~Session();

  void start();
  // When the server begins to stop: a connection waiting with nothing received gets a short
  // moment (ServerOptions::stopIdle) for a last request, then closes; one with bytes already
  // here reads and answers them first.
  void requestStop();

 private:
  using Body = boost::beast::http::span_body<const char>;

  void onStop();
  bool received();
  bool peerGone(bool pipelined);
  void identify();
  void read();
  void armHeaderTimer(std::chrono::steady_clock::duration wait);
  void onHeader(boost::beast::error_code ec);
  void readBody();
  void handle();
  void defer(std::function<Response()> work);
  void finish(Response r);
  void respondError(int status, const char* text, bool retryLater = false);
  void write();
  void writeSome();
  void writeFile();
  void onWritten(boost::beast::error_code ec);
  void close(bool linger);
  void drain();

  boost::beast::tcp_stream stream_;
  boost::asio::steady_timer timer_;
  boost::beast::flat_buffer buffer_{8192};
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  std::optional<boost::beast::http::response<Body>> response_;
  std::optional<boost::beast::http::response_serializer<Body>> serializer_;
  std::shared_ptr<const std::string> body_;
  std::shared_ptr<FileBody> file_;   // a download being sent in pieces
  uint64_t fileSent_ = 0;
  std::string piece_;                // the download's current piece
  size_t pieceSent_ = 0;
  HttpServer::Impl* server_;
  boost::asio::ip::address peer_;
  ClientAddress direct_;              // the peer itself
  ClientAddress client_;              // the current request's client (its proxy's word when trusted)
  Route route_ = Route::Other;        // the current request's; Other until its header is read
  std::chrono::steady_clock::time_point started_{};  // when the current request's header was complete
  bool registered_ = false;
  bool reading_ = false;
  bool timedOut_ = false;
  bool partialRequest_ = false;       // bytes of a request had arrived when the read timed out
  bool errorAnswer_ = false;          // the answer closes the connection on an error: drain first
  bool served_ = false;               // at least one request answered on this connection
  bool pipelined_ = false;            // the client sent a request before the previous one was answered
  size_t drainLeft_ = 0;
  unsigned long readGeneration_ = 0;  // which read the header timer belongs to
};

}  // namespace tambrel
