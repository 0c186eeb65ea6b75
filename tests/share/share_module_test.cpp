// The Share module through its JavaScript face, with a recording sheet in
// place of the desktop's: what reaches the sheet, how each request ends, and
// that a request's sheet goes when the request does.
#include "modules/share/share_module.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modules/media/media_root.h"
#include "modules/share/share_state.h"
#include "platform/share_sheet.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_invoker.h"

namespace VirelantDesktop {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ModuleUnderTest;

// The sheets the module asked for, in order. Without a context the module's
// UI steps run on its worker threads, so everything here is locked.
class RecordingSheets {
 public:
  struct Shown {
    platform::SharePayload payload;
    platform::ShareSheetDone done;
    bool closed = false;
  };

  class Handle final : public platform::ShareSheetHandle {
   public:
    Handle(RecordingSheets& owner, size_t index) : owner_(owner), index_(index) {}
    void Close() override {
      std::lock_guard lock(owner_.mutex_);
      owner_.shown_[index_].closed = true;
    }

   private:
    RecordingSheets& owner_;
    size_t index_;
  };

  platform::ShareSheetService Service() {
    return [this](const platform::SharePayload& payload,
                  platform::ShareSheetDone done) -> std::shared_ptr<platform::ShareSheetHandle> {
      std::lock_guard lock(mutex_);
      if (refuse_) return nullptr;
      shown_.push_back({payload, std::move(done), false});
      changed_.notify_all();
      return std::make_shared<Handle>(*this, shown_.size() - 1);
    };
  }

  void Refuse() {
    std::lock_guard lock(mutex_);
    refuse_ = true;
  }
  bool WaitForCount(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return shown_.size() >= count; });
  }
  size_t Count() {
    std::lock_guard lock(mutex_);
    return shown_.size();
  }
  Shown At(size_t index) {
    std::lock_guard lock(mutex_);
    return shown_.at(index);
  }
  // Ends sheet `index` as the user would.
  void End(size_t index, platform::ShareSheetEnd end) {
    platform::ShareSheetDone done;
    {
      std::lock_guard lock(mutex_);
      done = shown_.at(index).done;
    }
    done(end);
  }

 private:
  std::mutex mutex_;  // guards shown_ and refuse_
  std::condition_variable changed_;
  std::vector<Shown> shown_;
  bool refuse_ = false;
};

class ShareModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("XDG_CACHE_HOME");
    savedCache_ = old ? old : "";
    setenv("XDG_CACHE_HOME", cache_.Join("cache").c_str(), 1);
    media::ResetMediaRootForTesting();
    ASSERT_FALSE(media::MediaRoot().empty());
    copies_ = media::MediaRoot() + "/tmp/0123abcd";
    fs::create_directories(copies_);
    platform::InstallShareSheet(sheets_.Service());
  }
  void TearDown() override {
    platform::InstallShareSheet(nullptr);
    setenv("XDG_CACHE_HOME", savedCache_.c_str(), 1);
    media::ResetMediaRootForTesting();
  }

  static JSValue Anchor() { return JSValue{{"x", 1}, {"y", 2.5}, {"width", 30}, {"height", 40}}; }
  static JSValue TextRequest(const std::string& text) { return JSValue{{"text", text}, {"anchor", Anchor()}}; }

  std::shared_ptr<testing::PromiseProbe> Share(const JSValue& request) { return share_.Call("share", {request}); }

  static void ExpectRejected(const std::shared_ptr<testing::PromiseProbe>& probe, const std::string& code) {
    ASSERT_TRUE(probe->WaitSettled(10s));
    ASSERT_TRUE(probe->IsRejected()) << probe->Value().dump();
    EXPECT_EQ(probe->Error().code, code);
    EXPECT_EQ(probe->Error().message, code);
  }
  static void ExpectCompleted(const std::shared_ptr<testing::PromiseProbe>& probe, bool completed) {
    ASSERT_TRUE(probe->WaitSettled(10s));
    ASSERT_TRUE(probe->IsResolved()) << probe->Error().code;
    EXPECT_EQ(probe->Value(), (JSValue{{"completed", completed}}));
  }

  testing::TempDir cache_;
  std::string savedCache_;
  std::string copies_;
  RecordingSheets sheets_;
  ModuleUnderTest share_{"Share"};
};

