#include "fonts/font_check.h"

#include "fonts/font_names.h"
#include "platform/font_config.h"

namespace VirelantDesktop::fonts {

bool FontFamilyAvailable(const std::string& family, const std::string& userFontsFolder) {
  if (userFontsFolder.empty()) return false;
  return AnyProductFontIn(platform::FontFamilyFiles(family), userFontsFolder);
}

}  // namespace VirelantDesktop::fonts
