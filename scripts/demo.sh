#!/usr/bin/env bash
# Sets up what is missing, builds the library and shows a daemon link at
# work against the test daemon: every frame that crosses the pipe.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh
cmake --preset release >/dev/null
cmake --build --preset release --target korvane_link_demo
build/release/bin/korvane_link_demo
