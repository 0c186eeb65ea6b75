#include "fonts/font_installer.h"

#include "fonts/font_files.h"
#include "fonts/font_names.h"
#include "fonts/font_tables.h"
#include "platform/confined_file.h"
#include "platform/confined_tree.h"
#include "platform/folders.h"
#include "platform/font_config.h"
#include "platform/font_registry.h"

namespace VirelantDesktop::fonts {
namespace {

using platform::UniqueFd;

constexpr unsigned kFontFolderMode = 0755;
constexpr unsigned kFontFileMode = 0644;

// The folder opened without following a link in its own place.
UniqueFd OpenFontFolder(const std::string& folder, bool create) {
  if (create && platform::EntryTypeOf(folder) == platform::EntryType::Missing) {
    platform::CreateDirs(folder, kFontFolderMode);
  }
  return platform::OpenFolderNoFollow(folder);
}

UniqueFd OpenEntry(const UniqueFd& folder, const std::string& name) { return platform::OpenFileBeneath(folder, name); }

bool IsGenuineEntry(const UniqueFd& folder, const std::string& name, const std::string& executableDir) {
  const UniqueFd file = OpenEntry(folder, name);
  return file && IsGenuineFontFile(file, name, executableDir);
}

// The copy of `source` under `name`: reused when its bytes already match,
// written when the name is free or `mayReplace`. False when the name holds
// something else (another program's file, a link, a folder) or the copy
// failed.
bool PlaceCopy(const UniqueFd& folder, const std::string& name, const UniqueFd& source, bool mayReplace) {
  const auto type = platform::EntryTypeAt(folder, name);
  if (type == platform::EntryType::File) {
    const UniqueFd existing = OpenEntry(folder, name);
    if (existing && FileContentsEqual(existing, source)) return true;
    if (!mayReplace) return false;
  } else if (type != platform::EntryType::Missing) {
    return false;
  }
  return platform::ReplaceFileAt(source, folder, name, kFontFileMode).ok();
}

void DeleteIfOurs(const UniqueFd& folder, const std::string& name, const std::string& executableDir, bool& deleted) {
  if (IsGenuineEntry(folder, name, executableDir) && platform::RemoveEntryAt(folder, name)) deleted = true;
}

// Product font files in the folder that no value names and that are ours.
void Sweep(const UniqueFd& folder, const FontPlaces& places, const platform::FontRegistry& registry,
           const std::vector<std::string>& firstNames, const std::string& executableDir, bool& deleted) {
  const auto values = registry.ReadValues();
  std::vector<std::string> names = firstNames;
  for (const auto& entry : platform::ListFolder(folder)) {
    if (entry.type == platform::EntryType::File && entry.name.ends_with(".ttf")) names.push_back(entry.name);
  }
  for (const auto& name : names) {
    if (!IsProductFontName(name)) continue;
    if (IsReferencedByOtherValue(values, {}, places.folder + "/" + name)) continue;
    DeleteIfOurs(folder, name, executableDir, deleted);
  }
}

}  // namespace

std::optional<FontPlaces> UserFontPlaces() {
  const auto data = platform::UserDataDir();
  const auto registry = platform::UserFontRegistryPath();
  if (!data || !registry) return std::nullopt;
  return FontPlaces{*data + "/fonts", *registry};
}

std::string UserFontsFolder() {
  const auto places = UserFontPlaces();
  return places ? places->folder : std::string();
}

bool InstallFontsInto(const FontPlaces& places, const std::string& executableDir, const FontsChanged& changed) {
  const UniqueFd folder = OpenFontFolder(places.folder, /*create=*/true);
  if (!folder) return false;
  platform::FontRegistry registry(places.registryFile);
  std::vector<std::string> added;

  for (const auto& row : kFontFileTable) {
    const std::string file(row.file);
    const UniqueFd source = platform::OpenRegularFileByPath(executableDir + "/Fonts/" + file);
    if (!source) continue;
    const std::string valueName = ProductValueName(file);

    // Installed already: the registered copy exists and matches.
    const auto registered = registry.GetValue(valueName);
    if (registered) {
      const UniqueFd current = platform::OpenRegularFileByPath(*registered);
      if (current && FontFilesEqual(source, current)) continue;
    }

    // The plain name when it is free, ours already or holds these bytes;
    // else the hash-suffixed one.
    std::string name = file;
    const bool registeredHere = registered && FontPathKey(*registered) == FontPathKey(places.folder + "/" + file);
    if (!PlaceCopy(folder, name, source, registeredHere)) {
      name = HashSuffixedName(file, FontFileHash(source));
      if (!PlaceCopy(folder, name, source, /*mayReplace=*/false)) continue;
    }
    const std::string target = places.folder + "/" + name;
    if (!registry.SetValue(valueName, target)) continue;
    added.push_back(target);

    // The copy an older registration named, when it is ours and unused.
    if (registered && FontPathKey(*registered) != FontPathKey(target)) {
      const auto oldName = NameDirectlyIn(places.folder, *registered);
      if (oldName && IsProductFontName(*oldName) &&
          !IsReferencedByOtherValue(registry.ReadValues(), {valueName}, *registered)) {
        bool ignored = false;
        DeleteIfOurs(folder, *oldName, executableDir, ignored);
      }
    }
  }

  bool deleted = false;
  Sweep(folder, places, registry, {}, executableDir, deleted);
  if (!added.empty() && changed) changed(places.folder, added);
  return !added.empty();
}

void RemoveFontsFrom(const FontPlaces& places, const std::string& executableDir, const FontsChanged& changed) {
  // A folder that is a link is not ours to work in; a missing one still
  // leaves registrations to remove.
  const auto folderType = platform::EntryTypeOf(places.folder);
  if (folderType != platform::EntryType::Folder && folderType != platform::EntryType::Missing) return;
  const UniqueFd folder = OpenFontFolder(places.folder, /*create=*/false);
  platform::FontRegistry registry(places.registryFile);

  std::vector<std::string> ourValues;
  std::vector<std::string> ourFiles;
  for (const auto& value : registry.ReadValues()) {
    bool ours = false;
    for (const auto& row : kFontFileTable) ours = ours || value.name == ProductValueName(row.file);
    const auto name = NameDirectlyIn(places.folder, value.data);
    const bool productFile = name && IsProductFontName(*name);
    if (!ours && productFile && folder) {
      // An older installation's value: its face name, and a known build's
      // file under that row's name.
      for (const auto& known : KnownFontTable()) {
        if (value.name != std::string(known.olderFaceName) + " (TrueType)" || *name != known.file) continue;
        const UniqueFd file = OpenEntry(folder, *name);
        const auto stat = platform::StatOpenFile(file);
        ours = stat && stat->size == known.size && FontFileHash(file) == known.hash;
        break;
      }
    }
    if (!ours) continue;
    ourValues.push_back(value.name);
    if (productFile) ourFiles.push_back(*name);
  }

  bool deleted = false;
  for (const auto& name : ourValues) {
    if (registry.DeleteValue(name)) deleted = true;
  }
  if (folder) Sweep(folder, places, registry, ourFiles, executableDir, deleted);
  if (deleted && changed) changed(places.folder, {});
}

bool InstallUserFonts(const std::string& executableDir) {
  const auto places = UserFontPlaces();
  if (!places) return false;
  return InstallFontsInto(*places, executableDir, platform::RefreshUserFonts);
}

void RemoveUserFonts(const std::string& executableDir) {
  const auto places = UserFontPlaces();
  if (!places) return;
  RemoveFontsFrom(*places, executableDir, platform::RefreshUserFonts);
}

}  // namespace VirelantDesktop::fonts
