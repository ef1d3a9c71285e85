#!/usr/bin/env bash
# Configures and builds Ostrel into build/ (warnings are errors). Extra arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_WERROR=ON "$@" >/dev/null
cmake --build build --parallel
