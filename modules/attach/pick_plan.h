// What "pickFiles" asks of the chooser, from its arguments: the kind of
// attachment, how many files, whether several may be chosen, and the one
// filter shown.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "modules/attach/attach_types.h"

namespace VirelantDesktop::attach {

struct PickPlan {
  IngestKind kind = IngestKind::File;
  size_t count = 1;         // at most this many paths are taken
  bool multiple = false;    // several may be chosen
  std::vector<std::string> patterns;  // empty: every file
  std::string filterLabel;
};

// The pictures "media" offers.
inline constexpr const char* kMediaPattern = "*.png;*.jpg;*.jpeg;*.gif;*.webp;*.heic;*.heif;*.tif;*.tiff;*.bmp";

// nullopt when kind is not exactly "media" or "file" or maxFiles is below 1
// (or not a number). The count is min(maxFiles, 50), truncated; several
// files may be chosen when `multiple` and the count is at least 2. The
// filter's name is `filterLabel`, or its pattern when that is empty.
std::optional<PickPlan> MakePickPlan(const std::string& kind, bool multiple, double maxFiles,
                                     const std::string& filterLabel);

}  // namespace VirelantDesktop::attach
