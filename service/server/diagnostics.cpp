// Non-blocking diagnostics; see diagnostics.h.
#include "server/diagnostics.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

namespace tambrel::diag {
namespace {

constexpr size_t kCapacity = 64 * 1024;

struct Queue {
  std::mutex mutex;
  std::condition_variable wake, drained;
  std::deque<std::string> lines;
  size_t bytes = 0;
  bool writing = false;
  bool started = false;
  unsigned long long dropped = 0;

  void writer() {
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait(lock, [this] { return !lines.empty(); });
      std::string chunk;
      for (auto& l : lines) chunk += l;
      lines.clear();
      bytes = 0;
      writing = true;
      lock.unlock();
      size_t off = 0;
      while (off < chunk.size()) {
        ssize_t n = ::write(2, chunk.data() + off, chunk.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        off += static_cast<size_t>(n);
      }
      lock.lock();
      writing = false;
      drained.notify_all();
    }
  }
};

// Never destroyed: the writer may be blocked on stderr when the process exits.
Queue& queue() {
  static Queue* q = new Queue;
  return *q;
}

}  // namespace

void say(const char* format, ...) {
  char buf[1024];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n < 0) return;
  std::string line(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
  if (line.empty() || line.back() != '\n') line += '\n';
  Queue& q = queue();
  std::lock_guard lock(q.mutex);
  if (q.bytes + line.size() > kCapacity) {
    ++q.dropped;
    return;
  }
  if (!q.started) {
    q.started = true;
    std::thread([&q] { q.writer(); }).detach();
  }
  q.bytes += line.size();
  q.lines.push_back(std::move(line));
  q.wake.notify_one();
}

unsigned long long dropped() {
  Queue& q = queue();
  std::lock_guard lock(q.mutex);
  return q.dropped;
}

bool flush(int waitMs) {
  Queue& q = queue();
  std::unique_lock lock(q.mutex);
  return q.drained.wait_for(lock, std::chrono::milliseconds(waitMs), [&q] { return q.lines.empty() && !q.writing; });
}

}  // namespace tambrel::diag
