// The render pool: the only threads that do costly work (rendering pictures), so the threads
// that accept, read and write connections stay free and answer /healthz, cached pictures and
// the page in milliseconds however many renders wait.
//
// Bounded: a fixed number of threads and a queue of at most `queueLimit` jobs, of which one
// client may hold at most `perClientLimit`; a job that does not fit is refused at once (the
// server answers 503 with Retry-After). Fair: each client (the remote address) has its own
// queue and the threads take from the clients in turn, so a client with many connections gets
// no more of the pool than a client with one. A job whose client has gone (closed the
// connection, or waited past its deadline) is dropped just before it would start.
//
// Anything costly goes through here the same way: a handler returns a deferred Response
// (stamps/response.h) and the session submits it; nothing in the pool knows what a job does.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tambrel {

class RenderPool {
 public:
  struct Job {
    std::string client;                    // fairness key: the remote address
    std::function<bool()> wanted;          // asked just before starting; false drops the job
    std::function<void()> run;             // the work, on a pool thread
    std::function<void()> dropped;         // instead of run, when not wanted or at shutdown
    std::chrono::steady_clock::time_point queued{};
  };

  RenderPool(int threads, size_t queueLimit, size_t perClientLimit);
  ~RenderPool();
  RenderPool(const RenderPool&) = delete;
  RenderPool& operator=(const RenderPool&) = delete;

  // False, without running anything, when the queue or the client's share of it is full.
  bool submit(Job job);
  // Drops what waits (calling `dropped`), lets running jobs finish and joins the threads.
  void shutdown();

  size_t queued() const;
  int threads() const { return static_cast<int>(threads_.size()); }
  size_t queueLimit() const { return queueLimit_; }
  // Time jobs spent queued, and how many ran, were dropped or refused.
  struct Stats {
    unsigned long long started = 0, dropped = 0, refused = 0;
  };
  Stats stats() const;
  // Called with each job's queue wait when it starts (metrics); set before the first submit.
  std::function<void(std::chrono::steady_clock::duration)> onStart;

 private:
  void worker();
  bool next(Job* job);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::unordered_map<std::string, std::deque<Job>> perClient_;
  std::list<std::string> turn_;  // clients with queued jobs, whose turn is next first
  size_t queued_ = 0;
  size_t queueLimit_;
  size_t perClientLimit_;
  bool stopping_ = false;
  Stats stats_;
  std::vector<std::thread> threads_;
};

}  // namespace tambrel
