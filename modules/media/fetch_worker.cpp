#include "modules/media/fetch_worker.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <span>
#include <stdexcept>

#include "bridge/module_kit.h"
#include "modules/media/cache_scope.h"
#include "modules/media/http_transfer.h"
#include "modules/media/media_root.h"
#include "platform/ascii_text.h"
#include "platform/base64.h"
#include "platform/confined_tree.h"
#include "platform/file_writer.h"
#include "platform/win32_error.h"

namespace VirelantDesktop::media {
namespace {

constexpr unsigned kPartMode = 0600;
constexpr unsigned kCachedMode = 0444;

// A download step that failed, with its code ("http_error" also carries the
// status number as its message).
class MErr : public std::runtime_error {
 public:
  explicit MErr(std::string code, std::string message = {})
      : std::runtime_error(code), code_(std::move(code)), message_(std::move(message)) {}
  const std::string& code() const noexcept { return code_; }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string code_;
  std::string message_;
};

const char* WriteFailure(int error) {
  return platform::Win32ErrorFromErrno(error) == platform::kErrorDiskFull ? "disk_full" : kCacheUnavailable;
}

void ThrowIfStopped(const Job& job) {
  if (job.Status() != JobStatus::Running) throw MErr(FailureCode(job.Status(), ""));
}

// Where a disk download writes: the scope folder (held open) and its names.
struct DiskTarget {
  platform::UniqueFd folder;
  std::string folderPath;
  std::string partName;
};

// The answer as it streams in: the checks on its head and the body's bytes
// into the ".part" file or memory, with the progress reports.
class BodySink final : public TransferSink {
 public:
  BodySink(State& state, Job& job, const FetchRequest& request, DiskTarget* disk, const ProgressEmitter& emit)
      : state_(state), job_(job), disk_(disk), emit_(emit), limit_(request.EffectiveMaxBytes()) {}

  bool OnHead(const ResponseHead& head) override {
    MarkHeadersReceived(job_);
    return Guard([&] {
      ThrowIfStopped(job_);
      if (const char* code = StatusFailure(head.status)) {
        throw MErr(code, std::string(code) == "http_error" ? std::to_string(head.status) : std::string(code));
      }
      if (!OnlyIdentityEncoding(head.contentEncodings)) throw MErr("network");
      if (head.contentLength && *head.contentLength > limit_) throw MErr("too_large");
      declaredType_ = DeclaredMediaType(head.contentType);
      total_ = head.contentLength.value_or(0);
      if (disk_) {
        platform::RemoveEntryAt(disk_->folder, disk_->partName);
        int error = 0;
        part_ = platform::NewFile::CreateAt(disk_->folder, disk_->partName, kPartMode, error);
        if (!part_) throw MErr(WriteFailure(error));
        partCreated_ = true;
      }
      throttle_ = ProgressThrottle();
    });
  }

  bool OnChunk(std::span<const uint8_t> chunk) override {
    return Guard([&] {
      ThrowIfStopped(job_);
      received_ += chunk.size();
      if (received_ > limit_) throw MErr("too_large");
      if (sniffHead_.size() < kSniffHeadBytes) {
        const size_t take = std::min(kSniffHeadBytes - sniffHead_.size(), chunk.size());
        sniffHead_.insert(sniffHead_.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(take));
      }
      if (disk_) {
        int error = 0;
        if (!part_.Write(chunk.data(), chunk.size(), error)) throw MErr(WriteFailure(error));
      } else {
        body_.insert(body_.end(), chunk.begin(), chunk.end());
      }
      if (throttle_.ShouldReport()) ReportProgress();
    });
  }

  // Flushes and closes the ".part" file.
  void FinishPart() {
    int error = 0;
    if (!part_.Finish(error)) throw MErr(WriteFailure(error));
  }
  // Closes and deletes the ".part" file, when this download made one.
  void DropPart() noexcept {
    if (!disk_ || !partCreated_) return;
    part_ = platform::NewFile();
    platform::RemoveEntryAt(disk_->folder, disk_->partName);
  }

  const std::optional<MErr>& failure() const noexcept { return failure_; }
  uint64_t received() const noexcept { return received_; }
  const std::vector<uint8_t>& sniffHead() const noexcept { return sniffHead_; }
  const std::vector<uint8_t>& body() const noexcept { return body_; }
  const std::string& declaredType() const noexcept { return declaredType_; }

