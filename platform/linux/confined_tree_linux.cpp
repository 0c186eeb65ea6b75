#include "platform/confined_tree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <memory>

namespace VirelantDesktop::platform {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr const char* kOriginAttribute = "user.xdg.origin.url";

EntryType TypeOfMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryType::File;
  if (S_ISDIR(mode)) return EntryType::Folder;
  if (S_ISLNK(mode)) return EntryType::Link;
  return EntryType::Other;
}

FolderEntry EntryFromStat(std::string name, const struct stat& info) {
  FolderEntry entry;
  entry.name = std::move(name);
  entry.type = TypeOfMode(info.st_mode);
  if (entry.type == EntryType::File) entry.size = static_cast<uint64_t>(info.st_size);
  entry.modifiedNs = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return entry;
}

// Splits "dir/name" into the parent (opened following links above it) and
// the last component.
bool SplitParent(const std::string& path, UniqueFd& parent, std::string& name) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return false;
  parent.Reset(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return parent.IsValid();
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// Reads the entries of `folder` through a duplicate, so the caller's handle
// stays open and positioned.
template <class OnEntry>
bool ForEachEntry(const UniqueFd& folder, OnEntry&& onEntry) {
  const int copy = openat(folder.Get(), ".", kFolderFlags);
  if (copy < 0) return false;
  std::unique_ptr<DIR, DirCloser> dir(fdopendir(copy));
  if (!dir) {
    close(copy);
    return false;
  }
  while (dirent* entry = readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    onEntry(std::string(name));
  }
  return true;
}

// Reads the origin attribute with `get`, growing the buffer while it is too
// small (attribute values are at most 64 KiB on Linux).
template <class Get>
std::string ReadOrigin(Get&& get) {
  std::string value(4096, '\0');
  for (;;) {
    const ssize_t length = get(value.data(), value.size());
    if (length >= 0) {
      value.resize(static_cast<size_t>(length));
      return value;
    }
    if (errno != ERANGE || value.size() >= (size_t{1} << 16)) return {};
    value.resize(value.size() * 4);
  }
}

}  // namespace

bool CreateDirs(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  if (mkdir(path.c_str(), mode) == 0) return true;
  if (errno == EEXIST) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);  // a link to a folder will do
  }
  if (errno != ENOENT) return false;
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return false;
  if (!CreateDirs(path.substr(0, slash), mode)) return false;
  return mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

std::string CanonicalPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return {};
  std::string result(resolved);
  free(resolved);
  return result;
}

EntryType EntryTypeOf(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return EntryType::Missing;
  return TypeOfMode(info.st_mode);
}

UniqueFd OpenFolderNoFollow(const std::string& path) { return UniqueFd(open(path.c_str(), kFolderFlags)); }

UniqueFd OpenFolderBeneath(const UniqueFd& folder, std::string_view relative, bool create, unsigned mode) {
  UniqueFd current(openat(folder.Get(), ".", kFolderFlags));
  size_t start = 0;
  while (current && start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string_view::npos) end = relative.size();
    const std::string name(relative.substr(start, end - start));
    start = end + 1;
    if (name.empty()) continue;
    if (name == "." || name == "..") {
      errno = EINVAL;
      return {};
    }
    if (create && mkdirat(current.Get(), name.c_str(), mode) != 0 && errno != EEXIST) return {};
    current.Reset(openat(current.Get(), name.c_str(), kFolderFlags));
  }
  return current;
}

