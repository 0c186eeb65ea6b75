// EngineHost against the real engine double (tools/test_engine) in a real job.
#include "modules/engine/engine_host_module.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <sstream>
#include <thread>

#include "modules/engine/engine_host.h"
#include "modules/engine/output_pacer.h"
#include "tests/support/child_process.h"
#include "tests/support/proc_status.h"
#include "tests/support/fake_react_context.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_invoker.h"

namespace VirelantDesktop {
namespace {

using namespace std::chrono_literals;
using testing::BecomesDead;
using testing::Group;
using testing::IsDead;
using testing::Parent;
using testing::ModuleUnderTest;
using testing::PromiseProbe;



// The pid in an engine line such as {"evt":"grandchild","pid":P}.
long PidIn(const std::string& line) {
  const size_t colon = line.rfind(':');
  return colon == std::string::npos ? -1 : std::stol(line.substr(colon + 1));
}

void IgnoreSignal(int) {}

// Holds the exit watcher back until Release(), so that a test can look into
// the time between the engine's death and its exit event.
class WatcherGate {
 public:
  WatcherGate() {
    engine::SetThreadStarterForTesting([state = state_](std::function<void()> work, KeepAliveToken hold) {
      if (++state->calls % 3 == 0) {  // writer, reader, watcher
        work = [state, work = std::move(work)] {
          std::unique_lock lock(state->mutex);
          state->released.wait(lock, [&] { return state->open; });
          lock.unlock();
          work();
        };
      }
      return StartDetachedThread(std::move(work), std::move(hold));
    });
  }
  ~WatcherGate() {
    Release();
    engine::SetThreadStarterForTesting(nullptr);
  }
  void Release() {
    std::lock_guard lock(state_->mutex);
    state_->open = true;
    state_->released.notify_all();
  }

 private:
  // Shared with the threads it holds back, which may outlive the gate.
  struct State {
    int calls = 0;  // only the starting thread counts
    std::mutex mutex;  // guards open
    std::condition_variable released;
    bool open = false;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

const JSValue kRequestedZero = {{"code", 0}, {"reason", "requested"}};
const JSValue kTerminated = {{"code", 1}, {"reason", "requested"}};

class EngineHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { platform::SetJobGuardPathForTesting(TALVEK_JOB_GUARD); }
  void SetUp() override { host_.Initialize(context_.Context()); }
  void TearDown() override {
    host_.Call("stop");
    for (int i = 0; i < 500 && IsRunning(); ++i) std::this_thread::sleep_for(10ms);
  }