 private:
  template <class Step>
  bool Guard(Step&& step) noexcept {
    try {
      step();
      return true;
    } catch (const MErr& error) {
      failure_ = error;
    } catch (...) {
      failure_ = MErr(kCacheUnavailable);
    }
    return false;
  }

  void ReportProgress() {
    std::vector<std::string> requestIds;
    {
      std::lock_guard lock(state_.stateLock);
      for (const Waiter& waiter : job_.waiters) requestIds.push_back(waiter.requestId);
    }
    for (const std::string& requestId : requestIds) emit_(requestId, received_, total_);
  }

  State& state_;
  Job& job_;
  DiskTarget* disk_;
  const ProgressEmitter& emit_;
  const uint64_t limit_;

  std::optional<MErr> failure_;
  std::string declaredType_;
  uint64_t total_ = 0;
  uint64_t received_ = 0;
  std::vector<uint8_t> sniffHead_;
  std::vector<uint8_t> body_;
  platform::NewFile part_;
  bool partCreated_ = false;
  ProgressThrottle throttle_;
};

// Puts the finished ".part" in place as hash.ext, marked with its source URL
// and then read-only (in that order: the owner cannot mark a read-only
// file), then removes the copies of the same hash with other extensions. The
// old copies stay until the new file is in place, so a failed move loses
// nothing.
std::string Finalise(const DiskTarget& disk, const FetchRequest& request, const char* ext) {
  const std::string finalName = request.hash + "." + ext;
  if (!platform::SetOriginAndModeAt(disk.folder, disk.partName, request.url, kCachedMode)) {
    throw MErr(kCacheUnavailable);
  }
  int error = 0;
  if (!platform::RenameAt(disk.folder, disk.partName, finalName, error)) throw MErr(WriteFailure(error));
  const std::string finalPath = disk.folderPath + "/" + finalName;
  for (const platform::FolderEntry& entry : platform::ListFolder(disk.folder)) {
    if (entry.name == finalName || !platform::StartsWithIgnoringAsciiCase(entry.name, request.hash + ".")) continue;
    if (entry.name.size() >= 5 && entry.name.compare(entry.name.size() - 5, 5, kPartSuffix) == 0) continue;
    platform::RemoveEntryAt(disk.folder, entry.name);
  }
  return finalPath;
}

JSValue RunDownload(State& state, Job& job, const FetchRequest& request, const ProgressEmitter& emit,
                    std::string& cachedPath) {
  RunHousekeeping(state);
  std::optional<DiskTarget> disk;
  if (!request.memoryOnly) {
    std::lock_guard store(state.storeLock);
    ScopeFolder scope = OpenScopeDir(CacheScope{request.uid, request.ws, request.thread});
    if (!scope) throw MErr(kCacheUnavailable);
    DiskTarget target;
    target.folder = std::move(scope.fd);
    target.folderPath = std::move(scope.path);
    target.partName = request.hash + kPartSuffix;
    disk = std::move(target);
  }
  ThrowIfStopped(job);

  BodySink sink(state, job, request, disk ? &*disk : nullptr, emit);
  try {
    auto transfer = std::make_shared<HttpTransfer>();
    SetCurrentOperation(job, transfer);
    const TransferEnd end = transfer->Run(request.url, request.headers, sink);
    if (sink.failure()) throw *sink.failure();
    if (end == TransferEnd::Canceled) {
      throw MErr(job.Status() == JobStatus::Running ? "canceled" : FailureCode(job.Status(), ""));
    }
    if (end != TransferEnd::Completed) throw MErr("network");
    ThrowIfStopped(job);

    const SniffedType type = SniffContent(sink.sniffHead());
    if (!SniffedTypeFitsKind(request.kind, type.mime, sink.declaredType())) throw MErr("mime_mismatch");
    {
      std::lock_guard lock(state.stateLock);
      const auto scope = state.scopeGenerations.find(job.scopeKey);
      const uint64_t scopeGeneration = scope == state.scopeGenerations.end() ? 0 : scope->second;
      if (job.generation != state.generation || job.scopeGeneration != scopeGeneration) throw MErr("changed");
    }

    JSValue result = JSValueObject{};
    result["bytes"] = sink.received();
    result["mime"] = type.mime;
    if (request.memoryOnly) {
      result["path"] = "";
      result["temp"] = true;
      result["dataUri"] = std::string("data:") + type.mime + ";base64," + platform::Base64Encode(sink.body());
      return result;
    }
    sink.FinishPart();
    {
      std::lock_guard store(state.storeLock);
      cachedPath = Finalise(*disk, request, type.ext);
    }
    result["path"] = cachedPath;
    result["temp"] = false;
    return result;
  } catch (...) {
    sink.DropPart();
    throw;
  }
}

// Hands the outcome to every waiter: the job leaves the in-flight table first,
// so a request arriving now starts a fresh download.
void SettleJob(State& state, const std::shared_ptr<Job>& job, const JSValue* result, const PromiseError* error) {
  std::vector<Waiter> waiters;
  {
    std::lock_guard lock(state.stateLock);
    waiters.swap(job->waiters);
    const auto entry = state.inFlight.find(job->key);
    if (entry != state.inFlight.end() && entry->second == job) state.inFlight.erase(entry);
  }
  MarkJobDone(*job);
  state.stateChanged.notify_all();
  for (const Waiter& waiter : waiters) {
    if (result) {
      waiter.promise.Resolve(*result);
    } else {
      waiter.promise.Reject(*error);
    }
  }
}

}  // namespace

void FetchToCache(const std::shared_ptr<State>& state, const FetchRequest& request, ReactPromise<JSValue> promise,
                  const ProgressEmitter& emitProgress) {
  std::shared_ptr<Job> job;
  {
    std::unique_lock lock(state->stateLock);
    state->stateChanged.wait(lock, [&] { return !state->wipeBusy; });
    if (const auto running = state->inFlight.find(request.dedupKey); running != state->inFlight.end()) {
      running->second->waiters.push_back(Waiter{request.requestId, std::move(promise)});
      return;
    }
    job = std::make_shared<Job>();
    job->key = request.dedupKey;
    job->scopeKey = ScopeKey(CacheScope{request.uid, request.ws, request.thread});
    job->generation = state->generation;
    const auto scope = state->scopeGenerations.find(job->scopeKey);
    job->scopeGeneration = scope == state->scopeGenerations.end() ? 0 : scope->second;
    job->waiters.push_back(Waiter{request.requestId, promise});
    state->inFlight[job->key] = job;
  }

  const auto timeout = std::chrono::milliseconds(request.timeoutMs);
  const bool watched = StartDetachedThread([job, timeout] { RunWatchdog(*job, timeout); }, promise.KeepAlive());

  std::string cachedPath;
  try {
    if (!watched) throw MErr("network");  // without its watchdog the time limits could not hold
    const JSValue result = RunDownload(*state, *job, request, emitProgress, cachedPath);
    SettleJob(*state, job, &result, nullptr);
  } catch (const MErr& failure) {
    const std::string code = FailureCode(job->Status(), failure.code());
    const PromiseError error{code, code == "http_error" && !failure.message().empty() ? failure.message() : code};
    SettleJob(*state, job, nullptr, &error);
    return;
  } catch (...) {
    const std::string code = FailureCode(job->Status(), "network");
    const PromiseError error{code, code};
    SettleJob(*state, job, nullptr, &error);
    return;
  }
  if (request.memoryOnly) return;
  std::lock_guard store(state->storeLock);
  EnforceCacheCap(cachedPath);
}

bool CancelWaiter(State& state, const std::string& requestId) {
  std::optional<Waiter> removed;
  std::shared_ptr<Job> abandoned;
  {
    std::lock_guard lock(state.stateLock);
    for (auto& [key, job] : state.inFlight) {
      auto& waiters = job->waiters;
      const auto match = std::find_if(waiters.begin(), waiters.end(),
                                      [&](const Waiter& waiter) { return waiter.requestId == requestId; });
      if (match == waiters.end()) continue;
      removed = std::move(*match);
      waiters.erase(match);
      if (waiters.empty()) abandoned = job;
      break;
    }
  }
  if (!removed) return false;
  removed->promise.Reject("canceled");
  if (abandoned) AbortJob(*abandoned, JobStatus::Canceled);
  return true;
}

}  // namespace VirelantDesktop::media
