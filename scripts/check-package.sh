#!/usr/bin/env bash
# Checks the Debian package that scripts/package.sh built: its desktop entries and metainfo, lintian,
# and then, installed with apt, an unattended run of the installed Parvane by an ordinary user.
# Needs root (it installs the package); with --remove it removes the package again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
remove=false
[ "${1:-}" = "--remove" ] && remove=true

package=$(ls build/ostrel_*.deb)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$package" "$scratch/root"

echo "-- contents"
for file in usr/bin/Parvane usr/bin/Brennick usr/share/man/man1/Parvane.1.gz usr/share/man/man1/Brennick.1.gz \
    usr/share/applications/io.github.ostrel.Parvane.desktop usr/share/applications/io.github.ostrel.Brennick.desktop \
    usr/share/metainfo/io.github.ostrel.Parvane.metainfo.xml; do
    [ -e "$scratch/root/$file" ] || { echo "not in the package: /$file"; exit 1; }
done
for id in io.github.ostrel.Parvane io.github.ostrel.Brennick; do
    for icon in scalable/apps/$id.svg 48x48/apps/$id.png 256x256/apps/$id.png; do
        [ -e "$scratch/root/usr/share/icons/hicolor/$icon" ] || { echo "not in the package: $icon"; exit 1; }
    done
done
# One version everywhere: the package's and what the program prints.
version=$(dpkg-deb -f "$package" Version)
printed=$("$scratch/root/usr/bin/Parvane" --version)
[ "$printed" = "Parvane (Ostrel) $version" ] || { echo "package $version, program: $printed"; exit 1; }

echo "-- desktop-file-validate"
desktop-file-validate "$scratch"/root/usr/share/applications/*.desktop
echo "-- appstreamcli validate"
appstreamcli validate --no-net "$scratch"/root/usr/share/metainfo/*.metainfo.xml
echo "-- lintian"
# Warnings are shown; an error fails the check.
lintian --fail-on error "$package"

echo "-- apt install"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$package" >/dev/null
[ "$(command -v Parvane)" = /usr/bin/Parvane ] || { echo "Parvane is not on the PATH"; exit 1; }
# Some container images leave manual pages out of every package (dpkg path-exclude).
if command -v man >/dev/null && [ -e /usr/share/man/man1/Parvane.1.gz ]; then
    man -w Parvane >/dev/null
fi

echo "-- the installed Parvane SET /A, run by an ordinary user"
user=ostrel-check
id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
work=$(runuser -u "$user" -- mktemp -d /tmp/ostrel-check.XXXXXX)
runuser -u "$user" -- mkdir -p "$work/source/sub" "$work/target"
runuser -u "$user" -- sh -c "printf 'one\n' >'$work/source/a.txt'; printf 'two\n' >'$work/source/sub/b.txt'"
runuser -u "$user" -- sh -c "printf '%s\t%s\t \t\r\n' '$work/source' '$work/target' >'$work/set.dat'"
rm -f "$home/.local/state/ostrel/velmor.log"

status=0
errors=$(cd / && runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen \
    Parvane "$work/set.dat" /A 2>&1) || status=$?
fail() {
    echo "FAILED: $*"
    [ -n "$errors" ] && echo "Parvane said: $errors"
    exit 1
}
[ "$status" -eq 0 ] || fail "exit code $status"
diff -r "$work/source" "$work/target" >/dev/null || fail "the target is not the same as the source"
[ -s "$home/.local/state/ostrel/velmor.log" ] || fail "no log at $home/.local/state/ostrel/velmor.log"
grep -q "$work/source/sub/b.txt" "$home/.local/state/ostrel/velmor.log" || fail "the log does not name the copy"
[ ! -e /usr/bin/velmor.log ] || fail "a log beside the installed executable"
[ "$(stat -c %a "$home/.local/state/ostrel")" = 700 ] || fail "the state folder is not private"
rm -rf "$work"
echo "ok: copied, logged at $home/.local/state/ostrel/velmor.log, exit code 0"

if $remove; then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq ostrel >/dev/null
fi
