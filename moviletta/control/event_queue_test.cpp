// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/control/event_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace moviletta {
namespace {

TEST(EventQueue, RunsWorkFromOtherThreadsInOrderOnTheDrainingThread) {
  std::vector<Error> failures;
  EventQueue queue([&](const Error& e) { failures.push_back(e); });
  std::vector<int> order;
  const auto host_thread = std::this_thread::get_id();
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i)
      queue.Post([&, i] {
        EXPECT_EQ(std::this_thread::get_id(), host_thread);
        order.push_back(i);
        if (i == 50) throw Error(err::kInternal, "one notification failed");
      });
  });
  worker.join();
  EXPECT_EQ(queue.RunPending(), 100u);
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  ASSERT_EQ(failures.size(), 1u) << "a failing task must not stop the queue";
  EXPECT_EQ(failures[0].description(), "one notification failed");
}

TEST(EventQueue, WaitsForWorkOnlyWhenNoneIsQueued) {
  EventQueue queue;
  int ran = 0;
  queue.Post([&] { queue.Post([&] { ++ran; }); });
  EXPECT_EQ(queue.RunPending(), 1u) << "work posted by a task waits for the next pass";
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(queue.RunPending(), 1u);
  EXPECT_EQ(ran, 1);

  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue.Post([&] { ++ran; });
  });
  EXPECT_EQ(queue.RunPending(std::chrono::seconds(30)), 1u) << "woken by the post";
  late.join();
  EXPECT_EQ(ran, 2);
}

TEST(EventQueue, ANestedPassRunsTheOldestTaskNext) {
  EventQueue queue;
  std::vector<std::string> order;
  queue.Post([&] {
    order.push_back("yielding call");
    for (int pass = 0; pass < 20 && order.size() < 3; ++pass)
      queue.RunPending(std::chrono::milliseconds(10));
    order.push_back("yielding call ends");
  });
  queue.Post([&] { order.push_back("queued behind it"); });
  queue.Post([&] { order.push_back("queued last"); });
  queue.RunPending();
  EXPECT_EQ(order, (std::vector<std::string>{"yielding call", "queued behind it", "queued last",
                                             "yielding call ends"}));
  EXPECT_EQ(queue.RunPending(), 0u) << "each task ran once";
}

TEST(EventQueue, WakeEndsAnIdleWait) {
  EventQueue queue;
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue.Wake();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(queue.RunPending(std::chrono::seconds(30)), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  waker.join();
}

}  // namespace
}  // namespace moviletta