  std::shared_ptr<PromiseProbe> Call(const std::string& method, const std::vector<JSValue>& args = {}) {
    auto probe = host_.Call(method, args);
    EXPECT_TRUE(probe->WaitSettled(30s)) << method;
    return probe;
  }
  long Start(std::vector<std::string> args = {}) { return StartAt(TALVEK_TEST_ENGINE, std::move(args)); }
  long StartAt(const std::string& path, std::vector<std::string> args) {
    auto probe = Call("start", {path, JSValue(args)});
    EXPECT_TRUE(probe->IsResolved()) << probe->Error().code << " " << probe->Error().message;
    return probe->IsResolved() ? probe->Value().get<long>() : -1;
  }
  bool IsRunning() { return Call("isRunning")->Value() == JSValue(true); }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const auto& event : context_.Events()) {
      if (event.eventName == "EngineHost.evt") lines.push_back(event.payload.at("line").get<std::string>());
    }
    return lines;
  }
  // Waits for an output line containing `text`; returns it.
  std::string WaitForLine(const std::string& text, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      for (const std::string& line : Lines()) {
        if (line.find(text) != std::string::npos) return line;
      }
      std::this_thread::sleep_for(2ms);
    } while (std::chrono::steady_clock::now() < deadline);
    ADD_FAILURE() << "no line with " << text;
    return "";
  }
  // The exit event's payload, or null at the deadline.
  JSValue WaitForExitEvent(std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      for (const auto& event : context_.Events()) {
        if (event.eventName == "EngineHost.exit") return event.payload;
      }
      std::this_thread::sleep_for(2ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return nullptr;
  }
  // Starts an engine that leaves the job's process group (and starts a
  // grandchild there), stops it, and checks that both end, the exit event
  // comes and the slot is free again.
  void StopAnEngineThatLeftItsGroup(const std::string& path, const std::vector<std::string>& args) {
    const long pid = StartAt(path, args);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(WaitForLine("ready"), "{\"evt\":\"ready\",\"pid\":" + std::to_string(pid) + "}");
    const long grandchild = PidIn(WaitForLine("grandchild"));
    ASSERT_GT(grandchild, 0);
    ASSERT_NE(Group(pid), Parent(pid)) << "the engine left the group its job guard leads";

    EXPECT_EQ(Call("stop")->Value(), JSValue(true));
    EXPECT_EQ(WaitForExitEvent(), kTerminated);
    EXPECT_FALSE(IsRunning());
    EXPECT_EQ(Call("pid")->Value(), JSValue(nullptr));
    EXPECT_TRUE(BecomesDead(pid));
    EXPECT_TRUE(BecomesDead(grandchild));
    EXPECT_GT(Start(), 0) << "the slot is free again";
  }

  size_t ExitEvents() const {
    size_t count = 0;
    for (const auto& event : context_.Events()) count += event.eventName == "EngineHost.exit";
    return count;
  }

  testing::FakeReactContext context_;
  ModuleUnderTest host_{"EngineHost"};
};

// The most lines of `bytes` each that may wait for JavaScript: the bound and
// one batch that carries no hold yet.
size_t OutputPacerBoundInLines(size_t bytes) {
  using engine::OutputPacer;
  return (OutputPacer::kMaxInFlightBytes + OutputPacer::kBatchBytes) / (bytes + OutputPacer::kEventOverheadBytes) +
         2 * OutputPacer::kBatchLines;
}

TEST_F(EngineHostTest, StartTalkStopAndStartAgain) {
  const long pid = Start();
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(IsRunning());
  EXPECT_EQ(Call("pid")->Value(), JSValue(pid));
  EXPECT_EQ(WaitForLine("ready"), "{\"evt\":\"ready\",\"pid\":" + std::to_string(pid) + "}");
  EXPECT_EQ(Call("send", {"hello engine"})->Value(), JSValue(true));
  WaitForLine("hello engine");

  auto second = Call("start", {TALVEK_TEST_ENGINE, JSValue::array()});
  EXPECT_EQ(second->Error().code, "already_running");
  EXPECT_EQ(second->Error().message, "엔진이 이미 실행 중");

  EXPECT_EQ(Call("stopGraceful", {10000000})->Value(), JSValue("quit"));
  EXPECT_EQ(WaitForExitEvent(), kRequestedZero);
  EXPECT_EQ(Lines().back(), "{\"evt\":\"quitting\"}") << "the last lines come before the exit event";
  EXPECT_FALSE(IsRunning());
  EXPECT_EQ(Call("pid")->Value(), JSValue(nullptr));
  EXPECT_GT(Start(), 0) << "the slot is free once the exit event was sent";
}

TEST_F(EngineHostTest, BetweenDeathAndExitEventTheEngineIsGoneButTheSlotIsTaken) {
  WatcherGate gate;
  Start({"--exit", "3"});
  for (int i = 0; i < 500 && IsRunning(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(IsRunning());
  EXPECT_EQ(Call("pid")->Value(), JSValue(nullptr));
  auto send = Call("send", {"x"});
  EXPECT_EQ(send->Error().code, "not_running");
  EXPECT_EQ(send->Error().message, "엔진이 실행 중이 아님");
  EXPECT_EQ(Call("start", {TALVEK_TEST_ENGINE, JSValue::array()})->Error().code, "already_running");
  EXPECT_EQ(Call("stopGraceful", {100})->Value(), JSValue("not_running"));

  gate.Release();
  EXPECT_EQ(WaitForExitEvent(), (JSValue{{"code", 3}, {"reason", "unexpected"}}));
  EXPECT_GT(Start(), 0) << "free as soon as the exit event is out";
}

TEST_F(EngineHostTest, NothingRunning) {
  EXPECT_EQ(Call("stop")->Value(), JSValue(true));
  EXPECT_EQ(Call("stopGraceful", {0})->Value(), JSValue("not_running"));
  EXPECT_EQ(Call("isRunning")->Value(), JSValue(false));
  EXPECT_EQ(Call("pid")->Value(), JSValue(nullptr));
  EXPECT_EQ(Call("send", {"x"})->Error().code, "not_running");
  EXPECT_EQ(ShutdownEngine(), "not_running");
  EXPECT_EQ(StopEngineForUpdate(), "not_running");
  EXPECT_FALSE(IsEngineRunning());
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(context_.Events().empty());
}

TEST_F(EngineHostTest, AnEngineIgnoringQuitLeavesAtEndOfInput) {
  Start({"--ignore-quit"});
  WaitForLine("ready");
  EXPECT_EQ(Call("stopGraceful", {5000})->Value(), JSValue("eof"));
  EXPECT_EQ(WaitForExitEvent(), kRequestedZero);
  EXPECT_EQ(Lines().back(), "{\"evt\":\"eof\"}");
}

TEST_F(EngineHostTest, AGracefulStopWithoutWaitingEndsAtOnce) {
  // Deaf to end of input too: an engine that left at end of input could be
  // gone before the zero-length second wait looked ("eof" instead of "killed").
  Start({"--ignore-quit", "--ignore-eof"});
  WaitForLine("ready");
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(Call("stopGraceful", {-3})->Value(), JSValue("killed"));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1500ms) << "no phase waits";
  EXPECT_EQ(WaitForExitEvent(), kTerminated);
}

TEST_F(EngineHostTest, AnEngineIgnoringQuitAndEndOfInputIsKilled) {
  Start({"--ignore-quit", "--ignore-eof"});
  WaitForLine("ready");
  EXPECT_EQ(Call("stopGraceful", {100.7})->Value(), JSValue("killed"));
  EXPECT_EQ(WaitForExitEvent(), kTerminated);
}

TEST_F(EngineHostTest, ACrashIsUnexpectedAndComesAfterTheLastLines) {
  Start({"--print", "last words", "--print", "really last", "--exit", "7"});
  EXPECT_EQ(WaitForExitEvent(), (JSValue{{"code", 7}, {"reason", "unexpected"}}));
  const auto events = context_.Events();
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events[events.size() - 3].payload, (JSValue{{"line", "last words"}}));
  EXPECT_EQ(events[events.size() - 2].payload, (JSValue{{"line", "really last"}}));
}

TEST_F(EngineHostTest, DeathBySignalGivesTheNegativeSignalNumber) {
  Start({"--signal", "11"});
  EXPECT_EQ(WaitForExitEvent(), (JSValue{{"code", -11}, {"reason", "unexpected"}}));
}

TEST_F(EngineHostTest, OutputLinesAreTrimmedAndAnUnendedLastLineIsLost) {
  Start({"--silent", "--raw-hex", "610d0a0d0a62200a", "--partial", "unended"});
  EXPECT_EQ(WaitForExitEvent(), (JSValue{{"code", 0}, {"reason", "unexpected"}}));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(EngineHostTest, TheUpdateStopLetsABusyEngineDrain) {
  Start();
  Call("send", {R"({"cmd":"work","ms":300})"});
  WaitForLine("\"busy\":true");
  for (int i = 0; i < 100 && !IsEngineRunning(); ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(StopEngineForUpdate(), "quit");
  EXPECT_EQ(WaitForExitEvent(), kRequestedZero);
  EXPECT_EQ(WaitForLine("quitting"), R"({"evt":"quitting","drainMs":30000})");
  EXPECT_EQ(Lines().back(), R"({"evt":"busy","busy":false})") << "the work finished before the engine left";
}

TEST_F(EngineHostTest, TheUpdateStopOfAnIdleEngineAndTheQuitPathSendAPlainQuit) {
  Start();
  Call("send", {R"({"cmd":"work","ms":1})"});
  WaitForLine("\"busy\":false");
  EXPECT_TRUE(IsEngineRunning());
  EXPECT_EQ(StopEngineForUpdate(), "quit");
  EXPECT_EQ(WaitForLine("quitting"), R"({"evt":"quitting"})");
  WaitForExitEvent();
  Start();
  EXPECT_EQ(ShutdownEngine(), "quit");
  EXPECT_FALSE(IsEngineRunning());
}

TEST_F(EngineHostTest, WhatTheEngineStartedDiesWithIt) {
  Start({"--grandchild"});
  const std::string line = WaitForLine("grandchild");
  const long grandchild = std::stol(line.substr(line.find(':', 10) + 1));
  ASSERT_FALSE(IsDead(grandchild));
  EXPECT_EQ(Call("stop")->Value(), JSValue(true));
  EXPECT_EQ(WaitForExitEvent(), kTerminated);
  EXPECT_TRUE(BecomesDead(grandchild));
}

TEST_F(EngineHostTest, AnEngineStartedThroughExecSetsidIsStoppedAndTheSlotFreed) {
  StopAnEngineThatLeftItsGroup("/bin/sh", {"-c", "exec setsid \"$0\" --grandchild", TALVEK_TEST_ENGINE});
}

TEST_F(EngineHostTest, AnEngineThatCallsSetsidIsStoppedAndTheSlotFreed) {
  StopAnEngineThatLeftItsGroup(TALVEK_TEST_ENGINE, {"--setsid", "--grandchild"});
}

TEST_F(EngineHostTest, AGracefulStopKillsADeafEngineThatLeftItsGroup) {
  const long pid = Start({"--setsid", "--ignore-quit", "--ignore-eof"});
  WaitForLine("ready");
  EXPECT_EQ(Call("stopGraceful", {50})->Value(), JSValue("killed"));
  EXPECT_EQ(WaitForExitEvent(), kTerminated);
  EXPECT_TRUE(BecomesDead(pid));
  EXPECT_FALSE(IsRunning());
}

TEST_F(EngineHostTest, ADaemonTheEngineLeftBehindDiesWhenTheEngineExits) {
  const long pid = Start({"--escape"});
  const long daemon = PidIn(WaitForLine("escaped"));
  ASSERT_GT(daemon, 0);
  ASSERT_NE(Group(daemon), Group(pid)) << "the daemon left the engine's group";
  EXPECT_EQ(Call("send", {R"({"cmd":"exit","code":0})"})->Value(), JSValue(true));
  EXPECT_EQ(WaitForExitEvent(), (JSValue{{"code", 0}, {"reason", "unexpected"}}));
  EXPECT_TRUE(BecomesDead(daemon));
}

TEST_F(EngineHostTest, LinesSentAfterAGracefulStopReachTheEngineAfterTheQuitLine) {
  const long pid = Start();
  WaitForLine("ready");
  // The engine leaves on the quit line and echoes anything else it reads
  // before it: an echo of the later line means it overtook the quit line.
  auto stop = host_.Call("stopGraceful", {5000});
  auto later = host_.Call("send", {"sent after the stop"});
  ASSERT_TRUE(stop->WaitSettled(30s));
  EXPECT_EQ(stop->Value(), JSValue("quit"));
  EXPECT_EQ(WaitForExitEvent(), kRequestedZero);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"{\"evt\":\"ready\",\"pid\":" + std::to_string(pid) + "}",
                                               "{\"evt\":\"quitting\"}"}));
  EXPECT_TRUE(later->WaitSettled(5s));
}

