// The render pool; see render_pool.h.
#include "server/render_pool.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tambrel {

RenderPool::RenderPool(int threads, size_t queueLimit, size_t perClientLimit)
    : queueLimit_(queueLimit), perClientLimit_(perClientLimit) {
  for (int i = 0; i < std::max(1, threads); ++i) threads_.emplace_back([this] { worker(); });
}

RenderPool::~RenderPool() { shutdown(); }

bool RenderPool::submit(Job job) {
  std::lock_guard lock(mutex_);
  auto& mine = perClient_[job.client];
  if (stopping_ || queued_ >= queueLimit_ || mine.size() >= perClientLimit_) {
    if (mine.empty()) perClient_.erase(job.client);
    ++stats_.refused;
    return false;
  }
  if (mine.empty()) turn_.push_back(job.client);
  job.queued = std::chrono::steady_clock::now();
  mine.push_back(std::move(job));
  ++queued_;
  wake_.notify_one();
  return true;
}

// The first job of the client whose turn it is; that client goes to the back of the line.
bool RenderPool::next(Job* job) {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return stopping_ || queued_ > 0; });
  if (stopping_) return false;
  std::string client = std::move(turn_.front());
  turn_.pop_front();
  auto it = perClient_.find(client);
  *job = std::move(it->second.front());
  it->second.pop_front();
  --queued_;
  if (it->second.empty())
    perClient_.erase(it);
  else
    turn_.push_back(std::move(client));
  return true;
}

void RenderPool::worker() {
  // Rendering yields to the threads that serve connections: they wake for a moment's work and
  // must not wait behind a render for a time slice.
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 5);
  Job job;
  while (next(&job)) {
    bool wanted = !job.wanted || job.wanted();
    {
      std::lock_guard lock(mutex_);
      ++(wanted ? stats_.started : stats_.dropped);
    }
    if (wanted) {
      if (onStart) onStart(std::chrono::steady_clock::now() - job.queued);
      job.run();
    } else if (job.dropped) {
      job.dropped();
    }
    job = Job{};  // releases what the job held (its connection) before waiting again
  }
}

void RenderPool::shutdown() {
  std::vector<Job> left;
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && threads_.empty()) return;
    stopping_ = true;
    for (auto& [client, jobs] : perClient_)
      for (auto& j : jobs) left.push_back(std::move(j));
    perClient_.clear();
    turn_.clear();
    stats_.dropped += left.size();
    queued_ = 0;
  }
  wake_.notify_all();
  for (auto& j : left)
    if (j.dropped) j.dropped();
  left.clear();
  for (auto& t : threads_)
    if (t.joinable()) t.join();
  threads_.clear();
}

size_t RenderPool::queued() const {
  std::lock_guard lock(mutex_);
  return queued_;
}

RenderPool::Stats RenderPool::stats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

}  // namespace tambrel
