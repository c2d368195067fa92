// The access log, written by its own thread so that a slow or stalled sink (a pipe nobody
// reads, a full disk, a stuck journal) never holds up request handling. Request threads only
// append a line to a bounded in-memory queue; when the queue is full the line is dropped and
// counted, and the count is reported on stderr once the sink accepts lines again. A write that
// fails (disk full, a file size limit, a closed pipe) loses its lines: the first failure is
// reported once on stderr, the count when writing works again; nothing is retried or blocks.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace tambrel {

class AccessLog {
 public:
  // Writes to `fd`, which stays the caller's (stdout, a test's temporary file) unless `owned`:
  // an owned descriptor is closed when reopen() replaces it, so a rotated file's space is freed.
  explicit AccessLog(int fd, size_t capacityBytes = 1u << 20, bool owned = false);
  ~AccessLog();
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;

  // Never blocks on the sink; drops the line when `capacityBytes` are already waiting.
  void append(std::string line);
  // Switches to a newly opened file (log rotation on SIGHUP); the log then owns that file.
  bool reopen(const std::string& path, std::string* error);
  // Lines dropped so far (too slow a sink, or lost in a failed write).
  uint64_t dropped() const;
  // Writes that failed.
  uint64_t writeErrors() const;
  // Writes what is queued and ends the writer, waiting at most `waitMs`. False when the sink
  // did not take the lines in time: the writer is then left blocked and this object must not
  // be destroyed (the caller lets it leak at exit).
  bool close(int waitMs);

 private:
  void writer();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drained_;
  std::deque<std::string> queue_;
  size_t queuedBytes_ = 0;
  size_t capacity_;
  uint64_t dropped_ = 0;
  uint64_t droppedReported_ = 0;
  uint64_t writeErrors_ = 0;
  uint64_t lostInErrors_ = 0;
  bool failing_ = false;  // the last write failed; reported once until one succeeds
  bool writing_ = false;
  bool closing_ = false;
  int fd_;
  bool ownsFd_ = false;
  int pendingFd_ = -1;  // from reopen(), taken over by the writer between two writes
  std::thread thread_;
};

}  // namespace tambrel
