// The render pool on its own: bounded (refuses at once when full), fair (clients take turns,
// whatever their number of jobs), and dropping work nobody waits for before it starts.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/render_pool.h"

namespace tambrel {
namespace {

// Holds the pool's only thread until released, so what is submitted meanwhile queues.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  bool entered = false, open = false;
  void hold() {
    std::unique_lock l(m);
    entered = true;
    cv.notify_all();
    cv.wait(l, [this] { return open; });
  }
  void waitEntered() {
    std::unique_lock l(m);
    cv.wait(l, [this] { return entered; });
  }
  void release() {
    std::lock_guard l(m);
    open = true;
    cv.notify_all();
  }
};

// Waits (bounded) until `done` holds.
template <class F>
void waitFor(F done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

RenderPool::Job job(std::string client, std::function<void()> run, std::function<bool()> wanted = {},
                    std::function<void()> dropped = {}) {
  RenderPool::Job j;
  j.client = std::move(client);
  j.run = std::move(run);
  j.wanted = std::move(wanted);
  j.dropped = std::move(dropped);
  return j;
}

TEST(RenderPool, ClientsTakeTurnsAndQueueIsBounded) {
  RenderPool pool(1, 6, 4);
  Gate gate;
  std::mutex m;
  std::vector<std::string> order;
  auto record = [&](std::string what) {
    return [&, what] {
      std::lock_guard l(m);
      order.push_back(what);
    };
  };
  ASSERT_TRUE(pool.submit(job("x", [&] { gate.hold(); })));
  gate.waitEntered();
  for (int i = 1; i <= 4; ++i) EXPECT_TRUE(pool.submit(job("a", record("a" + std::to_string(i)))));
  EXPECT_FALSE(pool.submit(job("a", record("a5")))) << "one client holds at most its share";
  EXPECT_TRUE(pool.submit(job("b", record("b1"))));
  EXPECT_TRUE(pool.submit(job("c", record("c1"))));
  EXPECT_FALSE(pool.submit(job("d", record("d1")))) << "the whole queue is full";
  EXPECT_EQ(pool.queued(), 6u);
  gate.release();
  waitFor([&] {
    std::lock_guard l(m);
    return order.size() == 6;
  });
  pool.shutdown();
  std::vector<std::string> want = {"a1", "b1", "c1", "a2", "a3", "a4"};
  EXPECT_EQ(order, want);
  EXPECT_EQ(pool.stats().refused, 2u);
}

TEST(RenderPool, WorkNobodyWantsIsDroppedBeforeItStarts) {
  RenderPool pool(1, 16, 16);
  Gate gate;
  std::atomic<int> ran{0}, dropped{0};
  ASSERT_TRUE(pool.submit(job("x", [&] { gate.hold(); })));
  gate.waitEntered();
  for (int i = 0; i < 5; ++i)
    pool.submit(job("a", [&] { ++ran; }, [] { return false; }, [&] { ++dropped; }));
  pool.submit(job("a", [&] { ++ran; }, [] { return true; }));
  gate.release();
  waitFor([&] { return ran + dropped == 6; });
  pool.shutdown();
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(dropped, 5);
}

TEST(RenderPool, ShutdownDropsWhatWaits) {
  RenderPool pool(1, 16, 16);
  Gate gate;
  std::atomic<int> ran{0}, dropped{0};
  ASSERT_TRUE(pool.submit(job("x", [&] { gate.hold(); })));
  gate.waitEntered();
  for (int i = 0; i < 3; ++i) pool.submit(job("a", [&] { ++ran; }, {}, [&] { ++dropped; }));
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    gate.release();
  });
  pool.shutdown();
  releaser.join();
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(dropped, 3);
  EXPECT_FALSE(pool.submit(job("a", [&] { ++ran; })));
}

}  // namespace
}  // namespace tambrel
