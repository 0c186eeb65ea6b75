#include "platform/share_sheet.h"

#include "platform/installed_service.h"

namespace VirelantDesktop::platform {
namespace {

InstalledService<ShareSheetService> g_sheet;

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<ShareTarget> ShareTargetsFor(const SharePayload& payload, const ShareMeans& means) {
  std::vector<ShareTarget> targets;
  if (means.email) targets.push_back(ShareTarget::Email);
  if (payload.filePath || payload.url) targets.push_back(ShareTarget::OpenWith);
  targets.push_back(ShareTarget::Copy);
  if (payload.filePath) targets.push_back(ShareTarget::SaveAs);
  return targets;
}

const char* ShareTargetLabel(ShareTarget target) noexcept {
  switch (target) {
    case ShareTarget::Email:
      return "Email";
    case ShareTarget::OpenWith:
      return "Open with\u2026";
    case ShareTarget::Copy:
      return "Copy";
    case ShareTarget::SaveAs:
      return "Save as\u2026";
  }
  return "";
}

std::string ShareText(const SharePayload& payload) {
  if (!payload.url) return payload.text;
  if (payload.text.empty()) return *payload.url;
  std::string text = payload.text;
  if (text.back() != '\n') text.push_back('\n');
  return text + *payload.url;
}

std::string ShareSummary(const SharePayload& payload) {
  if (payload.filePath) return FileNameOf(*payload.filePath);
  if (!payload.text.empty()) return payload.text.substr(0, payload.text.find('\n'));
  return payload.url.value_or("");
}

std::string UriListOf(const std::string& fileUri) { return fileUri + "\r\n"; }

std::string GnomeCopiedFilesOf(const std::string& fileUri) { return "copy\n" + fileUri; }

std::vector<std::string> XdgEmailArguments(const SharePayload& payload) {
  std::vector<std::string> argv{"xdg-email", "--utf8", "--subject", payload.title};
  const std::string body = ShareText(payload);
  if (!body.empty()) {
    argv.push_back("--body");
    argv.push_back(body);
  }
  if (payload.filePath) {
    argv.push_back("--attach");
    argv.push_back(*payload.filePath);
  }
  return argv;
}

void InstallShareSheet(ShareSheetService service) { g_sheet.Install(std::move(service)); }

std::shared_ptr<ShareSheetHandle> ShowShareSheet(const SharePayload& payload, ShareSheetDone done) {
  const ShareSheetService service = g_sheet.Get();
  if (!service) return nullptr;
  return service(payload, std::move(done));
}

}  // namespace VirelantDesktop::platform
