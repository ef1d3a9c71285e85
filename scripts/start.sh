#!/usr/bin/env bash
# Installs what is missing, builds everything and starts Parvane with the given arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
if [ -x build/Parvane ]; then
    exec build/Parvane "$@"
fi
echo "Built the core library and the tests. Parvane itself is not part of this build yet."
