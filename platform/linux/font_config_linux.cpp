#include <fontconfig/fontconfig.h>

#include <memory>

#include "platform/font_config.h"

namespace VirelantDesktop::platform {
namespace {

const FcChar8* AsFc(const std::string& text) { return reinterpret_cast<const FcChar8*>(text.c_str()); }

struct ConfigRelease {
  void operator()(FcConfig* config) const { FcConfigDestroy(config); }
};
struct PatternRelease {
  void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
struct ObjectSetRelease {
  void operator()(FcObjectSet* set) const { FcObjectSetDestroy(set); }
};
struct FontSetRelease {
  void operator()(FcFontSet* set) const { FcFontSetDestroy(set); }
};

}  // namespace

void RefreshUserFonts(const std::string& folder, const std::vector<std::string>& addedFiles) {
  if (!FcInit()) return;
  FcConfig* current = FcConfigGetCurrent();
  for (const auto& file : addedFiles) FcConfigAppFontAddFile(current, AsFc(file));
  // Scans the folder and writes its cache (in the user's cache folder).
  if (FcCache* cache = FcDirCacheRescan(AsFc(folder), current)) FcDirCacheUnload(cache);
}

std::vector<std::string> FontFamilyFiles(const std::string& family) {
  std::vector<std::string> files;
  // A configuration of its own, loaded now: it sees the folders as they are.
  const std::unique_ptr<FcConfig, ConfigRelease> config(FcInitLoadConfigAndFonts());
  if (!config) return files;
  const std::unique_ptr<FcPattern, PatternRelease> pattern(FcPatternCreate());
  const std::unique_ptr<FcObjectSet, ObjectSetRelease> objects(FcObjectSetBuild(FC_FILE, nullptr));
  if (!pattern || !objects || !FcPatternAddString(pattern.get(), FC_FAMILY, AsFc(family))) return files;
  const std::unique_ptr<FcFontSet, FontSetRelease> fonts(FcFontList(config.get(), pattern.get(), objects.get()));
  if (!fonts) return files;
  for (int i = 0; i < fonts->nfont; ++i) {
    FcChar8* file = nullptr;
    if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) == FcResultMatch && file != nullptr) {
      files.emplace_back(reinterpret_cast<const char*>(file));
    }
  }
  return files;
}

}  // namespace VirelantDesktop::platform
