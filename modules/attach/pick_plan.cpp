#include "modules/attach/pick_plan.h"

#include <string_view>

namespace VirelantDesktop::attach {

std::optional<PickPlan> MakePickPlan(const std::string& kind, bool multiple, double maxFiles,
                                     const std::string& filterLabel) {
  if ((kind != "media" && kind != "file") || !(maxFiles >= 1)) return std::nullopt;
  PickPlan plan;
  plan.kind = kind == "media" ? IngestKind::Media : IngestKind::File;
  plan.count = maxFiles >= static_cast<double>(kMaxBatchFiles) ? kMaxBatchFiles : static_cast<size_t>(maxFiles);
  plan.multiple = multiple && plan.count >= 2;
  // "*.*" is how the filter of every file is named when no label is given.
  const std::string pattern = plan.kind == IngestKind::Media ? kMediaPattern : "*.*";
  if (plan.kind == IngestKind::Media) {
    std::string_view rest = kMediaPattern;
    while (!rest.empty()) {
      const size_t end = rest.find(';');
      plan.patterns.emplace_back(rest.substr(0, end));
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
  }
  plan.filterLabel = filterLabel.empty() ? pattern : filterLabel;
  return plan;
}

}  // namespace VirelantDesktop::attach