TEST_F(EngineHostTest, SignalsDoNotCutTheWaitsOfAStopShort) {
  // The engine leaves 300 ms after the quit line; a stop that waits 3000 ms
  // for it must see it leave, however many signals reach the waiting thread.
  Start({"--quit-delay", "300"});
  WaitForLine("ready");
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;  // no SA_RESTART: every signal interrupts the wait
  sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  std::atomic<bool> done{false};
  std::string outcome;
  std::thread stopper([&] {
    outcome = ShutdownEngine();
    done.store(true);
  });
  while (!done.load()) {
    pthread_kill(stopper.native_handle(), SIGUSR1);
    std::this_thread::sleep_for(1ms);
  }
  stopper.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(outcome, "quit");
  EXPECT_EQ(WaitForExitEvent(), kRequestedZero) << "not ended by the stop's later phases";
  EXPECT_EQ(Lines().back(), "{\"evt\":\"quitting\"}");
}

TEST_F(EngineHostTest, SendingToAnEngineThatStoppedReadingNeverFreezesTheCaller) {
  Start({"--no-read"});
  WaitForLine("ready");
  const auto before = std::chrono::steady_clock::now();
  auto huge = host_.Call("send", {std::string(16 << 20, 'h')});
  auto small = host_.Call("send", {"small"});
  // The engine never reads: a caller that waited for the pipe would wait
  // for ever, so the bound only has to be finite (slow builds copy 16 MiB
  // slowly).
  EXPECT_LT(std::chrono::steady_clock::now() - before, 30s);
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(huge->WaitSettled(0ms));
  EXPECT_FALSE(small->WaitSettled(0ms));

  // A stop never waits for the writer: the quit line waits behind the
  // big one, the input closes under it, and the terminate follows.
  EXPECT_EQ(Call("stopGraceful", {50})->Value(), JSValue("killed"));
  EXPECT_EQ(WaitForExitEvent(), kTerminated);
  for (const auto& probe : {huge, small}) {
    ASSERT_TRUE(probe->WaitSettled(5s));
    EXPECT_EQ(probe->Error().code, "write_failed");
    EXPECT_EQ(probe->Error().message, "stdin 쓰기 실패");
  }
}

