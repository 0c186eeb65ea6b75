// "TalvekProbe": a module linked only into test programs. It exercises every
// part of the module surface (each argument type, promises settled on the JS
// thread, on workers and on the UI thread, rejections, events, constants,
// void methods) so host tests and benchmarks can drive them from JavaScript.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "bridge/module_kit.h"
#include "bridge/module_registration.h"

namespace VirelantDesktop {
namespace {

// One long-lived thread that settles promises handed to it, for measuring
// worker round trips without a thread start per call.
class SettlerThread {
 public:
  static SettlerThread& Instance() {
    static SettlerThread* instance = new SettlerThread();  // lives until exit
    return *instance;
  }
  void Resolve(ReactPromise<JSValue> promise) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(promise));
      hasWork_.store(true, std::memory_order_release);
    }
    ready_.notify_one();  // after unlocking: the woken thread need not block again
  }

 private:
  SettlerThread() {
    std::thread([this] {
      for (;;) {
        std::deque<ReactPromise<JSValue>> batch;
        // Look for work for a few microseconds before sleeping: in a round
        // trip the next promise follows at once.
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(30);
        while (!hasWork_.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < until) {
        }
        {
          std::unique_lock lock(mutex_);
          ready_.wait(lock, [&] { return !queue_.empty(); });
          batch.swap(queue_);
          hasWork_.store(false, std::memory_order_release);
        }
        for (auto& promise : batch) promise.Resolve(nullptr);
      }
    }).detach();
  }

  std::mutex mutex_;  // guards queue_
  std::condition_variable ready_;
  std::deque<ReactPromise<JSValue>> queue_;
  std::atomic<bool> hasWork_{false};  // mirrors !queue_.empty() for the spin
};

}  // namespace

class TalvekProbe {
 public:
  static void Describe(ModuleTable<TalvekProbe>& table) {
    table.Initializer(&TalvekProbe::Initialize);
    table.Constants(&TalvekProbe::GetConstants);
    table.Method("echoString", &TalvekProbe::echoString);
    table.Method("echoNumber", &TalvekProbe::echoNumber);
    table.Method("echoInt64", &TalvekProbe::echoInt64);
    table.Method("echoBool", &TalvekProbe::echoBool);
    table.Method("echoStrings", &TalvekProbe::echoStrings);
    table.Method("echoAny", &TalvekProbe::echoAny);
    table.Method("echoPair", &TalvekProbe::echoPair);
    table.Method("ping", &TalvekProbe::ping);
    table.Method("pingWorker", &TalvekProbe::pingWorker);
    table.Method("resolveOnWorker", &TalvekProbe::resolveOnWorker);
    table.Method("rejectOnWorker", &TalvekProbe::rejectOnWorker);
    table.Method("rejectEmpty", &TalvekProbe::rejectEmpty);
    table.Method("settleTwice", &TalvekProbe::settleTwice);
    table.Method("dropOnWorker", &TalvekProbe::dropOnWorker);
    table.Method("resolveOnUI", &TalvekProbe::resolveOnUI);
    table.Method("emitOnWorker", &TalvekProbe::emitOnWorker);
    table.Method("recordVoid", &TalvekProbe::recordVoid);
    table.Method("lastVoid", &TalvekProbe::lastVoid);
  }

  void Initialize(const ReactContext& context) noexcept { events_->Store(context); }
  void GetConstants(JSValueObject& constants) noexcept {
    constants["answer"] = 42;
    constants["name"] = "probe";
  }

  void echoString(std::string value, ReactPromise<std::string> promise) noexcept { promise.Resolve(std::move(value)); }
  void echoNumber(double value, ReactPromise<double> promise) noexcept { promise.Resolve(value); }
  void echoInt64(int64_t value, ReactPromise<int64_t> promise) noexcept { promise.Resolve(value); }
  void echoBool(bool value, ReactPromise<bool> promise) noexcept { promise.Resolve(value); }
  void echoStrings(std::vector<std::string> value, ReactPromise<JSValue> promise) noexcept {
    promise.Resolve(JSValue(std::move(value)));
  }
  void echoAny(JSValue value, ReactPromise<JSValue> promise) noexcept { promise.Resolve(std::move(value)); }
  void echoPair(std::string first, double second, ReactPromise<JSValue> promise) noexcept {
    promise.Resolve(JSValue::array({first, second}));
  }

  void ping(ReactPromise<JSValue> promise) noexcept { promise.Resolve(nullptr); }
  void pingWorker(ReactPromise<JSValue> promise) noexcept { SettlerThread::Instance().Resolve(std::move(promise)); }

  void resolveOnWorker(JSValue value, double delayMs, ReactPromise<JSValue> promise) noexcept {
    RunOnWorker(promise, "probe_failed", [value, delayMs](ReactPromise<JSValue>& p) {
      if (delayMs > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(delayMs));
      p.Resolve(value);
    });
  }
  void rejectOnWorker(std::string code, std::string message, ReactPromise<JSValue> promise) noexcept {
    RunOnWorker(promise, "probe_failed", [code, message](ReactPromise<JSValue>& p) { p.Reject(code, message); });
  }
  void rejectEmpty(ReactPromise<JSValue> promise) noexcept { promise.Reject(PromiseError{}); }
  void settleTwice(ReactPromise<JSValue> promise) noexcept {
    promise.Resolve("first");
    promise.Reject("second");
  }
  void dropOnWorker(ReactPromise<JSValue> promise) noexcept {
    RunOnWorker(promise, "probe_failed", [](ReactPromise<JSValue>&) {});
  }
  void resolveOnUI(ReactPromise<JSValue> promise) noexcept {
    RunOnUI(events_->Get(), [promise] { promise.Resolve("ui"); });
  }
  // Sends "TalvekProbe.tick" {"index": i} count times from a worker, then
  // resolves with count.
  void emitOnWorker(double count, ReactPromise<JSValue> promise) noexcept {
    const int64_t n = Int64FromNumber(count);
    RunOnWorker(promise, "probe_failed", [events = events_, n](ReactPromise<JSValue>& p) {
      for (int64_t i = 0; i < n; ++i) EmitModuleEvent(*events, "TalvekProbe.tick", JSValue{{"index", i}});
      p.Resolve(n);
    });
  }

  void recordVoid(std::string value) noexcept {
    std::lock_guard lock(mutex_);
    lastVoid_ = std::move(value);
  }
  void lastVoid(ReactPromise<std::string> promise) noexcept {
    std::lock_guard lock(mutex_);
    promise.Resolve(lastVoid_);
  }

 private:
  // Shared with workers, which may outlive the module object.
  std::shared_ptr<ModuleEventSlot> events_ = std::make_shared<ModuleEventSlot>();
  std::mutex mutex_;  // guards lastVoid_
  std::string lastVoid_;
};

TALVEK_REGISTER_MODULE(TalvekProbe, "TalvekProbe");

}  // namespace VirelantDesktop
