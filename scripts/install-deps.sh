#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config file libcli11-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  libsodium-dev libxml2-dev libpcsclite-dev
  pcscd vsmartcard-vpcd pcsc-tools
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 wixl msitools
  xvfb x11-apps imagemagick
  clang libclang-rt-14-dev valgrind
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${packages[@]}"
