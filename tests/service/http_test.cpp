// HTTP against the real server: bound to a free port, run on its own threads, stopped by a
// guard at the end of each test.
#include <gtest/gtest.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <cstdio>
#include <thread>

#include "http_server.h"
#include "test_support.h"

namespace tambrel {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

struct RunningServer {
  explicit RunningServer(std::FILE* log = nullptr) : service(Catalog::builtIn(), testing_support::fonts(), options()) {
    ServerOptions o;
    o.address = "127.0.0.1";
    o.port = 0;
    o.threads = 2;
    o.timeout = std::chrono::milliseconds(2000);
    o.accessLog = log;
    server = std::make_unique<HttpServer>(service, o);
    std::string error;
    if (!server->listen(&error)) throw std::runtime_error(error);
    thread = std::thread([this] { server->run(); });
  }
  ~RunningServer() {
    server->stop();
    thread.join();
  }
  static ServiceOptions options() {
    ServiceOptions o;
    o.pairKey = "TambrelSealKey2026";
    o.replyKey = "ReplyKeyForTests-2026";
    return o;
  }
  unsigned short port() const { return server->port(); }

  StampService service;
  std::unique_ptr<HttpServer> server;
  std::thread thread;
};

class Client {
 public:
  explicit Client(unsigned short port) : socket_(io_) { socket_.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port)); }

  http::response<http::string_body> request(http::verb verb, const std::string& target, bool keepAlive = true,
                                            const std::string& ifNoneMatch = {}) {
    http::request<http::empty_body> req(verb, target, 11);
    req.set(http::field::host, "127.0.0.1");
    if (!ifNoneMatch.empty()) req.set(http::field::if_none_match, ifNoneMatch);
    req.keep_alive(keepAlive);
    http::write(socket_, req);
    http::response_parser<http::string_body> parser;
    parser.skip(verb == http::verb::head);
    parser.body_limit(64u << 20);
    http::read(socket_, buffer_, parser);
    return parser.release();
  }

  // Sends raw bytes and reads whatever comes back until the server closes.
  std::string raw(const std::string& bytes) {
    asio::write(socket_, asio::buffer(bytes));
    std::string out;
    beast::error_code ec;
    char buf[4096];
    for (;;) {
      size_t n = socket_.read_some(asio::buffer(buf), ec);
      if (ec) break;
      out.append(buf, n);
    }
    return out;
  }

 private:
  asio::io_context io_;
  tcp::socket socket_;
  beast::flat_buffer buffer_;
};

std::string picturePath(const std::string& body) {
  size_t a = body.find("<outputimg>.");
  size_t b = body.find("</outputimg>");
  if (a == std::string::npos || b == std::string::npos) return {};
  return body.substr(a + 12, b - a - 12);
}

TEST(Http, GenerationRoundTripOnOneConnection) {
  RunningServer server;
  Client client(server.port());
  struct Case {
    std::string target;
  } cases[] = {
      {"/aosbegin.php?text=%E5%BC%A0%E4%B8%89&id=368&signsize=0&rnd=0.3"},
      {"/aosbegin.php?text=\xD5\xC5\xC8\xFD&id=366&signsize=500&rnd=1"},  // raw GBK bytes as the tool may send
      {"/aosbegin.php?text=Tambrel&id=369&signsize=0&rnd=0.1"},
  };
  for (const Case& c : cases) {
    auto reply = client.request(http::verb::get, c.target);
    ASSERT_EQ(reply.result_int(), 200) << reply.body();
    std::string path = picturePath(reply.body());
    ASSERT_FALSE(path.empty()) << reply.body();
    for (char ch : path) EXPECT_TRUE(ch > 0x20 && ch < 0x7F) << "path must be ASCII: " << path;
    auto picture = client.request(http::verb::get, path);
    ASSERT_EQ(picture.result_int(), 200) << path;
    EXPECT_EQ(picture[http::field::content_type], "image/png");
    EXPECT_EQ(picture[http::field::cache_control], "public, max-age=31536000, immutable");
    EXPECT_EQ(picture.body().substr(0, 4), "\x89PNG");
  }
}

