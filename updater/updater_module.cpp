#include "updater/updater_module.h"

#include "bridge/module_registration.h"
#include "bridge/host_hooks.h"
#include "modules/engine/engine_host.h"
#include "updater/asset_fetcher.h"
#include "updater/feed_url.h"
#include "updater/restart_record.h"
#include "updater/velopack_backend.h"

namespace VirelantDesktop {
namespace {

using TalvekUpdater::UpdaterEngine;
using TalvekUpdater::UpdaterFail;

constexpr const char* kProgressEvent = "Updater.progress";

std::mutex g_partsLock;  // guards g_parts
updater::UpdaterModuleParts g_parts;

updater::UpdaterModuleParts TestParts() {
  std::lock_guard lock(g_partsLock);
  return g_parts;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The engine stop before an update: the engine host's own, and "alive" when
// the engine still runs afterwards.
std::string StopEngineBeforeUpdate() {
  std::string reason = StopEngineForUpdate();
  if (IsEngineRunning()) return "alive";
  return reason;
}

// Settles `promise` with the failure: the stage as code and message; any
// other exception as "check".
void RejectWithFailure(const ReactPromise<JSValue>& promise) noexcept {
  try {
    throw;
  } catch (const UpdaterFail& failure) {
    promise.Reject(failure.stage, failure.stage);
  } catch (...) {
    promise.Reject(TalvekUpdater::kStageCheck);
  }
}

JSValue CheckResult(const TalvekUpdater::CheckOutcome& outcome) {
  JSValue deltas = JSValue::array();
  for (const auto& delta : outcome.deltas) deltas.push_back({{"file", delta.file}, {"sha256", delta.sha256}});
  return JSValue{{"manifestB64", outcome.manifestB64},
                 {"sig", outcome.sig},
                 {"nativeKeyId", outcome.nativeKeyId},
                 {"feed", {{"version", outcome.feedVersion}, {"sha256", outcome.feedSha256}, {"deltas", deltas}}},
                 {"pauseJson", outcome.pauseJson ? JSValue(*outcome.pauseJson) : JSValue(nullptr)}};
}

// Runs `work(engine)` on a new thread and settles from there.
template <class Work>
void RunEngineWork(std::shared_ptr<UpdaterEngine> engine, const ReactPromise<JSValue>& promise, Work work) noexcept {
  RunOnWorker(promise, TalvekUpdater::kStageCheck,
              [engine = std::move(engine), work = std::move(work)](const ReactPromise<JSValue>& settle) {
                try {
                  settle.Resolve(work(*engine));
                } catch (...) {
                  RejectWithFailure(settle);
                }
              });
}

}  // namespace

namespace updater {

void SetUpdaterModulePartsForTesting(UpdaterModuleParts parts) {
  std::lock_guard lock(g_partsLock);
  g_parts = std::move(parts);
}

}  // namespace updater

void Updater::Describe(ModuleTable<Updater>& table) {
  table.Initializer(&Updater::Initialize);
  table.Constants(&Updater::Constants);
  table.Method("check", &Updater::check);
  table.Method("download", &Updater::download);
  table.Method("apply", &Updater::apply);
  table.Method("restartDetected", &Updater::restartDetected);
  table.Method("discard", &Updater::discard);
  table.Method("readPause", &Updater::readPause);
}

void Updater::Initialize(const ReactContext& context) noexcept { events_->Store(context); }

void Updater::Constants(JSValueObject& constants) noexcept {
  try {
    constants["channel"] = std::string(TalvekUpdater::UpdateChannel());
  } catch (...) {
  }
}

std::shared_ptr<TalvekUpdater::Backend> Updater::BackendLocked() {
  if (backend_) return backend_;
  const updater::UpdaterModuleParts parts = TestParts();
  if (parts.makeBackend) {
    backend_ = parts.makeBackend();
  } else {
    TalvekUpdater::VelopackBackend::Options options;
    options.feedUrl = TalvekUpdater::DefaultFeedUrl();
    options.fetchAsset = TalvekUpdater::FetchAsset;
    options.packageDir = TalvekUpdater::InstalledPackagesDir;
    options.library = TalvekUpdater::ProcessUpdateClient();
    backend_ = std::make_shared<TalvekUpdater::VelopackBackend>(std::move(options));
  }
  return backend_;
}

std::shared_ptr<UpdaterEngine> Updater::Engine() {
  std::lock_guard lock(mutex_);
  if (engine_) return engine_;
  std::shared_ptr<TalvekUpdater::Backend> backend = BackendLocked();
  const updater::UpdaterModuleParts parts = TestParts();
  const std::string channel(TalvekUpdater::UpdateChannel());

  TalvekUpdater::EngineParts engineParts;
  engineParts.backend = backend;
  engineParts.policy.channel = channel;
  engineParts.policy.os = VirelantDesktop::updater::kPolicyOs;
  engineParts.policy.clock = parts.clock;
  // The issued-at files sit beside the packages folder, so they survive a
  // package clean-up and belong to the installation.
  std::weak_ptr<TalvekUpdater::Backend> weak = backend;
  const auto besidePackages = [weak](std::string name) {
    return [weak, name = std::move(name)]() -> std::string {
      const auto owner = weak.lock();
      return owner ? ParentOf(owner->PackagesDir()) + "/" + name : std::string();
    };
  };
  std::vector<VirelantDesktop::updater::PathProvider> legacy;
  if (channel == "production") legacy.push_back(besidePackages("talvek-issuedat.txt"));
  else legacy.push_back([] { return std::string(); });
  engineParts.store = std::make_shared<TalvekUpdater::FileIssuedAtStore>(
      besidePackages("talvek-issuedat." + channel + ".txt"), std::move(legacy));
  engineParts.verifier = VirelantDesktop::updater::MakeNativeVerifier();
  engineParts.engineStop = parts.engineStop ? parts.engineStop : StopEngineBeforeUpdate;
  engineParts.afterApply = parts.afterApply ? parts.afterApply : [] { HostHooks::Get().CallRequestQuit(); };
  engine_ = std::make_shared<UpdaterEngine>(std::move(engineParts));
  return engine_;
}

void Updater::check(ReactPromise<JSValue> promise) noexcept {
  try {
    RunEngineWork(Engine(), promise, [](UpdaterEngine& engine) -> JSValue {
      const auto outcome = engine.Check();
      return outcome ? CheckResult(*outcome) : JSValue(nullptr);
    });
  } catch (...) {
    RejectWithFailure(promise);
  }
}

void Updater::download(ReactPromise<JSValue> promise) noexcept {
  try {
    RunEngineWork(Engine(), promise, [events = events_](UpdaterEngine& engine) -> JSValue {
      const std::string digest = engine.Download(
          [&events](int percent) { EmitModuleEvent(*events, kProgressEvent, JSValue{{"pct", percent}}); });
      return JSValue{{"fullSha256", digest}};
    });
  } catch (...) {
    RejectWithFailure(promise);
  }
}

void Updater::apply(ReactPromise<JSValue> promise) noexcept {
  try {
    RunEngineWork(Engine(), promise, [](UpdaterEngine& engine) -> JSValue {
      engine.Apply();
      return nullptr;
    });
  } catch (...) {
    RejectWithFailure(promise);
  }
}

void Updater::discard(ReactPromise<JSValue> promise) noexcept {
  try {
    RunEngineWork(Engine(), promise, [](UpdaterEngine& engine) -> JSValue {
      engine.Discard();
      return nullptr;
    });
  } catch (...) {
    RejectWithFailure(promise);
  }
}

void Updater::restartDetected(ReactPromise<JSValue> promise) noexcept {
  TalvekUpdater::RestartRecord record;
  try {
    record = TalvekUpdater::ReadRestartRecord();
    if (record.version.empty()) {
      std::shared_ptr<TalvekUpdater::Backend> backend;
      {
        std::lock_guard lock(mutex_);
        backend = BackendLocked();
      }
      record.version = backend->CurrentVersion();
    }
  } catch (...) {
  }
  promise.Resolve(JSValue{{"restarted", record.restarted}, {"version", record.version}});
}

void Updater::readPause(ReactPromise<JSValue> promise) noexcept {
  // Never rejects: a feed without the asset, or any failure, is null.
  std::shared_ptr<TalvekUpdater::Backend> backend;
  try {
    std::lock_guard lock(mutex_);
    backend = BackendLocked();
  } catch (...) {
  }
  if (!backend) {
    promise.Resolve(nullptr);
    return;
  }
  const bool started = StartDetachedThread(
      [backend, promise] {
        try {
          const auto pause = backend->ReadAsset("pause.json");
          promise.Resolve(pause ? JSValue(*pause) : JSValue(nullptr));
        } catch (...) {
          promise.Resolve(nullptr);
        }
      },
      promise.KeepAlive());
  if (!started) promise.Resolve(nullptr);
}

TALVEK_REGISTER_MODULE(Updater, "Updater");

}  // namespace VirelantDesktop
