// One client connection, a step per member function as it goes around: read a request header
// (under a size limit and the time-out), check it, read an announced body to its end, handle
// the request through the Site, write the answer, then read the next request or close.
// Sessions own themselves through shared_ptr: each pending operation holds one.
#pragma once

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <memory>
#include <optional>
#include <string>

#include "server/http_server.h"

namespace tambrel {

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(boost::asio::ip::tcp::socket socket, HttpServer::Impl* server);
  ~Session();

  void start();
  // When the server begins to stop: a connection waiting with nothing received is closed now;
  // one with bytes already here reads and answers them first.
  void requestStop();

 private:
  void onStop();
  bool received();
  void read();
  void armHeaderTimer();
  void onHeader(boost::beast::error_code ec);
  void readBody();
  void handle();
  void respondError(int status, const char* text);
  void write();
  void onWritten(boost::beast::error_code ec);
  void close();

  boost::beast::tcp_stream stream_;
  boost::asio::steady_timer timer_;
  boost::beast::flat_buffer buffer_{8192};
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  std::optional<boost::beast::http::response<boost::beast::http::span_body<const char>>> response_;
  std::shared_ptr<const std::string> body_;
  HttpServer::Impl* server_;
  std::string remote_;
  bool registered_ = false;
  bool reading_ = false;
  bool timedOut_ = false;
  bool partialRequest_ = false;       // bytes of a request had arrived when the read timed out
  unsigned long readGeneration_ = 0;  // which read the header timer belongs to
};

}  // namespace tambrel
