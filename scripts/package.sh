#!/usr/bin/env bash
# Installs what is missing, builds the program as users get it (Release) in build-release/,
# and makes its Debian package there, named talvo-ftp_<version>_<arch>.deb.
#
#   scripts/package.sh
#   apt install ./build-release/talvo-ftp_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >/dev/null
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-release -j "$(nproc)"
rm -f build-release/talvo-ftp_*.deb
(cd build-release && cpack -G DEB >/dev/null)
deb=(build-release/talvo-ftp_*.deb)
echo "package: ${deb[0]}"
echo "package: install it with: apt install ./${deb[0]}"
