#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine (as root, or through sudo).
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev llvm-14 pkg-config
          libgtest-dev libgmock-dev libbenchmark-dev
          openssl libssl-dev libengine-gost-openssl
          libcli11-dev nlohmann-json3-dev valgrind)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
