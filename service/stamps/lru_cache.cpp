// LRU cache; see lru_cache.h.
#include "stamps/lru_cache.h"

namespace tambrel {

LruCache::Value LruCache::get(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto it = index_.find(key);
  if (it == index_.end()) return nullptr;
  order_.splice(order_.begin(), order_, it->second);
  return it->second->value;
}

LruCache::Value LruCache::find(const std::string& key) {
  Value v = get(key);
  (v ? hits_ : misses_).fetch_add(1, std::memory_order_relaxed);
  return v;
}

LruCache::Value LruCache::keep(const std::string& key, std::string bytes, size_t most) {
  if (bytes.empty() || bytes.size() > most) return nullptr;
  auto value = std::make_shared<const std::string>(std::move(bytes));
  put(key, value);
  return value;
}

void LruCache::put(const std::string& key, Value value) {
  if (!value || cost(key, value) > capacity_) return;
  std::lock_guard lock(mutex_);
  auto it = index_.find(key);
  if (it != index_.end()) {
    bytes_ -= cost(key, it->second->value);
    order_.erase(it->second);
    index_.erase(it);
  }
  order_.push_front({key, std::move(value)});
  index_[key] = order_.begin();
  bytes_ += cost(key, order_.front().value);
  evict();
}

void LruCache::evict() {
  while (bytes_ > capacity_ && !order_.empty()) {
    Item& last = order_.back();
    bytes_ -= cost(last.key, last.value);
    index_.erase(last.key);
    order_.pop_back();
  }
}

size_t LruCache::bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

size_t LruCache::entries() const {
  std::lock_guard lock(mutex_);
  return order_.size();
}

}  // namespace tambrel
