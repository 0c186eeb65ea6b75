// The update client library ("libtalvek-update.so", updater/client/
// update_client.h) bound at run time: loaded by absolute path, its tuc_*
// functions looked up on first use. A program without the library runs
// without self-update; nothing here terminates the process.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/shared_library.h"
#include "updater/client/update_client.h"

namespace TalvekUpdater {

class UpdateClientLibrary {
 public:
  // The library at `absolutePath`; null when it cannot be loaded.
  static std::shared_ptr<const UpdateClientLibrary> Load(const std::string& absolutePath);

  // The exported symbol `name` (looked up once, then remembered); null when
  // the library has none. Thread-safe.
  void* Symbol(const char* name) const;

  // Typed lookup; use TUC_FUNCTION(library, tuc_name) for the declared type.
  template <class Fn>
  Fn Function(const char* name) const {
    return reinterpret_cast<Fn>(Symbol(name));
  }

  // tuc_get_last_error of the calling thread ("" when there is none).
  std::string LastError() const;

  explicit UpdateClientLibrary(std::shared_ptr<VirelantDesktop::platform::SharedLibrary> library)
      : library_(std::move(library)) {}

 private:
  std::shared_ptr<VirelantDesktop::platform::SharedLibrary> library_;
  mutable std::mutex mutex_;  // guards symbols_
  mutable std::map<std::string, void*, std::less<>> symbols_;
};

// A tuc_* function of `library` with the type update_client.h declares; null
// when the library lacks it.
#define TUC_FUNCTION(library, name) (library).Function<decltype(&name)>(#name)

// The program's own copy beside the executable (executable folder + "/" +
// TUC_LIBRARY_FILE), loaded on the first call and remembered for the
// process, whether or not it loaded. Null when it is missing.
std::shared_ptr<const UpdateClientLibrary> ProcessUpdateClient();

}  // namespace TalvekUpdater
