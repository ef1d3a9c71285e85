#!/usr/bin/env bash
# Renders the programs' icons from their drawings (data/icons/*.svg) into the PNG sizes that the
# package installs and the windows use (data/icons/48, data/icons/256). Run it after changing a
# drawing and commit the pictures with it; needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for drawing in *.svg; do
    for size in 48 256; do
        mkdir -p "$size"
        rsvg-convert --width "$size" --height "$size" --output "$size/${drawing%.svg}.png" "$drawing"
    done
done
