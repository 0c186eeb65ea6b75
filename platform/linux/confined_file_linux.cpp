#include "platform/confined_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <vector>

#include "platform/confined_tree.h"
#include "platform/file_writer.h"
#include "platform/temp_name.h"

namespace VirelantDesktop::platform {
namespace {

constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
constexpr size_t kCopyBlock = size_t{1} << 20;

FileOpResult Failure(FileOpStatus status, int error) { return FileOpResult{status, error, 0}; }

// write(2) may write less than asked; no progress on a regular file is a failure.
int WriteAll(int fd, const char* data, size_t size, size_t pieceSize) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, std::min(size, pieceSize));
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return EIO;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return 0;
}

// read(2) until `size` bytes or the end; the count read, or -1 with errno.
ssize_t ReadFull(int fd, char* data, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    const ssize_t n = ::read(fd, data + filled, size - filled);
    if (n > 0) {
      filled += static_cast<size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      return -1;
    }
  }
  return static_cast<ssize_t>(filled);
}

// O_NONBLOCK keeps the open of a FIFO from waiting for a writer; the type is
// checked on the open descriptor, so a swap after a look cannot slip by.
UniqueFd OpenRegularFile(int atFolder, const char* name, int extraFlags, struct stat& info, int& error) {
  UniqueFd fd(::openat(atFolder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | extraFlags));
  if (!fd) {
    error = errno;
    return fd;
  }
  if (::fstat(fd.Get(), &info) != 0) {
    error = errno;
    return {};
  }
  if (!S_ISREG(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return {};
  }
  return fd;
}

}  // namespace

SourceFileInfo InspectSourceFile(const std::string& path) noexcept {
  SourceFileInfo result;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return result;
  if (S_ISDIR(info.st_mode)) {
    result.kind = SourceKind::Folder;
  } else if (S_ISREG(info.st_mode)) {
    result.kind = SourceKind::File;
    result.size = static_cast<uint64_t>(info.st_size);
  } else {
    result.kind = SourceKind::Other;
  }
  return result;
}

