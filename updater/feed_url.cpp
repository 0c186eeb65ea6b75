#include "updater/feed_url.h"

#include "talvek/fixed_values.h"
#include "updater/update_policy.h"

namespace TalvekUpdater {
namespace {

// Kept in the image as one string so release tooling can find (and check)
// the channel a build follows.
[[gnu::used]] constexpr char kChannelMarker[] = "TALVEKCHANNEL1=production";
constexpr std::string_view kMarkerPrefix = "TALVEKCHANNEL1=";

}  // namespace

std::string_view UpdateChannel() { return std::string_view(kChannelMarker).substr(kMarkerPrefix.size()); }

std::string FeedUrl(std::string_view base, std::string_view channel) {
  std::string url(base);
  if (url.empty() || (url.back() != '/' && url.back() != '\\')) url.push_back('/');
  url.append(channel);
  url.push_back('/');
  url.append(VirelantDesktop::updater::kPolicyOs);
  url.push_back('/');
  return url;
}

std::string DefaultFeedUrl() { return FeedUrl(VirelantDesktop::fixed::kUpdateFeedBase, UpdateChannel()); }

}  // namespace TalvekUpdater