TEST_F(ShareModuleTest, BadRequestsAreRefusedAtOnceAndShowNothing) {
  const std::vector<JSValue> bad = {
      JSValue("text"),
      JSValue(nullptr),
      JSValue{{"text", "hi"}},                                          // no anchor
      JSValue{{"text", "hi"}, {"anchor", {{"x", 1}, {"y", 2}}}},        // half an anchor
      JSValue{{"text", ""}, {"anchor", Anchor()}},                      // nothing to share
      JSValue{{"text", 5}, {"url", true}, {"anchor", Anchor()}},        // wrong types count as absent
      JSValue{{"url", "http://example.com/"}, {"anchor", Anchor()}},
      JSValue{{"url", "https://exa mple.com/"}, {"anchor", Anchor()}},
      JSValue{{"url", "https:///path"}, {"anchor", Anchor()}},
      TextRequest(std::string(40001, 'x')),
  };
  for (const JSValue& request : bad) ExpectRejected(Share(request), "invalid_request");
  EXPECT_EQ(sheets_.Count(), 0u);
  // A text of exactly 40,000 bytes and a link in capitals are fine.
  auto longText = Share(TextRequest(std::string(40000, 'x')));
  ASSERT_TRUE(sheets_.WaitForCount(1));
  EXPECT_EQ(sheets_.At(0).payload.text.size(), 40000u);
  sheets_.End(0, platform::ShareSheetEnd::Dismissed);
  ExpectCompleted(longText, false);
}

TEST_F(ShareModuleTest, TheSheetGetsTheTextTheLinkAndTheOpenFile) {
  const std::string file = copies_ + "/report.pdf";
  testing::WriteTextFile(file, "the report");
  auto probe = Share(JSValue{{"filePath", file}, {"text", "look"}, {"url", "HTTPS://example.com/a"}, {"anchor", Anchor()}});
  ASSERT_TRUE(sheets_.WaitForCount(1));
  const auto shown = sheets_.At(0);
  EXPECT_EQ(shown.payload.title, "TALVEK");
  EXPECT_EQ(shown.payload.text, "look");
  EXPECT_EQ(shown.payload.url, "HTTPS://example.com/a");
  EXPECT_EQ(shown.payload.filePath, file);
  ASSERT_TRUE(shown.payload.file && *shown.payload.file);
  // The file taken away after the check: what was checked is still shared.
  fs::remove(file);
  char bytes[32] = {};
  EXPECT_EQ(::pread(shown.payload.file->Get(), bytes, sizeof bytes, 0), 10);
  EXPECT_EQ(std::string(bytes), "the report");

  sheets_.End(0, platform::ShareSheetEnd::Chosen);
  ExpectCompleted(probe, true);
  EXPECT_TRUE(sheets_.At(0).closed) << "the sheet goes with its request";
}

TEST_F(ShareModuleTest, FilesOutsideTheHandedOutCopiesAreDenied) {
  testing::WriteTextFile(media::MediaRoot() + "/cached.bin", "x");
  testing::WriteTextFile(cache_.Join("elsewhere.txt"), "x");
  fs::create_symlink(cache_.Join("elsewhere.txt"), copies_ + "/link.txt");
  for (const std::string& path : {media::MediaRoot() + "/cached.bin", cache_.Join("elsewhere.txt"),
                                  copies_ + "/link.txt", copies_ + "/missing.txt", copies_, std::string()}) {
    ExpectRejected(Share(JSValue{{"filePath", path}, {"text", "t"}, {"anchor", Anchor()}}), "path_denied");
  }
}

TEST_F(ShareModuleTest, ANewerShareEndsTheOlderAndClosesItsSheet) {
  auto first = Share(TextRequest("one"));
  ASSERT_TRUE(sheets_.WaitForCount(1));
  auto second = Share(TextRequest("two"));
  ASSERT_TRUE(sheets_.WaitForCount(2));
  ExpectCompleted(first, false);
  EXPECT_TRUE(sheets_.At(0).closed);
  EXPECT_FALSE(second->WaitSettled(50ms)) << "the newer one waits for the user";
  EXPECT_FALSE(sheets_.At(1).closed);

  // The older sheet's late answer changes nothing.
  sheets_.End(0, platform::ShareSheetEnd::Chosen);
  EXPECT_FALSE(second->WaitSettled(50ms));
  sheets_.End(1, platform::ShareSheetEnd::Dismissed);
  ExpectCompleted(second, false);
  EXPECT_TRUE(sheets_.At(1).closed);
}

TEST_F(ShareModuleTest, ASheetLeftAloneEndsWhenItsTimeIsUp) {
  share::SetShareTimeoutForTesting(100ms);
  auto probe = Share(TextRequest("waiting"));
  ASSERT_TRUE(sheets_.WaitForCount(1));
  ExpectCompleted(probe, false);
  share::SetShareTimeoutForTesting(share::kShareTimeout);
  EXPECT_TRUE(sheets_.At(0).closed) << "the sheet never outlives its request";
  sheets_.End(0, platform::ShareSheetEnd::Chosen);  // too late: nothing changes
}

TEST_F(ShareModuleTest, WithoutASheetToShowTheShareIsUnavailable) {
  sheets_.Refuse();  // a main window hidden in the tray
  ExpectRejected(Share(TextRequest("hi")), "share_unavailable");
  platform::InstallShareSheet(nullptr);  // no desktop at all
  ExpectRejected(Share(TextRequest("hi")), "share_unavailable");
}

}  // namespace
}  // namespace VirelantDesktop
