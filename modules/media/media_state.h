// What the workers of one Media module share.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace VirelantDesktop::media {

struct Job;  // one download in flight (the download engine's)

// Lock order where two are held: storeLock before housekeepingLock, and
// storeLock before stateLock; stateLock is never held while storeLock or
// housekeepingLock is taken.
struct State {
  std::mutex stateLock;  // guards wipeBusy, generation, scopeGenerations, inFlight, savedPaths
  std::condition_variable stateChanged;  // with stateLock: wipeBusy went false
  bool wipeBusy = false;                 // a clear is running; workers wait until it is not
  uint32_t generation = 0;               // incremented by each clear
  std::map<std::string, uint64_t> scopeGenerations;     // ScopeKey -> removes of that scope
  std::map<std::string, std::shared_ptr<Job>> inFlight;  // DedupKey -> download

  std::mutex storeLock;  // held by a worker across each of its steps on the files below MediaRoot

  std::mutex housekeepingLock;  // serialises RunHousekeeping
  std::atomic<bool> housekeepingDone{false};

  std::set<std::string> savedPaths;  // canonical paths of the copies saved out of the cache
};

}  // namespace VirelantDesktop::media
