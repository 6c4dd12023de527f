# Shared by the run, test and bench scripts: installs what the project needs
# from Debian's packages (only what is missing) and builds into build/.

# shellcheck shell=bash
set -euo pipefail

PROJECT_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$PROJECT_ROOT/build}"

# What building and running the program need.
VISTREL_RUN_PACKAGES=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-wayland libqt6svg6 libxcb1-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  libjpeg62-turbo-dev libssl-dev libssh-dev
  # Notifications: HTTP, HTTPS and SMTP, and the QR code of the ntfy topic.
  libcurl4-openssl-dev libqrencode-dev
)

# What the tests add: their libraries, servers and desktops.
VISTREL_TEST_PACKAGES=(
  clang-format gstreamer1.0-tools openssl
  googletest libgtest-dev libgmock-dev
  python3 python3-pyftpdlib python3-openssl
  # The SMTP server the e-mail notification tests send to.
  python3-aiosmtpd
  # What the FTPS servers unpacked by ensure_ftp_servers link against.
  libwrap0 libhiredis0.14 libmemcached11 libmemcachedutil2 libsodium23 libpam-modules
  # Writes the password database the vsftpd tests log in with.
  perl
  xvfb xauth locales tzdata fonts-dejavu-core fonts-liberation2
  # A real desktop for the desktop tests: window manager, panel with a
  # notification area, and the tools that drive and read them.
  openbox tint2 xdotool x11-utils wmctrl
  # A Wayland session for the tests: a headless compositor with XWayland.
  weston xwayland
  # OpenSSH's server for the SFTP tests, which start it on a port of their own.
  openssh-server openssh-sftp-server
)

# What the benchmarks add: the library, the FTP server of the upload figures,
# an X server for the whole program, and Motion to compare it with.
VISTREL_BENCH_PACKAGES=(libbenchmark-dev python3 python3-pyftpdlib python3-openssl openssl
  gstreamer1.0-tools xvfb xauth fonts-dejavu-core motion)

# What building and checking the Debian package add.
VISTREL_PACKAGE_PACKAGES=(dpkg-dev file lintian appstream desktop-file-utils librsvg2-bin
  xvfb xauth fonts-dejavu-core)

# A comma locale lets the tests check the decimal separator of shown numbers.
VISTREL_TEST_LOCALE="de_DE.UTF-8"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# A name without an architecture means this machine's own (or "all"): with
# arm64 added for the cross pass, dpkg-query lists both kinds of a library.
missing_packages() {
  local pkg native wanted
  native="$(dpkg --print-architecture)"
  for pkg in "$@"; do
    wanted="$native"
    case "$pkg" in *:*) wanted="${pkg##*:}" ;; esac
    dpkg-query -W -f='${Status} ${Architecture}\n' "$pkg" 2>/dev/null |
      grep -Eq "^install ok installed ($wanted|all)\$" || printf '%s\n' "$pkg"
  done
}

# Installs those of the given packages that are missing.
ensure_packages() {
  local missing
  mapfile -t missing < <(missing_packages "$@")
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}

ensure_run_packages() { ensure_packages "${VISTREL_RUN_PACKAGES[@]}"; }
# Installing openssh-server would start sshd on port 22: services are kept
# from starting while the test packages go in.
ensure_test_packages() {
  local guard=/usr/sbin/policy-rc.d
  if [ -e "$guard" ]; then
    ensure_packages "${VISTREL_RUN_PACKAGES[@]}" "${VISTREL_TEST_PACKAGES[@]}"
    return
  fi
  printf '#!/bin/sh\nexit 101\n' | as_root tee "$guard" >/dev/null
  as_root chmod 755 "$guard"
  local status=0
  ensure_packages "${VISTREL_RUN_PACKAGES[@]}" "${VISTREL_TEST_PACKAGES[@]}" || status=$?
  as_root rm -f "$guard"
  return "$status"
}

# The SFTP tests log in as this user with this password (sshd checks it as
# root); its home is the login directory the tests look into.
VISTREL_SFTP_TEST_USER=vistrel-sftp
VISTREL_SFTP_TEST_PASSWORD=vistrel-test-pw