std::string PathOfOpen(const UniqueFd& fd) {
  char buffer[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd.Get());
  const ssize_t length = readlink(link.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return {};
  return std::string(buffer, static_cast<size_t>(length));
}

EntryType EntryTypeAt(const UniqueFd& folder, const std::string& name) {
  struct stat info {};
  if (fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return EntryType::Missing;
  return TypeOfMode(info.st_mode);
}

std::vector<FolderEntry> ListFolder(const UniqueFd& folder) {
  std::vector<FolderEntry> entries;
  ForEachEntry(folder, [&](std::string name) {
    struct stat info {};
    if (fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
      entries.push_back(EntryFromStat(std::move(name), info));
    }
  });
  return entries;
}

bool RemoveEntryAt(const UniqueFd& folder, const std::string& name) {
  switch (EntryTypeAt(folder, name)) {
    case EntryType::Missing:
      return true;
    case EntryType::Folder:
      return false;
    case EntryType::File:
      // Cached files are read-only; the mode goes first, as on every delete.
      fchmodat(folder.Get(), name.c_str(), 0600, 0);
      break;
    case EntryType::Link:
    case EntryType::Other:
      break;
  }
  return unlinkat(folder.Get(), name.c_str(), 0) == 0 || errno == ENOENT;
}

bool RemoveTreeAt(const UniqueFd& folder, const std::string& name) {
  if (EntryTypeAt(folder, name) != EntryType::Folder) return RemoveEntryAt(folder, name);
  UniqueFd inner(openat(folder.Get(), name.c_str(), kFolderFlags));
  if (!inner) {
    // Swapped for a link since the look: unlink whatever is there now.
    return errno == ELOOP || errno == ENOTDIR ? RemoveEntryAt(folder, name) : errno == ENOENT;
  }
  // Names first, removals after: a folder is not changed while it is read.
  std::vector<std::string> children;
  bool allRemoved = ForEachEntry(inner, [&](std::string child) { children.push_back(std::move(child)); });
  for (const std::string& child : children) {
    if (!RemoveTreeAt(inner, child)) allRemoved = false;
  }
  if (unlinkat(folder.Get(), name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) allRemoved = false;
  return allRemoved;
}

bool RemovePath(const std::string& path) {
  if (EntryTypeOf(path) == EntryType::Missing) return true;
  UniqueFd parent;
  std::string name;
  return SplitParent(path, parent, name) && RemoveEntryAt(parent, name);
}

bool RemoveTree(const std::string& path) {
  if (EntryTypeOf(path) == EntryType::Missing) return true;
  UniqueFd parent;
  std::string name;
  return SplitParent(path, parent, name) && RemoveTreeAt(parent, name);
}

void WalkFiles(const UniqueFd& folder, const std::string& prefix, const TreeFilter& skip, const TreeVisitor& visit) {
  // Depth first with an explicit stack of open folders: deep trees cannot
  // exhaust the thread's stack.
  struct Pending {
    UniqueFd fd;
    std::string path;
    std::string relative;
  };
  std::vector<Pending> stack;
  stack.push_back({UniqueFd(openat(folder.Get(), ".", kFolderFlags)), prefix, ""});
  while (!stack.empty()) {
    Pending current = std::move(stack.back());
    stack.pop_back();
    if (!current.fd) continue;
    for (FolderEntry& entry : ListFolder(current.fd)) {
      if (skip && skip(current.relative, entry)) continue;
      if (entry.type == EntryType::Folder) {
        UniqueFd inner(openat(current.fd.Get(), entry.name.c_str(), kFolderFlags));
        std::string relative = current.relative.empty() ? entry.name : current.relative + "/" + entry.name;
        stack.push_back({std::move(inner), current.path + "/" + entry.name, std::move(relative)});
      } else if (entry.type == EntryType::File) {
        visit(current.path + "/" + entry.name, entry);
      }
    }
  }
}

void SetOriginUrl(const std::string& path, std::string_view url) noexcept {
  lsetxattr(path.c_str(), kOriginAttribute, url.data(), url.size(), 0);
}

std::string OriginUrl(const std::string& path) {
  return ReadOrigin([&](char* data, size_t size) { return lgetxattr(path.c_str(), kOriginAttribute, data, size); });
}

std::string OriginUrlOf(const UniqueFd& file) {
  return ReadOrigin([&](char* data, size_t size) { return fgetxattr(file.Get(), kOriginAttribute, data, size); });
}

bool SetOriginAndModeAt(const UniqueFd& folder, const std::string& name, std::string_view url,
                        std::optional<unsigned> mode) noexcept {
  // O_NONBLOCK: a FIFO swapped in cannot make the open wait.
  UniqueFd file(openat(folder.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!file || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const mode_t current = info.st_mode & 07777;
  const mode_t target = mode ? static_cast<mode_t>(*mode & 07777) : current;
  bool modeChanged = false;
  if (!url.empty()) {
    // Setting a user attribute needs write permission on the file itself,
    // whatever the descriptor was opened for.
    if ((current & S_IWUSR) == 0) modeChanged = fchmod(file.Get(), current | S_IWUSR) == 0;
    fsetxattr(file.Get(), kOriginAttribute, url.data(), url.size(), 0);
  }
  if (target == current && !modeChanged) return true;
  return fchmod(file.Get(), target) == 0;
}

}  // namespace VirelantDesktop::platform
