// Loading a shared library of ours at run time and finding its functions.
//
// Only by absolute path: the system's library search (LD_LIBRARY_PATH, the
// run path, the cache) never takes part, so a library planted elsewhere is
// never picked up. A loaded library stays loaded for the life of the process
// (its functions may be installed as callbacks that outlive any owner).
#pragma once

#include <memory>
#include <string>

namespace VirelantDesktop::platform {

class SharedLibrary {
 public:
  // The library at `absolutePath`, with every symbol bound now; null when
  // the path is not absolute or the file cannot be loaded.
  static std::shared_ptr<SharedLibrary> Load(const std::string& absolutePath);

  // The address of the exported function or object `name`; null when the
  // library has none. Thread-safe.
  void* Find(const char* name) const noexcept;

  const std::string& Path() const noexcept { return path_; }

  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

 private:
  SharedLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}

  void* handle_;
  std::string path_;
};

}  // namespace VirelantDesktop::platform
