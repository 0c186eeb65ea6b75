#!/usr/bin/env bash
# Installs what is missing, builds and starts the shell on the demo bundle.
# Runs without a display; Ctrl-C ends it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
exec ./build/default/bin/talvek "$@"