UniqueFd MakeFolderAt(const UniqueFd& folder, const std::string& name, unsigned mode) {
  if (::mkdirat(folder.Get(), name.c_str(), mode) != 0) return {};
  return UniqueFd(::openat(folder.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

FileOpResult CopyFileInto(const std::string& source, const UniqueFd& folder, const std::string& name,
                          uint64_t maxBytes) {
  struct stat info {};
  int error = 0;
  UniqueFd in = OpenRegularFile(AT_FDCWD, source.c_str(), 0, info, error);
  if (!in) return Failure(FileOpStatus::SourceFailed, error);
  return CopyOpenFileInto(in, folder, name, maxBytes);
}

UniqueFd OpenFileBeneath(const UniqueFd& folder, std::string_view relative) {
  const size_t slash = relative.rfind('/');
  const std::string name(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
  if (name.empty() || name == "." || name == "..") return {};
  UniqueFd parent;
  if (slash != std::string_view::npos) {
    parent = OpenFolderBeneath(folder, relative.substr(0, slash), /*create=*/false);
    if (!parent) return {};
  }
  struct stat info {};
  int error = 0;
  return OpenRegularFile(parent ? parent.Get() : folder.Get(), name.c_str(), O_NOFOLLOW, info, error);
}

std::string PathOfOpenFile(const UniqueFd& file) {
  // The kernel's link for a descriptor reopens the very file it holds.
  return file ? "/proc/self/fd/" + std::to_string(file.Get()) : std::string();
}

FileOpResult CopyOpenFileInto(const UniqueFd& in, const UniqueFd& folder, const std::string& name,
                              uint64_t maxBytes, unsigned mode) {
  struct stat info {};
  if (!in || ::fstat(in.Get(), &info) != 0) return Failure(FileOpStatus::SourceFailed, in ? errno : EBADF);
  if (!S_ISREG(info.st_mode)) return Failure(FileOpStatus::SourceFailed, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  if (static_cast<uint64_t>(info.st_size) > maxBytes) return Failure(FileOpStatus::TooLarge, 0);

  UniqueFd out(::openat(folder.Get(), name.c_str(), kCreateFlags, static_cast<mode_t>(mode)));
  if (!out) return Failure(FileOpStatus::CreateFailed, errno);

  FileOpResult result{FileOpStatus::Ok, 0, 0};
  std::vector<char> buffer(kCopyBlock);
  for (;;) {
    const ssize_t n = ReadFull(in.Get(), buffer.data(), buffer.size());
    if (n < 0) {
      result = Failure(FileOpStatus::SourceFailed, errno);
      break;
    }
    if (n == 0) break;
    if (result.size + static_cast<uint64_t>(n) > maxBytes) {
      result = Failure(FileOpStatus::TooLarge, 0);
      break;
    }
    if (const int writeError = WriteAll(out.Get(), buffer.data(), static_cast<size_t>(n), kCopyBlock)) {
      result = Failure(FileOpStatus::WriteFailed, writeError);
      break;
    }
    result.size += static_cast<uint64_t>(n);
  }
  // close(2) may be the first to report a full disk on some file systems.
  if (::close(out.Release()) != 0 && result.ok()) result = Failure(FileOpStatus::WriteFailed, errno);
  if (!result.ok()) ::unlinkat(folder.Get(), name.c_str(), 0);
  return result;
}

FileOpResult WriteNewFileAt(const UniqueFd& folder, const std::string& name, std::string_view bytes,
                            size_t pieceSize) {
  UniqueFd out(::openat(folder.Get(), name.c_str(), kCreateFlags, 0600));
  if (!out) return Failure(FileOpStatus::CreateFailed, errno);
  int error = WriteAll(out.Get(), bytes.data(), bytes.size(), std::max<size_t>(pieceSize, 1));
  if (::close(out.Release()) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlinkat(folder.Get(), name.c_str(), 0);
    return Failure(FileOpStatus::WriteFailed, error);
  }
  return FileOpResult{FileOpStatus::Ok, 0, bytes.size()};
}

FileOpResult ReadFileAt(const UniqueFd& folder, const std::string& name, uint64_t maxBytes, std::string& data) {
  data.clear();
  struct stat info {};
  int error = 0;
  UniqueFd fd = OpenRegularFile(folder.Get(), name.c_str(), O_NOFOLLOW, info, error);
  if (!fd) {
    // ELOOP: a link in the file's place; EISDIR/EINVAL: not a regular file.
    const bool notAFile = error == ENOENT || error == ELOOP || error == EISDIR || error == EINVAL;
    return Failure(notAFile ? FileOpStatus::NotAFile : FileOpStatus::SourceFailed, error);
  }
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  if (size > maxBytes) return Failure(FileOpStatus::TooLarge, 0);
  data.resize(static_cast<size_t>(size));
  const ssize_t n = ReadFull(fd.Get(), data.data(), data.size());
  if (n < 0 || static_cast<uint64_t>(n) != size) {
    const int readError = n < 0 ? errno : EIO;
    data.clear();
    return Failure(FileOpStatus::SourceFailed, readError);
  }
  return FileOpResult{FileOpStatus::Ok, 0, size};
}

std::optional<OpenFileStat> StatOpenFile(const UniqueFd& file) noexcept {
  struct stat info {};
  if (!file || ::fstat(file.Get(), &info) != 0) return std::nullopt;
  OpenFileStat stat;
  stat.regular = S_ISREG(info.st_mode);
  stat.size = static_cast<uint64_t>(info.st_size);
  stat.modifiedNs = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
  return stat;
}

UniqueFd OpenRegularFileByPath(const std::string& path) noexcept {
  struct stat info {};
  int error = 0;
  return OpenRegularFile(AT_FDCWD, path.c_str(), 0, info, error);
}

std::optional<size_t> ReadAt(const UniqueFd& file, uint64_t offset, char* buffer, size_t size) noexcept {
  size_t filled = 0;
  while (filled < size) {
    const ssize_t n = ::pread(file.Get(), buffer + filled, size - filled, static_cast<off_t>(offset + filled));
    if (n > 0) {
      filled += static_cast<size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      return std::nullopt;
    }
  }
  return filled;
}

FileOpResult ReplaceFileAt(const UniqueFd& source, const UniqueFd& folder, const std::string& name, unsigned mode) {
  if (!source || ::lseek(source.Get(), 0, SEEK_SET) != 0) return Failure(FileOpStatus::SourceFailed, source ? errno : EBADF);
  const std::string temp = TempNameFor(name);
  // A regular file under the temporary name is an interrupted earlier copy.
  if (EntryTypeAt(folder, temp) == EntryType::File) ::unlinkat(folder.Get(), temp.c_str(), 0);
  FileOpResult result = CopyOpenFileInto(source, folder, temp, std::numeric_limits<uint64_t>::max(), mode);
  if (!result.ok()) return result;
  struct stat info {};
  int error = 0;
  UniqueFd copy(::openat(folder.Get(), temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!copy || ::fstat(source.Get(), &info) != 0) {
    error = errno;
  } else {
    const struct timespec times[2] = {{0, UTIME_OMIT}, info.st_mtim};
    if (::futimens(copy.Get(), times) != 0 || ::fsync(copy.Get()) != 0) error = errno;
  }
  if (error == 0 && !RenameAt(folder, temp, name, error)) error = error != 0 ? error : EIO;
  if (error != 0) {
    ::unlinkat(folder.Get(), temp.c_str(), 0);
    return Failure(FileOpStatus::WriteFailed, error);
  }
  ::fsync(folder.Get());
  return result;
}

}  // namespace VirelantDesktop::platform