TEST_F(EngineHostTest, LongLinesTravelWholeAndInOrder) {
  Start({"--silent"});
  const std::string big(4 << 20, 'b');
  auto first = host_.Call("send", {big});
  auto second = host_.Call("send", {"after the big one"});
  ASSERT_TRUE(first->WaitSettled(10s));
  ASSERT_TRUE(second->WaitSettled(10s));
  WaitForLine("after the big one", 10s);
  EXPECT_EQ(Lines(), (std::vector<std::string>{big, "after the big one"}));
}

TEST_F(EngineHostTest, AThreadThatCannotStartLeavesNoEngineAndAFreeSlot) {
  for (int failingCall : {1, 2, 3}) {  // writer, output reader, exit watcher
    SCOPED_TRACE(failingCall);
    int calls = 0;
    engine::SetThreadStarterForTesting([&](std::function<void()> work, KeepAliveToken hold) {
      if (++calls == failingCall) return false;
      return StartDetachedThread(std::move(work), std::move(hold));
    });
    auto start = Call("start", {TALVEK_TEST_ENGINE, JSValue(std::vector<std::string>{"--grandchild"})});
    engine::SetThreadStarterForTesting(nullptr);
    EXPECT_EQ(start->Error().code, "spawn_failed");
    EXPECT_EQ(start->Error().message, "엔진 기동 실패 (예외)");
    EXPECT_FALSE(IsRunning());
    const long pid = Start();
    EXPECT_GT(pid, 0) << "the failed start left the slot free";
    EXPECT_EQ(Call("stop")->Value(), JSValue(true));
    for (int i = 0; i < 500 && ExitEvents() < static_cast<size_t>(failingCall); ++i) {
      std::this_thread::sleep_for(10ms);
    }
  }
}

