#!/usr/bin/env bash
# Builds the Debian package build/ostrel_VERSION_ARCH.deb: a release build installed under /usr in
# its own folder, build-package/, so that the development build in build/ stays as it is. Extra
# arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

# Debian's hardening and optimisation flags, as a package build of Debian's own would use them.
# Warnings are errors in the development build (scripts/build.sh, CI), not here: _FORTIFY_SOURCE
# adds warnings of its own about results the code deliberately leaves unused.
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS

rm -rf build-package/_CPack_Packages
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
    -DOSTREL_WERROR=OFF -DOSTREL_TESTS=OFF "$@" >/dev/null
cmake --build build-package --parallel
(cd build-package && umask 022 && cpack -G DEB >/dev/null)

mkdir -p build
rm -f build/ostrel_*.deb
package=$(ls build-package/ostrel_*.deb)
cp "$package" build/
echo "build/$(basename "$package")"
