#!/usr/bin/env bash
# Installs what is missing, builds everything and starts Parvane with the given arguments. Without
# a display it runs a short unattended demo instead of the window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
if [ ! -x build/Parvane ]; then
    echo "Built the core library and the tests. Parvane itself is not part of this build yet."
    exit 0
fi
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]; then
    exec build/Parvane "$@"
fi

echo "ディスプレイがないため、ウィンドウの代わりに無人実行 (Parvane SAMPLE /A) のデモを行います。"
demo=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-demo.XXXXXX")
# Parvane writes its copy log beside itself, so the demo runs a copy of it inside the demo folder.
cp build/Parvane "$demo/Parvane"
mkdir -p "$demo/source/photos" "$demo/target"
printf 'Ostrel のデモです。\n' >"$demo/source/readme.txt"
printf 'photo one\n' >"$demo/source/photos/one.jpg"
printf 'photo two\n' >"$demo/source/photos/two.jpg"
# A copy-set file: source, target, last run, volume name, tab-separated, CR LF line ends.
printf '%s\t%s\t \t\r\n' "$demo/source" "$demo/target" >"$demo/SAMPLE.dat"

status=0
"$demo/Parvane" "$demo/SAMPLE.dat" /A || status=$?
echo
echo "--- コピーログ ($demo/velmor.log) ---"
cat "$demo/velmor.log" 2>/dev/null | tr -d '\r' || true
echo "--- 終了コード: $status ---"
echo "コピー先: $demo/target"
echo "ウィンドウを開くには、デスクトップのセッションで bash scripts/start.sh を実行するか、"
echo "xvfb-run -a build/Parvane を使ってください。"