TEST_F(EngineHostTest, BadArgumentsRejectCleanly) {
  auto wrongTypes = Call("start", {5, "not an array"});
  EXPECT_EQ(wrongTypes->Error().code, "spawn_failed");
  EXPECT_EQ(wrongTypes->Error().message, "엔진 기동 실패 (Win32 error 2)") << "an empty path is missing";
  auto missing = Call("start", {"/nonexistent/engine", JSValue::array()});
  EXPECT_EQ(missing->Error().message, "엔진 기동 실패 (Win32 error 2)");
  auto nul = Call("start", {TALVEK_TEST_ENGINE, JSValue(std::vector<std::string>{std::string("a\0b", 3)})});
  EXPECT_EQ(nul->Error().message, "엔진 기동 실패 (Win32 error 87)");
  EXPECT_EQ(Call("stopGraceful", {"soon"})->Value(), JSValue("not_running"));
  EXPECT_FALSE(IsRunning());

  auto bundled = Call("bundledPath");  // no engine/ beside the test program
  EXPECT_EQ(bundled->Error().code, "engine_missing");
  EXPECT_EQ(bundled->Error().message, "번들 엔진을 찾을 수 없음");
}

TEST(EngineHostInTheShell, TheEngineAndWhatItStartedDieWhenTheShellIsKilled) {
  testing::TempDir dir;
  testing::WriteTextFile(dir.Join("bundle.js"), R"(
const engine = globalThis.__turboModuleProxy('EngineHost');
RCTDeviceEventEmitter.addListener('EngineHost.evt', (e) => console.log(e.line));
AppRegistry.registerComponent('VirelantDesktop', () => async () => {
  console.log('engine ' + await engine.start(await engine.bundledPath(), ['--grandchild']));
});
)");
  testing::ChildProcess shell({TALVEK_RUN, dir.Join("bundle.js")});
  const std::string grandchildKey = "\"grandchild\",\"pid\":";
  ASSERT_TRUE(shell.WaitForOutput(grandchildKey, 10s)) << shell.output();
  ASSERT_TRUE(shell.WaitForOutput("}", 1s));
  const std::string& out = shell.output();
  const long engine = std::stol(out.substr(out.find("engine ") + 7));
  const long grandchild = std::stol(out.substr(out.find(grandchildKey) + grandchildKey.size()));
  ASSERT_FALSE(IsDead(engine));
  ASSERT_FALSE(IsDead(grandchild));

  shell.Signal(SIGKILL);
  EXPECT_TRUE(BecomesDead(engine));
  EXPECT_TRUE(BecomesDead(grandchild));
}

