// Access log writer thread; see access_log.h.
#include "server/access_log.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "server/diagnostics.h"

namespace tambrel {

AccessLog::AccessLog(int fd, size_t capacityBytes, bool owned) : capacity_(capacityBytes), fd_(fd), ownsFd_(owned) {
  thread_ = std::thread([this] { writer(); });
}

AccessLog::~AccessLog() {
  close(2000);
  if (thread_.joinable()) thread_.join();
  if (ownsFd_) ::close(fd_);
  if (pendingFd_ >= 0) ::close(pendingFd_);
}

void AccessLog::append(std::string line) {
  std::lock_guard lock(mutex_);
  if (closing_ || queuedBytes_ + line.size() > capacity_) {
    ++dropped_;
    return;
  }
  queuedBytes_ += line.size();
  queue_.push_back(std::move(line));
  wake_.notify_one();
}

bool AccessLog::reopen(const std::string& path, std::string* error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0) {
    if (error) *error = "cannot open access log " + path + ": " + std::strerror(errno);
    return false;
  }
  std::lock_guard lock(mutex_);
  if (pendingFd_ >= 0) ::close(pendingFd_);
  pendingFd_ = fd;
  wake_.notify_one();
  return true;
}

uint64_t AccessLog::dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_ + lostInErrors_;
}

uint64_t AccessLog::writeErrors() const {
  std::lock_guard lock(mutex_);
  return writeErrors_;
}

bool AccessLog::close(int waitMs) {
  std::unique_lock lock(mutex_);
  closing_ = true;
  wake_.notify_one();
  bool done = drained_.wait_for(lock, std::chrono::milliseconds(waitMs),
                                [this] { return queue_.empty() && !writing_; });
  if (!done) {
    // The writer is stuck in write(); it cannot be interrupted portably, so it stays.
    lock.unlock();
    if (thread_.joinable()) thread_.detach();
    return false;
  }
  if (dropped_ > droppedReported_)
    diag::say("stampd: access log sink too slow, %llu lines dropped",
              static_cast<unsigned long long>(dropped_ - droppedReported_));
  if (failing_)
    diag::say("stampd: access log writes failed %llu times, %llu lines lost",
              static_cast<unsigned long long>(writeErrors_), static_cast<unsigned long long>(lostInErrors_));
  droppedReported_ = dropped_;
  return true;
}

void AccessLog::writer() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return !queue_.empty() || closing_ || pendingFd_ >= 0; });
    if (pendingFd_ >= 0) {
      if (ownsFd_) ::close(fd_);
      fd_ = pendingFd_;
      ownsFd_ = true;
      pendingFd_ = -1;
    }
    if (queue_.empty()) {
      drained_.notify_all();
      if (closing_) break;
      continue;
    }
    // Take everything queued and write it without the lock: request threads keep appending.
    std::string chunk;
    for (const std::string& line : queue_) chunk += line;
    queue_.clear();
    queuedBytes_ = 0;
    uint64_t newlyDropped = dropped_ - droppedReported_;
    droppedReported_ = dropped_;
    writing_ = true;
    int fd = fd_;
    lock.unlock();
    if (newlyDropped > 0)
      diag::say("stampd: access log sink too slow, %llu lines dropped", static_cast<unsigned long long>(newlyDropped));
    size_t off = 0;
    int error = 0;
    while (off < chunk.size()) {
      ssize_t n = ::write(fd, chunk.data() + off, chunk.size() - off);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {  // a broken sink loses these lines; requests go on
        error = n < 0 ? errno : ENOSPC;
        break;
      }
      off += static_cast<size_t>(n);
    }
    uint64_t lost = 0;
    if (error)
      for (size_t i = off; i < chunk.size(); ++i) lost += chunk[i] == '\n';
    lock.lock();
    if (error) {
      ++writeErrors_;
      lostInErrors_ += lost;
      if (!failing_)
        diag::say("stampd: access log write failed (%s); lines are lost until it works again", std::strerror(error));
      failing_ = true;
    } else if (failing_) {
      failing_ = false;
      diag::say("stampd: access log writing again; %llu writes had failed, %llu lines lost so far",
                static_cast<unsigned long long>(writeErrors_), static_cast<unsigned long long>(lostInErrors_));
    }
    writing_ = false;
  }
}

}  // namespace tambrel