ensure_sftp_test_user() {
  if [ "$(id -u)" -ne 0 ]; then
    return # sshd checks passwords as root only: the SFTP tests skip
  fi
  if ! id "$VISTREL_SFTP_TEST_USER" >/dev/null 2>&1; then
    useradd --create-home --home-dir "/var/tmp/$VISTREL_SFTP_TEST_USER-home" --shell /bin/sh \
      "$VISTREL_SFTP_TEST_USER"
  fi
  echo "$VISTREL_SFTP_TEST_USER:$VISTREL_SFTP_TEST_PASSWORD" | chpasswd
}

# Only the fuzz targets need clang and its fuzzer runtime; the other scripts
# build with GCC.
VISTREL_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

ensure_fuzz_packages() {
  ensure_packages "${VISTREL_RUN_PACKAGES[@]}" "${VISTREL_FUZZ_PACKAGES[@]}"
}

# The arm64 pass: Debian's cross compiler, qemu-user to run what it builds,
# and OpenSSL for arm64 through multiarch. Kept apart from the test packages
# so that only `scripts/test --arm64` pays for them.
VISTREL_ARM64_PACKAGES=(g++-aarch64-linux-gnu qemu-user libssl-dev:arm64)
# What the cross build takes from this machine's own packages: the build
# tools, and GoogleTest's sources, which it compiles for arm64.
VISTREL_ARM64_HOST_PACKAGES=(build-essential cmake googletest)

ensure_arm64_packages() {
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    as_root dpkg --add-architecture arm64
  fi
  ensure_packages "${VISTREL_ARM64_HOST_PACKAGES[@]}" "${VISTREL_ARM64_PACKAGES[@]}"
}

# Cross-builds the logic that needs no Qt for arm64 in build-arm64/ and runs
# its tests under qemu-user, so that what must not depend on the processor
# (the measure's arithmetic above all) is checked on the Raspberry Pi's.
# `scripts/test --arm64` runs it, and so does CI.
run_arm64_pass() {
  ensure_arm64_packages
  local dir="$PROJECT_ROOT/build-arm64"
  cmake -S "$PROJECT_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$PROJECT_ROOT/cmake/aarch64-linux-gnu.cmake" \
    -DVISTREL_PORTABLE_ONLY=ON -DVISTREL_BUILD_BENCHMARKS=OFF
  cmake --build "$dir" -j"$(nproc)"
  (cd "$dir" && ctest --output-on-failure -j"$(nproc)" -L portable)
}

# vsftpd and proftpd (with mod_tls) for the FTPS tests. The two packages
# conflict, and installing either would start a daemon on port 21: both are
# unpacked into the build folder instead, where the tests find them.
VISTREL_FTP_SERVER_DEBS=(vsftpd proftpd-core proftpd-mod-crypto)

ensure_ftp_servers() {
  local target="$BUILD_DIR/ftp-servers"
  if [ -x "$target/usr/sbin/vsftpd" ] && [ -x "$target/usr/sbin/proftpd" ] &&
    [ -f "$target/usr/lib/proftpd/mod_tls.so" ]; then
    return
  fi
  local debs
  debs="$(mktemp -d)"
  if ! (cd "$debs" && apt-get download -q "${VISTREL_FTP_SERVER_DEBS[@]}" 2>/dev/null); then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    (cd "$debs" && apt-get download -q "${VISTREL_FTP_SERVER_DEBS[@]}")
  fi
  mkdir -p "$target"
  local deb
  for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$target"; done
  rm -rf "$debs"
}

ensure_test_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    echo "Generating the $VISTREL_TEST_LOCALE locale"
    as_root sed -i "s/^# *\(${VISTREL_TEST_LOCALE//./\\.} UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${VISTREL_TEST_LOCALE//./\\.} UTF-8" /etc/locale.gen ||
      echo "$VISTREL_TEST_LOCALE UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen
  fi
}

build_project() {
  local build_type="${1:-RelWithDebInfo}"
  cmake -S "$PROJECT_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="$build_type"
  cmake --build "$BUILD_DIR" -j"$(nproc)"
}
