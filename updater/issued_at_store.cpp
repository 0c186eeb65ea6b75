#include "updater/issued_at_store.h"

#include "platform/atomic_file.h"
#include "platform/confined_tree.h"
#include "platform/process_setup.h"
#include "platform/read_file.h"

namespace VirelantDesktop::updater {
namespace {

constexpr std::string_view kHeader = "talvek-issued-v1\n";

std::optional<int64_t> ReadValue(const std::string& path) {
  const platform::ReadFileResult read = platform::ReadWholeFile(path);
  if (read.status != platform::ReadStatus::Ok) return std::nullopt;
  return ParseIssuedAtText(read.data);
}

}  // namespace

std::optional<int64_t> ParseIssuedAtText(std::string_view text) {
  if (text.substr(0, kHeader.size()) != kHeader || text.size() < kHeader.size() + 2 || text.back() != '\n') {
    return std::nullopt;
  }
  std::string_view number = text.substr(kHeader.size(), text.size() - kHeader.size() - 1);
  const bool negative = !number.empty() && number.front() == '-';
  if (negative) number.remove_prefix(1);
  if (number.empty() || number.size() > 15) return std::nullopt;
  int64_t value = 0;
  for (char c : number) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

std::string IssuedAtText(int64_t value) { return std::string(kHeader) + std::to_string(value) + "\n"; }

FileIssuedAtStore::FileIssuedAtStore(PathProvider primary, std::vector<PathProvider> legacy)
    : primary_(std::move(primary)), legacy_(std::move(legacy)) {}

IssuedAtStore::LoadResult FileIssuedAtStore::Load(int64_t& value) {
  try {
    const std::string path = primary_ ? primary_() : std::string();
    if (path.empty()) return LoadResult::Unreadable;
    switch (platform::EntryTypeOf(path)) {
      case platform::EntryType::File: {
        if (const auto stored = ReadValue(path)) {
          CleanUpLegacy(*stored);
          value = *stored;
          return LoadResult::Found;
        }
        const auto migrated = Migrate();
        if (!migrated) return LoadResult::Unreadable;
        value = *migrated;
        return LoadResult::Found;
      }
      case platform::EntryType::Missing: {
        const auto migrated = Migrate();
        if (!migrated) return LoadResult::Absent;
        value = *migrated;
        return LoadResult::Found;
      }
      default:
        return LoadResult::Unreadable;  // a link, a folder, something else
    }
  } catch (...) {
    return LoadResult::Unreadable;
  }
}

std::optional<int64_t> FileIssuedAtStore::Migrate() {
  std::optional<int64_t> largest;
  std::vector<std::string> read;
  for (const PathProvider& provider : legacy_) {
    const std::string path = provider ? provider() : std::string();
    if (path.empty() || platform::EntryTypeOf(path) != platform::EntryType::File) continue;
    read.push_back(path);
    const auto legacyValue = ReadValue(path);
    if (legacyValue && (!largest || *legacyValue > *largest)) largest = legacyValue;
  }
  if (!largest) return std::nullopt;
  if (Save(*largest)) {
    for (const std::string& path : read) platform::RemovePath(path);
  }
  return largest;  // even when it could not be written: the legacy files stay
}

void FileIssuedAtStore::CleanUpLegacy(int64_t primaryValue) {
  for (const PathProvider& provider : legacy_) {
    const std::string path = provider ? provider() : std::string();
    if (path.empty() || platform::EntryTypeOf(path) != platform::EntryType::File) continue;
    const auto legacyValue = ReadValue(path);
    if (!legacyValue || *legacyValue <= primaryValue) platform::RemovePath(path);
  }
}

bool FileIssuedAtStore::Save(int64_t value) {
  try {
    const std::string path = primary_ ? primary_() : std::string();
    if (path.empty()) return false;
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !platform::CreateDirs(path.substr(0, slash), 0700)) return false;
    platform::AtomicWriteOptions options;
    options.tempPath = path + ".tmp." + std::to_string(platform::CurrentProcessId());
    return platform::WriteFileAtomic(path, IssuedAtText(value), options).ok();
  } catch (...) {
    return false;
  }
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
  try {
    return platform::WriteFileAtomic(path, bytes).ok();
  } catch (...) {
    return false;
  }
}

}  // namespace VirelantDesktop::updater
