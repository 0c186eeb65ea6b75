#include "modules/attach/attach_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "modules/attach/attach_types.h"
#include "tests/attach/staging_fixture.h"
#include "tests/support/fake_react_context.h"
#include "tests/support/test_invoker.h"

namespace VirelantDesktop {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ModuleUnderTest;

class AttachModuleTest : public testing::StagingTest {
 protected:
  std::shared_ptr<testing::PromiseProbe> Call(const std::string& method, const std::vector<JSValue>& args) {
    auto probe = attach_.Call(method, args);
    EXPECT_TRUE(probe->WaitSettled(10s)) << method;
    return probe;
  }
  // Stages `content` through "ingest"; the staged path.
  std::string Ingested(const std::string& name, const std::string& content) {
    const JSValue items = Call("ingest", {JSValue::array({Source(name, content)}), 1})->Value();
    EXPECT_TRUE(items.is_array() && items.size() == 1 && items[0].contains("path")) << items.dump();
    return items.is_array() && !items.empty() ? items[0].value("path", "") : "";
  }

  ModuleUnderTest attach_{"Attach"};
};

TEST_F(AttachModuleTest, IngestAnswersOneResultPerPathInOrder) {
  const std::string text = Source("note.txt", "hello");
  const JSValue paths = JSValue::array({text, "relative.txt", sources_.Join("missing.pdf"), text});
  auto probe = Call("ingest", {paths, 50});
  ASSERT_TRUE(probe->IsResolved());
  const JSValue items = probe->Value();
  ASSERT_EQ(items.size(), 4u) << items.dump();

  const JSValue& staged = items[0];
  EXPECT_EQ(staged.size(), 4u) << "path, name, size and mime only: " << staged.dump();
  EXPECT_EQ(staged["name"], "note.txt");
  EXPECT_EQ(staged["size"], 5);
  EXPECT_EQ(staged["mime"], "text/plain");
  EXPECT_EQ(testing::ReadTextFile(staged["path"].get<std::string>()), "hello");
  EXPECT_EQ(items[1], (JSValue{{"error", "not_found"}}));
  EXPECT_EQ(items[2], (JSValue{{"error", "not_found"}}));
  EXPECT_NE(items[3]["path"], staged["path"]) << "every item its own folder";
}

TEST_F(AttachModuleTest, IngestTakesAtMostMaxFilesAndFifty) {
  std::vector<JSValue> many;
  for (int i = 0; i < 60; ++i) many.push_back("rel" + std::to_string(i));
  EXPECT_EQ(Call("ingest", {many, 2.9})->Value().size(), 2u);
  EXPECT_EQ(Call("ingest", {many, 1000})->Value().size(), 50u);
  EXPECT_EQ(Call("ingest", {JSValue::array(), 3})->Value(), JSValue::array());

  for (const JSValue& bad : {JSValue(0), JSValue(0.99), JSValue(-5), JSValue("3"), JSValue(nullptr),
                             JSValue(std::numeric_limits<double>::quiet_NaN())}) {
    auto probe = Call("ingest", {many, bad});
    ASSERT_TRUE(probe->IsRejected()) << bad.dump();
    EXPECT_EQ(probe->Error().code, "pick_failed");
    EXPECT_EQ(probe->Error().message, "pick_failed");
  }
}

TEST_F(AttachModuleTest, PickerAndClipboardRefuseBadArgumentsAndAnswerWithoutADesktop) {
  for (const auto& args : std::vector<std::vector<JSValue>>{{"video", true, 3, ""}, {"media", true, 0, ""},
                                                             {"file", false, JSValue(nullptr), "x"}}) {
    auto probe = Call("pickFiles", args);
    ASSERT_TRUE(probe->IsRejected()) << JSValue(args).dump();
    EXPECT_EQ(probe->Error().code, "pick_failed");
  }
  // No chooser installed (no display): the failure code, never a hang.
  auto pick = Call("pickFiles", {"media", true, 3, "Pictures"});
  ASSERT_TRUE(pick->IsRejected());
  EXPECT_EQ(pick->Error().code, "pick_failed");

  EXPECT_TRUE(Call("readClipboard", {0})->IsRejected());
  // No clipboard to read: one item saying so.
  auto clipboard = Call("readClipboard", {5});
  ASSERT_TRUE(clipboard->IsResolved());
  EXPECT_EQ(clipboard->Value(), (JSValue{{"items", JSValue::array({JSValue{{"error", "copy_failed"}}})}}));
}

TEST_F(AttachModuleTest, IngestPrunesOldItemsAndWipesOncePerProcess) {
  const std::string leftover = staging_ + "/7C9E6679-7425-40DE-944B-E07FC1F90AE7";
  fs::create_directories(leftover);
  Ingested("a.txt", "a");
  EXPECT_FALSE(fs::exists(leftover)) << "the first batch of the process wipes the staging area";

  const std::string first = Ingested("b.txt", "b");
  const std::string old = fs::path(first).parent_path().string();
  fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(25));
  const std::string second = Ingested("c.txt", "c");
  EXPECT_FALSE(fs::exists(old)) << "older than a day: pruned";
  EXPECT_TRUE(fs::exists(second)) << "later batches do not wipe";
}

