#!/usr/bin/env bash
# Installs what the build and the tests need, then unpacks vsftpd, sshd and tcpdump into a
# build folder.
#
#   scripts/install-deps.sh [SERVERS_DIR]          (default: <repo>/build/servers)
#   scripts/install-deps.sh --bench [SERVERS_DIR]  also what only the benchmarks use: lftp,
#                                                  and proftpd with its TLS module
#
# The tests look for vsftpd and tcpdump in <build dir>/servers, so pass that build's folder.
#
# Non-interactive and idempotent: apt-get update runs once, only when a package is missing.
# vsftpd, openssh-server and tcpdump are never installed as packages (vsftpd's and sshd's
# would start a system service, tcpdump's adds a system user): each .deb is downloaded and
# unpacked into SERVERS_DIR/NAME, and the tests run that binary themselves.
set -euo pipefail

REPO_DIR="$(cd "$(dirname "$0")/.." && pwd)"
bench=false
if [[ "${1:-}" == --bench ]]; then
  bench=true
  shift
fi
# A relative SERVERS_DIR is taken from the caller's directory.
SERVERS_DIR="$(realpath -m "${1:-$REPO_DIR/build/servers}")"

# Build tools and test frameworks; OpenSSL for the socket component's TLS client sessions;
# libssh2 for the SFTP component; libsecret for the passwords the front ends keep in the
# desktop's keyring.
BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev googletest clang libclang-rt-14-dev libssl-dev libssh2-1-dev pkg-config libsecret-1-dev)

# The servers and clients the tests and the benchmark run against.
# vsftpd's own libraries are listed because its package is unpacked, not installed;
# libpam-pwdfile checks the test's virtual user against a password file of its own.
# iproute2 and iptables make the network namespaces of the test of a client behind a router.
# openssl makes the TLS tests' certificates and runs their TLS server (s_server);
# ca-certificates is the store the TLS sessions trust; python3-openssl is what pyftpdlib's
# TLS handler needs; libpcap0.8 is the unpacked tcpdump's library. The keyring's tests run
# their own session bus (dbus-daemon) with a Secret Service on it (gnome-keyring, a user's
# daemon that its package does not start) and forget with the keyring's tool (secret-tool).
# The SFTP tests: openssh-client (ssh-keygen, ssh-agent, ssh-add, and sftp for the
# benchmark) brings the unpacked sshd's libraries; libnss-wrapper gives that sshd a user of
# the test's own; setpriv (util-linux) starts it as that user.
SERVER_PACKAGES=(python3 python3-pyftpdlib python3-openssl curl libwrap0 libcap2 libpam0g libpam-modules
                 libpam-pwdfile libssl3 iproute2 iptables openssl ca-certificates libpcap0.8
                 dbus-daemon gnome-keyring libsecret-tools
                 openssh-client libnss-wrapper util-linux)

# The window: Qt 6 Widgets, Liberation Sans, which fits every caption in its fixed width
# (fontconfig also maps "Arial" to it), and GIO (libglib2.0-dev), which starts the desktop's
# applications on local files. Its test runs them on a virtual display (xvfb), with the
# MIME database (shared-mime-info) that tells a file's type.
UI_PACKAGES=(qt6-base-dev fonts-liberation libglib2.0-dev xvfb shared-mime-info)

# The Debian package and its checks: dependencies from the binaries (dpkg-shlibdeps), the
# console tool's manual page from its --help, the icon's PNGs from its SVG, and the
# validators of the package, its desktop entry, its AppStream metadata and its manual pages,
# and hardening-check (devscripts) for the programs' hardening.
PACKAGING_PACKAGES=(dpkg-dev help2man librsvg2-bin lintian desktop-file-utils appstream man-db file devscripts)

PACKAGES=("${BUILD_PACKAGES[@]}" "${SERVER_PACKAGES[@]}" "${UI_PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}")

# The benchmarks' client compared with (lftp), and the libraries of the unpacked proftpd
# (its package is unpacked, as vsftpd's is, never installed).
BENCH_PACKAGES=(lftp libmemcached11 libmemcachedutil2 libhiredis0.14 libpcre2-posix3 libidn2-0 libacl1)
if [[ $bench == true ]]; then PACKAGES+=("${BENCH_PACKAGES[@]}"); fi

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$package")
  fi
done

export DEBIAN_FRONTEND=noninteractive
updated=false
update_once() {
  if [[ $updated == false ]]; then
    apt-get update -qq
    updated=true
  fi
}

if ((${#missing[@]} > 0)); then
  echo "install-deps: installing ${missing[*]}"
  update_once
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Unpacks the Debian package NAME into SERVERS_DIR/FOLDER (default: NAME) unless BINARY is
# there already.
download_dir=""
trap '[[ -n "$download_dir" ]] && rm -rf "$download_dir"' EXIT
unpack() {
  local name="$1" binary="$2" folder="${3:-$1}"
  [[ -e "$SERVERS_DIR/$folder/$binary" ]] && return 0
  echo "install-deps: unpacking $name into $SERVERS_DIR/$folder"
  [[ -n "$download_dir" ]] || download_dir="$(mktemp -d)"
  # apt fetches as the unprivileged _apt user, which must be able to write here.
  chmod 0777 "$download_dir"
  if ! (cd "$download_dir" && apt-get download -qq "$name"); then
    update_once
    (cd "$download_dir" && apt-get download -qq "$name")
  fi
  mkdir -p "$SERVERS_DIR/$folder"
  dpkg-deb -x "$download_dir/${name}"_*.deb "$SERVERS_DIR/$folder"
}

unpack vsftpd usr/sbin/vsftpd
# sshd for the SFTP tests and benchmark (the package would start a system service).
unpack openssh-server usr/sbin/sshd
# The wire capture of the TLS tests (run as root, with -Z root: the unpacked package has no
# user of its own to drop to).
unpack tcpdump usr/bin/tcpdump
# The folder benchmark's second TLS server: proftpd and the module package that carries
# mod_tls, in one folder (its ModulePath).
if [[ $bench == true ]]; then
  unpack proftpd-core usr/sbin/proftpd proftpd
  unpack proftpd-mod-crypto usr/lib/proftpd/mod_tls.so proftpd
fi
# vsftpd -v writes its version to file descriptor 0.
"$SERVERS_DIR/vsftpd/usr/sbin/vsftpd" -v 0>&1 || true
