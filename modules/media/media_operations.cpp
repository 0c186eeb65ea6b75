#include "modules/media/media_operations.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "modules/attach/file_name.h"
#include "modules/media/fetch_rules.h"
#include "modules/media/media_job.h"
#include "modules/media/media_request.h"
#include "modules/media/media_root.h"
#include "platform/ascii_text.h"
#include "platform/confined_file.h"
#include "platform/confined_tree.h"
#include "platform/file_writer.h"
#include "platform/random_id.h"
#include "platform/save_copy.h"
#include "platform/temp_name.h"

namespace VirelantDesktop::media {
namespace {

using platform::EntryType;

constexpr int64_t kTouchAfterNs = int64_t{60} * 1000000000;
constexpr unsigned kReadOnlyMode = 0444;

std::string_view FileNameOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The text after the last "." of a file name, "" when there is none (or only
// a leading one).
std::string_view ExtensionOf(std::string_view fileName) {
  const size_t dot = fileName.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? std::string_view() : fileName.substr(dot + 1);
}

bool Inside(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

std::vector<std::shared_ptr<Job>> TakeJobs(State& state, const std::function<bool(const std::string&)>& match) {
  std::vector<std::shared_ptr<Job>> jobs;
  for (const auto& [key, job] : state.inFlight) {
    if (match(key)) jobs.push_back(job);
  }
  return jobs;
}

}  // namespace

const char* MimeOfExtension(std::string_view ext) noexcept {
  static constexpr std::pair<const char*, const char*> kTable[] = {
      {"png", "image/png"},   {"jpg", "image/jpeg"},       {"jpeg", "image/jpeg"}, {"gif", "image/gif"},
      {"webp", "image/webp"}, {"mp4", "video/mp4"},        {"mov", "video/quicktime"}, {"webm", "video/webm"},
      {"m4a", "audio/mp4"},   {"mp3", "audio/mpeg"},       {"ogg", "audio/ogg"},   {"pdf", "application/pdf"},
      {"txt", "text/plain"}};
  for (const auto& [name, mime] : kTable) {
    if (ext == name) return mime;
  }
  return "application/octet-stream";
}

bool IsOpenableExtension(std::string_view ext) noexcept {
  static constexpr const char* kOpenable[] = {"png", "jpg", "jpeg", "gif", "webp", "pdf", "mp4",
                                              "mov", "m4a", "mp3",  "ogg", "webm", "txt"};
  return std::any_of(std::begin(kOpenable), std::end(kOpenable), [&](const char* known) { return ext == known; });
}

std::string DisplayName(std::string_view name, std::string_view cachedPath) {
  std::string display = attach::SanitizeFileName(name);
  if (ExtensionOf(display).empty()) {
    const std::string_view ext = ExtensionOf(FileNameOf(cachedPath));
    if (!ext.empty()) display = attach::WithExtension(display, ext);
  }
  return display;
}

void WaitWhileWiping(State& state) {
  std::unique_lock lock(state.stateLock);
  state.stateChanged.wait(lock, [&] { return !state.wipeBusy; });
}

std::optional<std::string> GuardCachePath(const std::string& path, bool materialisedOnly) {
  if (path.empty() || path.front() != '/' || path.find("..") != std::string::npos) return std::nullopt;
  if (platform::StatusOf(path).type != EntryType::File) return std::nullopt;  // folders and links too
  const std::string root = MediaRoot();
  if (root.empty()) return std::nullopt;
  const std::string canonical = platform::CanonicalPath(path);
  if (canonical.empty() || !Inside(canonical, root)) return std::nullopt;
  if (Inside(canonical, root + "/" + kStagingEntry)) return std::nullopt;
  if (materialisedOnly && !Inside(canonical, root + "/" + kTmpEntry)) return std::nullopt;
  return canonical;
}

JSValue Peek(State& state, const CacheScope& scope, std::string_view url) {
  std::lock_guard store(state.storeLock);
  RunHousekeeping(state);
  const ScopeFolder folder = OpenScopeDir(scope);
  if (!folder) return nullptr;
  const std::string hash = CacheHash(scope.ws, url);
  const std::optional<platform::FolderEntry> file = hash.empty() ? std::nullopt : FindCachedEntry(folder.fd, hash);
  if (!file) return nullptr;
  if (platform::FileClockNowNs() - file->modifiedNs > kTouchAfterNs) platform::TouchModifiedAt(folder.fd, file->name);
  return JSValue{{"path", folder.path + "/" + file->name},
                 {"bytes", file->size},
                 {"mime", MimeOfExtension(ExtensionOf(file->name))}};
}

void Remove(State& state, const CacheScope& scope, std::string_view url) {
  std::shared_ptr<Job> job;
  {
    std::lock_guard lock(state.stateLock);
    ++state.scopeGenerations[ScopeKey(scope)];
    if (const auto found = state.inFlight.find(DedupKey(scope, false, url)); found != state.inFlight.end())
      job = found->second;
  }
  if (job) AbortJob(*job, JobStatus::Changed);

  std::lock_guard store(state.storeLock);
  RunHousekeeping(state);
  const ScopeFolder folder = OpenScopeDir(scope);
  const std::string hash = CacheHash(scope.ws, url);
  if (!folder || hash.empty()) return;
  for (const platform::FolderEntry& entry : platform::ListFolder(folder.fd)) {
    if (platform::StartsWithIgnoringAsciiCase(entry.name, hash + ".")) platform::RemoveEntryAt(folder.fd, entry.name);
  }
}

bool RemoveThread(State& state, const CacheScope& scope) {
  std::vector<std::shared_ptr<Job>> jobs;
  const std::string prefix = ScopeKey(scope) + "|";
  {
    std::lock_guard lock(state.stateLock);
    ++state.scopeGenerations[ScopeKey(scope)];
    jobs = TakeJobs(state, [&](const std::string& key) { return key.compare(0, prefix.size(), prefix) == 0; });
  }
  for (const auto& job : jobs) AbortJob(*job, JobStatus::Changed);

  std::lock_guard store(state.storeLock);
  RunHousekeeping(state);
  const std::string root = MediaRoot();
  if (root.empty()) return false;
  // The thread's folder is reached from the root without following a link:
  // a link at the uid or ws level leaves nothing to remove, one in the
  // thread's place is unlinked. The removal's result does not matter.
  const platform::UniqueFd rootFd = platform::OpenFolderNoFollow(root);
  const platform::UniqueFd workspace =
      rootFd ? platform::OpenFolderBeneath(rootFd, scope.uid + "/" + scope.ws, /*create=*/false) : platform::UniqueFd();
  if (workspace) platform::RemoveTreeAt(workspace, scope.thread);
  return true;
}

bool Clear(State& state, const std::optional<std::string>& uid) {
  std::vector<std::shared_ptr<Job>> jobs;
  {
    std::unique_lock lock(state.stateLock);
    state.stateChanged.wait(lock, [&] { return !state.wipeBusy; });
    state.wipeBusy = true;
    ++state.generation;
    jobs = TakeJobs(state, [](const std::string&) { return true; });
  }
  const std::string root = MediaRoot();
  platform::UniqueFd rootFd = root.empty() ? platform::UniqueFd() : platform::OpenFolderNoFollow(root);
  if (rootFd) {
    int error = 0;
    platform::NewFile marker = platform::NewFile::CreateAt(rootFd, kPendingWipeEntry, 0600, error);
    if (marker) marker.Finish(error);
  }
  for (const auto& job : jobs) AbortJob(*job, JobStatus::Canceled);
  {
    std::unique_lock lock(state.stateLock);
    state.stateChanged.wait_for(lock, std::chrono::seconds(10), [&] { return state.inFlight.empty(); });
  }

  bool removed = true;
  if (rootFd) {
    std::lock_guard store(state.storeLock);
    if (!uid) {
      platform::RemoveTreeAt(rootFd, kStagingEntry);
      removed = WipeRootEntries(root);
    } else {
      removed = platform::RemoveTreeAt(rootFd, *uid);
      platform::RemoveTreeAt(rootFd, kTmpEntry);
      platform::RemoveTreeAt(rootFd, kStagingEntry);
    }
    if (removed) platform::RemoveEntryAt(rootFd, kPendingWipeEntry);
  }
  {
    std::lock_guard lock(state.stateLock);
    state.wipeBusy = false;
  }
  state.stateChanged.notify_all();
  return removed;
}

JSValue Stats(State& state) {
  std::lock_guard store(state.storeLock);
  RunHousekeeping(state);
  uint64_t bytes = 0, files = 0;
  const std::string root = MediaRoot();
  if (!root.empty()) {
    for (const CacheFile& file : ListCacheFiles(root, /*includePart=*/false)) {
      bytes += file.size;
      ++files;
    }
  }
  return JSValue{{"bytes", bytes}, {"files", files}};
}

CopyOutcome Materialize(State& state, const std::string& path, std::string_view name) {
  std::lock_guard store(state.storeLock);
  RunHousekeeping(state);
  const std::optional<std::string> source = GuardCachePath(path, false);
  if (!source) return {{}, kPathDenied};
  const std::string root = MediaRoot();
  // Read by walking down from the root: a folder swapped for a link since
  // the guard cannot lead the copy outside.
  const platform::UniqueFd input = OpenFileBelowRoot(root, *source);
  if (!input) return {{}, kPathDenied};
  const std::string display = DisplayName(name, *source);
  const platform::UniqueFd rootFd = platform::OpenFolderNoFollow(root);
  const platform::UniqueFd tmpFd =
      rootFd ? platform::OpenFolderBeneath(rootFd, kTmpEntry, /*create=*/true) : platform::UniqueFd();
  std::string guid;
  try {
    guid = platform::NewGuidString();
  } catch (...) {
    return {{}, kCacheUnavailable};
  }
  const platform::UniqueFd folder = tmpFd ? platform::MakeFolderAt(tmpFd, guid) : platform::UniqueFd();
  if (!folder) return {{}, kCacheUnavailable};
  const std::string copy = root + "/" + kTmpEntry + "/" + guid + "/" + display;
  if (!platform::CopyOpenFileInto(input, folder, display, std::numeric_limits<uint64_t>::max()).ok() ||
      !platform::SetOriginAndModeAt(folder, display, platform::OriginUrlOf(input), kReadOnlyMode)) {
    platform::RemoveTreeAt(tmpFd, guid);
    return {{}, kCacheUnavailable};
  }

  // Keep the newest copies; the one just made always stays.
  std::vector<platform::FolderEntry> others;
  for (platform::FolderEntry& entry : platform::ListFolder(tmpFd)) {
    if (entry.name != guid) others.push_back(std::move(entry));
  }
  std::sort(others.begin(), others.end(),
            [](const auto& a, const auto& b) { return a.modifiedNs > b.modifiedNs; });
  for (size_t i = kKeptCopies - 1; i < others.size(); ++i) platform::RemoveTreeAt(tmpFd, others[i].name);
  return {copy, nullptr};
}

SavePlan PlanSaveCopy(State& state, const std::string& path, std::string_view name) {
  std::lock_guard store(state.storeLock);
  RunHousekeeping(state);
  const std::optional<std::string> source = GuardCachePath(path, false);
  if (!source) return {{}, {}, kPathDenied};
  return {*source, DisplayName(name, *source), nullptr};
}

bool SaveCopyTo(State& state, const std::string& source, const std::string& destination) {
  if (destination.empty() || destination.front() != '/' || destination.back() == '/') return false;
  const std::string parent = platform::CanonicalPath(destination.substr(0, destination.rfind('/') + 1));
  if (parent.empty()) return false;
  {
    std::lock_guard store(state.storeLock);
    const platform::UniqueFd input = OpenFileBelowRoot(MediaRoot(), source);
    if (!input || !platform::SaveCopyOfOpenFile(input, destination)) return false;
  }
  std::lock_guard lock(state.stateLock);
  state.savedPaths.insert((parent == "/" ? "" : parent) + "/" + std::string(FileNameOf(destination)));
  return true;
}

std::optional<std::string> RevealAllowed(State& state, const std::string& path) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  const std::string canonical = platform::CanonicalPath(path);
  if (canonical.empty()) return std::nullopt;
  std::lock_guard lock(state.stateLock);
  if (state.savedPaths.count(canonical) == 0) return std::nullopt;
  return canonical;
}

}  // namespace VirelantDesktop::media
