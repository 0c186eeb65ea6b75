// The update client's asset list: parse, choose, and judge the chosen asset.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "updater/client/release_feed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace VirelantDesktop::update_client;
  try {
    const auto assets = ParseReleaseFeed(std::string_view(reinterpret_cast<const char*>(data), size));
    const UpdateChoice choice = ChooseUpdate(assets, "talvek", "1.0.0");
    if (choice.outcome == UpdateChoice::Outcome::kUpdate) (void)RefuseFullAsset(choice.target, "talvek", "1.0.0");
  } catch (const FeedError&) {
  }
  return 0;
}
