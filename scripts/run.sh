#!/usr/bin/env bash
# The main job: set up, build libkvext in release mode, install it into ./prefix and run the
# installed kvext tool on the bundled samples, through the installed registration.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF \
      -DCMAKE_INSTALL_PREFIX="$PWD/prefix"
cmake --build build/release
cmake --install build/release
library=$(ls "$PWD"/prefix/lib*/libkvext.so.4)
echo "libkvext installed as $library"
# A host compiles against the installed headers, in C and in C++.
cflags=$(PKG_CONFIG_PATH=$(dirname "$library")/pkgconfig pkg-config --cflags libkvext)
for lang in c c++; do
    printf '#include <kvext/kvext.h>\nint main(void) { return 0; }\n' |
        cc -fsyntax-only -Wall -Werror $cflags -x "$lang" -
done
printf 'entry points exported: %s\n' "$(nm -D --defined-only "$library" | grep -c ' Orva')"

# kvext reaches the library through the registration installed beside it.
unset KV_OIDFUNC_REGISTRY
kvext=$PWD/prefix/bin/kvext
samples=$PWD/prefix/share/kvext/samples
run() { printf '\n$ kvext %s\n' "$*" | sed "s|$samples/||g"; "$kvext" "$@"; }
cd "$samples"
run cert user.cert.pem
run cert --text ca.crl.pem
run attrs timestamp.token.der --check tsa.cert.pem ca.cert.pem
run attrs --text signed.p7s --check user.cert.pem
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/pkup.json" <<'JSON'
{"type": "PrivateKeyUsagePeriod",
 "value": {"NotBefore": "2026-01-01T00:00:00Z", "NotAfter": "2027-12-31T23:59:59Z"}}
JSON
run encode --pem "$work/pkup.json"
"$kvext" encode "$work/pkup.json" -o "$work/pkup.der"
run decode --type 2.5.29.16 --text "$work/pkup.der"
run pubkey --container "$samples/user.key.pem" --pem
openssl pkey -engine gost -in user.key.pem -pubout -outform DER 2>/dev/null |
    cmp -s - <("$kvext" pubkey --container "$samples/user.key.pem") &&
    echo "(byte for byte what openssl pkey -pubout prints)"
