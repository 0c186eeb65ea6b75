// Whether a product font family is usable: the desktop's font configuration,
// loaded afresh, knows the family, and one of its files is a product font
// file in the user's font folder (a family of the same name from elsewhere
// does not count).
#pragma once

#include <string>

namespace VirelantDesktop::fonts {

bool FontFamilyAvailable(const std::string& family, const std::string& userFontsFolder);

}  // namespace VirelantDesktop::fonts