TEST_F(AttachModuleTest, DiscardAndReadBase64WorkOnStagedFilesOnly) {
  const std::string path = Ingested("hello.txt", "hello");
  EXPECT_EQ(Call("readBase64", {path, 5})->Value(), "aGVsbG8=");
  EXPECT_EQ(Call("readBase64", {path, 5.7})->Value(), "aGVsbG8=");
  for (const JSValue& max : {JSValue(4), JSValue(0), JSValue(-1), JSValue(0.5), JSValue("5"),
                             JSValue(static_cast<double>(attach::kMaxBase64ReadBytes) + 1)}) {
    EXPECT_EQ(Call("readBase64", {path, max})->Value(), nullptr) << max.dump();
  }
  EXPECT_EQ(Call("readBase64", {Source("outside.txt", "x"), 5})->Value(), nullptr);

  EXPECT_EQ(Call("discard", {Source("outside.txt", "x")})->Value(), false);
  EXPECT_EQ(Call("discard", {42})->Value(), false);
  EXPECT_EQ(Call("discard", {path})->Value(), true);
  EXPECT_FALSE(fs::exists(fs::path(path).parent_path()));
  EXPECT_EQ(Call("discard", {path})->Value(), false);
  EXPECT_EQ(Call("readBase64", {path, 5})->Value(), nullptr);
}

TEST_F(AttachModuleTest, ReadBase64ReadsUpToEightMebibytes) {
  const std::string path = Ingested("zeros.bin", std::string(attach::kMaxBase64ReadBytes, '\0'));
  const JSValue text = Call("readBase64", {path, attach::kMaxBase64ReadBytes})->Value();
  ASSERT_TRUE(text.is_string());
  EXPECT_EQ(text.get<std::string>().size(), attach::kMaxBase64ReadBytes / 3 * 4 + 4);
}

TEST_F(AttachModuleTest, WithoutAMediaRootIngestRejectsAndTheOthersAnswerEmpty) {
  const std::string path = Ingested("hello.txt", "hello");
  // A cache folder that cannot exist: its parent is a file.
  setenv("XDG_CACHE_HOME", Source("not-a-folder").append("/cache").c_str(), 1);
  media::ResetMediaRootForTesting();

  auto ingest = Call("ingest", {JSValue::array({Source("a.txt")}), 1});
  EXPECT_EQ(ingest->Error().code, "pick_failed");
  EXPECT_EQ(Call("discard", {path})->Value(), false);
  EXPECT_EQ(Call("readBase64", {path, 5})->Value(), nullptr);
}

TEST_F(AttachModuleTest, TheInitializerKeepsTheContextForEvents) {
  testing::FakeReactContext context;
  EmitModuleEvent(attach::EventSlot(), "Attach.paste", JSValueObject{});
  attach_.Initialize(context.Context());
  EmitModuleEvent(attach::EventSlot(), "Attach.dropHover", JSValue{{"over", true}});
  ASSERT_TRUE(context.WaitForEvents(1));
  const auto events = context.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].emitterName, "RCTDeviceEventEmitter");
  EXPECT_EQ(events[0].eventName, "Attach.dropHover");
  EXPECT_EQ(events[0].payload, (JSValue{{"over", true}}));
}

}  // namespace
}  // namespace VirelantDesktop
