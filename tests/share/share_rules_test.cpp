// The share request's rules and the one pending request.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "modules/share/share_request.h"
#include "modules/share/share_state.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::share {
namespace {

namespace fs = std::filesystem;

JSValue Anchor() { return JSValue{{"x", 1}, {"y", 2.5}, {"width", 10}, {"height", 20}}; }

JSValue Request(JSValue members) {
  members["anchor"] = Anchor();
  return members;
}

TEST(ShareRequest, TextUrlAnchorAndSomethingToShare) {
  EXPECT_TRUE(ParseShareRequest(Request({{"text", "hello"}})).has_value());
  EXPECT_FALSE(ParseShareRequest(JSValue{{"text", "hello"}}).has_value()) << "no anchor";
  EXPECT_FALSE(ParseShareRequest(Request({{"text", ""}})).has_value()) << "nothing to share";
  EXPECT_FALSE(ParseShareRequest(Request({{"text", 5}})).has_value()) << "a number is no text";
  EXPECT_TRUE(ParseShareRequest(Request({{"filePath", ""}})).has_value()) << "a path counts even when empty";
  EXPECT_FALSE(ParseShareRequest(JSValue::array({1})).has_value());

  EXPECT_TRUE(ParseShareRequest(Request({{"text", std::string(kMaxTextBytes, 'a')}})).has_value());
  EXPECT_FALSE(ParseShareRequest(Request({{"text", std::string(kMaxTextBytes + 1, 'a')}})).has_value());

  JSValue badAnchor = Request({{"text", "x"}});
  badAnchor["anchor"]["height"] = "20";
  EXPECT_FALSE(ParseShareRequest(badAnchor).has_value());
  badAnchor["anchor"] = JSValue::array({1, 2, 3, 4});
  EXPECT_FALSE(ParseShareRequest(badAnchor).has_value());

  const auto withUrl = ParseShareRequest(Request({{"url", "HTTPS://example.com/a?b=c"}}));
  ASSERT_TRUE(withUrl.has_value());
  EXPECT_EQ(*withUrl->url, "HTTPS://example.com/a?b=c");
  EXPECT_FALSE(ParseShareRequest(Request({{"text", "x"}, {"url", "http://example.com"}})).has_value());
}

TEST(ShareRequest, TheUrlRule) {
  EXPECT_TRUE(IsShareableUrl("https://a"));
  EXPECT_TRUE(IsShareableUrl("https://example.com/\xC3\xA9"));  // bytes above 127 are allowed
  EXPECT_FALSE(IsShareableUrl("https://"));
  EXPECT_FALSE(IsShareableUrl("http://example.com"));
  EXPECT_FALSE(IsShareableUrl("https://exa mple.com"));
  EXPECT_FALSE(IsShareableUrl("https:///path"));
  EXPECT_FALSE(IsShareableUrl("https://?q"));
  EXPECT_FALSE(IsShareableUrl("https://#f"));
  EXPECT_FALSE(IsShareableUrl("https://a.com/\x7f"));
  EXPECT_FALSE(IsShareableUrl("https://a.com/\t"));
  for (const char* c : {"\"", "<", ">", "\\", "^", "`", "{", "|", "}"}) {
    EXPECT_FALSE(IsShareableUrl(std::string("https://a.com/") + c)) << c;
  }
  EXPECT_TRUE(IsShareableUrl("https://a.com/" + std::string(2048 - 14, 'x')));
  EXPECT_FALSE(IsShareableUrl("https://a.com/" + std::string(2049 - 14, 'x')));
}

TEST(ShareRequest, FilesOnlyFromTheHandedOutCopiesWithoutLinks) {
  testing::TempDir root;
  const std::string tmp = root.Join("tmp");
  fs::create_directories(tmp + "/guid");
  testing::WriteTextFile(tmp + "/guid/photo.jpg", "x");
  testing::WriteTextFile(root.Join("cached.bin"), "x");
  fs::create_directories(root.Join("elsewhere"));
  testing::WriteTextFile(root.Join("elsewhere/secret.txt"), "x");
  fs::create_directory_symlink(root.Join("elsewhere"), tmp + "/linked");
  fs::create_symlink(root.Join("elsewhere/secret.txt"), tmp + "/guid/link.txt");

  const auto shared = CheckSharedPath(tmp + "/guid/photo.jpg", tmp);
  ASSERT_TRUE(shared);
  EXPECT_EQ(shared->path, tmp + "/guid/photo.jpg");
  EXPECT_TRUE(shared->file && *shared->file) << "the file comes open";
  EXPECT_EQ(CheckSharedPath(tmp + "/guid/./photo.jpg", tmp)->path, tmp + "/guid/photo.jpg");
  EXPECT_FALSE(CheckSharedPath(root.Join("cached.bin"), tmp)) << "in the cache, not below tmp";
  EXPECT_FALSE(CheckSharedPath(tmp + "/guid/../guid/photo.jpg", tmp)) << "no ..";
  EXPECT_FALSE(CheckSharedPath(tmp + "/guid", tmp)) << "a folder";
  EXPECT_FALSE(CheckSharedPath(tmp + "/guid/missing.jpg", tmp));
  EXPECT_FALSE(CheckSharedPath(tmp + "/linked/secret.txt", tmp)) << "a link on the way";
  EXPECT_FALSE(CheckSharedPath(tmp + "/guid/link.txt", tmp)) << "a link at the end";
  EXPECT_FALSE(CheckSharedPath("guid/photo.jpg", tmp)) << "relative";
  EXPECT_FALSE(CheckSharedPath(tmp + "x/guid/photo.jpg", tmp)) << "a sibling that starts alike";
  EXPECT_FALSE(CheckSharedPath("", tmp));
  EXPECT_FALSE(CheckSharedPath(tmp + "/guid/photo.jpg", "")) << "no media root";
}

TEST(ShareState, ANewerShareSettlesTheOlderAndEachEndsOnce) {
  ShareState state;
  std::vector<std::string> ends;
  auto record = [&ends](const std::string& name) {
    return [&ends, name](const ShareEnd& end) {
      ends.push_back(name + (end.failure ? std::string(" ") + end.failure : end.completed ? " true" : " false"));
    };
  };
  const uint64_t first = state.Begin(record("first"));
  const uint64_t second = state.Begin(record("second"));
  EXPECT_EQ(ends, (std::vector<std::string>{"first false"}));
  EXPECT_FALSE(state.Complete(first, true)) << "replaced already";
  EXPECT_TRUE(state.Complete(second, true));
  EXPECT_FALSE(state.Complete(second, false)) << "settled already";
  EXPECT_FALSE(state.Pending());
  const uint64_t third = state.Begin(record("third"));
  EXPECT_TRUE(state.Fail(third, "share_unavailable"));
  EXPECT_EQ(ends, (std::vector<std::string>{"first false", "second true", "third share_unavailable"}));
}

TEST(ShareState, TheWatcherEndsARequestAfterItsTimeEvenWhenWokenEarly) {
  ShareState state;
  int ends = 0;
  bool completed = true;
  const uint64_t id = state.Begin([&](const ShareEnd& end) {
    ++ends;
    completed = end.completed;
  });
  auto now = std::chrono::steady_clock::time_point{};
  int sleeps = 0;
  WatcherClock clock;
  clock.now = [&] { return now; };
  clock.sleep = [&](std::chrono::steady_clock::duration wanted) {
    ++sleeps;
    now += sleeps == 1 ? wanted / 2 : wanted;  // the first sleep ends early
  };
  EXPECT_TRUE(RunShareWatcher(state, id, clock));
  EXPECT_EQ(sleeps, 2);
  EXPECT_EQ(now - std::chrono::steady_clock::time_point{}, kShareTimeout);
  EXPECT_EQ(ends, 1);
  EXPECT_FALSE(completed);

  // A watcher of a request already replaced changes nothing.
  const uint64_t older = state.Begin([](const ShareEnd&) {});
  state.Begin([&](const ShareEnd&) { ++ends; });
  EXPECT_FALSE(RunShareWatcher(state, older, clock, std::chrono::seconds(0)));
  EXPECT_EQ(ends, 1);
}

TEST(ShareState, AWatcherLeavesAsSoonAsItsRequestEnds) {
  ShareState state;
  const uint64_t id = state.Begin([](const ShareEnd&) {});
  std::atomic<bool> settled{true};
  // An hour's watch on the real clock: the test only ends because the
  // choice below wakes the watcher.
  std::thread watcher([&] { settled = RunShareWatcher(state, id, WatcherClock{}, std::chrono::hours(1)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(state.Complete(id, true));
  watcher.join();
  EXPECT_FALSE(settled.load()) << "the choice settled it, not the watcher";
}

TEST(ShareState, CompletionsFromManyThreadsSettleOnce) {
  ShareState state;
  std::atomic<int> ends{0};
  const uint64_t id = state.Begin([&](const ShareEnd&) { ++ends; });
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { state.Complete(id, i % 2 == 0); });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(ends.load(), 1);
}

}  // namespace
}  // namespace VirelantDesktop::share
