// The answer to one request, as every handler gives it and the HTTP server writes it: status,
// content type, extra headers and a body that is shared, never copied (a picture's body is the
// cache entry itself).
//
// An answer that needs costly work (rendering a picture that is not cached) is not computed by
// the handler: it comes back with `deferred` set, a job that computes the real answer. The HTTP
// server runs such jobs on its render pool, off the threads that read and write connections,
// and sends what they return; callers without a pool (tests, the fuzzer, tools) run it inline
// with complete(). Any endpoint puts its costly work on the pool this way.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace tambrel {

// A file sent in pieces as the connection takes them (downloads): never read whole into memory.
// The descriptor is open for reading and owned; size is what was found when it was opened.
struct FileBody {
  int fd = -1;
  uint64_t size = 0;
  explicit FileBody(int d, uint64_t s) : fd(d), size(s) {}
  ~FileBody() {
    if (fd >= 0) ::close(fd);
  }
  FileBody(const FileBody&) = delete;
  FileBody& operator=(const FileBody&) = delete;
};

struct Response {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::shared_ptr<const std::string> body;
  std::vector<std::pair<std::string, std::string>> headers;  // extra headers
  std::shared_ptr<FileBody> file;  // instead of body: the content is this file, streamed
  // Costly work still to do; the answer is what it returns (see above).
  std::function<Response()> deferred;
};

// Runs deferred work inline until the answer is complete.
inline Response complete(Response r) {
  while (r.deferred) {
    auto work = std::move(r.deferred);
    r = work();
  }
  return r;
}

}  // namespace tambrel
