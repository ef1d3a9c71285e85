#!/usr/bin/env bash
# Installs the Debian packages that building and testing Ostrel need, when any is missing.
set -euo pipefail

# clang-14 and its runtime libraries build the fuzz targets (libFuzzer, sanitizers) in fuzz/.
# trash-cli and gio (libglib2.0-bin) are the trash's clients that the trash tests check against.
# The drive tests make ext4 and xfs images (e2fsprogs, xfsprogs) and set ACLs (acl); exFAT images
# (exfatprogs) and FAT images (dosfstools) are mounted through FUSE (exfat-fuse, fusefat), as users'
# sticks are.
# The Debian package is built with CPack (dpkg-dev for dpkg-shlibdeps and dpkg-buildflags, file) and
# checked with desktop-file-utils, appstream and lintian; librsvg2-bin renders the icons' PNG sizes.
packages=(g++ cmake ninja-build pkg-config qt6-base-dev libgtest-dev clang-format fonts-ipafont-gothic qt6-translations-l10n
    clang-14 libclang-rt-14-dev trash-cli libglib2.0-bin e2fsprogs xfsprogs acl exfatprogs exfat-fuse
    dosfstools fusefat dpkg-dev file desktop-file-utils appstream lintian librsvg2-bin)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

run_as_root=()
if [ "$(id -u)" -ne 0 ]; then
    run_as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
"${run_as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${run_as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
