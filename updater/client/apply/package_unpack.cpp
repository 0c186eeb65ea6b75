#include "updater/client/apply/package_unpack.h"

#include <zip.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "updater/client/client_os.h"
#include "updater/client/zip_entry_rules.h"

namespace VirelantDesktop::update_client {
namespace {

constexpr size_t kCopyBlockBytes = size_t{1} << 20;

struct ArchiveClose {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryClose {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

[[noreturn]] void Refuse(const std::string& what) { throw std::runtime_error("package refused: " + what); }

struct Entry {
  zip_uint64_t index = 0;
  std::string name;
  ZipEntryVerdict verdict;
  uint64_t size = 0;
};

std::string ArchiveError(zip_t* archive) { return zip_strerror(archive); }

}  // namespace

void UnpackPackage(int packageFd, const std::string& packagePath, const std::string& destination,
                   const UnpackLimits& limits) {
  os::Rewind(packageFd, packagePath);
  platform::UniqueFd handed = os::Duplicate(packageFd, packagePath);
  int openError = 0;
  std::unique_ptr<zip_t, ArchiveClose> archive(zip_fdopen(handed.Get(), ZIP_RDONLY | ZIP_CHECKCONS, &openError));
  if (!archive) {
    zip_error_t error;
    zip_error_init_with_code(&error, openError);
    const std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    Refuse("not a readable zip archive (" + text + ")");
  }
  handed.Release();  // libzip owns and closes it now

  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  if (count < 0 || static_cast<uint64_t>(count) > limits.maxEntries) Refuse("too many entries");

  // Every entry is checked before anything is written.
  std::vector<Entry> entries;
  entries.reserve(static_cast<size_t>(count));
  uint64_t declaredTotal = 0;
  for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
    Entry entry;
    entry.index = i;
    const char* name = zip_get_name(archive.get(), i, ZIP_FL_ENC_RAW);
    if (name == nullptr) Refuse("an entry without a name: " + ArchiveError(archive.get()));
    entry.name = name;
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive.get(), i, 0, &system, &attributes) != 0) {
      Refuse(entry.name + ": " + ArchiveError(archive.get()));
    }
    std::optional<uint32_t> mode;
    if (system == ZIP_OPSYS_UNIX) mode = attributes >> 16;
    entry.verdict = CheckZipEntry(entry.name, mode);
    if (!entry.verdict.ok) Refuse(entry.name + ": " + entry.verdict.reason);

    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.get(), i, 0, &stat) != 0 || (stat.valid & ZIP_STAT_SIZE) == 0) {
      Refuse(entry.name + ": no size");
    }
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && stat.encryption_method != ZIP_EM_NONE) {
      Refuse(entry.name + ": encrypted");
    }
    if (entry.verdict.directory && stat.size != 0) Refuse(entry.name + ": a folder with content");
    entry.size = stat.size;
    if (entry.size > limits.maxTotalBytes - declaredTotal) Refuse("larger than the unpack limit");
    declaredTotal += entry.size;
    entries.push_back(std::move(entry));
  }

  os::TreeWriter writer(destination);
  std::vector<char> block(kCopyBlockBytes);
  for (const Entry& entry : entries) {
    if (entry.verdict.directory) {
      writer.MakeFolder(std::string_view(entry.name).substr(0, entry.name.size() - 1));
      continue;
    }
    const std::string target = destination + "/" + entry.name;
    const platform::UniqueFd out = writer.CreateFile(entry.name, entry.verdict.executable);
    std::unique_ptr<zip_file_t, EntryClose> in(zip_fopen_index(archive.get(), entry.index, 0));
    if (!in) Refuse(entry.name + ": " + ArchiveError(archive.get()));
    uint64_t written = 0;
    for (;;) {
      const zip_int64_t got = zip_fread(in.get(), block.data(), block.size());
      if (got < 0) Refuse(entry.name + ": " + zip_file_strerror(in.get()));  // a CRC mismatch included
      if (got == 0) break;
      written += static_cast<uint64_t>(got);
      // libzip stops at the declared size; this only guards the budget.
      if (written > entry.size) Refuse(entry.name + ": more data than declared");
      os::WriteAll(out.Get(), block.data(), static_cast<size_t>(got), target);
    }
    if (written != entry.size) Refuse(entry.name + ": less data than declared");
    os::SyncFile(out.Get(), target);
  }
  writer.SyncFolders();
}

}  // namespace VirelantDesktop::update_client
