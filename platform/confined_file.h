// Single files read, written and copied inside a confined folder (see
// confined_tree.h): the folder is an open handle, the file a plain name in
// it, and a symbolic link in the file's place is never followed.
//
// Sources outside the confined tree (a user's file to be copied in) are
// opened by path and may be links; only regular files are read, so a FIFO
// or device named as a source can neither block nor stream without end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

enum class SourceKind { Missing, Folder, File, Other };

struct SourceFileInfo {
  SourceKind kind = SourceKind::Missing;
  uint64_t size = 0;  // regular files only
};

// What `path` names, links followed. Missing also when it cannot be looked at.
SourceFileInfo InspectSourceFile(const std::string& path) noexcept;

// Creates the new folder `name` in `folder` and opens it. Fails (invalid
// handle) when anything of that name exists already.
UniqueFd MakeFolderAt(const UniqueFd& folder, const std::string& name, unsigned mode = 0700);

enum class FileOpStatus {
  Ok,
  SourceFailed,  // the source cannot be opened or read, or is not a regular file
  CreateFailed,  // the target cannot be created (it exists, a link is there...)
  WriteFailed,   // writing the target failed or made no progress
  TooLarge,      // more bytes than the caller allowed
  NotAFile,      // the entry to read is missing, a link or not a regular file
};

struct FileOpResult {
  FileOpStatus status = FileOpStatus::SourceFailed;
  int error = 0;      // errno of the failed step, 0 when none applies
  uint64_t size = 0;  // Ok: bytes in the target (copy, write) or read
  bool ok() const noexcept { return status == FileOpStatus::Ok; }
};

// Copies the regular file `source` into `folder` as the new file `name`
// (created exclusively, mode 0600). A source that turns out to hold more than
// `maxBytes` (it may grow after it was measured) stops the copy: TooLarge.
// On any failure the partial target is removed.
FileOpResult CopyFileInto(const std::string& source, const UniqueFd& folder, const std::string& name,
                          uint64_t maxBytes);

// Opens the regular file at `relative` ("a/b/name", no "." or "..") beneath
// `folder` for reading, without following a link at any level; invalid when
// a component is missing, a link or of the wrong type.
UniqueFd OpenFileBeneath(const UniqueFd& folder, std::string_view relative);

// A path naming the open `file` itself, whatever its folders are renamed or
// replaced by meanwhile, for libraries that only take paths; it stays valid
// while `file` is open.
std::string PathOfOpenFile(const UniqueFd& file);

// CopyFileInto from an open regular file (read from its current offset),
// the target created with `mode` as new files are: the umask and a folder's
// default ACL apply (0666 gives a file the mode any new file of the user gets).
FileOpResult CopyOpenFileInto(const UniqueFd& source, const UniqueFd& folder, const std::string& name,
                              uint64_t maxBytes, unsigned mode = 0600);

// Writes `bytes` as the new file `name` in `folder` (created exclusively,
// mode 0600), at most `pieceSize` bytes per write call. On failure the
// partial file is removed.
FileOpResult WriteNewFileAt(const UniqueFd& folder, const std::string& name, std::string_view bytes,
                            size_t pieceSize);

// Reads the whole regular file `name` in `folder`, refusing a link in its
// place (NotAFile) and a file larger than `maxBytes` (TooLarge, nothing
// read). A file that ends before its measured size is a failure.
FileOpResult ReadFileAt(const UniqueFd& folder, const std::string& name, uint64_t maxBytes, std::string& data);

// What fstat says of an open file.
struct OpenFileStat {
  bool regular = false;
  uint64_t size = 0;
  int64_t modifiedNs = 0;  // last write, nanoseconds since the epoch
};
std::optional<OpenFileStat> StatOpenFile(const UniqueFd& file) noexcept;

// Opens the regular file at `path` for reading, links followed (a FIFO or
// device is refused without blocking); invalid otherwise.
UniqueFd OpenRegularFileByPath(const std::string& path) noexcept;

// Reads up to `size` bytes of the open file at `offset` (fewer only at its
// end; interrupted reads are retried). nullopt on a read error.
std::optional<size_t> ReadAt(const UniqueFd& file, uint64_t offset, char* buffer, size_t size) noexcept;

// Puts a copy of the open regular file `source` (read from its start) in
// `folder` under `name`: written under the fixed temporary name for `name`
// (temp_name.h) with `mode` and the source's last-write time, flushed, and
// renamed over whatever entry holds `name` (a link there is replaced, never
// followed). On failure `name` is left as it was.
FileOpResult ReplaceFileAt(const UniqueFd& source, const UniqueFd& folder, const std::string& name, unsigned mode);

}  // namespace VirelantDesktop::platform
