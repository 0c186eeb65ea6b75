#include "modules/engine/line_protocol.h"

#include <algorithm>

namespace VirelantDesktop::engine {

std::string BuildQuitLine(uint32_t drainMs) {
  if (drainMs == 0) return R"({"cmd":"quit"})";
  return R"({"cmd":"quit","drainMs":)" + std::to_string(std::min(drainMs, kMaxDrainMs)) + "}";
}

int DetectBusy(std::string_view line) noexcept {
  if (line.size() < 20 || line.size() > 200 || line.front() != '{') return -1;
  char compact[200];
  size_t length = 0;
  for (char c : line) {
    if (c != '\t' && c != '\r' && c != ' ') compact[length++] = c;
  }
  const std::string_view text(compact, length);
  if (text.find(R"("evt":"busy")") == std::string_view::npos) return -1;
  if (text.find(R"("busy":true)") != std::string_view::npos) return 1;
  if (text.find(R"("busy":false)") != std::string_view::npos) return 0;
  return -1;
}

}  // namespace VirelantDesktop::engine
