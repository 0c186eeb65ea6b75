// The product fonts installed for the current user, and removed again.
//
// The shipped files ("Fonts/" beside the executable) are copied into the
// user's font folder, each registered as a value of the registration file
// (platform/font_registry.h) naming its copy, and handed to the desktop's
// font configuration. Only files provably ours are ever replaced or deleted:
// a file of another program under a shipped name stays, and ours goes to
// the hash-suffixed name beside it. Every failure is silent and skips the
// font or file concerned.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace VirelantDesktop::fonts {

struct FontPlaces {
  std::string folder;        // the user's font folder
  std::string registryFile;  // the registration file
};

// The user's font folder (the per-user data folder + "/fonts") and
// registration file; nullopt when the data folder is unavailable.
std::optional<FontPlaces> UserFontPlaces();
// The user's font folder; "" when unavailable.
std::string UserFontsFolder();

// Told once after a call changed the folder, with the copies it added.
using FontsChanged = std::function<void(const std::string& folder, const std::vector<std::string>& added)>;

// True when at least one font was newly registered. A font folder that is a
// symbolic link counts as unavailable (nothing is installed there).
bool InstallFontsInto(const FontPlaces& places, const std::string& executableDir, const FontsChanged& changed);
// Removes the registrations that are ours (the product's value names, and
// older face names whose file is a known build in the folder) and every
// product font file in the folder that no registration names and that is
// provably ours.
void RemoveFontsFrom(const FontPlaces& places, const std::string& executableDir, const FontsChanged& changed);

// The same for the user's places, the desktop's font configuration told.
bool InstallUserFonts(const std::string& executableDir);
void RemoveUserFonts(const std::string& executableDir);

}  // namespace VirelantDesktop::fonts
