#!/usr/bin/env bash
# Benchmarks Parvane against cp and rsync (see bench.py --help). Installs what it needs, builds
# Parvane when missing, and passes its arguments on.
set -euo pipefail
cd "$(dirname "$0")/.."
need=()
command -v python3 >/dev/null || need+=(python3)
command -v rsync >/dev/null || need+=(rsync)
command -v diff >/dev/null || need+=(diffutils)
if [ ${#need[@]} -gt 0 ]; then
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${need[@]}"
fi
[ -x build/Parvane ] || bash scripts/build.sh
exec python3 bench/bench.py "$@"
