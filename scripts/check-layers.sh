#!/usr/bin/env bash
# Fails when a layer reaches upward: an include of a layer it may not use, or, given a build
# folder, a program that links what it must not. Each layer may use itself and what is listed.
#
#   platform       (nothing of Ostrel)
#   store          platform
#   engine         store, platform
#   ui             engine, store, platform               Parvane's windows and main.cpp
#   companion/core store, platform
#   companion/ui   companion/core, store, platform       and Brennick's main.cpp
#
# Usage: scripts/check-layers.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A folder=(
    [platform]=platform
    [store]=main/store
    [engine]=main/engine
    [ui]=main/ui
    [companion/core]=companion/core
    [companion/ui]=companion/ui
)
declare -A may=(
    [platform]="platform"
    [store]="store platform"
    [engine]="engine store platform"
    [ui]="ui engine store platform"
    [companion/core]="companion/core store platform"
    [companion/ui]="companion/ui companion/core store platform"
)
extra_ui=(main/main.cpp)
extra_companion_ui=(companion/main.cpp)

failed=0
check() { # layer files...
    local layer=$1
    shift
    local file include target ok allowed
    for file in "$@"; do
        while IFS= read -r include; do
            ok=0
            for allowed in ${may[$layer]}; do
                case "$include" in
                "$allowed"/*)
                    # "companion/core/x.h" must not pass as "companion/ui" and vice versa
                    target=${include%/*}
                    [[ $target == "$allowed" ]] && ok=1
                    ;;
                esac
            done
            if [[ $ok == 0 ]]; then
                echo "$file: the $layer layer includes \"$include\"" >&2
                failed=1
            fi
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
    done
}

for layer in "${!folder[@]}"; do
    mapfile -t files < <(git ls-files -- "${folder[$layer]}/*.h" "${folder[$layer]}/*.cpp")
    [[ $layer == ui ]] && files+=("${extra_ui[@]}")
    [[ $layer == companion/ui ]] && files+=("${extra_companion_ui[@]}")
    check "$layer" "${files[@]}"
done

# An include without a layer's name would slip past the table above.
if git grep -nE '^\s*#\s*include\s*"[^/"]+"' -- platform main companion; then
    echo "includes above name no layer" >&2
    failed=1
fi

# What the programs link, from the build's own link lines and symbols.
if [[ $# -ge 1 ]]; then
    build=$1
    link=$(ninja -C "$build" -t commands Brennick | tail -n 1)
    if grep -qE 'libostrel_engine|libparvane_ui' <<<"$link"; then
        echo "Brennick links the engine or Parvane's windows" >&2
        failed=1
    fi
    symbols=$(nm -C "$build/Brennick")
    if grep -qE 'ostrel::(MirrorEngine|PosixFileSystem|RunDriver)::' <<<"$symbols"; then
        echo "Brennick's binary holds code of the engine or of the file system layer" >&2
        failed=1
    fi
fi

[[ $failed == 0 ]] && echo "layers: every include and link goes downward"
exit $failed
