#!/usr/bin/env bash
# Builds the Debian packages (libkvext4, libkvext-dev, kvext) into build/package/debs and
# checks them without touching this machine's system: each package is unpacked into a
# scratch root with `dpkg-deb -x`. The registration file installed there names the library
# at /usr/...; a copy with the scratch root put in front of that path stands in for it
# (KV_OIDFUNC_REGISTRY). On a real machine `apt install ./build/package/debs/*.deb` puts the
# file at /etc/kvext/oidfunc.conf, where CryptoAPI looks by default.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr
cmake --build build/package
rm -rf build/package/debs
(cd build/package && cpack -G DEB -B "$PWD/debs" > /dev/null)
ls build/package/debs/*.deb

root=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$root" "$work"' EXIT
for name in libkvext4 libkvext-dev kvext; do
    deb=$(ls build/package/debs/${name}_*.deb)
    dpkg-deb --info "$deb" > /dev/null
    dpkg-deb -x "$deb" "$root"
done
# The dependencies the packages declare are all available here.
apt-get install --simulate --no-install-recommends ./build/package/debs/*.deb > "$work/apt.log" ||
    { cat "$work/apt.log"; exit 1; }

library=$(ls "$root"/usr/lib/*/libkvext.so.4)
conf="$root/etc/kvext/oidfunc.conf"
sed "s# /usr/# $root/usr/#" "$conf" > "$work/oidfunc.conf"
export KV_OIDFUNC_REGISTRY="$work/oidfunc.conf"

# The packaged tool registers the packaged library anew, checking that every function loads;
# what it writes is the installed file, line for line.
"$root/usr/bin/kvext" register --library "$library" --registry "$work/registered.conf"
cmp "$work/registered.conf" "$work/oidfunc.conf"
echo "installed registration file: $(grep -vc '^#' "$conf") registrations, all loading"
if "$root/usr/bin/kvext" --help | grep -q '^ *cert '; then
    "$root/usr/bin/kvext" cert tests/data/codecs/pkup_cert.der
fi

# A host built against the packaged CMake package configuration decodes through CryptoAPI.
mkdir "$work/host"
cat > "$work/host/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.24)
project(host C)
find_package(kvext 4 REQUIRED)
add_executable(host host.c)
target_link_libraries(host PRIVATE kvext::capi kvext::kvext)
CMAKE
cat > "$work/host/host.c" <<'C'
#include <kvext/kvext.h>
#include <stdio.h>
int main(void)
{
    static const BYTE der[] = {0x02, 0x02, 0x00, 0x80};
    DWORD counter = 0, cb = sizeof counter;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, "1.2.643.2.2.37.3.6", der, sizeof der, 0, NULL,
                             &counter, &cb))
        return (int)GetLastError();
    printf("derive counter through CryptoAPI: %u\n", counter);
    return counter == 128 ? 0 : 1;
}
C
cmake -S "$work/host" -B "$work/host/build" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" > /dev/null
cmake --build "$work/host/build" > /dev/null
LD_LIBRARY_PATH=$(dirname "$library") "$work/host/build/host"
echo "packages OK: $(cd build/package/debs && echo *.deb)"