TEST(EngineHostInTheShell, AnEngineThatLeftItsGroupAndItsDaemonDieWhenTheShellIsKilled) {
  testing::TempDir dir;
  testing::WriteTextFile(dir.Join("bundle.js"), R"(
const engine = globalThis.__turboModuleProxy('EngineHost');
RCTDeviceEventEmitter.addListener('EngineHost.evt', (e) => console.log(e.line));
AppRegistry.registerComponent('VirelantDesktop', () => async () => {
  const path = await engine.bundledPath();
  console.log('engine ' + await engine.start('/bin/sh', ['-c', 'exec setsid "$0" --grandchild --escape', path]));
});
)");
  testing::ChildProcess shell({TALVEK_RUN, dir.Join("bundle.js")});
  const std::string escapedKey = "\"escaped\",\"pid\":";
  ASSERT_TRUE(shell.WaitForOutput(escapedKey, 10s)) << shell.output();
  ASSERT_TRUE(shell.WaitForOutput("}", 1s));
  ASSERT_TRUE(shell.WaitForOutput("engine ", 5s));
  ASSERT_TRUE(shell.WaitForOutput("\n", 1s));
  const std::string& out = shell.output();
  const std::string grandchildKey = "\"grandchild\",\"pid\":";
  const long engine = std::stol(out.substr(out.find("engine ") + 7));
  const long grandchild = std::stol(out.substr(out.find(grandchildKey) + grandchildKey.size()));
  const long daemon = std::stol(out.substr(out.find(escapedKey) + escapedKey.size()));
  ASSERT_FALSE(IsDead(engine));
  ASSERT_FALSE(IsDead(grandchild));
  ASSERT_FALSE(IsDead(daemon));
  ASSERT_NE(Group(engine), Parent(engine)) << "the engine left its job's group";

  shell.Signal(SIGKILL);
  EXPECT_TRUE(BecomesDead(engine));
  EXPECT_TRUE(BecomesDead(grandchild));
  EXPECT_TRUE(BecomesDead(daemon));
}

