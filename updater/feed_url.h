// Where the update feed lives: the compiled-in feed base, the channel and
// this build's platform token.
#pragma once

#include <string>
#include <string_view>

namespace TalvekUpdater {

// The channel named by the marker "TALVEKCHANNEL1=<channel>" stored in the
// program image (the text after "="): "production".
std::string_view UpdateChannel();

// base + "/" + channel + "/linux-x64/"; no "/" is added when the base
// already ends in "/" or "\".
std::string FeedUrl(std::string_view base, std::string_view channel);

// The feed of this program: the configured feed base and UpdateChannel().
std::string DefaultFeedUrl();

}  // namespace TalvekUpdater