TEST(Http, StatusTable) {
  RunningServer server;
  struct Case {
    http::verb verb;
    std::string target;
    int status;
  } cases[] = {
      {http::verb::get, "/", 200},
      {http::verb::get, "/download", 200},
      {http::verb::get, "/healthz", 200},
      {http::verb::get, "/maker/thumbnails/C_1350613394995.png", 200},
      {http::verb::get, "/maker/thumbnails/1297845514265.gif", 200},
      {http::verb::get, "/maker/thumbnails/C_1297909472318.jpg", 200},
      {http::verb::get, "/maker/thumbnails/unknown.png", 404},
      {http::verb::get, "/maker/thumbnails/%2e%2e/%2e%2e/etc/passwd", 400},
      {http::verb::get, "/aosbegin.php?text=A&id=368", 400},
      {http::verb::get, "/aosbegin.php?text=AB&id=1", 400},
      {http::verb::get, "/check/md5.php?message=kwpn", 200},
      {http::verb::get, "/missing", 404},
      {http::verb::post, "/aosbegin.php", 405},
      {http::verb::put, "/", 405},
  };
  for (const Case& c : cases) {
    Client client(server.port());
    auto r = client.request(c.verb, c.target);
    EXPECT_EQ(r.result_int(), c.status) << c.target;
  }
}

TEST(Http, MatchingETagAnswers304WithoutBodyOnTheSameConnection) {
  RunningServer server;
  Client client(server.port());
  for (const char* path : {"/", "/templates.json", "/maker.js"}) {
    auto first = client.request(http::verb::get, path);
    ASSERT_EQ(first.result_int(), 200) << path;
    std::string tag(first[http::field::etag]);
    ASSERT_FALSE(tag.empty()) << path;
    auto again = client.request(http::verb::get, path, true, tag);
    EXPECT_EQ(again.result_int(), 304) << path;
    EXPECT_TRUE(again.body().empty()) << path;
    EXPECT_EQ(again[http::field::etag], tag) << path;
    auto stale = client.request(http::verb::get, path, true, "\"stale\"");
    EXPECT_EQ(stale.result_int(), 200) << path;
    EXPECT_EQ(stale.body(), first.body()) << path;
  }
  // Answers without a validator are never turned into 304.
  EXPECT_EQ(client.request(http::verb::get, "/healthz", true, "*").result_int(), 200);
}

TEST(Http, HeadHasHeadersWithoutBody) {
  RunningServer server;
  Client client(server.port());
  auto get = client.request(http::verb::get, "/maker/thumbnails/C_1350613394995.png");
  auto head = client.request(http::verb::head, "/maker/thumbnails/C_1350613394995.png");
  EXPECT_EQ(head.result_int(), 200);
  EXPECT_EQ(head[http::field::content_length], std::to_string(get.body().size()));
  EXPECT_EQ(head[http::field::content_type], "image/png");
  EXPECT_TRUE(head.body().empty());
  // The connection is still usable after a HEAD: nothing extra was sent.
  EXPECT_EQ(client.request(http::verb::get, "/healthz").result_int(), 200);
}

TEST(Http, OversizedHeaderAndGarbageAreAnsweredAndClosed) {
  RunningServer server;
  {
    Client client(server.port());
    std::string reply = client.raw("GET /healthz HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 431", 0), 0u) << reply.substr(0, 80);
  }
  {
    Client client(server.port());
    std::string reply = client.raw("GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(reply.rfind("HTTP/1.1 431", 0) == 0 || reply.rfind("HTTP/1.1 414", 0) == 0) << reply.substr(0, 80);
  }
  {
    Client client(server.port());
    std::string reply = client.raw("NOT HTTP AT ALL\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 400", 0), 0u) << reply.substr(0, 80);
  }
  // The server still answers after all that.
  Client client(server.port());
  EXPECT_EQ(client.request(http::verb::get, "/healthz").result_int(), 200);
}

TEST(Http, AccessLogShowsTheRawTarget) {
  std::FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  {
    RunningServer server(log);
    Client client(server.port());
    client.request(http::verb::get, "/aosbegin.php?text=%E5%BC%A0%E4%B8%89&id=368&signsize=0&rnd=0.3");
    client.request(http::verb::get, "/aosbegin.php?text=\xD5\xC5\xC8\xFD&id=368&signsize=0&rnd=0.3");
  }
  std::rewind(log);
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, log)) > 0) text.append(buf, n);
  std::fclose(log);
  EXPECT_NE(text.find("\"GET /aosbegin.php?text=%E5%BC%A0%E4%B8%89&id=368&signsize=0&rnd=0.3 HTTP/1.1\" 200 "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("text=\\xd5\\xc5\\xc8\\xfd&id=368"), std::string::npos) << text;
  EXPECT_NE(text.find("127.0.0.1 - - ["), std::string::npos) << text;
}

TEST(Http, StopEndsRunWithIdleConnectionsOpen) {
  auto server = std::make_unique<RunningServer>();
  Client idle(server->port());
  EXPECT_EQ(idle.request(http::verb::get, "/healthz").result_int(), 200);
  auto start = std::chrono::steady_clock::now();
  server.reset();  // stop() and join while `idle` keeps its connection
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
}  // namespace tambrel