// A JavaScript thread that has stopped taking events: every event and hold
// is kept until Release().
class StalledContext final : public ReactContextBackend {
 public:
  void EmitJSEvent(std::string_view, std::string_view eventName, JSValue) noexcept override {
    std::lock_guard lock(mutex_);
    ++(eventName == "EngineHost.exit" ? exits_ : lines_);
  }
  void EmitJSEventHeld(std::string_view emitter, std::string_view eventName, JSValue payload,
                       std::shared_ptr<void> hold) noexcept override {
    EmitJSEvent(emitter, eventName, std::move(payload));
    std::lock_guard lock(mutex_);
    if (!released_) holds_.push_back(std::move(hold));
  }
  std::shared_ptr<UIDispatcher> GetUIDispatcher() const noexcept override { return nullptr; }

  size_t Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  size_t Exits() {
    std::lock_guard lock(mutex_);
    return exits_;
  }
  void Release() {
    std::vector<std::shared_ptr<void>> holds;
    {
      std::lock_guard lock(mutex_);
      released_ = true;
      holds.swap(holds_);
    }
  }

 private:
  std::mutex mutex_;  // guards everything below
  size_t lines_ = 0;
  size_t exits_ = 0;
  bool released_ = false;
  std::vector<std::shared_ptr<void>> holds_;
};

TEST(EngineHostOutput, AFloodWaitsForJavaScriptInsteadOfFillingMemory) {
  platform::SetJobGuardPathForTesting(TALVEK_JOB_GUARD);
  auto backend = std::make_shared<StalledContext>();
  ModuleUnderTest host("EngineHost");
  host.Initialize(ReactContext(backend));
  constexpr size_t kLines = 400000;  // 64 bytes each: far more than may wait
  auto start = host.Call("start", {TALVEK_TEST_ENGINE, JSValue(std::vector<std::string>{
                                                           "--silent", "--flood", std::to_string(kLines), "--exit", "0"})});
  ASSERT_TRUE(start->WaitSettled(5s) && start->IsResolved());

  size_t seen = 0;
  for (int i = 0; i < 100 && backend->Lines() != seen; ++i) {
    seen = backend->Lines();
    std::this_thread::sleep_for(50ms);
  }
  const size_t bound = OutputPacerBoundInLines(64);
  EXPECT_LT(backend->Lines(), kLines) << "the reader went on without JavaScript";
  EXPECT_LE(backend->Lines(), bound);
  EXPECT_EQ(host.Call("isRunning")->Value(), JSValue(true)) << "the engine waits on its full pipe";

  backend->Release();
  for (int i = 0; i < 6000 && backend->Exits() == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(backend->Lines(), kLines);
  EXPECT_EQ(backend->Exits(), 1u);
}

}  // namespace
}  // namespace VirelantDesktop
