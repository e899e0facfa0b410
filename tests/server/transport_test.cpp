#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/page_workers.h"
#include "server/static_files.h"

namespace oapx1 {
namespace {

namespace fs = std::filesystem;

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct TempRoot {
  TempRoot() {
    path = fs::temp_directory_path() / ("oapx1_static_" + std::to_string(::getpid()));
    fs::remove_all(path);
    fs::create_directories(path / "Include");
  }
  ~TempRoot() { fs::remove_all(path); }
  fs::path path;
};

TEST(StaticFileCache, a_kept_file_is_read_again_once_changed_and_gone_once_deleted) {
  TempRoot root;
  const fs::path file = root.path / "Include" / "a.css";
  write_file(file, "one");
  StaticFiles files(root.path);
  const std::vector<std::string> path{"include", "A.CSS"};

  ASSERT_TRUE(files.load(path));
  EXPECT_EQ(files.load(path)->content, "one");
  EXPECT_EQ(files.load(path)->content_type, "text/css; charset=gb2312");
  EXPECT_EQ(files.cached_bytes(), 3u);

  // Same size, only the modification time tells.
  write_file(file, "two");
  fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(5));
  EXPECT_EQ(files.load(path)->content, "two");

  // Replaced by another file (a deploy renames over it).
  write_file(root.path / "new.css", "three!");
  fs::rename(root.path / "new.css", file);
  EXPECT_EQ(files.load(path)->content, "three!");
  EXPECT_EQ(files.cached_bytes(), 6u);

  fs::remove(file);
  EXPECT_FALSE(files.load(path));
  EXPECT_EQ(files.cached_bytes(), 0u);
}

TEST(StaticFileCache, files_above_the_size_limit_are_served_but_not_kept) {
  TempRoot root;
  write_file(root.path / "big.js", std::string(StaticFiles::kMaxCachedFile + 1, 'x'));
  StaticFiles files(root.path);
  const auto big = files.load({"big.js"});
  ASSERT_TRUE(big);
  EXPECT_EQ(big->content.size(), StaticFiles::kMaxCachedFile + 1);
  EXPECT_EQ(files.cached_bytes(), 0u);
}

// In the tests below what the posted work waits on or writes to is declared
// before the workers: the workers are destroyed (their threads joined) first.

TEST(PageWorkers, a_sessions_requests_run_in_order_without_holding_a_thread_from_others) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> first_started, other_done;
  std::mutex order_mutex;
  std::vector<std::string> order;
  auto note = [&](const std::string& what) {
    std::lock_guard<std::mutex> guard(order_mutex);
    order.push_back(what);
  };
  std::promise<void> second_done;
  PageWorkers workers(2, 8);

  ASSERT_TRUE(workers.try_post("s", [&] {
    first_started.set_value();
    released.wait();
    note("s1");
  }));
  first_started.get_future().wait();
  ASSERT_TRUE(workers.try_post("s", [&] {
    note("s2");
    second_done.set_value();
  }));
  EXPECT_EQ(workers.waiting(), 1u);  // behind s1, not on the free thread
  // Another session is served by the free thread while s1 is held.
  ASSERT_TRUE(workers.try_post("t", [&] {
    note("t");
    other_done.set_value();
  }));
  ASSERT_EQ(other_done.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);

  release.set_value();
  ASSERT_EQ(second_done.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
  std::lock_guard<std::mutex> guard(order_mutex);
  EXPECT_EQ(order, (std::vector<std::string>{"t", "s1", "s2"}));
}

TEST(PageWorkers, requests_waiting_behind_their_session_count_against_the_queue_limit) {
  std::promise<void> release, started;
  std::shared_future<void> released = release.get_future().share();
  PageWorkers workers(1, 1);
  ASSERT_TRUE(workers.try_post("s", [&] {
    started.set_value();
    released.wait();
  }));
  started.get_future().wait();
  EXPECT_TRUE(workers.try_post("s", [] {}));   // waits behind the first
  EXPECT_FALSE(workers.try_post("s", [] {}));  // the queue is full
  EXPECT_FALSE(workers.try_post("u", [] {}));
  release.set_value();
}

// What follows a job (sending its reply) runs once its session is free: the
// client's next request, sent on that reply, may then run at once.
TEST(PageWorkers, what_follows_a_job_finds_its_session_free) {
  PageWorkers workers(1, 8);
  std::promise<bool> free_then;
  ASSERT_TRUE(workers.try_post("s", [] {}, [&] { free_then.set_value(workers.try_run_here("s", [] {})); }));
  auto ran = free_then.get_future();
  ASSERT_EQ(ran.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_TRUE(ran.get());
}

TEST(PageWorkers, a_request_runs_on_the_calling_thread_only_while_its_session_is_free) {
  std::vector<std::string> order;
  std::promise<void> posted_done, release, started;
  std::shared_future<void> released = release.get_future().share();
  PageWorkers workers(1, 8);
  std::thread::id ran_on;
  EXPECT_TRUE(workers.try_run_here("s", [&] { ran_on = std::this_thread::get_id(); }));
  EXPECT_EQ(ran_on, std::this_thread::get_id());

  // A request of the session posted while one runs here waits behind it.
  EXPECT_TRUE(workers.try_run_here("s", [&] {
    EXPECT_TRUE(workers.try_post("s", [&] {
      order.push_back("posted");
      posted_done.set_value();
    }));
    EXPECT_EQ(workers.waiting(), 1u);
    EXPECT_FALSE(workers.try_run_here("s", [&] { order.push_back("not run"); }));
    order.push_back("here");
  }));
  ASSERT_EQ(posted_done.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(order, (std::vector<std::string>{"here", "posted"}));

  // Nor while one runs on a page thread; another session runs at once.
  ASSERT_TRUE(workers.try_post("s", [&] {
    started.set_value();
    released.wait();
  }));
  started.get_future().wait();
  EXPECT_FALSE(workers.try_run_here("s", [] {}));
  EXPECT_TRUE(workers.try_run_here("t", [] {}));
  release.set_value();
}

}  // namespace
}  // namespace oapx1
