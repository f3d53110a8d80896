#!/usr/bin/env bash
# Installs what the i386 and arm64 cross builds need on a Debian 12 machine (as root, or through
# sudo): the cross compilers and qemu-user from the archive, and for each architecture a prefix
# /opt/kvext-cross/<arch> holding that architecture's C and C++ runtime, OpenSSL, its GOST engine
# and GoogleTest, unpacked from the archive's packages. qemu runs the tests with that prefix as
# their root (qemu -L), so libcrypto finds the engine on its own path. The prefix keeps the
# machine's package state as it is: no foreign architecture is added to dpkg.
set -euo pipefail

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
root=/opt/kvext-cross
native=(qemu-user g++-i686-linux-gnu g++-aarch64-linux-gnu)
foreign=(libc6 libgcc-s1 libstdc++6 libssl3 libssl-dev libgtest-dev libgmock-dev
         libengine-gost-openssl libcli11-dev nlohmann-json3-dev)

missing=()
for p in "${native[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
    echo "installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

for arch in i386 arm64; do
    # The prefix is complete when it holds every package of the list.
    [ "$(cat "$root/$arch/.complete" 2>/dev/null)" = "${foreign[*]}" ] && continue
    echo "unpacking the $arch runtime and libraries into $root/$arch"
    # apt with a state of its own that knows only this architecture.
    state="$root/apt-$arch"
    $sudo mkdir -p "$state/lists/partial" "$state/archives/partial" "$root/$arch"
    $sudo touch "$state/status"
    apt=(apt-get -qq -o "APT::Architecture=$arch" -o "APT::Architectures::=$arch" -o APT::Sandbox::User=root
         -o "Dir::State::Lists=$state/lists" -o "Dir::State::status=$state/status"
         -o "Dir::Cache=$state" -o "Dir::Cache::archives=$state/archives")
    # An index still being synced on the mirror is not fatal as long as the packages download.
    $sudo "${apt[@]}" update || echo "warning: apt-get update for $arch reported errors"
    (cd "$state/archives" && $sudo "${apt[@]}" download "${foreign[@]}")
    for deb in "$state"/archives/*.deb; do
        $sudo dpkg-deb -x "$deb" "$root/$arch"
    done
    $sudo rm -f "$state"/archives/*.deb
    echo "${foreign[*]}" | $sudo tee "$root/$arch/.complete" > /dev/null
done
