#!/usr/bin/env bash
# Installs the Debian packages this project builds and tests with.
# Does nothing when every package is already present; otherwise runs one
# `apt-get update` and one non-interactive install without recommends.
set -euo pipefail

packages=(
  # build
  cmake ninja-build pkg-config g++
  # fuzzing (clang's libFuzzer and sanitizer runtimes)
  clang-14 libclang-rt-14-dev
  # libraries
  libjavascriptcoregtk-4.1-dev libglib2.0-dev nlohmann-json3-dev libsecret-1-dev libgtk-3-dev
  libssl-dev openssl libcurl4-openssl-dev
  # image codecs (attachments) and zip packages (self-update)
  libjpeg62-turbo-dev libpng-dev libwebp-dev libgif-dev libheif-dev libtiff-dev libexif-dev libzip-dev
  # rendering: cairo and Pango (with GTK), a default font family
  libcairo2-dev libpango1.0-dev fonts-dejavu-core
  # the product font stand-ins (built from Debian fonts)
  python3-fonttools fonts-ipafont-gothic
  # the embed view's web engine (WebKitGTK), TLS for its network
  libwebkit2gtk-4.1-dev glib-networking
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev curl
  # a private Secret Service for the keyring tests (scripts/with-keyring.sh)
  dbus dbus-bin libglib2.0-bin gnome-keyring
  # the desktop suite: a private X server, a window manager, input and window probes
  xvfb xauth openbox xdotool imagemagick xclip
)

# The JavaScript side (React Native's renderer and Yoga's sources, React, the
# bundlers) comes from the npm registry, pinned by js/package-lock.json.
install_js() {
  local dir
  dir="$(cd "$(dirname "$0")/.." && pwd)/js"
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    echo "installing: nodejs npm" >&2
    local sudo_js=()
    if [[ $(id -u) -ne 0 ]]; then sudo_js=(sudo); fi
    DEBIAN_FRONTEND=noninteractive "${sudo_js[@]}" apt-get install -y -qq --no-install-recommends nodejs npm
  fi
  # npm ci again only when the lockfile changed since the last install.
  if ! cmp -s "$dir/package-lock.json" "$dir/node_modules/.talvek-lock" 2>/dev/null; then
    echo "installing the JavaScript packages (npm ci)" >&2
    (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
    cp "$dir/package-lock.json" "$dir/node_modules/.talvek-lock"
  fi
}

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "installed" ]] || missing+=("$p")
done

if [[ ${#missing[@]} -eq 0 ]]; then
  install_js
  exit 0
fi

echo "installing: ${missing[*]}" >&2
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
install_js
