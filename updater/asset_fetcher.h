// Small release assets of the update feed ("manifest.json", "manifest.sig",
// "pause.json") over HTTPS with libcurl.
//
// One GET per call: https only (redirects too), no cache (a "?t=" tick
// query and "Cache-Control: no-cache"), status 200 only, at most 1 MiB,
// through the proxy the environment names (https_proxy, no_proxy...).
// Every failure is an absent answer; nothing is thrown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace TalvekUpdater {

inline constexpr size_t kMaxAssetBytes = 1048576;
inline constexpr const char* kAssetUserAgent = "TALVEK-Updater/1";
// Resolving and connecting have 10 s each; libcurl times them, with the TLS
// handshake, as one phase.
inline constexpr long kAssetConnectTimeoutMs = 20000;
// The longest silence while the request is sent or the answer received.
inline constexpr long kAssetIdleTimeoutMs = 15000;

// feedUrl + ("/" unless it ends in "/" or "\") + name + "?t=" + tick.
std::string AssetUrl(std::string_view feedUrl, std::string_view name, uint64_t tickMs);

// The asset's body; nullopt when `name` breaks the file-name rule, the feed
// URL is not https, or the request fails in any way. May block for the
// time-outs above; call it off the JavaScript and UI threads.
std::optional<std::string> FetchAsset(const std::string& name, const std::string& feedUrl) noexcept;

// Tests only: trust the authority in `caFile` instead of the system's, and
// send connections as curl's "host:port:connect-host:connect-port" rule in
// `connectTo` says (empty: none). Both empty restore the defaults.
void SetAssetFetchTrustForTesting(const std::string& caFile, const std::string& connectTo);

}  // namespace TalvekUpdater
