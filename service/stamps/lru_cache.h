// A byte-bounded LRU cache of rendered pictures shared by all server threads.
// Values are immutable and shared, so a hit hands out a reference without copying and an
// eviction never pulls bytes from under a response that is still being written.
#pragma once

#include <atomic>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tambrel {

class LruCache {
 public:
  using Value = std::shared_ptr<const std::string>;
  explicit LruCache(size_t capacityBytes) : capacity_(capacityBytes) {}

  Value get(const std::string& key);
  // get() on behalf of a request, counted as a hit or a miss (the metrics' hit ratio): each
  // request's first look-up, whichever endpoint makes it. A second look for the same request
  // (after waiting for the render pool) uses get().
  Value find(const std::string& key);
  unsigned long long hits() const { return hits_.load(std::memory_order_relaxed); }
  unsigned long long misses() const { return misses_.load(std::memory_order_relaxed); }
  // Values larger than the whole capacity are not kept.
  void put(const std::string& key, Value value);
  // Freshly made bytes put under key and handed back; none, or more than `most`, are refused
  // (null) rather than cached and sent.
  Value keep(const std::string& key, std::string bytes, size_t most);

  size_t bytes() const;
  size_t entries() const;
  size_t capacity() const { return capacity_; }

 private:
  struct Item {
    std::string key;
    Value value;
  };
  static size_t cost(const std::string& key, const Value& v) { return key.size() + v->size() + 96; }
  void evict();

  const size_t capacity_;
  mutable std::mutex mutex_;
  std::list<Item> order_;  // most recent first
  std::unordered_map<std::string, std::list<Item>::iterator> index_;
  size_t bytes_ = 0;
  std::atomic<unsigned long long> hits_{0}, misses_{0};
};

}  // namespace tambrel
